#include "messaging/config_key_listing.h"

#include <algorithm>
#include <vector>

#include "messaging/config_keys.h"
#include "platform/format_text.h"

namespace {

// "0 to 60", "1 or more", "at most 9", with the choices before it; "" when
// any value of the type will do.
std::string RangeText(const ConfigKey& key) {
    std::string range;
    if (key.min && key.max) {
        range = std::to_string(*key.min) + " to " + std::to_string(*key.max);
    } else if (key.min) {
        range = std::to_string(*key.min) + " or more";
    } else if (key.max) {
        range = "at most " + std::to_string(*key.max);
    }
    std::string choices;
    for (const std::string& choice : key.choices) {
        if (!choices.empty()) choices += ", or ";
        choices += choice;
    }
    if (range.empty() || choices.empty()) return choices + range;
    return choices + ", or " + range;
}

std::string DefaultText(const ConfigKey& key) {
    if (key.defaultValue) return *key.defaultValue;
    return key.required ? "(required)" : "(none)";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += platform::FormatText("\\u%04x", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonNumber(const std::optional<int64_t>& value) {
    return value ? std::to_string(*value) : "null";
}

std::string JsonChoices(const std::vector<std::string>& choices) {
    if (choices.empty()) return "null";
    std::string out = "[";
    for (const std::string& choice : choices) {
        out += (out.size() > 1 ? "," : "") + JsonString(choice);
    }
    return out + "]";
}

std::string JsonKey(const ConfigKey& key) {
    return "{\"name\":" + JsonString(key.name) + ",\"type\":" + JsonString(TypeName(key.kind)) +
           ",\"min\":" + JsonNumber(key.min) + ",\"max\":" + JsonNumber(key.max) +
           ",\"choices\":" + JsonChoices(key.choices) +
           ",\"default\":" + (key.defaultValue ? JsonString(*key.defaultValue) : "null") +
           ",\"required\":" + (key.required ? "true" : "false") +
           ",\"treatment\":" + (key.treatment ? "true" : "false") +
           ",\"meaning\":" + JsonString(key.meaning) + "}";
}

// A table cell: a '|' would end it.
std::string Cell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

std::string Code(const std::string& text) {
    return "`" + text + "`";
}

const char kIntroduction[] =
    "# Configuration keys\n"
    "\n"
    "<!-- Written by `wexbot --keys=markdown` (scripts/config-keys-doc.sh) from the\n"
    "     key table in messaging/config_keys.cc: change the table, not this page. -->\n"
    "\n"
    "`wexbot` reads one configuration file, named on its command line. Each\n"
    "entry is one `Key value` line: the value is the rest of the line after\n"
    "the blanks or tabs that follow the key. The first entry of a key counts.\n"
    "Blank lines, lines starting with `#` and keys the bot does not know are\n"
    "ignored. Relative paths are taken from the current directory.\n"
    "\n"
    "`wexbot --check-config FILE` checks a file against this table without\n"
    "signing on: it names the line and the reason of every fault (an unknown\n"
    "key, a value of the wrong type or out of range, a missing key, a key given\n"
    "twice, settings that do not go together; a number the bot would read in\n"
    "part, `12abc` as 12, is one too) and exits 1, or prints\n"
    "`FILE: no faults` and exits 0. `wexbot --keys` prints the table, and\n"
    "`wexbot --keys=json` prints it for programs.\n"
    "\n"
    "A screen name has at most 13 bytes of UTF-8 and no blank, control\n"
    "character or any of `\"&'/:<>@`; no two names may be one account (names\n"
    "that differ only in the case of ASCII letters are one). A key marked\n"
    "*treatment* may be set by a treatment of a wexlab session file for its own\n"
    "pairs. A key without a default is either required or, when absent, off.\n"
    "\n";

}  // namespace

std::string KeysAsText() {
    const char* heads[] = {"KEY", "TYPE", "RANGE", "DEFAULT", "TREATMENT", "MEANING"};
    std::vector<std::vector<std::string>> rows = {{heads, heads + 6}};
    for (const ConfigKey& key : ConfigKeys()) {
        rows.push_back({key.name, TypeName(key.kind), RangeText(key).empty() ? "-" : RangeText(key),
                        DefaultText(key), key.treatment ? "yes" : "no", key.meaning});
    }
    std::vector<size_t> widths(6, 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows) {
        for (size_t i = 0; i + 1 < row.size(); ++i) {
            out += row[i] + std::string(widths[i] + 2 - row[i].size(), ' ');
        }
        out += row.back() + "\n";
    }
    return out;
}

std::string KeysAsJson() {
    std::string out = "{\"keys\":[\n";
    const std::vector<ConfigKey>& keys = ConfigKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        out += JsonKey(keys[i]) + (i + 1 < keys.size() ? ",\n" : "\n");
    }
    return out + "]}\n";
}

std::string KeysAsMarkdown() {
    std::string out = kIntroduction;
    out += "| key | type | range | default | treatment | meaning |\n";
    out += "|---|---|---|---|---|---|\n";
    for (const ConfigKey& key : ConfigKeys()) {
        std::string fallback =
            key.defaultValue ? Code(*key.defaultValue) : (key.required ? "required" : "none");
        out += "| " + Code(key.name) + " | " + TypeName(key.kind) + " | " + Cell(RangeText(key)) +
               " | " + fallback + " | " + (key.treatment ? "yes" : "") + " | " + Cell(key.meaning) +
               " |\n";
    }
    return out;
}
