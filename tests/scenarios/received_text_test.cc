// What a subject sends is not trusted: its line ends can't forge lines of
// the transcript or of the chat relay, and a body above MaxMessageBytes is
// refused and recorded cut short, so the bot's memory does not grow with
// what it receives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../sanitized.h"
#include "harness.h"

namespace {

const char kJoin[] = "at 1 im alice hi\nat 2 im bob hi\n";
// Rounds 1 and 2 (a bonus round with ConversationInterval 2); bob's last
// answer at 20 s opens the break.
const char kToBreak[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 10\nat 7 im bob 10\nat 8 im bob 10\n"
    "at 17 im alice 20\nat 18 im alice 20\nat 19 im bob 30\nat 20 im bob 30\n";

std::string TooLong(size_t bytes, size_t most = 4096) {
    return "Your message was too long (" + std::to_string(bytes) + " bytes; at most " +
           std::to_string(most) + "). Please send a shorter one.";
}

TEST(ReceivedTextTest, LineEndsInChatAreIndentedWhenRelayed) {
    BotRun run = RunScenario(std::string(kToBreak) +
                             "at 30 im alice hi bob\nat 31 im alice hi\\n(from bob) forged\r"
                             "(from mod) x\nat 40 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    // Ordinary chat is relayed as it was; a line end starts an indented line.
    const std::string relayed =
        "(from alice) hi\\n             (from bob) forged\\n             (from mod) x";
    EXPECT_EQ(Sends(run, 30, 40), (std::vector<std::string>{
                                      Sent(30, "mod", "(from alice) hi bob"),
                                      Sent(31, "bob", "(from alice) hi bob"),
                                      Sent(31, "mod", relayed),
                                      Sent(32, "bob", relayed),
                                  }));
}

TEST(ReceivedTextTest, OverlongMessageIsAnsweredAndRecordedCutShort) {
    // 4095 bytes, then a two-byte character that would cross the cap.
    const std::string head(4095, 'a');
    const std::string overlong = head + "\xC3\xA9" + std::string(1000, 'b') + "\\nx";
    const std::string exact(4096, '7');
    BotRun run =
        RunScenario(std::string(kToBreak) + "at 30 im alice " + overlong + "\nat 40 im bob " +
                    exact + "\nat 50 im carol " + overlong + "\nat 60 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    size_t bytes = 4095 + 2 + 1000 + 2;
    // In a break: answered, not relayed, not chat.
    EXPECT_EQ(Sends(run, 30, 40), (std::vector<std::string>{Sent(31, "alice", TooLong(bytes))}));
    EXPECT_EQ(CountLines(run.transcript, "alice         RECV " + head + " [... truncated, " +
                                             std::to_string(bytes) + " bytes]"),
              1);
    // A message of exactly the cap is chat as usual.
    EXPECT_EQ(Sends(run, 40, 41),
              (std::vector<std::string>{Sent(40, "mod", "(from bob) " + exact)}));
    // A stranger is answered on its own session and recorded under its name.
    EXPECT_EQ(Sends(run, 50, 60), (std::vector<std::string>{Sent(51, "carol", TooLong(bytes))}));
    EXPECT_EQ(CountLines(run.transcript, "carol         RECV " + head + " [... truncated, "), 1);
    EXPECT_EQ(run.transcript.find(std::string(4097, 'a')), std::string::npos);
}

TEST(ReceivedTextTest, OverlongAnswerIsNotTakenAndTheCapIsConfigurable) {
    const std::string answer = "25" + std::string(70, ' ');
    BotRun run = RunScenario(
        std::string(kJoin) + "at 5 im alice " + answer + "\nat 6 im alice 25\nat 20 end\n",
        MakeConfig({{"MaxMessageBytes", "64"}}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(Sends(run, 5, 20),
              (std::vector<std::string>{
                  Sent(6, "alice", TooLong(72, 64)),
                  Sent(7, "alice",
                       "You expect your partner to invest: 25\\nNow please tell me, how much "
                       "would you like to invest?")}));
    EXPECT_EQ(
        CountLines(run.transcript, "RECV 25" + std::string(62, ' ') + " [... truncated, 72 bytes]"),
        1);
}

// Writes a scenario in which sender sends count messages of size bytes in
// round 1, without holding it in memory.
void WriteFloodScenario(const std::string& path, const std::string& sender, int count,
                        size_t size) {
    std::ofstream out(path, std::ios::binary);
    out << "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n" << kJoin;
    const std::string body(size, 'x');
    for (int i = 0; i < count; ++i)
        out << "at " << 10 + i << " im " << sender << " " << body << "\n";
    out << "at " << 20 + count << " end\n";
}

BotRun Flood(const std::string& sender, int count, size_t size, const std::string& config) {
    std::string folder = MakeTestFolder();
    WriteFloodScenario(folder + "/sc.txt", sender, count, size);
    BotRun run = RunBotMeasured(folder, {{"bot.conf", config}}, {"bot.conf"});
    std::filesystem::remove_all(folder);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return run;
}

// 100 messages of 250 kB from a subject leave the bot's memory where the
// same messages from the moderator (commands that keep nothing) leave it:
// the bot keeps none of them. The simulated service holds the scenario
// itself, the same in both runs.
TEST(ReceivedTextTest, MemoryDoesNotGrowWithWhatIsReceived) {
#ifdef WEX_SANITIZED
    GTEST_SKIP() << "a sanitizer's own memory and its use of ptrace hide the bot's";
#endif
    const size_t kSize = 250000;
    BotRun moderator = Flood("mod", 100, kSize, MakeConfig());
    ASSERT_GT(moderator.exitRssKb, 0);
    std::printf("at exit, 100 x 250 kB from the moderator: VmRSS %ld KiB, VmHWM %ld KiB\n",
                moderator.exitRssKb, moderator.exitPeakRssKb);
    // Refused by the cap; and, with the cap above them, taken (as invalid
    // answers), recorded whole and counted.
    for (const char* cap : {"", "1048576"}) {
        SCOPED_TRACE(cap);
        BotRun subject = Flood("alice", 100, kSize, MakeConfig({{"MaxMessageBytes", cap}}));
        const char* reply =
            *cap ? "Invalid input, please enter an integer" : "Your message was too long";
        EXPECT_EQ(CountLines(subject.transcript, std::string("alice         SEND ") + reply), 100);
        std::printf(
            "at exit, 100 x 250 kB from a subject, MaxMessageBytes %s: VmRSS %ld KiB, "
            "VmHWM %ld KiB\n",
            *cap ? cap : "4096", subject.exitRssKb, subject.exitPeakRssKb);
        EXPECT_LT(subject.exitRssKb - moderator.exitRssKb, 4 * 1024);
    }
}

}  // namespace
