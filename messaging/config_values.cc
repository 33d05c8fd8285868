#include "messaging/config_values.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "bot/string_ops.h"
#include "messaging/username_slots.h"
#include "platform/format_text.h"
#include "wexcore/api.h"

const char kNoServiceText[] =
    "Service is missing from the configuration (use sim:PATH or xmpp:DOMAIN)";
const char kNoLogFileText[] = "LogFile: log file name is missing or empty. Check config file.";
const char kNoPasswordFileText[] =
    "PasswordFile: password file is missing or empty. Check config file.";

namespace {

const char kBlanks[] = " \t\r";

// Nothing but blanks from pos on.
bool OnlyBlanksFrom(const std::string& text, size_t pos) {
    return text.find_first_not_of(kBlanks, pos) == std::string::npos;
}

std::string Trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(kBlanks) + 1 - begin);
}

std::string Found(const std::string& text) {
    return ", found \"" + text + "\"";
}

std::string WholeNumberFrom(const ConfigKey& key, const std::string& text) {
    return key.name + " must be a whole number from " + std::to_string(*key.min) + " to " +
           std::to_string(*key.max) + Found(text);
}

// Digits and blanks after them, read as strtoll reads them; false for
// anything else or a number beyond the key's range.
bool ReadDigits(const ConfigKey& key, const std::string& text, int32_t* value) {
    size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string::npos || text[begin] < '0' || text[begin] > '9') return false;
    char* end = nullptr;
    long long number = std::strtoll(text.c_str() + begin, &end, 10);
    if (!OnlyBlanksFrom(text, end - text.c_str()) || number > *key.max || number < *key.min) {
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}

// A real number and blanks after it, the whole value; nullopt otherwise.
std::optional<double> WholeReal(const std::string& text) {
    char* end = nullptr;
    double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !OnlyBlanksFrom(text, end - text.c_str())) return std::nullopt;
    return number;
}

std::string CheckInteger(const ConfigKey& key, const std::string& text) {
    size_t digits = text.find_first_of("+-") == 0 ? 1 : 0;
    if (digits >= text.size() || text[digits] < '0' || text[digits] > '9') {
        return NotWholeNumber(key);
    }
    char* end = nullptr;
    errno = 0;
    long long number = std::strtoll(text.c_str(), &end, 10);
    if (!OnlyBlanksFrom(text, end - text.c_str())) return NotWholeNumber(key);
    // The bot reads a number beyond int as the nearest int.
    int32_t read = static_cast<int32_t>(std::clamp<long long>(number, INT_MIN, INT_MAX));
    if (key.max && read > *key.max) return AboveMax(key, read);
    if (key.min && read < *key.min) return BelowMin(key, read);
    if (errno == ERANGE || read != number) {
        return key.name + " is beyond the whole numbers the bot reads" + Found(text);
    }
    return std::string();
}

std::string CheckNumber(const ConfigKey& key, const std::string& text) {
    std::optional<double> number = WholeReal(text);
    if (number && std::isfinite(*number)) return std::string();
    return key.name + " must be a finite number" + Found(text);
}

std::string CheckNumberList(const ConfigKey& key, const std::string& text) {
    size_t begin = 0;
    for (int element = 1;; ++element) {
        size_t comma = text.find(',', begin);
        std::string piece = Trimmed(text.substr(begin, comma - begin));
        std::optional<double> number = WholeReal(piece);
        if (!number || !std::isfinite(*number)) {
            return key.name + " element " + std::to_string(element) + " must be a finite number" +
                   Found(piece);
        }
        if (comma == std::string::npos) return std::string();
        begin = comma + 1;
    }
}

std::string CheckServiceValue(const std::string& text) {
    if (text.empty()) return kNoServiceText;
    std::string reason;
    return CheckService(text, &reason) ? std::string() : reason;
}

// Only the bot's required paths have a refusal: it cannot do without them.
std::string CheckPath(const ConfigKey& key, const std::string& text) {
    if (!text.empty() || !key.required) return std::string();
    return key.name == "LogFile" ? kNoLogFileText : kNoPasswordFileText;
}

// A language code names a file: no path, no blanks.
std::string CheckLanguageCode(const ConfigKey& key, const std::string& text) {
    bool ok = !text.empty() && std::isalpha(static_cast<unsigned char>(text[0]));
    for (char c : text) {
        ok =
            ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '@');
    }
    return ok ? std::string()
              : key.name + ": '" + text + "' is no language code (such as en, de or pt_BR)";
}

}  // namespace

std::string ValueOrDefault(const PropertyFile& config, const ConfigKey& key, bool* given) {
    CWexBstr raw;
    bool found = config.GetString(key.name, raw) == S_OK;
    if (given != nullptr) *given = found;
    std::string text;
    if (found) {
        ToNarrow(text, raw);
    } else if (key.defaultValue) {
        text = *key.defaultValue;
    }
    return text;
}

std::string ValueFault(const ConfigKey& key, const std::string& text) {
    int32_t whole = 0;
    double real = 0;
    std::string choice;
    switch (key.kind) {
        case ValueKind::kService:
            return CheckServiceValue(text);
        case ValueKind::kScreenName: {
            std::string fault = UsernameFault(text);
            return fault.empty() ? fault : key.name + ": " + fault;
        }
        case ValueKind::kPath:
            return CheckPath(key, text);
        case ValueKind::kInteger:
            return CheckInteger(key, text);
        case ValueKind::kSignedWhole:
            return ReadSignedWhole(key, text, &whole);
        case ValueKind::kCount:
            return ReadCount(key, text, &whole);
        case ValueKind::kSeconds:
            return ReadSeconds(key, text, &whole);
        case ValueKind::kAnswer:
            return ReadAnswer(key, text, &choice, &whole);
        case ValueKind::kChoice:
            return ReadChoice(key, text, &choice);
        case ValueKind::kNumber:
            return CheckNumber(key, text);
        case ValueKind::kAmount:
            return ReadAmount(key, text, &real);
        case ValueKind::kNumberList:
            return CheckNumberList(key, text);
        case ValueKind::kLanguage:
            return CheckLanguageCode(key, text);
    }
    return std::string();
}

std::string ReadSignedWhole(const ConfigKey& key, const std::string& text, int32_t* value) {
    char* end = nullptr;
    errno = 0;
    long long number = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || !OnlyBlanksFrom(text, end - text.c_str()) ||
        number < *key.min || number > *key.max) {
        return WholeNumberFrom(key, text);
    }
    *value = static_cast<int32_t>(number);
    return std::string();
}

std::string ReadCount(const ConfigKey& key, const std::string& text, int32_t* value) {
    std::string digits = Trimmed(text);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return WholeNumberFrom(key, text);
    }
    long number = std::stol(digits);
    if (number < *key.min || number > *key.max) return WholeNumberFrom(key, text);
    *value = static_cast<int32_t>(number);
    return std::string();
}

std::string ReadSeconds(const ConfigKey& key, const std::string& text, int32_t* value) {
    if (ReadDigits(key, text, value)) return std::string();
    return key.name + " must be a whole number of seconds from " + std::to_string(*key.min) +
           " (off) to " + std::to_string(*key.max) + Found(text);
}

std::string ReadAnswer(const ConfigKey& key, const std::string& text, std::string* choice,
                       int32_t* value) {
    std::string word = Trimmed(text);
    for (const std::string& known : key.choices) {
        if (word == known) {
            *choice = known;
            return std::string();
        }
    }
    choice->clear();
    if (ReadDigits(key, text, value)) return std::string();
    std::string choices;
    for (const std::string& known : key.choices) choices += "\"" + known + "\" or ";
    return key.name + " must be " + choices + "a whole number from " + std::to_string(*key.min) +
           " to " + std::to_string(*key.max) + Found(text);
}

std::string ReadChoice(const ConfigKey& key, const std::string& text, std::string* choice) {
    std::string word = Trimmed(text);
    for (const std::string& known : key.choices) {
        if (word == known) {
            *choice = known;
            return std::string();
        }
    }
    std::string choices;
    for (size_t i = 0; i < key.choices.size(); ++i) {
        choices += (i == 0                        ? "\""
                    : i + 1 == key.choices.size() ? " or \""
                                                  : ", \"") +
                   key.choices[i] + "\"";
    }
    return key.name + " must be " + choices + Found(text);
}

std::string ReadAmount(const ConfigKey& key, const std::string& text, double* value) {
    std::optional<double> number = WholeReal(text);
    if (!number || !std::isfinite(*number) || *number < *key.min) {
        return key.name + " must be a number of " + std::to_string(*key.min) + " or more" +
               Found(text);
    }
    *value = *number;
    return std::string();
}

std::string NotWholeNumber(const ConfigKey& key) {
    return key.name + " is not a whole number";
}

std::string AboveMax(const ConfigKey& key, int64_t found) {
    return key.name + " must be at most " + std::to_string(*key.max) + ", found " +
           std::to_string(found);
}

std::string BelowMin(const ConfigKey& key, int64_t found) {
    if (*key.min == 0) return key.name + " must not be negative";
    return key.name + " must be " + std::to_string(*key.min) + " or more, found " +
           std::to_string(found);
}
