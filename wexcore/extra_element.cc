#include "wexcore/extra_element.h"

namespace wexcore {
namespace {

std::string Escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string ElementXml(const ExtraElement& element) {
    if (element.Empty()) return "";
    std::string xml = "<" + element.name;
    if (!element.ns.empty()) xml += " xmlns=\"" + Escaped(element.ns) + "\"";
    for (const auto& [name, value] : element.attributes) {
        xml += " " + name + "=\"" + Escaped(value) + "\"";
    }
    return xml + "/>";
}

}  // namespace wexcore
