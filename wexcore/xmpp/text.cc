#include "wexcore/xmpp/text.h"

#include "wexcore/utf8.h"

namespace wexcore::xmpp {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool AllowedInXml(char32_t code) {
    if (code < 0x20) return code == '\t' || code == '\n' || code == '\r';
    return code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

std::string XmlSafeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t code = 0;
        size_t length = DecodeUtf8(text, i, &code);
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
