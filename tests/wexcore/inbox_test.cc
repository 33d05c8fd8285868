// The inbox: the moderator first, a flooding peer folded, a bounded queue.
#include "wexcore/inbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using wexcore::Inbox;
using wexcore::InboxMessage;
using wexcore::InboxPolicy;

InboxPolicy Policy(int32_t limit, size_t capacity = 1000) {
    InboxPolicy policy;
    policy.priorityPeers = {"mod", "desk"};
    policy.limit = limit;
    policy.windowMs = 10000;
    policy.capacity = capacity;
    return policy;
}

// Everything Next gives at nowMs, as "peer:text" (with "+skipped").
std::vector<std::string> Drain(Inbox& inbox, int64_t nowMs) {
    std::vector<std::string> out;
    while (auto m = inbox.Next(nowMs)) {
        out.push_back(m->peer + ":" + m->text +
                      (m->skipped > 0 ? "+" + std::to_string(m->skipped) : ""));
    }
    return out;
}

TEST(InboxTest, PriorityPeerGoesFirstOthersKeepTheirOrder) {
    Inbox inbox;
    inbox.SetPolicy(Policy(0));
    uint64_t order = 0;
    inbox.Arrive("alice", "1", 0, order++);
    inbox.Arrive("bob", "2", 1, order++);
    inbox.Arrive("mod", "?", 2, order++);
    inbox.Arrive("alice", "3", 3, order++);
    EXPECT_EQ(inbox.NextOrder(3), 2u);
    EXPECT_EQ(Drain(inbox, 3), (std::vector<std::string>{"mod:?", "alice:1", "bob:2", "alice:3"}));
    EXPECT_TRUE(inbox.Empty());
}

TEST(InboxTest, BothPriorityPeersGoFirstAndAreNeverFolded) {
    // The second priority peer (the desk) is treated as the first: ahead
    // of everyone else, in arrival order with the first, never folded.
    Inbox inbox;
    inbox.SetPolicy(Policy(1, 2));
    uint64_t order = 0;
    inbox.Arrive("alice", "1", 0, order++);
    inbox.Arrive("alice", "2", 1, order++);
    for (int i = 0; i < 3; ++i) inbox.Arrive("desk", "s" + std::to_string(i), 2, order++);
    inbox.Arrive("mod", "?", 3, order++);
    inbox.Arrive("deskx", "x", 4, order++);
    EXPECT_EQ(inbox.NextOrder(4), 2u);
    EXPECT_EQ(Drain(inbox, 4), (std::vector<std::string>{"desk:s0", "desk:s1", "desk:s2", "mod:?",
                                                         "alice:1", "deskx:x"}));
    // An empty name in the list makes no peer with an empty name first.
    InboxPolicy policy = Policy(0);
    policy.priorityPeers = {"", "mod"};
    inbox.SetPolicy(policy);
    inbox.Arrive("", "e", 5, order++);
    inbox.Arrive("mod", "m", 6, order++);
    EXPECT_EQ(Drain(inbox, 20000).front(), "mod:m");
}

TEST(InboxTest, BeyondTheRateMessagesFoldIntoTheLastAndWaitForRoom) {
    Inbox inbox;
    inbox.SetPolicy(Policy(3));
    uint64_t order = 0;
    for (int i = 0; i < 100; ++i) inbox.Arrive("alice", std::to_string(i), i, order++);
    inbox.Arrive("bob", "b", 150, order++);
    inbox.Arrive("mod", "m", 160, order++);
    EXPECT_EQ(inbox.Waiting(), 102u);
    // Three one by one, the others one message due when the first leaves
    // the window; other peers are not held up.
    EXPECT_EQ(inbox.NextDueMs(), 10000);
    EXPECT_EQ(Drain(inbox, 200),
              (std::vector<std::string>{"mod:m", "alice:0", "alice:1", "alice:2", "bob:b"}));
    // While alice's folded message waits, her next one joins it: her
    // messages never overtake each other.
    inbox.Arrive("alice", "late", 9000, order++);
    EXPECT_EQ(Drain(inbox, 9999), std::vector<std::string>{});
    EXPECT_EQ(Drain(inbox, 10000), std::vector<std::string>{"alice:late+97"});
    EXPECT_FALSE(inbox.NextDueMs().has_value());
}

TEST(InboxTest, AFullInboxFoldsEveryoneButThePriorityPeer) {
    Inbox inbox;
    inbox.SetPolicy(Policy(0, 2));
    uint64_t order = 0;
    inbox.Arrive("alice", "a", 0, order++);
    inbox.Arrive("bob", "b", 0, order++);
    inbox.Arrive("carol", "c1", 0, order++);
    inbox.Arrive("carol", "c2", 0, order++);
    inbox.Arrive("mod", "m", 0, order++);
    EXPECT_EQ(inbox.Waiting(), 5u);
    EXPECT_EQ(Drain(inbox, 0),
              (std::vector<std::string>{"mod:m", "alice:a", "bob:b", "carol:c2+1"}));
}

TEST(InboxTest, ClearForgetsEverythingAndSaysHowMuch) {
    Inbox inbox;
    inbox.SetPolicy(Policy(1));
    uint64_t order = 0;
    for (int i = 0; i < 5; ++i) inbox.Arrive("alice", "x", 0, order++);
    EXPECT_EQ(inbox.Clear(), 5u);
    EXPECT_TRUE(inbox.Empty());
    EXPECT_FALSE(inbox.Next(100000).has_value());
}

}  // namespace
