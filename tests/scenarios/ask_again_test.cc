// Asking again: a subject whose client comes back, or announces itself
// anew, while the bot waits for its answer gets the round and the question
// once more; every answer is still taken once, so the game ends as it
// would have without the presence news.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "harness.h"

namespace {

const char kExpectation[] =
    "When you are ready, please tell me how much you think your partner will invest:";
const char kInvestment[] = "Now please tell me, how much would you like to invest?";

// The text asked again, escaped as the wire log shows it.
std::string Again(int round, const char* question) {
    return "Current round: " + std::to_string(round) + "\\n" + question;
}

// Two rounds, no break; presence (lines "at T ...") is what happens around
// the answers, merged in by time.
std::string TwoRounds(const std::string& presence) {
    std::string text = "at 1 im alice hi\nat 2 im bob hi\n" + presence +
                       "at 40 im alice 10\nat 50 im alice 20\nat 56 im bob 12\nat 57 im bob 30\n"
                       "at 80 im alice 15\nat 81 im alice 25\nat 82 im bob 35\nat 83 im bob 45\n"
                       "at 120 end\n";
    std::vector<std::pair<int, std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.emplace_back(std::stoi(line.substr(3)), line);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string merged;
    for (const auto& line : lines) merged += line.second + "\n";
    return merged;
}

// Each presence change is told and acted on at once (PresenceSettle 0):
// presence_settle_test.cc has the settled ones.
std::string TwoRoundConfig() {
    return MakeConfig({{"NRounds", "2"}, {"ConversationInterval", "5"}, {"PresenceSettle", "0"}});
}

// The final report's payout lines to the moderator, without their times.
std::vector<std::string> Payouts(const BotRun& run) {
    std::vector<std::string> found;
    for (const std::string& send : Sends(run)) {
        if (send.find("Total payout") != std::string::npos) found.push_back(send.substr(6));
    }
    return found;
}

TEST(AskAgainTest, SubjectBackWhileOwingAnAnswerIsAskedItAgain) {
    BotRun run = RunScenario(TwoRounds(
                                 // Alice leaves and comes back owing her expectation; bob's
                                 // client announces itself anew owing his.
                                 "at 10 presence alice off\nat 20 presence alice on\n"
                                 "at 25 presence bob on\nat 30 presence bob again\n"
                                 // Alice owes the investment now, then nothing.
                                 "at 45 presence alice again\nat 52 presence alice again\n"
                                 // A plain repeat is no news.
                                 "at 53 presence bob on\n"
                                 // The game is over.
                                 "at 100 presence alice off\nat 110 presence alice on\n"
                                 "at 111 presence bob again\n"),
                             TwoRoundConfig());
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(
        Sends(run, 10, 40),
        (std::vector<std::string>{
            Sent(10, "mod", "alice went offline"), Sent(20, "mod", "alice is back"),
            Sent(21, "alice", Again(1, kExpectation)), Sent(31, "bob", Again(1, kExpectation))}));
    EXPECT_EQ(Sends(run, 45, 56),
              (std::vector<std::string>{Sent(46, "alice", Again(1, kInvestment)),
                                        Sent(51, "alice", "You invest: 20")}));
    EXPECT_EQ(Sends(run, 100, 120).size(), 0u);
    // The record shows why each question left again.
    EXPECT_EQ(LinesWith(run.transcript, "PRES"),
              (std::vector<std::string>{"2008-11-05 14:30:10 alice         PRES went offline",
                                        "2008-11-05 14:30:20 alice         PRES is back",
                                        "2008-11-05 14:30:30 bob           PRES signed on again",
                                        "2008-11-05 14:30:45 alice         PRES signed on again"}));
    EXPECT_EQ(CountLines(run.transcript, "SEND Current round: 1"), 3);
    EXPECT_EQ(CountLines(run.wire, "\"state\":\"again\""), 4);
}

TEST(AskAgainTest, AnswersAreTakenOnceAndTheGameEndsAsWithoutPresenceNews) {
    std::string presence =
        "at 10 presence alice off\nat 20 presence alice on\nat 30 presence bob again\n"
        "at 45 presence alice again\nat 58 presence bob again\nat 59 presence alice again\n";
    BotRun calm = RunScenario(TwoRounds(""), TwoRoundConfig());
    BotRun asked = RunScenario(TwoRounds(presence), TwoRoundConfig());
    ASSERT_EQ(calm.exitStatus, 0) << calm.err;
    ASSERT_EQ(asked.exitStatus, 0) << asked.err;
    std::vector<std::string> payouts = Payouts(calm);
    ASSERT_EQ(payouts.size(), 2u);
    EXPECT_EQ(Payouts(asked), payouts);
    // Every answer was received and taken once: the same replies to it.
    for (const char* reply :
         {"You expect your partner to invest: 10", "You invest: 20",
          "You expect your partner to invest: 12", "You invest: 30",
          "You expect your partner to invest: 15", "You invest: 25", "You invest: 45"}) {
        EXPECT_EQ(CountLines(asked.wire, reply), 1) << reply;
        EXPECT_EQ(CountLines(asked.wire, reply), CountLines(calm.wire, reply)) << reply;
    }
    EXPECT_EQ(CountLines(asked.transcript, "RECV"), CountLines(calm.transcript, "RECV"));
    // Round 2 was asked again of both once it began (at 57), as news came.
    EXPECT_EQ(CountLines(asked.transcript, "SEND Current round: 2"),
              CountLines(calm.transcript, "SEND Current round: 2") + 2);
}

TEST(AskAgainTest, NothingIsAskedAgainWhenNoAnswerIsAwaited) {
    // Default game: four rounds, a break after round 2.
    BotRun run = RunScenario(
        // Before the game: unknown, not joined, joined but alone.
        "at 1 presence alice again\nat 2 presence bob again\n"
        "at 3 im alice hi\nat 4 presence alice again\nat 5 im bob hi\n"
        "at 10 im alice 10\nat 11 im alice 10\nat 12 im bob 10\nat 13 im bob 10\n"
        "at 20 im alice 20\nat 21 im alice 20\nat 22 im bob 30\nat 23 im bob 30\n"
        // In the break.
        "at 30 presence alice again\nat 31 presence bob off\nat 32 presence bob on\n"
        "at 40 im alice done\nat 41 im bob done\n"
        // Round 3 asks; the moderator ends the game.
        "at 60 im mod e\nat 70 presence alice again\nat 71 presence bob again\n"
        "at 90 end\n",
        MakeConfig({{"PresenceSettle", "0"}}));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(CountLines(run.transcript, "signed on again"), 0);
    EXPECT_EQ(Sends(run, 0, 5), std::vector<std::string>{Sent(4, "alice",
                                                              "Waiting for the other player to "
                                                              "join...")});
    EXPECT_EQ(Sends(run, 30, 40), (std::vector<std::string>{Sent(31, "mod", "bob went offline"),
                                                            Sent(32, "mod", "bob is back")}));
    EXPECT_EQ(Sends(run, 70, 90).size(), 0u);
}

}  // namespace
