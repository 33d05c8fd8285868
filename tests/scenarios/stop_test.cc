// The record of undelivered messages, and the orderly stop on SIGINT and
// SIGTERM in each phase of a game.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"

namespace {

// Alice and bob join and play rounds 1 and 2 (NRounds 4, a break after
// round 2); bob's answer at 20 s opens the break.
const char kToBreak[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 10\nat 7 im bob 10\nat 8 im bob 10\n"
    "at 17 im alice 20\nat 18 im alice 20\nat 19 im bob 30\nat 20 im bob 30\n";

const char kShutdownOk[] =
    "wexbot offline, qutting.\nwexbot shutting down with hr=00000000 (unknown error code)\n";

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(DeliveryTest, FailedSendKeepsItsSendLineFollowedByAnErrLineAndIsNotCounted) {
    BotRun run = RunScenario(
        "at 10 im alice hi\nat 20 im bob hi\n"
        "at 29 fail alice WEX_E_USER_UNAVAILABLE\nat 30 im alice 20\nat 32 im alice 30\n"
        "at 34 im bob 30\nat 35 fail mod WEX_E_SERVER_ERROR\nat 36 im bob 40\nat 100 end\n",
        MakeConfig({{"NRounds", "1"}}));
    // The entry right after the (two-line) SEND entry is its ERR line.
    const std::string sent =
        "alice         SEND You expect your partner to invest: 20\n"
        "Now please tell me, how much would you like to invest?\n";
    size_t at = run.transcript.find(sent);
    ASSERT_NE(at, std::string::npos) << run.transcript;
    std::string next = run.transcript.substr(at + sent.size());
    EXPECT_EQ(next.substr(20, next.find('\n') - 20),
              "alice         ERR  not delivered: WEX_E_USER_UNAVAILABLE");
    EXPECT_EQ(CountLines(run.transcript, "ERR  not delivered"), 2);
    EXPECT_EQ(CountLines(run.transcript, "mod           ERR  not delivered: WEX_E_SERVER_ERROR"),
              1);
    // The report counts only delivered messages: before it alice was sent
    // four messages and the moderator two, one of each undelivered.
    auto report = LinesWith(run.wire, "\"text\":\"team 1:");
    ASSERT_EQ(report.size(), 1u) << run.wire;
    EXPECT_NE(report[0].find("team 1:\\n3 sent, 3 received.\\nteam 2:\\n2 sent, 3 received."
                             "\\nteam 3:\\n1 sent, 0 received."),
              std::string::npos)
        << report[0];
}

// Runs the game with a signal at the given time and checks the common
// ending: no message handled after it, the offline and shutdown lines, exit 0.
BotRun StopAt(const std::string& scenario, double t, const char* signal = "INT") {
    char line[64];
    std::snprintf(line, sizeof line, "at %g signal %s\n", t, signal);
    BotRun run = RunScenario(scenario + line + "at 5000 im alice after the signal\n");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(EndsWith(run.out, kShutdownOk)) << run.out;
    EXPECT_EQ(run.transcript.find("after the signal"), std::string::npos);
    EXPECT_EQ(CountLines(run.wire, "\"op\":\"signal\""), 1);
    EXPECT_EQ(CountLines(run.wire, "\"op\":\"signoff\""), 1);
    EXPECT_NE(run.wire.find("\"op\":\"state\",\"state\":0,\"code\":\"00000000\""),
              std::string::npos);
    EXPECT_EQ(run.err, "");
    return run;
}

TEST(StopTest, SignalWhileJoiningEndsInOrder) {
    BotRun run = StopAt("at 1 im alice hi\n", 3);
    EXPECT_EQ(CountLines(run.transcript, "RECV"), 1);
}

TEST(StopTest, SignalMidRoundEndsInOrder) {
    BotRun run = StopAt("at 1 im alice hi\nat 2 im bob hi\nat 5 im alice 10\n", 6.5, "TERM");
    EXPECT_NE(run.wire.find("\"op\":\"signal\",\"name\":\"TERM\""), std::string::npos);
    EXPECT_EQ(CountLines(run.transcript, "alice         RECV 10"), 1);
}

TEST(StopTest, SignalDuringABreakStopsTheWorkerToo) {
    // The worker would remind the idle subjects at 80 s; the signal at 45 s
    // ends the run before, and the worker is joined.
    BotRun run = StopAt(kToBreak, 45);
    EXPECT_EQ(run.wire.find("Chat has been idle"), std::string::npos);
    EXPECT_NE(run.wire.find("We will now take a short break"), std::string::npos);
}

TEST(StopTest, SignalAfterTheReportEndsInOrder) {
    BotRun run = StopAt(std::string(kToBreak) + "at 30 im alice done\nat 31 im bob done\n" +
                            "at 40 im alice 1\nat 41 im alice 1\nat 42 im bob 1\nat 43 im bob 1\n" +
                            "at 50 im alice 1\nat 51 im alice 1\nat 52 im bob 1\nat 53 im bob 1\n",
                        100);
    EXPECT_NE(run.wire.find("total credits earned"), std::string::npos);
}

}  // namespace
