// Recognises a message that a resumed stream hands over again.
//
// Ids are unique only within one sender's stream, and a server sends a
// message again only when it resumes the bot's stream: first what the bot
// had not acknowledged, then what is new. So a message repeats one handled
// before only right after a resumption, and only until the first message
// that the bot has not handled. A message repeated is the same in sender
// (the full address: one client's stream), id and text.
#pragma once

#include <cstddef>
#include <deque>
#include <set>
#include <string>

namespace wexcore::xmpp {

class SeenBook {
public:
    // The bot's stream was resumed: what comes first may repeat messages
    // handled before.
    void Resumed();
    // The bot began a new session: nothing handled before comes again.
    void NewSession();
    // Notes a message from the full address `from`; true when it repeats
    // one handled before the last resumption. A message without an id is
    // never taken for a repeat.
    bool Repeated(const std::string& from, const std::string& id, const std::string& text);

private:
    static constexpr size_t kRemembered = 4096;
    std::set<std::string> m_handled;  // sender, id and text of messages handled
    std::deque<std::string> m_order;  // the same, oldest first
    bool m_replaying = false;         // since the resumption, only repeats so far
};

}  // namespace wexcore::xmpp
