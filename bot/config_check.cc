#include "bot/config_check.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>

#include "bot/string_ops.h"
#include "game/parameter_checks.h"
#include "messaging/account_settings.h"
#include "messaging/catalogue.h"
#include "messaging/config_keys.h"
#include "messaging/config_values.h"
#include "messaging/property_file.h"
#include "platform/console.h"

namespace {

// A key's first entry: the one the bot reads.
struct Entry {
    int line = 0;
    std::string value;
    bool valid = false;
};

using Entries = std::map<std::string, Entry>;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// One line of the file (without its line feed); last: no line feed
// follows it. An entry is found as PropertyFile finds it: the key at the
// start of the line, then a blank, or the end of the whole text.
void CheckLine(const std::string& content, int line, bool last, Entries* entries,
               std::vector<ConfigFault>* faults) {
    if (content.find_first_not_of(" \t\r") == std::string::npos || content[0] == '#') return;
    size_t keyEnd = content.find_first_of(" \t\r");
    std::string name = content.substr(0, keyEnd);
    if (name.empty()) {
        faults->push_back({line, "the line begins with a blank, so the bot reads no key from it"});
        return;
    }
    const ConfigKey* key = FindConfigKey(name);
    if (key == nullptr) {
        faults->push_back({line, "unknown key '" + name + "'"});
        return;
    }
    bool isEntry = keyEnd == std::string::npos ? last : IsBlank(content[keyEnd]);
    if (!isEntry) {
        faults->push_back({line, name + " has no value"});
        return;
    }
    auto earlier = entries->find(name);
    if (earlier != entries->end()) {
        faults->push_back({line, name + " is given again; the first, on line " +
                                     std::to_string(earlier->second.line) + ", counts"});
        return;
    }
    size_t begin = keyEnd == std::string::npos ? content.size() : keyEnd;
    while (begin < content.size() && IsBlank(content[begin])) ++begin;
    std::string value = content.substr(begin, content.find('\r', begin) - begin);
    std::string reason = ValueFault(*key, value);
    (*entries)[name] = {line, value, reason.empty()};
    if (!reason.empty()) faults->push_back({line, reason});
}

Entries ReadEntries(const std::string& text, std::vector<ConfigFault>* faults) {
    Entries entries;
    size_t begin = 0;
    for (int line = 1;; ++line) {
        size_t end = text.find('\n', begin);
        bool last = end == std::string::npos;
        CheckLine(text.substr(begin, last ? std::string::npos : end - begin), line, last, &entries,
                  faults);
        if (last) return entries;
        begin = end + 1;
    }
}

// A required key the file lacks. Where the bot reads an absent key as an
// empty one, it is refused in the same words.
void CheckMissing(const Entries& entries, std::vector<ConfigFault>* faults) {
    for (const ConfigKey& key : ConfigKeys()) {
        if (!key.required || entries.count(key.name) != 0) continue;
        bool readAsEmpty = key.kind == ValueKind::kService || key.kind == ValueKind::kScreenName ||
                           key.kind == ValueKind::kPath;
        std::string reason = readAsEmpty ? ValueFault(key, "") : std::string();
        faults->push_back({0, reason.empty() ? key.name + " is missing" : reason});
    }
}

const Entry* ValidEntry(const Entries& entries, const std::string& name) {
    auto found = entries.find(name);
    return found != entries.end() && found->second.valid ? &found->second : nullptr;
}

// Names that are one account, each at the line of the later key.
void CheckAccounts(const Entries& entries, std::vector<ConfigFault>* faults) {
    std::vector<NamedAccount> parties;
    for (const char* name : {"BotUsername", "Subject1Name", "Subject2Name", "ModeratorName"}) {
        if (const Entry* entry = ValidEntry(entries, name)) parties.push_back({name, entry->value});
    }
    const Entry* deskEntry = ValidEntry(entries, "DeskName");
    NamedAccount desk{"DeskName", deskEntry != nullptr ? deskEntry->value : ""};
    for (const std::string& reason :
         SharedAccountFaults(parties, deskEntry != nullptr ? &desk : nullptr)) {
        faults->push_back({entries.at(reason.substr(0, reason.find(':'))).line, reason});
    }
}

// The market divisor of every MarketNoise element, when the three keys
// are there and numbers.
void CheckMarket(const Entries& entries, std::vector<ConfigFault>* faults) {
    const Entry* base = ValidEntry(entries, "MarketBase");
    const Entry* scale = ValidEntry(entries, "MarketNoiseScale");
    const Entry* noise = ValidEntry(entries, "MarketNoise");
    if (base == nullptr || scale == nullptr || noise == nullptr) return;
    GameParameters p;
    p.marketBase = std::strtod(base->value.c_str(), nullptr);
    p.marketNoiseScale = std::strtod(scale->value.c_str(), nullptr);
    p.marketNoise.clear();
    for (size_t begin = 0;;) {
        size_t comma = noise->value.find(',', begin);
        p.marketNoise.push_back(
            std::strtod(noise->value.substr(begin, comma - begin).c_str(), nullptr));
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    std::string reason = MarketFault(p);
    if (!reason.empty()) faults->push_back({noise->line, reason});
}

// The pay bound's amount, as given or its default; false when the given
// value is no amount.
bool PayBound(const Entries& entries, const char* name, double* value, int* line) {
    const ConfigKey& key = ConfigKeyNamed(name);
    auto entry = entries.find(name);
    if (entry == entries.end()) return ReadAmount(key, *key.defaultValue, value).empty();
    *line = entry->second.line;
    return entry->second.valid && ReadAmount(key, entry->second.value, value).empty();
}

void CheckPayBounds(const Entries& entries, std::vector<ConfigFault>* faults) {
    GameParameters p;
    int minLine = 0;
    int maxLine = 0;
    if (!PayBound(entries, "MinPayout", &p.minPayout, &minLine) ||
        !PayBound(entries, "MaxPayout", &p.maxPayout, &maxLine)) {
        return;
    }
    std::string reason = PayBoundsFault(p);
    if (!reason.empty()) faults->push_back({minLine != 0 ? minLine : maxLine, reason});
}

// A language the bot has no catalogue for, or one it cannot read.
void CheckLanguage(const Entries& entries, std::vector<ConfigFault>* faults) {
    const Entry* entry = ValidEntry(entries, "Language");
    if (entry == nullptr) return;
    Catalogue catalogue;
    std::string reason;
    if (!LoadLanguage(entry->value, CatalogueDir(), &catalogue, &reason)) {
        faults->push_back({entry->line, reason});
    }
}

}  // namespace

std::vector<ConfigFault> CheckConfigText(const std::string& text) {
    std::vector<ConfigFault> faults;
    Entries entries = ReadEntries(text, &faults);
    CheckMissing(entries, &faults);
    CheckAccounts(entries, &faults);
    CheckMarket(entries, &faults);
    CheckPayBounds(entries, &faults);
    CheckLanguage(entries, &faults);
    std::stable_sort(faults.begin(), faults.end(), [](const ConfigFault& a, const ConfigFault& b) {
        return (a.line == 0 ? INT_MAX : a.line) < (b.line == 0 ? INT_MAX : b.line);
    });
    return faults;
}

int CheckConfigFile(const std::string& path) {
    std::string text;
    std::string problem;
    if (!ReadFileText(path, &text, &problem)) {
        platform::PrintErrorLine(path + ": cannot read the configuration file " + path + ": " +
                                 problem);
        return 1;
    }
    // As the bot reads it: bytes that are no UTF-8 become U+FFFD.
    ToNarrow(text, MakeBstr(text));
    std::vector<ConfigFault> faults = CheckConfigText(text);
    for (const ConfigFault& fault : faults) {
        std::string where = fault.line > 0 ? path + ":" + std::to_string(fault.line) : path;
        platform::PrintErrorLine(where + ": " + fault.reason);
    }
    if (!faults.empty()) return 1;
    platform::Print(path + ": no faults\n");
    return 0;
}
