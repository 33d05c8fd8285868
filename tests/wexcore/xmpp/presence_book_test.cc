#include "wexcore/xmpp/presence_book.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace wexcore::xmpp
