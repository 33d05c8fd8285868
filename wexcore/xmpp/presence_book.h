// Which clients (resources) of each peer are online. A peer is online while
// any of its clients is; the book reports only when that changes.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

namespace wexcore::xmpp {

class PresenceBook {
public:
    // Notes that the client resource of peer (a bare address) became
    // available or unavailable. Returns the peer's new state when it
    // changed, else nothing.
    std::optional<bool> Update(const std::string& peer, const std::string& resource,
                               bool available);

private:
    std::map<std::string, std::set<std::string>> m_online;
};

}  // namespace wexcore::xmpp
