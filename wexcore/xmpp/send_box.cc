#include "wexcore/xmpp/send_box.h"

#include <chrono>

namespace wexcore::xmpp {

HRESULT SendBox::Send(const std::string& to, const std::string& text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_link == Link::kDown) return WEX_E_NOT_LOGGED_ON;
    auto pending = std::make_shared<Pending>();
    pending->item = Item{m_nextTicket++, to, text};
    m_pending.push_back(pending);
    m_settled.wait_until(lock, deadline, [&] { return pending->stage == Pending::Stage::kDone; });
    if (pending->stage != Pending::Stage::kDone) {
        // A send that never left waited for a stream in vain.
        bool sent = pending->stage == Pending::Stage::kInFlight;
        Finish(*pending, sent ? WEX_E_TIMEOUT : WEX_E_NOT_LOGGED_ON);
    }
    m_pending.remove(pending);
    return pending->result;
}

void SendBox::Finish(Pending& pending, HRESULT code) {
    pending.stage = Pending::Stage::kDone;
    pending.result = code;
}

void SendBox::SetLink(Link link) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_link = link;
    if (link != Link::kDown) return;
    for (auto& pending : m_pending) {
        if (pending->stage != Pending::Stage::kDone) Finish(*pending, WEX_E_NOT_LOGGED_ON);
    }
    m_settled.notify_all();
}

std::vector<SendBox::Item> SendBox::TakeQueued() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Item> items;
    for (auto& pending : m_pending) {
        if (pending->stage != Pending::Stage::kQueued) continue;
        pending->stage = Pending::Stage::kInFlight;
        items.push_back(pending->item);
    }
    return items;
}

void SendBox::Settle(uint64_t ticket, HRESULT code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& pending : m_pending) {
        if (pending->item.ticket == ticket && pending->stage == Pending::Stage::kInFlight) {
            Finish(*pending, code);
            m_settled.notify_all();
            return;
        }
    }
}

void SendBox::SettleInFlight(HRESULT code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& pending : m_pending) {
        if (pending->stage == Pending::Stage::kInFlight) Finish(*pending, code);
    }
    m_settled.notify_all();
}

}  // namespace wexcore::xmpp
