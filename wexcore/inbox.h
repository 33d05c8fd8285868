// Incoming instant messages waiting for the user of a service. It keeps a
// participant who writes faster than the user can answer from holding up
// everyone else:
//   - the priority peers' messages (the moderator's, and those of a second
//     moderator account such as the lab's desk) go before all others;
//   - beyond a rate (limit messages in window), a peer's further messages
//     are folded into one held message: the last text, with the number of
//     messages it stands for; it is delivered once the peer's window has
//     room again;
//   - the inbox is bounded: once it holds capacity messages, every peer but
//     the priority one is folded whatever its rate.
// Times are milliseconds on any clock that does not go back; the caller
// passes them in, so the same inbox serves simulated and real time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace wexcore {

struct InboxPolicy {
    std::vector<std::string> priorityPeers;  // empty names are ignored
    int32_t limit = 0;                       // messages a peer may send in window; 0: no limit
    int64_t windowMs = 10000;
    size_t capacity = 1000;
};

struct InboxMessage {
    std::string peer;
    std::string text;
    int32_t skipped = 0;  // messages of peer folded into this one, before it
    uint64_t order = 0;   // arrival order among everything the caller numbers
};

class Inbox {
public:
    void SetPolicy(InboxPolicy policy) { m_policy = std::move(policy); }

    // A message from peer arrived at nowMs; order numbers it among the
    // caller's other events.
    void Arrive(const std::string& peer, const std::string& text, int64_t nowMs, uint64_t order);
    // The message to deliver next at nowMs: the priority peer's first, then
    // the earliest in order; nothing when none is ready.
    std::optional<InboxMessage> Next(int64_t nowMs);
    // The order of the message Next would give at nowMs, if any.
    std::optional<uint64_t> NextOrder(int64_t nowMs) const;
    // When a held message falls due; nothing when none is held.
    std::optional<int64_t> NextDueMs() const;
    bool Empty() const { return m_queue.empty() && m_held.empty(); }
    // Messages waiting, queued and folded together.
    size_t Waiting() const;
    // Forgets everything waiting (a stop) and says how much that was.
    size_t Clear();

private:
    bool IsPriority(const std::string& peer) const;
    struct Held {
        InboxMessage message;  // the last text; skipped counts those before it
        int64_t dueMs = 0;
    };
    // Arrival times of a peer's messages queued one by one in its window.
    std::deque<int64_t>& Window(const std::string& peer, int64_t nowMs);
    void Fold(const std::string& peer, const std::string& text, int64_t nowMs, uint64_t order);
    void Release(int64_t nowMs);
    void Enqueue(InboxMessage message, int64_t nowMs);

    InboxPolicy m_policy;
    std::deque<InboxMessage> m_queue;
    std::map<std::string, Held> m_held;
    std::map<std::string, std::deque<int64_t>> m_windows;
};

}  // namespace wexcore
