// Decoding of UTF-8, shared by the string handles and the XMPP service.
#pragma once

#include <cstddef>
#include <string_view>

namespace wexcore {

// Decodes the UTF-8 sequence that starts at text[i]. Returns its length in
// bytes and sets *code, or returns 0 when the bytes there are not a valid,
// shortest-form sequence of a code point other than a surrogate.
inline size_t DecodeUtf8(std::string_view text, size_t i, char32_t* code) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

}  // namespace wexcore
