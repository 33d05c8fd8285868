#include "wexcore/xmpp/presence_book.h"

namespace wexcore::xmpp {

std::optional<bool> PresenceBook::Update(const std::string& peer, const std::string& resource,
                                         bool available) {
    // The first news of a peer is reported whatever it says, later news
    // only when it changes whether any client is online.
    auto [it, first] = m_online.try_emplace(peer);
    std::set<std::string>& clients = it->second;
    bool was = !clients.empty();
    if (available) {
        clients.insert(resource);
    } else {
        clients.erase(resource);
    }
    bool now = !clients.empty();
    if (first || now != was) return now;
    return std::nullopt;
}

}  // namespace wexcore::xmpp
