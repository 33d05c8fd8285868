#include "messaging/transcript.h"

#include <time.h>

#include <regex>
#include <thread>

#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "tests/handle_test_util.h"

using testutil::ConfigFrom;

namespace {

class TranscriptTest : public testing::Test {
protected:
    void SetUp() override {
        ResetUsernameSlots();
        PropertyFile config = ConfigFrom("A selkbot\nB alice\nC thirteenchars\nD mod1\nLogFile " +
                                         (dir / "run") + "\n");
        for (int slot = 0; slot < 4; ++slot) {
            ASSERT_EQ(LoadUsername(config, slot, std::string(1, 'A' + slot)), "");
        }
        ASSERT_TRUE(log.SetUpLogFile(config));
    }
    void TearDown() override { ResetUsernameSlots(); }

    // The log file with every time stamp checked to lie between the test's
    // start and now, then replaced by "T".
    std::string FileWithoutStamps() {
        std::string now = platform::FormatLocalTime(platform::NowSeconds(), kStamp);
        std::string text = testutil::ReadFile(log.LogPath());
        std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d", std::regex::multiline);
        for (std::sregex_iterator it(text.begin(), text.end(), stamp), end; it != end; ++it) {
            EXPECT_TRUE(it->str() >= start && it->str() <= now) << it->str();
        }
        return std::regex_replace(text, stamp, "T");
    }

    static constexpr char kStamp[] = "%Y-%m-%d %H:%M:%S";
    // Local time is UTC here, set before any member reads the clock.
    struct UtcTime {
        UtcTime() {
            ::setenv("TZ", "UTC", 1);
            ::tzset();
        }
    } utc;
    testutil::TempDir dir;
    int32_t startSeconds = platform::NowSeconds();
    std::string start = platform::FormatLocalTime(startSeconds, kStamp);
    Transcript log;
};

}  // namespace

TEST_F(TranscriptTest, LogFileName) {
    std::regex name(std::regex_replace(dir / "run", std::regex("\\."), "\\.") +
                    "_\\d{8}_\\d{6}\\.log");
    EXPECT_TRUE(std::regex_match(log.LogPath(), name)) << log.LogPath();
    std::string stamp = log.LogPath().substr(log.LogPath().size() - 19, 15);
    EXPECT_GE(stamp, platform::FormatLocalTime(startSeconds, "%Y%m%d_%H%M%S"));
    EXPECT_LE(stamp, platform::FormatLocalTime(platform::NowSeconds(), "%Y%m%d_%H%M%S"));
    for (const char* text : {"LogFileX x\n", "LogFile\n", "LogFile   \n"}) {
        Transcript other;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(other.SetUpLogFile(ConfigFrom(text)));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "LogFile: log file name is missing or empty. Check config file.\n");
    }
}

TEST_F(TranscriptTest, LineFormatEchoAndCounts) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(log.LogRecv(1, MakeBstr("25").get()), S_OK);
    log.WriteLog(2, "ERR ", "username is too long.");
    log.LogSend(3, MakeBstr("first\nsecond \xE2\x82\xAC").get());
    log.LogRecv(-1, MakeBstr("hi").get(), MakeBstr("J\xC3\xB6rg").get());
    log.LogRecv(-1, MakeBstr("z").get(), MakeBstr("a\nb").get());
    log.LogRecv(-1, MakeBstr("x").get(), MakeBstr("averylongscreenname").get());
    log.WriteLog(7, "SEND", "out of range");
    std::string echo = testing::internal::GetCapturedStdout();
    EXPECT_EQ(FileWithoutStamps(),
              "T alice         RECV 25\n"
              "T thirteenchars ERR  username is too long.\n"
              "T mod1          SEND first\nsecond \xE2\x82\xAC\n"
              "T J\xC3\xB6rg          RECV hi\n"
              "T a\\x0Ab        RECV z\n"
              "T averylongscreenname RECV x\n"
              "T               SEND out of range\n");
    EXPECT_EQ(echo, testutil::ReadFile(log.LogPath()));
    // Strangers and out-of-range slots are not counted.
    EXPECT_EQ(log.Stats().Report(Catalogue()),
              "team 1:\n0 sent, 1 received.\nteam 2:\n0 sent, 0 received.\n"
              "team 3:\n1 sent, 0 received.\n");
}

// A participant's text is one line of the transcript, whatever it holds,
// so it can't pose as lines of its own; the bot's own texts keep their
// line feeds.
TEST_F(TranscriptTest, ReceivedTextIsOneVisibleLine) {
    testing::internal::CaptureStdout();
    const std::string forged = "2008-11-05 14:30:12 mod1          SEND team 3:";
    log.LogRecv(1, MakeBstr("25\n" + forged + "\r\n" + forged + "\rx\\n\t\x1B\xE2\x80\xAE").get());
    log.LogRecv(-1, MakeBstr("hi\n" + forged).get(), MakeBstr("stranger").get());
    log.LogRecvTruncated(2, "ab\n" + forged, 10000);
    log.LogSend(1, MakeBstr("Current round: 2\nHow much?").get());
    testing::internal::GetCapturedStdout();
    const std::string shown = "2008-11-05 14:30:12 mod1          SEND team 3:";
    EXPECT_EQ(FileWithoutStamps(), "T alice         RECV 25\\n" + shown + "\\r\\n" + shown +
                                       "\\rx\\\\n\\t\\u{001B}\\u{202E}\n"
                                       "T stranger      RECV hi\\n" +
                                       shown +
                                       "\n"
                                       "T thirteenchars RECV ab\\n" +
                                       shown +
                                       " [... truncated, 10000 bytes]\n"
                                       "T alice         SEND Current round: 2\nHow much?\n");
    EXPECT_EQ(log.Stats().Report(Catalogue()),
              "team 1:\n1 sent, 1 received.\nteam 2:\n0 sent, 1 received.\n"
              "team 3:\n0 sent, 0 received.\n");
}

// A resumed game continues the earlier transcript. With a journal that
// holds no counts, the moderator's counts cover what the transcript
// recorded before the restart; a subject's text can't add to them.
TEST_F(TranscriptTest, ContinuedTranscriptKeepsItsCounts) {
    testing::internal::CaptureStdout();
    log.LogRecv(1, MakeBstr("25").get());
    log.LogRecv(1, MakeBstr("x\n2008-01-01 00:00:00 mod1          SEND team 3:").get());
    log.LogRecv(2, MakeBstr("x\r2008-01-01 00:00:00 alice         RECV 1").get());
    log.LogSend(1, MakeBstr("line one\nline two").get());
    log.LogSend(2, MakeBstr("bounced").get(), WEX_E_USER_UNAVAILABLE);
    log.LogSend(3, MakeBstr("report").get());
    log.LogRecv(-1, MakeBstr("hi").get(), MakeBstr("stranger").get());
    log.LogRecv(3, MakeBstr("s").get());
    testing::internal::GetCapturedStdout();
    const std::string before = log.Stats().Report(Catalogue());
    ASSERT_EQ(before,
              "team 1:\n1 sent, 2 received.\nteam 2:\n0 sent, 1 received.\n"
              "team 3:\n1 sent, 1 received.\n");

    Transcript resumed;
    resumed.ContinueLogFile(log.LogPath());
    EXPECT_EQ(resumed.Stats().Report(Catalogue()),
              "team 1:\n0 sent, 0 received.\nteam 2:\n0 sent, 0 received.\n"
              "team 3:\n0 sent, 0 received.\n");
    resumed.CountEarlierLines();
    EXPECT_EQ(resumed.Stats().Report(Catalogue()), before);
    EXPECT_EQ(resumed.LogPath(), log.LogPath());
}

// The hook hears of each count, and only of counts, after the line is
// written and logLock released (the hook here writes a line itself).
TEST_F(TranscriptTest, CountHookHearsEachCount) {
    std::vector<std::string> heard;
    log.SetCountHook([&](int slot, bool sent) {
        heard.push_back(std::to_string(slot) + (sent ? " sent" : " received"));
        log.WriteLog(0, "INIT", "hook");
    });
    testing::internal::CaptureStdout();
    log.WriteLog(1, "INIT", "not counted");
    log.LogRecv(1, MakeBstr("25").get());
    log.LogRecv(-1, MakeBstr("hi").get(), MakeBstr("stranger").get());
    log.LogSend(2, MakeBstr("bounced").get(), WEX_E_USER_UNAVAILABLE);
    log.LogSend(3, MakeBstr("report").get());
    log.LogRecvTruncated(2, "long", 5000);
    log.WriteLog(7, "SEND", "out of range");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(heard, (std::vector<std::string>{"1 received", "3 sent", "2 received"}));
    EXPECT_EQ(FileWithoutStamps(),
              "T alice         INIT not counted\n"
              "T alice         RECV 25\n"
              "T selkbot       INIT hook\n"
              "T stranger      RECV hi\n"
              "T thirteenchars SEND bounced\n"
              "T thirteenchars ERR  not delivered: WEX_E_USER_UNAVAILABLE\n"
              "T mod1          SEND report\n"
              "T selkbot       INIT hook\n"
              "T thirteenchars RECV long [... truncated, 5000 bytes]\n"
              "T selkbot       INIT hook\n"
              "T               SEND out of range\n");
}

TEST_F(TranscriptTest, LostLines) {
    // Before the log file is named: dropped without a word.
    Transcript unnamed;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(unnamed.WriteLog(1, "ERR ", "lost"), E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // In a missing folder: not echoed or counted, but the loss is reported.
    Transcript broken;
    ASSERT_TRUE(broken.SetUpLogFile(ConfigFrom("LogFile " + (dir / "no/run"))));
    testing::internal::CaptureStderr();
    EXPECT_EQ(broken.LogSend(1, MakeBstr("hi").get()), E_FAIL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "transcript: cannot open \"" + broken.LogPath() + "\"; line lost.\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(broken.Stats().SentCount(1), 0u);
}

TEST(MsgStats, CountsPerSlot) {
    MsgStats stats;
    std::thread worker([&stats] {
        for (int i = 0; i < 12; ++i) stats.AddSent(1);
    });
    for (int i = 0; i < 10; ++i) stats.AddReceived(1);
    for (int i = 0; i < 3; ++i) stats.AddSent(3);
    worker.join();
    stats.AddSent(0);  // the bot is counted but not reported
    stats.AddReceived(-1);
    stats.AddSent(4);
    EXPECT_EQ(stats.Report(Catalogue()),
              "team 1:\n12 sent, 10 received.\nteam 2:\n0 sent, 0 received.\n"
              "team 3:\n3 sent, 0 received.\n");
    EXPECT_EQ(stats.SentCount(0), 1u);
    EXPECT_EQ(stats.ReceivedCount(1), 10u);
    EXPECT_EQ(stats.SentCount(4), 0u);
    EXPECT_EQ(stats.ReceivedCount(-1), 0u);
}

// A resumed game's counts are set, then counted on.
TEST(MsgStats, SetCountsThenCountOn) {
    MsgStats stats;
    stats.AddSent(2);
    stats.SetCounts(2, 40, 7);
    stats.SetCounts(3, 15, 0);
    stats.SetCounts(9, 1, 1);
    stats.AddReceived(2);
    stats.AddSent(3);
    EXPECT_EQ(stats.Report(Catalogue()),
              "team 1:\n0 sent, 0 received.\nteam 2:\n40 sent, 8 received.\n"
              "team 3:\n16 sent, 0 received.\n");
}
