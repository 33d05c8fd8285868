#include "wexcore/inbox.h"

#include <algorithm>

namespace wexcore {

bool Inbox::IsPriority(const std::string& peer) const {
    if (peer.empty()) return false;
    const std::vector<std::string>& names = m_policy.priorityPeers;
    return std::find(names.begin(), names.end(), peer) != names.end();
}

std::deque<int64_t>& Inbox::Window(const std::string& peer, int64_t nowMs) {
    std::deque<int64_t>& times = m_windows[peer];
    while (!times.empty() && times.front() + m_policy.windowMs <= nowMs) times.pop_front();
    return times;
}

void Inbox::Arrive(const std::string& peer, const std::string& text, int64_t nowMs,
                   uint64_t order) {
    InboxMessage message{peer, text, 0, order};
    if (IsPriority(peer)) {
        m_queue.push_back(std::move(message));
        return;
    }
    // Once a peer has a held message, everything it sends joins it, so its
    // messages never overtake each other.
    bool overRate = m_held.count(peer) > 0;
    if (!overRate && m_policy.limit > 0) {
        overRate = Window(peer, nowMs).size() >= static_cast<size_t>(m_policy.limit);
    }
    if (overRate || m_queue.size() >= m_policy.capacity) {
        Fold(peer, text, nowMs, order);
        return;
    }
    Enqueue(std::move(message), nowMs);
}

void Inbox::Enqueue(InboxMessage message, int64_t nowMs) {
    if (m_policy.limit > 0) Window(message.peer, nowMs).push_back(nowMs);
    m_queue.push_back(std::move(message));
}

void Inbox::Fold(const std::string& peer, const std::string& text, int64_t nowMs, uint64_t order) {
    auto found = m_held.find(peer);
    if (found != m_held.end()) {
        InboxMessage& held = found->second.message;
        if (held.skipped < INT32_MAX) ++held.skipped;
        held.text = text;
        held.order = order;
        return;
    }
    // Due when the oldest message in the peer's window leaves it.
    int64_t due = nowMs;
    if (m_policy.limit > 0) {
        const std::deque<int64_t>& times = Window(peer, nowMs);
        if (times.size() >= static_cast<size_t>(m_policy.limit)) {
            due = times.front() + m_policy.windowMs;
        }
    }
    m_held[peer] = Held{InboxMessage{peer, text, 0, order}, due};
}

void Inbox::Release(int64_t nowMs) {
    for (auto it = m_held.begin(); it != m_held.end() && m_queue.size() < m_policy.capacity;) {
        if (it->second.dueMs > nowMs) {
            ++it;
            continue;
        }
        Enqueue(std::move(it->second.message), nowMs);
        it = m_held.erase(it);
    }
}

std::optional<InboxMessage> Inbox::Next(int64_t nowMs) {
    Release(nowMs);
    if (m_queue.empty()) return std::nullopt;
    auto first = m_queue.begin();
    auto priority = std::find_if(m_queue.begin(), m_queue.end(),
                                 [this](const auto& m) { return IsPriority(m.peer); });
    if (priority != m_queue.end()) first = priority;
    InboxMessage message = std::move(*first);
    m_queue.erase(first);
    return message;
}

std::optional<uint64_t> Inbox::NextOrder(int64_t nowMs) const {
    // What Release would move into the queue counts as well.
    std::optional<uint64_t> order;
    for (const InboxMessage& m : m_queue) {
        if (IsPriority(m.peer)) return m.order;
        if (!order) order = m.order;
    }
    if (order) return order;
    for (const auto& [peer, held] : m_held) {
        if (held.dueMs <= nowMs && (!order || held.message.order < *order)) {
            order = held.message.order;
        }
    }
    return order;
}

std::optional<int64_t> Inbox::NextDueMs() const {
    std::optional<int64_t> due;
    for (const auto& [peer, held] : m_held) {
        if (!due || held.dueMs < *due) due = held.dueMs;
    }
    return due;
}

size_t Inbox::Waiting() const {
    size_t count = m_queue.size();
    for (const auto& [peer, held] : m_held) count += 1 + static_cast<size_t>(held.message.skipped);
    return count;
}

size_t Inbox::Clear() {
    size_t count = Waiting();
    m_queue.clear();
    m_held.clear();
    m_windows.clear();
    return count;
}

}  // namespace wexcore
