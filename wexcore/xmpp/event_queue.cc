#include "wexcore/xmpp/event_queue.h"

#include <chrono>

#include "platform/console.h"
#include "platform/signals.h"

namespace wexcore::xmpp {

namespace {

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void EventQueue::SetInboxPolicy(InboxPolicy policy) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inbox.SetPolicy(std::move(policy));
}

void EventQueue::Push(Event event) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        event.order = m_nextOrder++;
        if (event.kind == Event::Kind::kIm) {
            m_inbox.Arrive(event.peer, event.text, SteadyMs(), event.order);
        } else {
            m_events.push_back(std::move(event));
        }
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

void EventQueue::PushPresence(const std::string& peer, bool online, bool again) {
    Event event;
    event.kind = Event::Kind::kPresence;
    event.peer = peer;
    event.online = online;
    event.again = again;
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
        DropMessagesOnStop();
        Event event;
        if (m_ending) {
            m_ending = false;
            return m_endCode;
        }
        if (!TakeNext(&event)) {
            // Nothing ready: wait for an event, or for a held message.
            std::optional<int64_t> due = m_inbox.NextDueMs();
            if (due) {
                m_wake.wait_for(lock, std::chrono::milliseconds(*due - SteadyMs()));
            } else {
                m_wake.wait(lock);
            }
            continue;
        }
        lock.unlock();
        Deliver(sink, event);
        lock.lock();
    }
}

bool EventQueue::TakeNext(Event* event) {
    int64_t now = SteadyMs();
    std::optional<uint64_t> im = m_inbox.NextOrder(now);
    if (im && (m_events.empty() || *im < m_events.front().order)) {
        std::optional<InboxMessage> message = m_inbox.Next(now);
        if (!message) return false;
        event->kind = Event::Kind::kIm;
        event->peer = std::move(message->peer);
        event->text = std::move(message->text);
        event->skipped = message->skipped;
        return true;
    }
    if (m_events.empty()) return false;
    *event = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

void EventQueue::DropMessagesOnStop() {
    if (!platform::StopRequested() || m_inbox.Empty()) return;
    size_t unread = m_inbox.Clear();
    platform::Print("stopping: " + std::to_string(unread) +
                    " received messages are left unanswered\n");
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
            sink.OnIm(event.peer, m_sessions.Incoming(event.peer), event.text, event.skipped);
            break;
        case Event::Kind::kPresence:
            sink.OnPresence(event.peer, event.online, event.again);
            break;
    }
}

}  // namespace wexcore::xmpp
