// The moderator's ? in each phase of the game, and the notices that a
// subject's client went offline or came back.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const char kWait[] = "Waiting for the other player to join...";

// The ? answer as the wire log shows it (line feeds escaped).
std::string Status(const std::string& head, const std::string& alice, const std::string& bob,
                   const std::string& rest) {
    return head + "\\nalice: " + alice + "\\nbob: " + bob + "\\n" + rest;
}

// Joining, round 1, presence changes, a break after round 2 and the
// moderator's e, with a ? in each.
const char kGame[] =
    "at 1 im alice hi\n"
    "at 5 im mod ?\n"
    "at 6 presence bob on\n"
    "at 7 presence bob off\n"
    "at 10 im bob hi\n"
    "at 20 im alice 10\n"
    "at 30 im mod ?\n"
    "at 40 presence alice on\n"
    "at 41 presence alice off\n"
    "at 45 presence alice on\n"
    "at 46 presence alice on\n"
    "at 47 presence carol off\n"
    "at 50 im alice 10\nat 52 im bob 10\nat 54 im bob 10\n"
    "at 60 im alice 10\nat 62 im alice 10\nat 64 im bob 10\nat 66 im bob 10\n"
    "at 70 im mod ?\n"
    "at 72 im alice done\n"
    "at 75 im mod e\n"
    "at 80 im mod ?\n"
    "at 90 end\n";

TEST(StatusTest, QuestionMarkTellsWhereTheGameStandsInEachPhase) {
    BotRun run = RunScenario(kGame);
    std::vector<std::string> mod;
    for (const std::string& send : Sends(run)) {
        if (send.find(" mod ") != std::string::npos) mod.push_back(send);
    }
    ASSERT_EQ(mod.size(), 7u) << testing::PrintToString(Sends(run));
    EXPECT_EQ(mod[0], Sent(6, "mod",
                           Status("Status: waiting for both subjects to join.",
                                  "joined; presence not known; last message 4 s ago.",
                                  "not joined yet; presence not known; no message yet.",
                                  "Break: none.\\nEnded by e: no.")));
    EXPECT_EQ(mod[1], Sent(31, "mod",
                           Status("Status: round 1 of 4.",
                                  "owes the investment; presence not known; last message 10 s ago.",
                                  "owes the expectation and the investment; offline; last message "
                                  "20 s ago.",
                                  "Break: none.\\nEnded by e: no.")));
    // The break began at 66 with round 2's last answer.
    EXPECT_EQ(mod[4],
              Sent(71, "mod",
                   Status("Status: round 3 of 4.", "in the break; online; last message 8 s ago.",
                          "in the break; offline; last message 4 s ago.",
                          "Break: 296 s left.\\nEnded by e: no.")));
    EXPECT_EQ(mod[5], Sent(76, "mod", "Okay, Ending Game"));
    EXPECT_EQ(mod[6], Sent(81, "mod",
                           Status("Status: round 3 of 4.",
                                  "in the break, said done; online; last message 8 s ago.",
                                  "in the break; offline; last message 14 s ago.",
                                  "Break: 286 s left.\\nEnded by e: yes.")));
    // ? is a question: no transcript line, no state changed.
    EXPECT_EQ(CountLines(run.transcript, "Status:"), 0);
}

// These follow each presence change, told at once (PresenceSettle 0);
// presence_settle_test.cc has the settled ones.
std::string AtOnce() {
    return MakeConfig({{"PresenceSettle", "0"}});
}

TEST(StatusTest, SubjectGoingOfflineAndComingBackIsToldToTheModerator) {
    BotRun run = RunScenario(kGame, AtOnce());
    // Bob's changes before he joined, alice's first news, a repeat and a
    // stranger are no notices. Back owing her investment, alice is asked
    // for it again.
    EXPECT_EQ(Sends(run, 40, 48),
              (std::vector<std::string>{
                  Sent(41, "mod", "alice went offline"), Sent(45, "mod", "alice is back"),
                  Sent(46, "alice",
                       "Current round: 1\\nNow please tell me, how much would you like to "
                       "invest?")}));
    EXPECT_EQ(LinesWith(run.transcript, "PRES"),
              (std::vector<std::string>{"2008-11-05 14:30:41 alice         PRES went offline",
                                        "2008-11-05 14:30:45 alice         PRES is back"}));
    EXPECT_EQ(CountLines(run.transcript, "mod           SEND alice went offline"), 1);
    EXPECT_EQ(CountLines(run.wire, "\"op\":\"presence\""), 7);
    EXPECT_EQ(CountLines(run.wire,
                         "{\"t\":41.000,\"op\":\"presence\",\"name\":\"alice\","
                         "\"state\":\"off\"}"),
              1);
}

TEST(StatusTest, JoinedSubjectFirstKnownOfflineIsToldAsGone) {
    // No news of alice until her client is gone: she left after joining.
    BotRun run = RunScenario(
        "at 1 im alice hi\nat 2 im bob hi\n"
        "at 5 presence alice off\nat 8 presence alice on\nat 9 presence alice on\n"
        "at 10 presence carol off\nat 20 end\n",
        AtOnce());
    EXPECT_EQ(Sends(run, 5, 20),
              (std::vector<std::string>{
                  Sent(5, "mod", "alice went offline"), Sent(8, "mod", "alice is back"),
                  Sent(9, "alice",
                       "Current round: 1\\nWhen you are ready, please tell me how much you "
                       "think your partner will invest:")}));
    EXPECT_EQ(LinesWith(run.transcript, "PRES"),
              (std::vector<std::string>{"2008-11-05 14:30:05 alice         PRES went offline",
                                        "2008-11-05 14:30:08 alice         PRES is back"}));
}

TEST(StatusTest, AfterTheFinalReportTheGameIsOverAndPresenceIsNotReported) {
    std::string moves =
        "at 1 im alice hi\nat 2 im bob hi\n"
        "at 10 im alice 30\nat 12 im alice 30\nat 14 im bob 30\nat 16 im bob 30\n"
        "at 20 im alice 30\nat 22 im alice 30\nat 24 im bob 30\nat 26 im bob 30\n"
        "at 40 presence bob on\nat 41 presence bob off\n"
        "at 50 im mod ?\nat 60 end\n";
    BotRun run = RunScenario(moves, MakeConfig({{"NRounds", "2"}, {"ConversationInterval", "5"}}));
    std::vector<std::string> last = Sends(run, 50);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0], Sent(51, "mod",
                            Status("Status: game over after round 2; payouts sent.",
                                   "finished; presence not known; last message 28 s ago.",
                                   "finished; offline; last message 24 s ago.",
                                   "Break: none.\\nEnded by e: no.")));
    EXPECT_EQ(Sends(run, 40, 50).size(), 0u);
    EXPECT_EQ(CountLines(run.transcript, "PRES"), 0);
}

TEST(StatusTest, MalformedPresenceLinesStopThePlay) {
    for (const char* line :
         {"at 1 presence alice\n", "at 1 presence alice maybe\n", "at 1 presence alice on now\n"}) {
        BotRun run = RunScenario(line);
        EXPECT_NE(run.exitStatus, 0) << line;
        EXPECT_NE(run.err.find("sc.txt:3: "), std::string::npos) << line << run.err;
        EXPECT_EQ(run.transcript.find("SEND"), std::string::npos);
    }
}

}  // namespace
