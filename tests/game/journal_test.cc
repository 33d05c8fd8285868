// Journal lines: checksummed JSON that reads back exactly; a torn last
// entry is left out, a damaged earlier one refuses the journal.
#include "game/journal.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/test_util.h"

namespace {

TEST(JournalEntryTest, LineReadsBackWithEveryValue) {
    JournalEntry entry = JournalEntry("chat", 2147483648LL)  // past 2038
                             .Int("subject", 2)
                             .Text("text", "a \"quote\", a \\ and\nline\tfeed \x01 \xC3\xA9")
                             .Real("divisor", 0.9)
                             .Real("third", 1.0 / 3.0)
                             .Bool("break", true);
    std::string line = entry.ToLine();
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line, whatever the text holds
    JournalEntry read;
    ASSERT_TRUE(JournalEntry::FromLine(line.substr(0, line.size() - 1), &read));
    EXPECT_EQ(read.Kind(), "chat");
    EXPECT_EQ(read.GetInt("t"), 2147483648LL);
    EXPECT_EQ(read.GetInt("subject"), 2);
    EXPECT_EQ(read.GetText("text"), entry.GetText("text"));
    EXPECT_EQ(read.GetReal("divisor"), 0.9);
    EXPECT_EQ(read.GetReal("third"), 1.0 / 3.0);
    EXPECT_TRUE(read.GetBool("break"));
    EXPECT_FALSE(read.Has("missing"));
    EXPECT_EQ(read.ToLine(), line);
}

TEST(JournalEntryTest, ChecksumIsZlibsCrc32) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);  // the standard check value
    EXPECT_EQ(Crc32(""), 0u);
    std::string line = JournalEntry("stop", 5).ToLine();
    EXPECT_EQ(line, "fbcfb09f {\"kind\":\"stop\",\"t\":5}\n");  // zlib.crc32 agrees
}

// A JSON writer other than ours may escape any character; \u escapes read
// back as UTF-8, a surrogate pair as one character.
TEST(JournalEntryTest, UnicodeEscapesReadBackAsUtf8) {
    std::string json = R"({"kind":"chat","text":"\u0041\u00e9\u20ac\ud83d\ude00"})";
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x ", Crc32(json));
    JournalEntry read;
    ASSERT_TRUE(JournalEntry::FromLine(crc + json, &read));
    EXPECT_EQ(read.GetText("text"), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    std::string lone = R"({"kind":"chat","text":"\ud83d"})";
    std::snprintf(crc, sizeof crc, "%08x ", Crc32(lone));
    EXPECT_FALSE(JournalEntry::FromLine(crc + lone, &read));
}

TEST(JournalEntryTest, DamagedLinesAreNotEntries) {
    std::string line = JournalEntry("join", 7).Int("subject", 1).ToLine();
    line.pop_back();
    JournalEntry read;
    std::string flipped = line;
    flipped[flipped.size() - 2] = '2';  // subject 2 under subject 1's checksum
    for (const std::string& bad : {flipped, line.substr(0, line.size() - 4), std::string(""),
                                   std::string(20, '\0'), std::string("00000000 {}")}) {
        EXPECT_FALSE(JournalEntry::FromLine(bad, &read)) << bad;
    }
}

class JournalFileTest : public testing::Test {
protected:
    std::string Lines(int n) {
        std::string text;
        for (int i = 1; i <= n; ++i) text += JournalEntry("join", i).Int("subject", i).ToLine();
        return text;
    }
    testutil::TempDir dir;
    std::string path = dir / "g.journal";
    JournalContents read;
    std::string error;
};

TEST_F(JournalFileTest, TornLastEntryIsLeftOutAndCutOffWhenContinued) {
    std::string whole = Lines(2);
    std::string third = JournalEntry("join", 3).ToLine();
    for (const std::string& torn : {third.substr(0, 10), third.substr(0, third.size() - 1),
                                    std::string(third.size(), '\0')}) {
        testutil::WriteFile(path, whole + torn);
        ASSERT_TRUE(ReadJournal(path, &read, &error)) << error;
        EXPECT_EQ(read.entries.size(), 2u);
        EXPECT_TRUE(read.tornTail);
        EXPECT_EQ(read.wholeLength, whole.size());
    }
    JournalWriter writer;
    ASSERT_TRUE(writer.Continue(path, read, &error)) << error;
    ASSERT_TRUE(writer.Append(JournalEntry("stop", 9)));
    EXPECT_EQ(testutil::ReadFile(path), whole + JournalEntry("stop", 9).ToLine());
}

TEST_F(JournalFileTest, DamageBeforeTheLastLineRefusesTheJournal) {
    std::string text = Lines(3);
    text[text.find('\n') + 12] ^= 1;  // inside the second line
    testutil::WriteFile(path, text);
    EXPECT_FALSE(ReadJournal(path, &read, &error));
    EXPECT_EQ(error, path + " is damaged at line 2");
    EXPECT_FALSE(ReadJournal(dir / "missing.journal", &read, &error));
}

TEST_F(JournalFileTest, NewJournalNeverOverwritesAnOldOne) {
    JournalWriter first;
    ASSERT_TRUE(first.Create(path, &error));
    ASSERT_TRUE(first.Append(JournalEntry("stop", 1)));
    JournalWriter second;
    EXPECT_FALSE(second.Create(path, &error));
    EXPECT_EQ(error, "the journal " + path + " exists already");
    ASSERT_TRUE(ReadJournal(path, &read, &error));
    EXPECT_EQ(read.entries.size(), 1u);
    EXPECT_FALSE(read.tornTail);
}

}  // namespace
