#include "check_line.h"

#include <cctype>

namespace wexhash {
namespace {

constexpr size_t kHexDigits = 64;
constexpr std::string_view kTag = "SHA256";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void SkipBlanks(std::string_view& text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
}

// The text up to its first NUL: a name or digits read as a C string.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Undoes the escaping of a name: \\, \n and \r; any other backslash, or a
// NUL anywhere in the name, makes the line improper.
std::optional<std::string> Unescape(std::string_view name) {
    if (name.find('\0') != std::string_view::npos) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            out += name[i];
            continue;
        }
        if (++i == name.size()) return std::nullopt;
        switch (name[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

// "SHA256 (NAME) = HEX" with text at the "(" or the blank before it; NAME
// runs to the last ')', and the digits end at a NUL.
std::optional<TCheckEntry> ParseTagged(std::string_view text) {
    if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty() || text.front() != '(') return std::nullopt;
    const size_t close = text.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view rest = text.substr(close + 1);
    SkipBlanks(rest);
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest.remove_prefix(1);
    SkipBlanks(rest);
    rest = UpToNul(rest);
    if (!IsSha256Hex(rest)) return std::nullopt;
    return TCheckEntry{std::string(rest), std::string(text.substr(1, close - 1))};
}

}  // namespace

bool IsSha256Hex(std::string_view text) {
    if (text.size() != kHexDigits) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool IsIgnoredLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line.empty() || line.front() == '#';
}

// "HEX NAME": one blank after the digits, then the mode mark if this file
// uses them. While that is not settled, a name of one character is taken as
// a name, not a mark.
std::optional<TCheckEntry> TCheckParser::ParseUntagged(std::string_view text) {
    if (text.size() < kHexDigits + 2 || !IsSha256Hex(text.substr(0, kHexDigits)) ||
        !IsBlank(text[kHexDigits])) {
        return std::nullopt;
    }
    std::string_view name = text.substr(kHexDigits + 1);
    const bool marked = name.front() == ' ' || name.front() == '*';
    switch (marks_) {
        case TMarks::Unknown:
            marks_ = marked && name.size() > 1 ? TMarks::Present : TMarks::Absent;
            if (marks_ == TMarks::Present) name.remove_prefix(1);
            break;
        case TMarks::Present:
            if (!marked || name.size() < 2) return std::nullopt;
            name.remove_prefix(1);
            break;
        case TMarks::Absent:
            break;
    }
    return TCheckEntry{std::string(text.substr(0, kHexDigits)), std::string(name)};
}

std::optional<TCheckEntry> TCheckParser::Parse(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    SkipBlanks(line);
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped) line.remove_prefix(1);

    std::optional<TCheckEntry> entry =
        line.starts_with(kTag) ? ParseTagged(line.substr(kTag.size())) : ParseUntagged(line);
    if (!entry) return entry;
    // A NUL ends a plain name, as in a C string; an escaped name cannot hold
    // one at all.
    if (!escaped) {
        entry->name = std::string(UpToNul(entry->name));
        return entry;
    }
    std::optional<std::string> name = Unescape(entry->name);
    if (!name) return std::nullopt;
    entry->name = std::move(*name);
    return entry;
}

}  // namespace wexhash
