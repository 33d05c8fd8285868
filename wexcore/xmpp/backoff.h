// The growing wait between reconnection attempts.
#pragma once

#include <algorithm>

namespace wexcore::xmpp {

class Backoff {
public:
    Backoff(int minMs, int maxMs) : m_min(std::max(minMs, 1)), m_max(std::max(maxMs, m_min)) {}

    // The wait before the next attempt: min, 2*min, 4*min, ... up to max.
    int Next() {
        int wait = m_next;
        m_next = wait > m_max / 2 ? m_max : wait * 2;
        return wait;
    }
    void Reset() { m_next = m_min; }

private:
    int m_min, m_max;
    int m_next = m_min;
};

}  // namespace wexcore::xmpp
