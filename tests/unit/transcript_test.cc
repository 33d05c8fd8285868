#include "messaging/transcript.h"

#include <gtest/gtest.h>
#include <time.h>

#include <thread>

#include "messaging/msg_stats.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "test_util.h"

using testutil::ConfigFrom;

namespace {

constexpr char kStamp[] = "%Y-%m-%d %H:%M:%S";

class TranscriptTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        ResetUsernameSlots();
        PropertyFile config = ConfigFrom(
            "BotUsername selkbot\nSubject1Name alice\nSubject2Name thirteenchars\n"
            "ModeratorName mod1\nLogFile " +
            (dir / "run") + "\n");
        for (auto [slot, key] : {std::pair{0, "BotUsername"},
                                 {1, "Subject1Name"},
                                 {2, "Subject2Name"},
                                 {3, "ModeratorName"}}) {
            ASSERT_TRUE(LoadUsername(config, transcript, slot, key));
        }
        ASSERT_TRUE(transcript.SetUpLogFile(config));
    }
    void TearDown() override { ResetUsernameSlots(); }

    // Runs write with standard output captured; returns what was printed.
    template <typename Write>
    std::string Printed(Write write) {
        testing::internal::CaptureStdout();
        write();
        return testing::internal::GetCapturedStdout();
    }

    // The file's text with each line's time stamp checked and replaced by
    // "T": every stamp must be a time between the test's start and now.
    std::string FileWithoutStamps() {
        std::string text = testutil::ReadFile(transcript.LogPath());
        std::string now = platform::FormatLocalTime(platform::NowSeconds(), kStamp);
        std::string out;
        size_t pos = 0;
        while (pos < text.size()) {
            std::string stamp = text.substr(pos, 19);
            EXPECT_TRUE(stamp == start || stamp == now) << stamp;
            size_t end = text.find("\n", pos);
            if (end == std::string::npos) end = text.size() - 1;
            out += "T" + text.substr(pos + 19, end + 1 - pos - 19);
            pos = end + 1;
            // A text's own line feeds continue without a stamp.
            while (pos < text.size() && !isdigit(static_cast<unsigned char>(text[pos]))) {
                end = text.find("\n", pos);
                out += text.substr(pos, end + 1 - pos);
                pos = end + 1;
            }
        }
        return out;
    }

    testutil::TempDir dir;
    std::string start = platform::FormatLocalTime(platform::NowSeconds(), kStamp);
    Transcript transcript;
};

}  // namespace

TEST_F(TranscriptTest, LogFileNameCarriesTheStartTime) {
    PropertyFile config = ConfigFrom("LogFile logs/run\n");
    Transcript other;
    int32_t before = platform::NowSeconds();
    ASSERT_TRUE(other.SetUpLogFile(config));
    int32_t after = platform::NowSeconds();
    const std::string& path = other.LogPath();
    EXPECT_TRUE(path == platform::FormatLocalTime(before, "logs/run_%Y%m%d_%H%M%S.log") ||
                path == platform::FormatLocalTime(after, "logs/run_%Y%m%d_%H%M%S.log"))
        << path;
    EXPECT_EQ(path.size(), std::string("logs/run_20081105_143012.log").size());
}

TEST_F(TranscriptTest, MissingLogFileIsRefusedWithAReason) {
    for (const char* text : {"LogFileX x\n", "LogFile\n", "LogFile   \n"}) {
        Transcript other;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(other.SetUpLogFile(ConfigFrom(text)));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "LogFile: log file name is missing or empty. Check config file.\n");
        EXPECT_EQ(other.LogPath(), "");
    }
}

TEST_F(TranscriptTest, LineFormat) {
    std::string out = Printed([&] {
        EXPECT_EQ(transcript.LogRecv(1, MakeBstr("25").get()), S_OK);
        EXPECT_EQ(transcript.WriteLog(0, "INIT", "SelkBot initializing."), S_OK);
        EXPECT_EQ(transcript.WriteLog(2, "ERR ", "username is too long."), S_OK);
        EXPECT_EQ(transcript.LogSend(3, MakeBstr("first\nsecond \xE2\x82\xAC").get()), S_OK);
    });
    const std::string expected =
        "T alice         RECV 25\n"
        "T selkbot       INIT SelkBot initializing.\n"
        "T thirteenchars ERR  username is too long.\n"
        "T mod1          SEND first\nsecond \xE2\x82\xAC\n";
    EXPECT_EQ(FileWithoutStamps(), expected);
    EXPECT_EQ(out, testutil::ReadFile(transcript.LogPath()));  // the echo is the same bytes
    EXPECT_EQ(transcript.Stats().ReceivedCount(1), 1u);
    EXPECT_EQ(transcript.Stats().SentCount(3), 1u);  // two lines, one message
    EXPECT_EQ(transcript.Stats().SentCount(0) + transcript.Stats().ReceivedCount(0), 0u);
}

TEST_F(TranscriptTest, StrangerIsNamedButNotCounted) {
    std::string out = Printed([&] {
        transcript.LogRecv(-1, MakeBstr("hello").get(), MakeBstr("eve").get());
        transcript.LogRecv(-1, MakeBstr("x").get(), MakeBstr("averylongscreenname").get());
        transcript.LogRecv(-1, MakeBstr("y").get(), MakeBstr("J\xC3\xB6rg").get());
        transcript.WriteLog(7, "SEND", "out of range");
        transcript.WriteLog(-5, "RECV", "out of range");
    });
    EXPECT_EQ(FileWithoutStamps(),
              "T eve           RECV hello\n"
              "T averylongscreenname RECV x\n"
              "T J\xC3\xB6rg          RECV y\n"
              "T               SEND out of range\n"
              "T               RECV out of range\n");
    EXPECT_EQ(transcript.Stats().Report(),
              "team 1:\n0 sent, 0 received.\nteam 2:\n0 sent, 0 received.\n"
              "team 3:\n0 sent, 0 received.\n");
}

TEST_F(TranscriptTest, LineIsLostWhenTheFileCannotBeOpened) {
    // Before the log file is named: dropped without a word.
    Transcript unnamed;
    testing::internal::CaptureStderr();
    std::string out = Printed([&] { EXPECT_EQ(unnamed.WriteLog(1, "ERR ", "lost"), E_FAIL); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(out, "");

    // A log file in a missing folder: not written, echoed or counted, but
    // the loss is reported.
    Transcript broken;
    PropertyFile config = ConfigFrom("LogFile " + (dir / "missing/run") + "\n");
    ASSERT_TRUE(broken.SetUpLogFile(config));
    testing::internal::CaptureStderr();
    out = Printed([&] { EXPECT_EQ(broken.LogSend(1, MakeBstr("hi").get()), E_FAIL); });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "transcript: cannot open \"" + broken.LogPath() + "\"; line lost.\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(broken.Stats().SentCount(1), 0u);
}

TEST(MsgStats, ReportCountsPerTeam) {
    MsgStats stats;
    for (int i = 0; i < 12; ++i) stats.AddSent(0, 1, "to 1");
    for (int i = 0; i < 10; ++i) stats.AddReceived(0, 1, "from 1");
    for (int i = 0; i < 3; ++i) stats.AddSent(0, 3, "to moderator");
    stats.AddReceived(0, 2, "from 2");
    stats.AddSent(0, 0, "slot 0 is not reported");
    stats.AddSent(0, 4, "ignored");
    stats.AddReceived(0, -1, "ignored");
    EXPECT_EQ(stats.Report(),
              "team 1:\n12 sent, 10 received.\n"
              "team 2:\n0 sent, 1 received.\n"
              "team 3:\n3 sent, 0 received.\n");
    EXPECT_EQ(stats.SentCount(0), 1u);
    EXPECT_EQ(stats.SentCount(4), 0u);
    EXPECT_EQ(stats.ReceivedCount(-1), 0u);
}

TEST(MsgStats, CountsFromTwoThreads) {
    MsgStats stats;
    auto add = [&stats] {
        for (int i = 0; i < 2000; ++i) stats.AddSent(0, 2, "x");
    };
    std::thread worker(add);
    add();
    std::string during = stats.Report();
    worker.join();
    EXPECT_EQ(stats.SentCount(2), 4000u);
    EXPECT_EQ(during.substr(0, 8), "team 1:\n");
}
