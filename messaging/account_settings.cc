#include "messaging/account_settings.h"

#include <cctype>

#include "bot/string_ops.h"
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

// Two slots with one name would route one party's messages as the other's
// (a subject's as the moderator's commands). Addresses ignore the case of
// ASCII letters, so names that differ only so are one account.
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

bool NamesDiffer() {
    for (int a = 0; a < SLOT_COUNT; ++a) {
        for (int b = a + 1; b < SLOT_COUNT; ++b) {
            if (!SameAccount(SlotName(a), SlotName(b))) continue;
            platform::PrintErrorLine(std::string(kNameKeys[b]) + ": username \"" + SlotName(b) +
                                     "\" is already " + kNameKeys[a] +
                                     "; every party needs an account of its own.");
            return false;
        }
    }
    return true;
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
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!SameAccount(*desk, SlotName(slot))) continue;
        platform::PrintErrorLine("DeskName: username \"" + *desk + "\" is already " +
                                 kNameKeys[slot] + "; every party needs an account of its own.");
        return false;
    }
    return true;
}

bool LoadAllUsernames(const PropertyFile& config, Transcript& transcript, std::string* desk) {
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!LoadOneUsername(config, transcript, slot, kNameKeys[slot])) return false;
    }
    return NamesDiffer() && LoadDeskName(config, desk);
}

// Says which password-file line is empty: the whole file, or the line
// chosen by indexKey.
void ReportEmptyLine(const PropertyFile& config, const char* indexKey, int index) {
    if (config.passwordText.Empty()) {
        platform::PrintErrorLine(
            "PasswordFile: password file is missing or empty. Check config file.");
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
