// The bot's account: its screen name, password and client key text.
#pragma once

#include <string>

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
