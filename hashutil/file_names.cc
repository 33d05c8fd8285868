#include "file_names.h"

#include <cwchar>
#include <cwctype>

namespace wexhash {
namespace {

// Characters a shell gives a meaning to anywhere in a word, and ':' which
// would be confused with the separator of a message.
constexpr std::string_view kSpecialAnywhere = " !\"$&'()*:;<=>?[\\^`|";
// Characters a shell gives a meaning to at the start of a word.
constexpr std::string_view kSpecialFirst = "#~";
// Characters that keep their meaning inside double quotes.
constexpr std::string_view kSpecialInDoubleQuotes = "!\"$\\`";

bool Contains(std::string_view set, char c) {
    return set.find(c) != std::string_view::npos;
}

// The length of the printable character at the start of text, or 0 when the
// bytes there are not one.
size_t PrintableLength(std::string_view text) {
    const auto byte = static_cast<unsigned char>(text[0]);
    if (byte < 0x80) return (byte >= 0x20 && byte < 0x7f) ? 1 : 0;
    std::mbstate_t state{};
    wchar_t wide = 0;
    const size_t length = std::mbrtowc(&wide, text.data(), text.size(), &state);
    if (length == 0 || length > text.size() || !std::iswprint(static_cast<wint_t>(wide))) return 0;
    return length;
}

// One unprintable byte inside $'...'.
void AppendEscape(unsigned char byte, std::string& out) {
    static constexpr std::string_view kLetters = "abtnvfr";  // bytes 7 to 13
    out += '\\';
    if (byte >= 7 && byte <= 13) {
        out += kLetters[byte - 7];
        return;
    }
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

struct TScan {
    bool plain = true;         // no quoting needed
    bool doubleQuotes = true;  // "..." is enough
};

TScan Scan(std::string_view name) {
    TScan scan;
    for (size_t i = 0; i < name.size();) {
        const size_t length = PrintableLength(name.substr(i));
        if (length == 0) {
            scan.plain = scan.doubleQuotes = false;
            ++i;
            continue;
        }
        const char c = name[i];
        if (length == 1 &&
            (Contains(kSpecialAnywhere, c) || (i == 0 && Contains(kSpecialFirst, c)))) {
            scan.plain = false;
            if (Contains(kSpecialInDoubleQuotes, c)) scan.doubleQuotes = false;
        }
        i += length;
    }
    scan.doubleQuotes = scan.doubleQuotes && name.find('\'') != std::string_view::npos;
    return scan;
}

// '...' quoting: a quote becomes '\'', and each run of unprintable bytes
// leaves the quotes for a $'...' of escapes.
std::string SingleQuote(std::string_view name) {
    std::string out = "'";
    for (size_t i = 0; i < name.size();) {
        size_t length = PrintableLength(name.substr(i));
        if (length > 0) {
            if (name[i] == '\'') {
                out += "'\\''";
            } else {
                out.append(name, i, length);
            }
            i += length;
            continue;
        }
        out += "'$'";
        for (; i < name.size() && PrintableLength(name.substr(i)) == 0; ++i) {
            AppendEscape(static_cast<unsigned char>(name[i]), out);
        }
        // Close the $'...'; reopen the quotes only if more follows.
        if (i == name.size()) return out + "'";
        out += "''";
    }
    return out + "'";
}

}  // namespace

std::string EscapeName(std::string_view name, bool* escaped) {
    *escaped = name.find_first_of("\\\n\r") != std::string_view::npos;
    if (!*escaped) return std::string(name);
    std::string out;
    for (char c : name) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string SumLine(std::string_view hex, std::string_view name) {
    bool escaped = false;
    const std::string written = EscapeName(name, &escaped);
    return (escaped ? "\\" : "") + std::string(hex) + "  " + written + "\n";
}

std::string CheckResultName(std::string_view name) {
    if (name.find('\n') == std::string_view::npos) return std::string(name);
    bool escaped = false;
    return "\\" + EscapeName(name, &escaped);
}

std::string QuoteName(std::string_view name) {
    if (name.empty()) return "''";
    const TScan scan = Scan(name);
    if (scan.plain) return std::string(name);
    if (scan.doubleQuotes) return "\"" + std::string(name) + "\"";
    return SingleQuote(name);
}

}  // namespace wexhash
