#include "wexcore/xmpp/presence_book.h"

namespace wexcore::xmpp {

std::optional<bool> PresenceBook::Update(const std::string& peer, const std::string& resource,
                                         bool available) {
    auto it = m_online.find(peer);
    bool was = it != m_online.end() && !it->second.empty();
    if (available) {
        m_online[peer].insert(resource);
        if (!was) return true;
        return std::nullopt;
    }
    if (it == m_online.end()) {
        // Offline with no client known online: news the first time only.
        m_online[peer];
        return false;
    }
    it->second.erase(resource);
    if (was && it->second.empty()) return false;
    return std::nullopt;
}

}  // namespace wexcore::xmpp
