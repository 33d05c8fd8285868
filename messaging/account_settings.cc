#include "messaging/account_settings.h"

#include "bot/string_ops.h"
#include "messaging/property_file.h"
#include "messaging/username_slots.h"
#include "platform/console.h"

namespace {

bool LoadAllUsernames(const PropertyFile& config, Transcript& transcript) {
    return LoadUsername(config, transcript, SLOT_BOT, "BotUsername") &&
           LoadUsername(config, transcript, SLOT_SUBJECT1, "Subject1Name") &&
           LoadUsername(config, transcript, SLOT_SUBJECT2, "Subject2Name") &&
           LoadUsername(config, transcript, SLOT_MODERATOR, "ModeratorName");
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
    if (!LoadAllUsernames(config, transcript)) return false;
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
