#include "wexcore/xmpp/seen_book.h"

#include <functional>

namespace wexcore::xmpp {

void SeenBook::Resumed() {
    m_replaying = true;
}

void SeenBook::NewSession() {
    m_handled.clear();
    m_order.clear();
    m_replaying = false;
}

bool SeenBook::Repeated(const std::string& from, const std::string& id, const std::string& text) {
    if (id.empty()) return false;
    // The text's hash tells a repeat from a new message under a reused id.
    std::string key = from + '\n' + id + '\n' + std::to_string(std::hash<std::string>()(text));
    if (m_replaying && m_handled.count(key) != 0) return true;
    // The first message not handled before ends what the server sends again.
    m_replaying = false;
    if (!m_handled.insert(key).second) return false;
    m_order.push_back(key);
    if (m_order.size() > kRemembered) {
        m_handled.erase(m_order.front());
        m_order.pop_front();
    }
    return false;
}

}  // namespace wexcore::xmpp
