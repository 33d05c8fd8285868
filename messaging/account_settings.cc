#include "messaging/account_settings.h"

#include <cctype>

#include "bot/string_ops.h"
#include "messaging/config_values.h"
#include "messaging/property_file.h"
#include "messaging/transcript.h"
#include "messaging/username_slots.h"
#include "platform/console.h"

namespace {

// Loads one slot; an error goes to the transcript as an "ERR " line under
// the slot and to standard error as "key: message".
bool LoadOneUsername(const PropertyFile& config, Transcript& transcript, int slot,
                     const std::string& key) {
    std::string error = LoadUsername(config, slot, key);
    if (error.empty()) return true;
    transcript.WriteLog(slot, "ERR ", error);
    platform::PrintErrorLine(key + ": " + error);
    return false;
}

const char* const kNameKeys[SLOT_COUNT] = {"BotUsername", "Subject1Name", "Subject2Name",
                                           "ModeratorName"};

// Addresses ignore the case of ASCII letters, so names that differ only
// so are one account.
bool SameAccount(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The four names loaded into their slots.
std::vector<NamedAccount> SlotAccounts() {
    std::vector<NamedAccount> parties;
    for (int slot = 0; slot < SLOT_COUNT; ++slot)
        parties.push_back({kNameKeys[slot], SlotName(slot)});
    return parties;
}

// Two slots with one name would route one party's messages as the other's
// (a subject's as the moderator's commands).
bool NamesDiffer(const NamedAccount* desk) {
    std::vector<std::string> faults = SharedAccountFaults(SlotAccounts(), desk);
    if (faults.empty()) return true;
    platform::PrintErrorLine(faults.front());
    return false;
}

// DeskName is optional; when given it is checked as the other names are
// and must be an account of its own.
bool LoadDeskName(const PropertyFile& config, std::string* desk) {
    CWexBstr value;
    if (config.GetString("DeskName", value) != S_OK) return true;
    std::string error = ReadUsername(config, "DeskName", desk);
    if (!error.empty()) {
        platform::PrintErrorLine("DeskName: " + error);
        return false;
    }
    NamedAccount named{"DeskName", *desk};
    return NamesDiffer(&named);
}

bool LoadAllUsernames(const PropertyFile& config, Transcript& transcript, std::string* desk) {
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!LoadOneUsername(config, transcript, slot, kNameKeys[slot])) return false;
    }
    return NamesDiffer(nullptr) && LoadDeskName(config, desk);
}

// Says which password-file line is empty: the whole file, or the line
// chosen by indexKey.
void ReportEmptyLine(const PropertyFile& config, const char* indexKey, int index) {
    if (config.passwordText.Empty()) {
        platform::PrintErrorLine(kNoPasswordFileText);
        return;
    }
    platform::PrintErrorLine(std::string(indexKey) + ": line " + std::to_string(index) +
                             " of the password file is missing or empty. Check config file.");
}

}  // namespace

bool LoadAccountSettings(const PropertyFile& config, Transcript& transcript,
                         AccountSettings* account) {
    if (!LoadAllUsernames(config, transcript, &account->deskName)) return false;
    AssignText(account->botName, SlotName(SLOT_BOT));

    int passwordIndex = 0;
    int keyIndex = 0;
    config.GetInt("BotPasswordIndex", &passwordIndex);
    config.GetInt("KeyIndex", &keyIndex);

    CWexBstr keyLine;
    std::string key;
    if (Failed(config.GetPasswordLine(passwordIndex, account->botPassword)) ||
        Failed(config.GetPasswordLine(keyIndex, keyLine)) || Failed(ToNarrow(key, keyLine))) {
        platform::PrintErrorLine("PasswordFile: password file can't be read. Check config file.");
        return false;
    }
    if (account->botPassword.Empty()) {
        ReportEmptyLine(config, "BotPasswordIndex", passwordIndex);
        return false;
    }
    if (key.empty()) {
        ReportEmptyLine(config, "KeyIndex", keyIndex);
        return false;
    }
    account->keyText = std::string(SlotName(SLOT_BOT)) + " (Key:" + key + ")";
    return true;
}

std::vector<std::string> SharedAccountFaults(const std::vector<NamedAccount>& parties,
                                             const NamedAccount* desk) {
    std::vector<std::string> faults;
    auto check = [&](const NamedAccount& first, const NamedAccount& later) {
        if (!SameAccount(first.name, later.name)) return;
        faults.push_back(later.key + ": username \"" + later.name + "\" is already " + first.key +
                         "; every party needs an account of its own.");
    };
    for (size_t a = 0; a < parties.size(); ++a) {
        for (size_t b = a + 1; b < parties.size(); ++b) check(parties[a], parties[b]);
    }
    if (desk != nullptr) {
        for (const NamedAccount& party : parties) check(party, *desk);
    }
    return faults;
}
