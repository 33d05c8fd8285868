// Hands messages from the user's threads to the network thread and each
// one's verdict back to the thread that waits for it. A message is held
// while the session reconnects, however long that takes: only a session
// that has ended fails a send.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wexcore/extra_element.h"
#include "wexcore/result_codes.h"

namespace wexcore::xmpp {

class SendBox {
public:
    enum class Link {
        kDown,     // not signed on, or ended: sends fail at once
        kWaiting,  // (re)connecting: sends are held until the stream is back
        kUp,       // online: the network thread takes sends as they come
    };

    // Caller side: queues text for the bare address `to` and waits for its
    // verdict. WEX_E_NOT_LOGGED_ON when the session has ended, or ends
    // before the message got its verdict.
    HRESULT Send(const std::string& to, const std::string& text, const ImExtras& extras = {});
    // The element sent to `to` without a body when a stop begins; an empty
    // one removes it.
    void SetFarewell(const std::string& to, const ExtraElement& element);

    // Network-thread side.
    struct Item {
        uint64_t ticket;
        std::string to, text;
        ImExtras extras;
    };
    // Called (on the caller's thread) whenever a send is queued.
    void SetWake(std::function<void()> wake);
    void SetLink(Link link);
    // The sends waiting to go out, oldest first; they count as in flight
    // from now on.
    std::vector<Item> TakeQueued();
    // Gives a send its verdict; later verdicts for the same ticket are ignored.
    void Settle(uint64_t ticket, HRESULT code);
    // A new stream that does not continue the old one: the sends in flight
    // on the old stream go out again, ahead of those queued since.
    void RequeueInFlight();
    // A stop begins: the farewells are queued, with no one waiting for
    // their verdicts, and none is taken after.
    void QueueFarewells();
    // Sends without a verdict yet, queued or in flight.
    size_t Unsettled();

private:
    struct Pending {
        Item item;
        enum class Stage { kQueued, kInFlight, kDone } stage = Stage::kQueued;
        HRESULT result = S_OK;
        bool unwatched = false;  // a farewell: dropped once settled
    };
    using PendingList = std::list<std::shared_ptr<Pending>>;

    std::mutex m_mutex;
    std::condition_variable m_settled;
    std::function<void()> m_wake;
    Link m_link = Link::kDown;
    uint64_t m_nextTicket = 1;
    PendingList m_pending;  // queued and in flight, in the order they were made
    std::map<std::string, ExtraElement> m_farewells;
    bool m_farewellsQueued = false;
};

}  // namespace wexcore::xmpp
