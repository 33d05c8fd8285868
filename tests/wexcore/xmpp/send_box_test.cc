// Sends waiting for their verdicts across threads, and events reaching the
// user only inside the event loop. The test plays the network thread; it
// learns of each queued send through the box's wake-up, so nothing here
// depends on timing.

#include "wexcore/xmpp/send_box.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "wexcore/xmpp/event_queue.h"
#include "wexcore/xmpp/request_book.h"

namespace wexcore::xmpp {
namespace {

// Counts the box's wake-ups, one per queued send.
class Wakes {
public:
    explicit Wakes(SendBox& box) {
        box.SetWake([this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_count;
            m_changed.notify_all();
        });
    }
    void WaitFor(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_count >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

std::future<HRESULT> SendAsync(SendBox& box, const std::string& to, const std::string& text) {
    return std::async(std::launch::async, [&box, to, text] { return box.Send(to, text); });
}

TEST(XmppSendBox, EachCallerGetsTheVerdictForItsOwnMessage) {
    SendBox box;
    Wakes wakes(box);
    box.SetLink(SendBox::Link::kUp);
    auto toAlice = SendAsync(box, "alice@lab.test", "hi");
    auto toNobody = SendAsync(box, "nobody@lab.test", "hi");
    wakes.WaitFor(2);
    std::vector<SendBox::Item> items = box.TakeQueued();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_NE(items[0].ticket, items[1].ticket);
    EXPECT_EQ(box.Unsettled(), 2u);
    for (auto& item : items) {
        box.Settle(item.ticket, item.to == "nobody@lab.test" ? WEX_E_USER_UNAVAILABLE : S_OK);
        box.Settle(item.ticket, WEX_E_SERVER_ERROR);  // a late second verdict is ignored
    }
    EXPECT_EQ(toAlice.get(), S_OK);
    EXPECT_EQ(toNobody.get(), WEX_E_USER_UNAVAILABLE);
    EXPECT_TRUE(box.TakeQueued().empty());
    EXPECT_EQ(box.Unsettled(), 0u);
}

TEST(XmppSendBox, SendsAreHeldWhileReconnectingAndLeaveInOrder) {
    SendBox box;
    Wakes wakes(box);
    box.SetLink(SendBox::Link::kWaiting);
    auto first = SendAsync(box, "alice@lab.test", "first");
    wakes.WaitFor(1);
    auto second = SendAsync(box, "bob@lab.test", "second");
    wakes.WaitFor(2);
    EXPECT_TRUE(box.TakeQueued().empty()) << "nothing leaves without a stream";
    EXPECT_EQ(box.Unsettled(), 2u);

    box.SetLink(SendBox::Link::kUp);
    std::vector<SendBox::Item> items = box.TakeQueued();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "first");
    EXPECT_EQ(items[1].text, "second");

    // The stream is lost with both in flight and a third is made meanwhile;
    // the new session sends the old ones again, still first.
    box.SetLink(SendBox::Link::kWaiting);
    auto third = SendAsync(box, "alice@lab.test", "third");
    wakes.WaitFor(3);
    box.SetLink(SendBox::Link::kUp);
    box.RequeueInFlight();
    items = box.TakeQueued();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].text + items[1].text + items[2].text, "firstsecondthird");
    for (auto& item : items) box.Settle(item.ticket, S_OK);
    EXPECT_EQ(first.get(), S_OK);
    EXPECT_EQ(second.get(), S_OK);
    EXPECT_EQ(third.get(), S_OK);
}

TEST(XmppSendBox, OnlyAnEndedSessionFailsSends) {
    SendBox box;
    Wakes wakes(box);
    EXPECT_EQ(box.Send("alice@lab.test", "before sign-on"), WEX_E_NOT_LOGGED_ON);

    box.SetLink(SendBox::Link::kUp);
    auto inFlight = SendAsync(box, "alice@lab.test", "in flight");
    wakes.WaitFor(1);
    ASSERT_EQ(box.TakeQueued().size(), 1u);
    box.SetLink(SendBox::Link::kWaiting);
    auto held = SendAsync(box, "alice@lab.test", "held");
    wakes.WaitFor(2);

    // The session ends: both fail, and so does any later send.
    box.SetLink(SendBox::Link::kDown);
    EXPECT_EQ(inFlight.get(), WEX_E_NOT_LOGGED_ON);
    EXPECT_EQ(held.get(), WEX_E_NOT_LOGGED_ON);
    EXPECT_EQ(box.Send("alice@lab.test", "after the end"), WEX_E_NOT_LOGGED_ON);
    EXPECT_EQ(box.Unsettled(), 0u);
}

class RecordingSink : public ServiceSink {
public:
    void OnState(int32_t state, HRESULT code) override {
        log += "state " + std::to_string(state) + " " + std::to_string(code) + ";";
        if (state == 0) queue->End(code);
    }
    void OnRequest(const std::shared_ptr<RequestRecord>& request) override {
        log += "request " + std::to_string(request->kind) + " " + request->peer + ";";
        request->answer = RequestRecord::Answer::kAccept;
        book->Answered(request);
        book->Answered(request);  // answering twice sends one answer
    }
    void OnIm(const std::string& peer, uint32_t session, const std::string& text,
              int32_t) override {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        log += "im " + peer + " " + std::to_string(session) + " " + text + ";";
        if (text == "end it") sessions->End(session);
        if (text == "after the end") leftoverDelivered.set_value();
    }
    std::string log;
    EventQueue* queue = nullptr;
    RequestBook* book = nullptr;
    ImSessions* sessions = nullptr;
    std::thread::id loopThread;
    std::promise<void> leftoverDelivered;
};

// A stop queues each farewell once, with no one waiting for it; a settled
// farewell leaves the box, and a box already down queues none.
TEST(XmppSendBox, FarewellsGoOnceWhenTheStopBegins) {
    SendBox box;
    box.SetLink(SendBox::Link::kUp);
    ExtraElement over{"game", "urn:wex:game:1", {{"phase", "over"}}};
    box.SetFarewell("alice@lab.test", over);
    box.SetFarewell("bob@lab.test", over);
    box.SetFarewell("bob@lab.test", ExtraElement());  // removed
    EXPECT_TRUE(box.TakeQueued().empty());
    box.QueueFarewells();
    box.QueueFarewells();
    std::vector<SendBox::Item> items = box.TakeQueued();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].to, "alice@lab.test");
    EXPECT_TRUE(items[0].extras.bodyless);
    EXPECT_EQ(items[0].extras.element.attributes, over.attributes);
    EXPECT_EQ(box.Unsettled(), 1u);
    box.Settle(items[0].ticket, S_OK);
    EXPECT_EQ(box.Unsettled(), 0u);

    SendBox down;
    down.SetFarewell("alice@lab.test", over);
    down.QueueFarewells();
    down.SetLink(SendBox::Link::kUp);
    EXPECT_TRUE(down.TakeQueued().empty());
}

TEST(XmppEventQueue, DeliversInOrderOnTheLoopThreadUntilEnded) {
    ImSessions sessions;
    EventQueue queue(sessions);
    RequestBook book;
    RecordingSink sink;
    sink.queue = &queue;
    sink.book = &book;
    sink.sessions = &sessions;
    sink.loopThread = std::this_thread::get_id();
    EXPECT_EQ(sessions.Open(), 1u);

    std::thread network([&] {
        queue.PushState(100, 0);
        queue.PushState(500, 0);
        queue.PushIm("alice", "hi");
        queue.PushIm("bob", "hello");
        queue.PushIm("alice", "end it");
        queue.PushIm("alice", "again");
        Offer offer;
        offer.address = "carol@lab.test";
        queue.PushRequest(book.Add(offer, "carol"));
        queue.PushState(0, WEX_E_BUMPED);
        queue.PushIm("alice", "after the end");
    });
    EXPECT_EQ(queue.Run(sink), WEX_E_BUMPED);
    network.join();
    EXPECT_EQ(sink.log,
              "state 100 0;state 500 0;im alice 2 hi;im bob 3 hello;im alice 2 end it;"
              "im alice 4 again;request 1 carol;state 0 " +
                  std::to_string(WEX_E_BUMPED) + ";");
    std::vector<Offer> answered = book.TakeAnswered();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].address, "carol@lab.test");
    EXPECT_EQ(answered[0].answer, RequestRecord::Answer::kAccept);

    // The next run first delivers what was left, then ends when told to
    // from another thread.
    sink.log.clear();
    std::thread ender([&] {
        sink.leftoverDelivered.get_future().wait();
        queue.End(S_FALSE);
    });
    EXPECT_EQ(queue.Run(sink), S_FALSE);
    ender.join();
    EXPECT_EQ(sink.log, "im alice 4 after the end;");
}

}  // namespace
}  // namespace wexcore::xmpp
