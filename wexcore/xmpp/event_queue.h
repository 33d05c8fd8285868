// Events on their way from the network thread to the user of the service,
// who receives them only inside Run, on the thread that runs it. Instant
// messages wait in an Inbox, which lets the priority peer's go first and
// folds a flooding peer's; everything else keeps its order.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "wexcore/inbox.h"
#include "wexcore/service.h"
#include "wexcore/xmpp/im_sessions.h"

namespace wexcore::xmpp {

class EventQueue {
public:
    explicit EventQueue(ImSessions& sessions) : m_sessions(sessions) {}

    // note, when given, is printed on the console just before the event.
    void PushState(int32_t state, HRESULT code, const std::string& note = "");
    void PushRequest(std::shared_ptr<RequestRecord> request);
    void PushIm(const std::string& peer, const std::string& text);
    // How instant messages wait; set before the network thread starts.
    void SetInboxPolicy(InboxPolicy policy);
    void PushPresence(const std::string& peer, bool online, bool again = false);

    // Delivers events to sink, in order, until End; returns End's code.
    HRESULT Run(ServiceSink& sink);
    // Ends Run after the event being delivered; from any thread. Given
    // before Run, the next Run returns at once.
    void End(HRESULT code);

private:
    struct Event {
        enum class Kind { kState, kRequest, kIm, kPresence } kind = Kind::kState;
        bool online = false;
        bool again = false;  // kPresence: an online peer announced again
        int32_t state = 0;
        HRESULT code = S_OK;
        std::shared_ptr<RequestRecord> request;
        std::string peer, text, note;
        int32_t skipped = 0;
        uint64_t order = 0;
    };
    void Push(Event event);
    // The next event ready for delivery, if any; m_mutex held.
    bool TakeNext(Event* event);
    // Once a stop is asked for, no message waiting is delivered any more.
    void DropMessagesOnStop();
    void Deliver(ServiceSink& sink, const Event& event);

    ImSessions& m_sessions;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Event> m_events;  // all but instant messages
    Inbox m_inbox;
    uint64_t m_nextOrder = 0;
    bool m_ending = false;
    HRESULT m_endCode = S_OK;
};

}  // namespace wexcore::xmpp
