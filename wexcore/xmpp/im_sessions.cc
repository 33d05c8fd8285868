#include "wexcore/xmpp/im_sessions.h"

namespace wexcore::xmpp {

uint32_t ImSessions::Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_next++;
}

uint32_t ImSessions::Incoming(const std::string& peer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto [it, added] = m_incoming.emplace(peer, m_next);
    if (added) ++m_next;
    return it->second;
}

void ImSessions::End(uint32_t session) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_incoming.begin(); it != m_incoming.end(); ++it) {
        if (it->second == session) {
            m_incoming.erase(it);
            return;
        }
    }
}

}  // namespace wexcore::xmpp
