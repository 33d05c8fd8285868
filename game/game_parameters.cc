// The game's settings, read once at start-up, and the per-round storage.
#include <cstdlib>

#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/parameter_checks.h"
#include "messaging/config_values.h"
#include "platform/console.h"

namespace {

// Appends each comma-separated piece of the key's value, read as a real
// number, to list. An absent key reads as one empty piece.
HRESULT ReadNumberList(const PropertyFile& config, const char* key, std::vector<double>* list) {
    CWexBstr value;
    HRESULT hr = config.GetString(key, value);
    if (Failed(hr)) return hr;
    std::string text;
    hr = ToNarrow(text, value);
    if (Failed(hr)) return hr;
    size_t begin = 0;
    while (true) {
        size_t comma = text.find(',', begin);
        list->push_back(std::atof(text.substr(begin, comma - begin).c_str()));
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return S_OK;
}

bool Refuse(const std::string& reason) {
    platform::PrintErrorLine("wexbot: " + reason);
    return false;
}

// True when the key's value begins, after blanks, with a whole number (as
// the integer reading takes it), or when the key is absent.
bool ReadsAsNumber(const PropertyFile& config, const char* key) {
    CWexBstr value;
    std::string text;
    if (config.GetString(key, value) != S_OK || Failed(ToNarrow(text, value))) return true;
    size_t i = text.find_first_not_of(" \t");
    if (i != std::string::npos && (text[i] == '+' || text[i] == '-')) ++i;
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

// Refuses settings with which the game can't be played soundly. A negative
// NRounds is refused later, once the transcript has its first lines.
bool CheckGameParameters(const GameParameters& p) {
    const ConfigKey& rounds = ConfigKeyNamed("NRounds");
    if (p.nRounds > *rounds.max) return Refuse(AboveMax(rounds, p.nRounds));
    const ConfigKey& interval = ConfigKeyNamed("ConversationInterval");
    if (p.conversationInterval < *interval.min) {
        return Refuse(BelowMin(interval, p.conversationInterval));
    }
    std::string fault = MarketFault(p);
    return fault.empty() || Refuse(fault);
}

// Reads an optional key of the pay rule; an absent key reads as its
// default.
bool ReadPayAmount(const PropertyFile& config, const char* name, double* value) {
    const ConfigKey& key = ConfigKeyNamed(name);
    std::string fault = ReadAmount(key, ValueOrDefault(config, key), value);
    return fault.empty() || Refuse(fault);
}

// The lab's pay rule: CreditValue, MinPayout and MaxPayout.
bool ReadPayRule(const PropertyFile& config, GameParameters* p) {
    if (!ReadPayAmount(config, "CreditValue", &p->creditValue) ||
        !ReadPayAmount(config, "MinPayout", &p->minPayout) ||
        !ReadPayAmount(config, "MaxPayout", &p->maxPayout)) {
        return false;
    }
    std::string fault = PayBoundsFault(*p);
    return fault.empty() || Refuse(fault);
}

}  // namespace

bool CBotClient::ReadGameParameters(const PropertyFile& config) {
    GameParameters& p = m_game.params;
    auto failed = [](const char* key) { return Refuse(std::string("cannot read ") + key); };
    if (Failed(config.GetInt("NRounds", &p.nRounds))) return failed("NRounds");
    // A value without a number would read as 0 rounds: a game that never
    // begins.
    if (!ReadsAsNumber(config, "NRounds")) return Refuse(NotWholeNumber(ConfigKeyNamed("NRounds")));
    if (Failed(config.GetInt("ConversationInterval", &p.conversationInterval))) {
        return failed("ConversationInterval");
    }
    if (Failed(config.GetDouble("MarketBase", &p.marketBase))) return failed("MarketBase");
    if (Failed(config.GetDouble("MarketNoiseScale", &p.marketNoiseScale))) {
        return failed("MarketNoiseScale");
    }
    p.marketNoise.clear();
    if (Failed(ReadNumberList(config, "MarketNoise", &p.marketNoise))) {
        return failed("MarketNoise");
    }
    p.bonusMarketRGR.clear();
    if (Failed(ReadNumberList(config, "BonusMarketRGR", &p.bonusMarketRGR))) {
        return failed("BonusMarketRGR");
    }
    p.bonusMarketGW.clear();
    if (Failed(ReadNumberList(config, "BonusMarketGW", &p.bonusMarketGW))) {
        return failed("BonusMarketGW");
    }
    int32_t maxChatTime = 0;
    int32_t maxChatIdle = 0;
    if (Failed(config.GetInt("MaxChatTime", &maxChatTime))) return failed("MaxChatTime");
    if (Failed(config.GetInt("MaxChatIdle", &maxChatIdle))) return failed("MaxChatIdle");
    p.maxChatTime = maxChatTime;
    p.maxChatIdle = maxChatIdle;
    return CheckGameParameters(p) && ReadPayRule(config, &p);
}

bool CBotClient::PrepareRoundStorage(int32_t nRounds) {
    if (nRounds < 0) return false;
    for (SubjectRecord* team : {&m_game.teamA, &m_game.teamB}) {
        team->investments.assign(nRounds, 0);
        team->expectations.assign(nRounds, 0);
        team->roundEarnings.assign(nRounds, 0.0);
    }
    return true;
}
