// The configuration reader on arbitrary text: the configuration file's text,
// then a NUL byte, then the password file's text (no NUL: the password file
// is the configuration text too). Every key the bot reads is looked up, the
// four screen names loaded and an xmpp Service value parsed.
#include <cstdint>
#include <string>

#include "bot/string_ops.h"
#include "messaging/property_file.h"
#include "messaging/username_slots.h"
#include "tests/fuzz/fuzz_check.h"
#include "wexcore/xmpp/xmpp_service.h"

namespace {

const char* const kTextKeys[] = {"Service",       "BotUsername",    "Subject1Name", "Subject2Name",
                                 "ModeratorName", "PasswordFile",   "LogFile",      "Resume",
                                 "MarketNoise",   "BonusMarketRGR", "BonusMarketGW"};
const char* const kNumberKeys[] = {"NRounds",     "ConversationInterval", "MaxChatTime",
                                   "MaxChatIdle", "BotPasswordIndex",     "KeyIndex",
                                   "MarketBase",  "MarketNoiseScale"};

bool HoldsLineEnd(const CWexBstr& value) {
    std::string text;
    FUZZ_CHECK(!Failed(ToNarrow(text, value)));
    return text.find_first_of("\r\n") != std::string::npos;
}

void LookUp(const PropertyFile& config, const std::string& key) {
    CWexBstr value;
    HRESULT hr = config.GetString(key, value);
    FUZZ_CHECK(hr == S_OK || hr == S_FALSE);
    // A value is the rest of one line.
    if (hr == S_OK) FUZZ_CHECK(!HoldsLineEnd(value));
    int number = 0;
    double real = 0;
    config.GetInt(key, &number);
    config.GetDouble(key, &real);
}

// The first word of each of the first lines, as a key: the lookups then
// reach entries other than the bot's own keys. (Each lookup reads the whole
// text, so not every line: that would make a run quadratic.)
void LookUpFirstLines(const PropertyFile& config, const std::string& text) {
    int lines = 0;
    for (size_t begin = 0; begin < text.size() && lines++ < 16;) {
        size_t end = text.find_first_of(" \t\r\n", begin);
        if (end == std::string::npos) end = text.size();
        if (end > begin) LookUp(config, text.substr(begin, end - begin));
        size_t next = text.find('\n', begin);
        if (next == std::string::npos) break;
        begin = next + 1;
    }
}

void ParseService(const PropertyFile& config) {
    CWexBstr value;
    std::string service;
    if (config.GetString("Service", value) != S_OK || Failed(ToNarrow(service, value))) return;
    if (service.rfind("xmpp:", 0) != 0) return;
    wexcore::XmppConfig xmpp;
    std::string reason;
    if (wexcore::ParseXmppService(service.substr(5), &xmpp, &reason)) {
        FUZZ_CHECK(!xmpp.domain.empty());
        FUZZ_CHECK(xmpp.port >= 1 && xmpp.port <= 65535);
    } else {
        FUZZ_CHECK(!reason.empty());
    }
}

void LoadNames(const PropertyFile& config) {
    ResetUsernameSlots();
    const char* keys[SLOT_COUNT] = {"BotUsername", "Subject1Name", "Subject2Name", "ModeratorName"};
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!LoadUsername(config, slot, keys[slot]).empty()) continue;
        // A loaded name fits its slot and is found there again.
        std::string name = SlotName(slot);
        FUZZ_CHECK(name.size() < SLOT_SIZE);
        FUZZ_CHECK(FindUsernameSlot(name) >= 0 && FindUsernameSlot(name) <= slot);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    std::string configText = input.substr(0, split);
    std::string passwordText = split == std::string::npos ? input : input.substr(split + 1);

    PropertyFile config;
    AssignText(config.configText, configText);
    AssignText(config.passwordText, passwordText);

    for (const char* key : kTextKeys) LookUp(config, key);
    for (const char* key : kNumberKeys) LookUp(config, key);
    LookUpFirstLines(config, configText);
    LoadNames(config);
    ParseService(config);

    for (int index = -1; index < 8; ++index) {
        CWexBstr line;
        FUZZ_CHECK(config.GetPasswordLine(index, line) == S_OK);
        FUZZ_CHECK(!HoldsLineEnd(line));
        if (index < 0) FUZZ_CHECK(line.Empty());
    }
    return 0;
}
