#include "wexcore/xmpp/presence_book.h"

namespace wexcore::xmpp {

std::optional<bool> PresenceBook::Update(const std::string& peer, const std::string& resource,
                                         bool available) {
    // The first news of a peer is reported whatever it says, later news
    // only when it changes whether any client is online.
    std::set<std::string>& clients = m_clients[peer];
    if (available) {
        clients.insert(resource);
    } else {
        clients.erase(resource);
    }
    bool now = !clients.empty();
    auto [it, first] = m_reported.try_emplace(peer, now);
    if (!first && it->second == now) return std::nullopt;
    it->second = now;
    return now;
}

void PresenceBook::NewStream() {
    m_clients.clear();
    m_rebuilding = true;
}

std::vector<std::string> PresenceBook::Settle() {
    std::vector<std::string> gone;
    if (!m_rebuilding) return gone;
    m_rebuilding = false;
    for (auto& [peer, online] : m_reported) {
        auto it = m_clients.find(peer);
        if (!online || (it != m_clients.end() && !it->second.empty())) continue;
        online = false;
        gone.push_back(peer);
    }
    return gone;
}

}  // namespace wexcore::xmpp
