#include "wexcore/xmpp/send_box.h"

namespace wexcore::xmpp {

HRESULT SendBox::Send(const std::string& to, const std::string& text, const ImExtras& extras) {
    std::function<void()> wake;
    auto pending = std::make_shared<Pending>();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_link == Link::kDown) return WEX_E_NOT_LOGGED_ON;
    pending->item = Item{m_nextTicket++, to, text, extras};
    m_pending.push_back(pending);
    wake = m_wake;
    lock.unlock();
    if (wake) wake();
    lock.lock();
    m_settled.wait(lock, [&] { return pending->stage == Pending::Stage::kDone; });
    m_pending.remove(pending);
    return pending->result;
}

void SendBox::SetFarewell(const std::string& to, const ExtraElement& element) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (element.Empty()) {
        m_farewells.erase(to);
    } else {
        m_farewells[to] = element;
    }
}

void SendBox::QueueFarewells() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_farewellsQueued) return;
    m_farewellsQueued = true;
    if (m_link == Link::kDown) return;
    for (const auto& [to, element] : m_farewells) {
        auto pending = std::make_shared<Pending>();
        pending->item = Item{m_nextTicket++, to, "", ImExtras{element, true}};
        pending->unwatched = true;
        m_pending.push_back(pending);
    }
    m_farewells.clear();
}

void SendBox::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake = std::move(wake);
}

void SendBox::SetLink(Link link) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_link = link;
    if (link != Link::kDown) return;
    for (auto& pending : m_pending) {
        if (pending->stage == Pending::Stage::kDone) continue;
        pending->stage = Pending::Stage::kDone;
        pending->result = WEX_E_NOT_LOGGED_ON;
    }
    m_pending.remove_if([](const std::shared_ptr<Pending>& p) { return p->unwatched; });
    m_settled.notify_all();
}

std::vector<SendBox::Item> SendBox::TakeQueued() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Item> items;
    if (m_link != Link::kUp) return items;
    for (auto& pending : m_pending) {
        if (pending->stage != Pending::Stage::kQueued) continue;
        pending->stage = Pending::Stage::kInFlight;
        items.push_back(pending->item);
    }
    return items;
}

void SendBox::Settle(uint64_t ticket, HRESULT code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        Pending& pending = **it;
        if (pending.item.ticket == ticket && pending.stage == Pending::Stage::kInFlight) {
            pending.stage = Pending::Stage::kDone;
            pending.result = code;
            if (pending.unwatched) m_pending.erase(it);
            m_settled.notify_all();
            return;
        }
    }
}

void SendBox::RequeueInFlight() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // The list keeps the order in which the messages were made, so the
    // requeued ones still leave before those made after them.
    for (auto& pending : m_pending) {
        if (pending->stage == Pending::Stage::kInFlight) pending->stage = Pending::Stage::kQueued;
    }
}

size_t SendBox::Unsettled() {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = 0;
    for (auto& pending : m_pending) {
        if (pending->stage != Pending::Stage::kDone) ++count;
    }
    return count;
}

}  // namespace wexcore::xmpp
