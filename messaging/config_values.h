// Reading one configuration value by its key in the table: the readers of
// the bot and `wexbot --check-config` share these, so a value means the
// same to both and is refused with the same words.
#pragma once

#include <cstdint>
#include <string>

#include "messaging/config_keys.h"
#include "messaging/property_file.h"

// Refusals that the readers print as they are.
extern const char kNoServiceText[];
extern const char kNoLogFileText[];
extern const char kNoPasswordFileText[];

// The value of key's entry in config; its default when it has none ("" for
// a key without one). *given, when asked for, says whether there was an
// entry.
std::string ValueOrDefault(const PropertyFile& config, const ConfigKey& key, bool* given = nullptr);

// Why text cannot be key's value, in the words the bot refuses it with at
// start-up (without "wexbot: "); "" when it can. Stricter than the bot for
// the kinds it reads leniently (kInteger, kNumber, kNumberList): a value
// the bot would read only in part is a fault here. Reads the scenario of a
// simulated Service, and nothing else.
std::string ValueFault(const ConfigKey& key, const std::string& text);

// The readers of the kinds the bot checks itself: each reads text as the
// bot always has and returns "" with *value set, or the refusal.
std::string ReadSignedWhole(const ConfigKey& key, const std::string& text, int32_t* value);
std::string ReadCount(const ConfigKey& key, const std::string& text, int32_t* value);
std::string ReadSeconds(const ConfigKey& key, const std::string& text, int32_t* value);
// *choice is the choice the value names, or "" when it is a number.
std::string ReadAnswer(const ConfigKey& key, const std::string& text, std::string* choice,
                       int32_t* value);
// *choice is the one of key's choices that text names.
std::string ReadChoice(const ConfigKey& key, const std::string& text, std::string* choice);
std::string ReadAmount(const ConfigKey& key, const std::string& text, double* value);

// The refusals of a kInteger key: a value that is no whole number, or one
// beyond the key's range.
std::string NotWholeNumber(const ConfigKey& key);
std::string AboveMax(const ConfigKey& key, int64_t found);
std::string BelowMin(const ConfigKey& key, int64_t found);
