#include "messaging/visible_text.h"

#include <cstdio>

#include "wexcore/utf8.h"

namespace {

// Controls and the format characters that reorder or break a line without
// being seen.
bool IsInvisible(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 ||
           c == 0x2029;
}

void AppendCode(char32_t c, std::string* out) {
    char code[16];
    std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
    *out += code;
}

// Calls each(code, bytes) for every character of text; a byte that starts
// no valid UTF-8 sequence comes alone, with the code 0xFFFFFFFF.
template <typename Each>
void ForEachChar(std::string_view text, Each each) {
    for (size_t i = 0; i < text.size();) {
        char32_t code = 0;
        size_t length = wexcore::DecodeUtf8(text, i, &code);
        if (length == 0) code = 0xFFFFFFFF, length = 1;
        each(code, text.substr(i, length));
        i += length;
    }
}

size_t CharCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++count;
    }
    return count;
}

}  // namespace

std::string VisibleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachChar(text, [&out](char32_t c, std::string_view bytes) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (IsInvisible(c)) {
                    AppendCode(c, &out);
                } else {
                    out += bytes;
                }
        }
    });
    return out;
}

std::string PrefixedLines(std::string_view prefix, std::string_view text) {
    std::string out(prefix);
    std::string lineBreak = "\n" + std::string(CharCount(prefix), ' ');
    bool afterCr = false;
    ForEachChar(text, [&](char32_t c, std::string_view bytes) {
        bool crLf = afterCr && c == '\n';
        afterCr = c == '\r';
        if (crLf) return;
        if (c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029) {
            out += lineBreak;
        } else if (c != '\t' && IsInvisible(c)) {
            AppendCode(c, &out);
        } else {
            out += bytes;
        }
    });
    return out;
}
