#include "wexcore/xmpp/event_queue.h"

#include "platform/console.h"

namespace wexcore::xmpp {

void EventQueue::Push(Event event) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(event));
    }
    m_wake.notify_all();
}

void EventQueue::PushState(int32_t state, HRESULT code, const std::string& note) {
    Event event;
    event.kind = Event::Kind::kState;
    event.state = state;
    event.code = code;
    event.note = note;
    Push(std::move(event));
}

void EventQueue::PushRequest(std::shared_ptr<RequestRecord> request) {
    Event event;
    event.kind = Event::Kind::kRequest;
    event.request = std::move(request);
    Push(std::move(event));
}

void EventQueue::PushIm(const std::string& peer, const std::string& text) {
    Event event;
    event.kind = Event::Kind::kIm;
    event.peer = peer;
    event.text = text;
    Push(std::move(event));
}

void EventQueue::PushPresence(const std::string& peer, bool online) {
    Event event;
    event.kind = Event::Kind::kPresence;
    event.peer = peer;
    event.online = online;
    Push(std::move(event));
}

void EventQueue::End(HRESULT code) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_endCode = code;
    }
    m_wake.notify_all();
}

HRESULT EventQueue::Run(ServiceSink& sink) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_ending || !m_events.empty(); });
        if (m_ending) {
            m_ending = false;
            return m_endCode;
        }
        Event event = std::move(m_events.front());
        m_events.pop_front();
        lock.unlock();
        Deliver(sink, event);
        lock.lock();
    }
}

void EventQueue::Deliver(ServiceSink& sink, const Event& event) {
    switch (event.kind) {
        case Event::Kind::kState:
            if (!event.note.empty()) platform::Print(event.note + "\n");
            sink.OnState(event.state, event.code);
            break;
        case Event::Kind::kRequest:
            sink.OnRequest(event.request);
            break;
        case Event::Kind::kIm:
            // The session is chosen on delivery, so a session that the user
            // ended before this message arrived is not reused.
            sink.OnIm(event.peer, m_sessions.Incoming(event.peer), event.text);
            break;
        case Event::Kind::kPresence:
            sink.OnPresence(event.peer, event.online);
            break;
    }
}

}  // namespace wexcore::xmpp
