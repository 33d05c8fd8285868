// Sends waiting for their verdicts across threads, and events reaching the
// user only inside the event loop.

#include "wexcore/xmpp/send_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "wexcore/xmpp/event_queue.h"
#include "wexcore/xmpp/request_book.h"

namespace wexcore::xmpp {
namespace {

using namespace std::chrono_literals;

// Plays the network thread: takes what is queued and answers it.
std::vector<SendBox::Item> TakeSoon(SendBox& box, size_t count) {
    std::vector<SendBox::Item> items;
    for (int i = 0; i < 500 && items.size() < count; ++i) {
        for (auto& item : box.TakeQueued()) items.push_back(item);
        std::this_thread::sleep_for(2ms);
    }
    return items;
}

TEST(XmppSendBox, EachCallerGetsTheVerdictForItsOwnMessage) {
    SendBox box;
    box.SetLink(SendBox::Link::kUp);
    HRESULT toAlice = E_FAIL, toNobody = E_FAIL;
    std::thread a([&] { toAlice = box.Send("alice@lab.test", "hi", 5000); });
    std::thread b([&] { toNobody = box.Send("nobody@lab.test", "hi", 5000); });
    std::vector<SendBox::Item> items = TakeSoon(box, 2);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_NE(items[0].ticket, items[1].ticket);
    for (auto& item : items) {
        box.Settle(item.ticket, item.to == "nobody@lab.test" ? WEX_E_USER_UNAVAILABLE : S_OK);
        box.Settle(item.ticket, WEX_E_SERVER_ERROR);  // a late second verdict is ignored
    }
    a.join();
    b.join();
    EXPECT_EQ(toAlice, S_OK);
    EXPECT_EQ(toNobody, WEX_E_USER_UNAVAILABLE);
    EXPECT_TRUE(box.TakeQueued().empty());
}

TEST(XmppSendBox, NoStreamAndNoAnswerGiveTheirCodes) {
    SendBox box;
    EXPECT_EQ(box.Send("alice@lab.test", "before sign-on", 5000), WEX_E_NOT_LOGGED_ON);

    // Waiting for a stream that does not come back in time.
    box.SetLink(SendBox::Link::kWaiting);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(box.Send("alice@lab.test", "while reconnecting", 50), WEX_E_NOT_LOGGED_ON);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_TRUE(box.TakeQueued().empty()) << "a send that gave up must not leave later";

    // Sent, but the server never answers.
    box.SetLink(SendBox::Link::kUp);
    HRESULT result = S_OK;
    std::thread caller([&] { result = box.Send("alice@lab.test", "lost", 100); });
    ASSERT_EQ(TakeSoon(box, 1).size(), 1u);
    caller.join();
    EXPECT_EQ(result, WEX_E_TIMEOUT);
}

TEST(XmppSendBox, LosingTheStreamSettlesWaitingSends) {
    SendBox box;
    box.SetLink(SendBox::Link::kUp);
    HRESULT inFlight = S_OK, queued = S_OK;
    std::thread first([&] { inFlight = box.Send("alice@lab.test", "1", 5000); });
    ASSERT_EQ(TakeSoon(box, 1).size(), 1u);
    box.SettleInFlight(WEX_E_DISCONNECTED);
    first.join();
    EXPECT_EQ(inFlight, WEX_E_DISCONNECTED);

    // Waiting for a reconnection that ends in the session going offline.
    box.SetLink(SendBox::Link::kWaiting);
    std::thread second([&] { queued = box.Send("alice@lab.test", "2", 5000); });
    std::this_thread::sleep_for(20ms);
    box.SetLink(SendBox::Link::kDown);
    second.join();
    EXPECT_EQ(queued, WEX_E_NOT_LOGGED_ON);
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
    void OnIm(const std::string& peer, uint32_t session, const std::string& text) override {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        log += "im " + peer + " " + std::to_string(session) + " " + text + ";";
        if (text == "end it") sessions->End(session);
    }
    std::string log;
    EventQueue* queue = nullptr;
    RequestBook* book = nullptr;
    ImSessions* sessions = nullptr;
    std::thread::id loopThread;
};

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
        std::this_thread::sleep_for(20ms);
        queue.End(S_FALSE);
    });
    EXPECT_EQ(queue.Run(sink), S_FALSE);
    ender.join();
    EXPECT_EQ(sink.log, "im alice 4 after the end;");
}

}  // namespace
}  // namespace wexcore::xmpp
