// Events on their way from the network thread to the user of the service,
// who receives them only inside Run, on the thread that runs it.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

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
    void PushPresence(const std::string& peer, bool online);

    // Delivers events to sink, in order, until End; returns End's code.
    HRESULT Run(ServiceSink& sink);
    // Ends Run after the event being delivered; from any thread. Given
    // before Run, the next Run returns at once.
    void End(HRESULT code);

private:
    struct Event {
        enum class Kind { kState, kRequest, kIm, kPresence } kind = Kind::kState;
        bool online = false;
        int32_t state = 0;
        HRESULT code = S_OK;
        std::shared_ptr<RequestRecord> request;
        std::string peer, text, note;
    };
    void Push(Event event);
    void Deliver(ServiceSink& sink, const Event& event);

    ImSessions& m_sessions;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Event> m_events;
    bool m_ending = false;
    HRESULT m_endCode = S_OK;
};

}  // namespace wexcore::xmpp
