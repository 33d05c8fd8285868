// What a message may carry beside its text: one extension element (a
// child of the message in the XMPP stream), and whether it goes without a
// body at all.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wexcore {

struct ExtraElement {
    std::string name;  // "" = none
    std::string ns;
    std::vector<std::pair<std::string, std::string>> attributes;  // in the order set

    bool Empty() const { return name.empty(); }
};

struct ImExtras {
    ExtraElement element;
    // Only the element goes, with a hint that the server's archive keep
    // the message; clients show nothing for it.
    bool bodyless = false;
};

// The element as XML text, attribute values escaped; "" for none.
std::string ElementXml(const ExtraElement& element);

}  // namespace wexcore
