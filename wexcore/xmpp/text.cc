#include "wexcore/xmpp/text.h"

#include <cstdint>

namespace wexcore::xmpp {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the
// bytes there are not a valid, shortest-form sequence.
size_t DecodeOne(const std::string& text, size_t i, uint32_t* code) {
    unsigned char lead = text[i];
    size_t length;
    uint32_t value, minimum;
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
        unsigned char next = text[i + k];
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

bool AllowedInXml(uint32_t code) {
    if (code < 0x20) return code == '\t' || code == '\n' || code == '\r';
    return code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

std::string XmlSafeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        size_t length = DecodeOne(text, i, &code);
        if (length == 0) {
            out += kReplacement;
            i += 1;
        } else {
            if (AllowedInXml(code))
                out.append(text, i, length);
            else
                out += kReplacement;
            i += length;
        }
    }
    return out;
}

}  // namespace wexcore::xmpp
