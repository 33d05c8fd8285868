// Numbers of the IM sessions that the user of the service sees. XMPP has no
// sessions of its own: a number only names a conversation with one peer.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace wexcore::xmpp {

class ImSessions {
public:
    // A new session for a conversation the user starts.
    uint32_t Open();
    // The session on which peer's messages arrive: made at the first message,
    // kept until the user ends it.
    uint32_t Incoming(const std::string& peer);
    void End(uint32_t session);

private:
    std::mutex m_mutex;
    uint32_t m_next = 1;
    std::map<std::string, uint32_t> m_incoming;
};

}  // namespace wexcore::xmpp
