// Hands messages from the user's threads to the network thread and each
// one's verdict back to the thread that waits for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wexcore/result_codes.h"

namespace wexcore::xmpp {

class SendBox {
public:
    enum class Link {
        kDown,     // not signed on, or offline for good: sends fail at once
        kWaiting,  // connecting: sends wait for the stream, within their time
        kUp,       // online: the network thread takes sends as they come
    };

    // Caller side: queues text for the bare address `to` and waits up to
    // timeoutMs for its verdict. WEX_E_NOT_LOGGED_ON when no stream took it
    // in time, WEX_E_TIMEOUT when the server did not answer in time.
    HRESULT Send(const std::string& to, const std::string& text, int timeoutMs);

    // Network-thread side.
    struct Item {
        uint64_t ticket;
        std::string to, text;
    };
    void SetLink(Link link);
    // The sends waiting to go out; they count as in flight from now on.
    std::vector<Item> TakeQueued();
    // Gives a send its verdict; later verdicts for the same ticket are ignored.
    void Settle(uint64_t ticket, HRESULT code);
    // Gives every send in flight the verdict code.
    void SettleInFlight(HRESULT code);

private:
    struct Pending {
        Item item;
        enum class Stage { kQueued, kInFlight, kDone } stage = Stage::kQueued;
        HRESULT result = S_OK;
    };
    using PendingList = std::list<std::shared_ptr<Pending>>;
    void Finish(Pending& pending, HRESULT code);

    std::mutex m_mutex;
    std::condition_variable m_settled;
    Link m_link = Link::kDown;
    uint64_t m_nextTicket = 1;
    PendingList m_pending;  // queued and in flight, oldest first
};

}  // namespace wexcore::xmpp
