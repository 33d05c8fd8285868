// The table of the bot's configuration keys: for each key the kind of value
// it takes, its range, its default, whether a lab treatment may set it, and
// what it means. The readers take ranges and defaults from here, `wexbot
// --keys` prints it and `wexbot --check-config` checks a file by it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How the bot reads a key's value. Each kind has its own check
// (config_values.h); kinds that differ only in how leniently the bot has
// always read a number are kept apart so that no value changes meaning.
enum class ValueKind {
    kService,      // sim:PATH or xmpp:DOMAIN...
    kScreenName,   // an account's name: at most 13 bytes, no blanks or '@'...
    kPath,         // a file's path
    kInteger,      // read as atoi reads it; refused only outside the range
    kSignedWhole,  // a whole number, sign allowed, blanks after it
    kCount,        // digits only, blanks around them
    kSeconds,      // digits only, blanks around them; 0 is off
    kAnswer,       // one of the choices, or digits in the range
    kChoice,       // one of the choices
    kNumber,       // a real number, read as strtod reads it
    kAmount,       // a real number of 0 or more, the whole value
    kNumberList,   // real numbers separated by commas
    kLanguage,     // a catalogue's language code: letters, digits, '_', '-', '@'
};

struct ConfigKey {
    std::string name;
    ValueKind kind = ValueKind::kPath;
    std::optional<int64_t> min = std::nullopt;  // none: no lower bound
    std::optional<int64_t> max = std::nullopt;  // none: no upper bound
    std::vector<std::string> choices = {};      // words the value may be besides a number
    // The value an absent key stands for; none when the key is required or
    // when its absence means "off".
    std::optional<std::string> defaultValue = std::nullopt;
    bool required = false;
    bool treatment = false;    // a lab treatment may set it for its pairs
    std::string meaning = "";  // one line
};

// Every key, in the order a configuration file usually lists them.
const std::vector<ConfigKey>& ConfigKeys();

// The key of that name; nullptr when there is none.
const ConfigKey* FindConfigKey(const std::string& name);

// The key of that name, for the readers, which name only keys of the
// table; an unknown name is a fault of the program and aborts it.
const ConfigKey& ConfigKeyNamed(const std::string& name);

// The type a person reads: "integer", "number", "number list", "path"...
const char* TypeName(ValueKind kind);
