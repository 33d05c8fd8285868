#include "wexcore/xmpp/presence_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wexcore::xmpp {
namespace {

TEST(PresenceBookTest, PeerIsOnlineWhileAnyOfItsClientsIs) {
    PresenceBook book;
    EXPECT_EQ(book.Update("alice@lab", "phone", true), std::optional<bool>(true));
    EXPECT_EQ(book.Update("alice@lab", "laptop", true), std::nullopt);
    EXPECT_EQ(book.Update("alice@lab", "phone", true), std::nullopt);  // a status change
    EXPECT_EQ(book.Update("alice@lab", "phone", false), std::nullopt);
    EXPECT_EQ(book.Update("alice@lab", "laptop", false), std::optional<bool>(false));
    EXPECT_EQ(book.Update("alice@lab", "laptop", false), std::nullopt);
    EXPECT_EQ(book.Update("alice@lab", "laptop", true), std::optional<bool>(true));
    // Peers are kept apart.
    EXPECT_EQ(book.Update("bob@lab", "laptop", true), std::optional<bool>(true));
    EXPECT_EQ(book.Update("alice@lab", "laptop", false), std::optional<bool>(false));
}

TEST(PresenceBookTest, FirstNewsOfAnOfflinePeerIsReportedOnce) {
    PresenceBook book;
    EXPECT_EQ(book.Update("bob@lab", "phone", false), std::optional<bool>(false));
    EXPECT_EQ(book.Update("bob@lab", "phone", false), std::nullopt);
    EXPECT_EQ(book.Update("bob@lab", "phone", true), std::optional<bool>(true));
}

// A server that restarted gives the clients that sign on again new
// resources and never says that the old ones left.
TEST(PresenceBookTest, NewStreamRebuildsEveryPeerFromWhatTheServerAnnounces) {
    PresenceBook book;
    book.Update("alice@lab", "old-a", true);
    book.Update("bob@lab", "old-b", true);
    book.Update("carol@lab", "old-c", true);
    book.Update("dave@lab", "old-d", false);
    book.NewStream();
    // Alice came back before the bot with a new resource: no change.
    EXPECT_EQ(book.Update("alice@lab", "new-a", true), std::nullopt);
    // Dave was offline and is online now.
    EXPECT_EQ(book.Update("dave@lab", "new-d", true), std::optional<bool>(true));
    // Bob and carol were not announced: they are offline.
    EXPECT_EQ(book.Settle(), (std::vector<std::string>{"bob@lab", "carol@lab"}));
    EXPECT_EQ(book.Settle(), std::vector<std::string>{});
    // The old resources are forgotten: alice's new client going is news.
    EXPECT_EQ(book.Update("alice@lab", "new-a", false), std::optional<bool>(false));
    EXPECT_EQ(book.Update("alice@lab", "new-a", true), std::optional<bool>(true));
    // Bob comes back later, once.
    EXPECT_EQ(book.Update("bob@lab", "new-b", true), std::optional<bool>(true));
    EXPECT_EQ(book.Update("bob@lab", "old-b", false), std::nullopt);
}

TEST(PresenceBookTest, WithoutANewStreamTheBookIsUnchanged) {
    // A resumed stream calls neither NewStream nor Settle's rebuild:
    // settling outside a rebuild reports nothing and forgets nothing.
    PresenceBook book;
    book.Update("alice@lab", "phone", true);
    book.Update("alice@lab", "laptop", true);
    EXPECT_EQ(book.Settle(), std::vector<std::string>{});
    EXPECT_EQ(book.Update("alice@lab", "phone", false), std::nullopt);
    EXPECT_EQ(book.Update("alice@lab", "laptop", false), std::optional<bool>(false));
}

TEST(PresenceBookTest, ClientsLeavingDuringTheRebuildAreReportedOnce) {
    PresenceBook book;
    book.Update("alice@lab", "a1", true);
    book.NewStream();
    EXPECT_EQ(book.Update("alice@lab", "a2", true), std::nullopt);
    EXPECT_EQ(book.Update("alice@lab", "a2", false), std::optional<bool>(false));
    EXPECT_EQ(book.Settle(), std::vector<std::string>{});
    // A second new stream before the first settled keeps what was reported.
    book.Update("bob@lab", "b1", true);
    book.NewStream();
    book.NewStream();
    EXPECT_EQ(book.Settle(), std::vector<std::string>{"bob@lab"});
}

}  // namespace
}  // namespace wexcore::xmpp
