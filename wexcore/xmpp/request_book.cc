#include "wexcore/xmpp/request_book.h"

#include <cstdint>

#include "wexcore/events.h"

namespace wexcore::xmpp {

std::shared_ptr<RequestRecord> RequestBook::Add(const Offer& offer, const std::string& peer) {
    auto record = std::make_shared<RequestRecord>();
    record->kind = offer.kind;
    record->prop = 0;
    record->state = WEX_REQUEST_PENDING;
    record->peer = peer;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open[record.get()] = {record, offer};
    return record;
}

void RequestBook::Answered(const std::shared_ptr<RequestRecord>& record) {
    if (!record || record->answer == RequestRecord::Answer::kNone) return;
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_open.find(record.get());
        if (it == m_open.end()) return;  // not ours, or answered already
        Offer offer = it->second.second;
        offer.answer = record->answer;
        m_answered.push_back(offer);
        m_open.erase(it);
        wake = m_wake;
    }
    if (wake) wake();
}

void RequestBook::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake = std::move(wake);
}

std::vector<Offer> RequestBook::TakeAnswered() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Offer> answered;
    answered.swap(m_answered);
    return answered;
}

}  // namespace wexcore::xmpp
