// The bot's account: its screen name, password and client key text.
#pragma once

#include <string>
#include <vector>

#include "wexcore/wex_string.h"

struct PropertyFile;
class Transcript;

struct AccountSettings {
    CWexBstr botName;      // the name in the bot's slot
    CWexBstr botPassword;  // password-file line BotPasswordIndex
    std::string keyText;   // bot name + " (Key:" + line KeyIndex + ")"
    // DeskName: a second moderator account (the lab's desk), whose
    // messages are the moderator's commands; "" when the key is absent.
    std::string deskName;
};

// Loads the four screen names into their slots and the optional DeskName,
// then the password and the key. Stops with false at the first failure, after saying why on
// standard error; fields set before it keep their values.
bool LoadAccountSettings(const PropertyFile& config, Transcript& transcript,
                         AccountSettings* account);

// A party's screen name and the key that names it.
struct NamedAccount {
    std::string key;
    std::string name;
};

// Every two parties that would be one account (addresses ignore the case
// of ASCII letters), as "KEY: username "NAME" is already OTHER; ...", in
// the order the bot checks them: the parties pair by pair, then the desk
// (when given) against each.
std::vector<std::string> SharedAccountFaults(const std::vector<NamedAccount>& parties,
                                             const NamedAccount* desk);
