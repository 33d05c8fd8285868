#include "wexcore/xmpp/seen_book.h"

#include <gtest/gtest.h>

#include <string>

namespace wexcore::xmpp {
namespace {

constexpr char kAlice[] = "alice@lab/phone";

TEST(SeenBookTest, OneStreamNeverRepeats) {
    SeenBook book;
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
    // The same client signed on again and counts its ids from the start.
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "6"));
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
    EXPECT_FALSE(book.Repeated("alice@lab/laptop", "x1", "6"));
}

TEST(SeenBookTest, ResumedStreamRepeatsWhatCameBefore) {
    SeenBook book;
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
    EXPECT_FALSE(book.Repeated(kAlice, "x2", "6"));
    EXPECT_FALSE(book.Repeated("bob@lab/home", "b1", "7"));
    book.Resumed();
    // The server sends again what the bot had not acknowledged ...
    EXPECT_TRUE(book.Repeated(kAlice, "x2", "6"));
    EXPECT_TRUE(book.Repeated("bob@lab/home", "b1", "7"));
    // ... then what is new; after that nothing is a repeat.
    EXPECT_FALSE(book.Repeated(kAlice, "x3", "8"));
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
}

TEST(SeenBookTest, RepeatIsSameClientIdAndText) {
    SeenBook book;
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
    book.Resumed();
    EXPECT_FALSE(book.Repeated("alice@lab/laptop", "x1", "5"));  // another client
    book.Resumed();
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "6"));  // the id used again
    book.Resumed();
    EXPECT_FALSE(book.Repeated(kAlice, "x9", "5"));
    book.Resumed();
    EXPECT_TRUE(book.Repeated(kAlice, "x1", "5"));
}

TEST(SeenBookTest, MessagesWithoutIdAreNeverRepeats) {
    SeenBook book;
    EXPECT_FALSE(book.Repeated(kAlice, "", "5"));
    book.Resumed();
    EXPECT_FALSE(book.Repeated(kAlice, "", "5"));
}

TEST(SeenBookTest, NewSessionForgetsEverything) {
    SeenBook book;
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
    book.NewSession();
    EXPECT_FALSE(book.Repeated(kAlice, "x1", "5"));
    // A resumption of the new session knows only what came on it.
    EXPECT_FALSE(book.Repeated(kAlice, "x2", "6"));
    book.NewSession();
    book.Resumed();
    EXPECT_FALSE(book.Repeated(kAlice, "x2", "6"));
}

TEST(SeenBookTest, RemembersTheLatestMessagesOnly) {
    SeenBook book;
    for (int i = 0; i < 5000; ++i) EXPECT_FALSE(book.Repeated(kAlice, std::to_string(i), "t"));
    book.Resumed();
    EXPECT_TRUE(book.Repeated(kAlice, "4999", "t"));
    EXPECT_TRUE(book.Repeated(kAlice, "904", "t"));  // the oldest of the 4096 kept
    EXPECT_FALSE(book.Repeated(kAlice, "903", "t"));
}

}  // namespace
}  // namespace wexcore::xmpp
