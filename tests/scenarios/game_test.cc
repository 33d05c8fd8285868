// Playing the game: joining, rounds, earnings, bonuses and the final report.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const char kJoin[] = "at 10 im alice hi\nat 20 im bob hi\n";
const char kPrompt[] =
    "When you are ready, please tell me how much you think your partner will invest:";

// Both subjects answer expectation then investment in a round, at t..t+3.
std::string Round(int t, int a, int b) {
    auto at = [&](int dt, const char* who, int v) {
        return "at " + std::to_string(t + dt) + " im " + who + " " + std::to_string(v) + "\n";
    };
    return at(0, "alice", 10) + at(1, "bob", 10) + at(2, "alice", a) + at(3, "bob", b);
}

// The texts of the wire log's sends to peer, in order.
std::vector<std::string> SendsTo(const BotRun& run, const std::string& peer) {
    return LinesWith(run.wire, "\"op\":\"send\",\"to\":\"" + peer + "\"");
}

TEST(GameTest, JoiningWaitsForBothThenStartsRoundOne) {
    BotRun run = RunScenario(
        "at 10 im alice hi\nat 11 im alice again\nat 12 im carol hey\n"
        "at 20 im bob hi\nat 30 end\n");
    auto alice = SendsTo(run, "alice");
    ASSERT_EQ(alice.size(), 3u);
    EXPECT_NE(alice[0].find("\"text\":\"Waiting for the other player to join...\""),
              std::string::npos);
    EXPECT_NE(alice[1].find("Waiting for the other player"), std::string::npos);
    const char* start =
        "\"text\":\"Both players are here! Let's now begin out game!\\nThis is round 1.\\nHow "
        "much do you think your partner will invest?\"}";
    EXPECT_NE(alice[2].find(start), std::string::npos);
    auto bob = SendsTo(run, "bob");
    ASSERT_EQ(bob.size(), 1u);  // the subject who completes the pair is not told to wait
    EXPECT_NE(bob[0].find(start), std::string::npos);
    // The stranger is answered at once on its own IM session, with no SEND line.
    auto carol = SendsTo(run, "carol");
    ASSERT_EQ(carol.size(), 1u);
    EXPECT_NE(carol[0].find("\"t\":13.000,\"op\":\"send\",\"to\":\"carol\",\"session\":2"),
              std::string::npos);
    EXPECT_EQ(CountLines(run.transcript, "SEND Waiting"), 2);
    // Its message is recorded under its own name.
    EXPECT_NE(run.transcript.find("2008-11-05 14:30:12 carol         RECV hey\n"),
              std::string::npos);
}

TEST(GameTest, AnswersAreValidatedAndRecorded) {
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 30 im alice 61\nat 31 im alice 5.0\nat 32 im alice 20\n"
                             "at 33 im alice 35\nat 34 im alice 7\nat 35 im carol 5\n"
                             "at 36 im carol x\nat 50 end\n");
    auto alice = SendsTo(run, "alice");
    ASSERT_EQ(alice.size(), 7u);  // waiting, start, then one reply per answer
    EXPECT_NE(alice[2].find("Valid values are from 0 to 60 credits. You entered: 61\""),
              std::string::npos);
    EXPECT_NE(alice[3].find("Invalid input, please enter an integer from 0 to 60.\""),
              std::string::npos);
    EXPECT_NE(alice[4].find("\"text\":\"You expect your partner to invest: 20\\nNow please tell "
                            "me, how much would you like to invest?\"}"),
              std::string::npos);
    EXPECT_NE(alice[5].find("\"text\":\"You invest: 35\"}"), std::string::npos);
    EXPECT_NE(alice[6].find("Your partner has not completed his/her investment."),
              std::string::npos);
    // A stranger is answered once a minute at most; what it writes is
    // still recorded.
    auto carol = SendsTo(run, "carol");
    ASSERT_EQ(carol.size(), 1u);
    EXPECT_NE(carol[0].find("\"I don't know who you are.\""), std::string::npos);
    EXPECT_NE(run.transcript.find("carol         RECV x\n"), std::string::npos);
}

TEST(GameTest, ClosingAnOrdinaryRound) {
    BotRun run = RunScenario(std::string(kJoin) + Round(30, 20, 40) + "at 50 end\n");
    auto alice = SendsTo(run, "alice");
    auto bob = SendsTo(run, "bob");
    std::string next = std::string("Current round: 2\\n") + kPrompt + "\"}";
    // The count runs down to the bonus every ConversationInterval (2) rounds.
    EXPECT_NE(alice.back().find("\"text\":\"Round 1 Earnings: 160.00\\nRounds until next bonus: "
                                "1\\n" +
                                next),
              std::string::npos);
    // Bob's investment closed the round: his own reply comes first.
    EXPECT_NE(bob.back().find("\"text\":\"You invest: 40\\nRound 1 Earnings: 140.00\\nRounds "
                              "until next bonus: 1\\n" +
                              next),
              std::string::npos);
    // Subject 1's buffer leaves before subject 2's.
    auto sends = LinesWith(run.wire, "Round 1 Earnings");
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_NE(sends[0].find("\"to\":\"alice\""), std::string::npos);
}

TEST(GameTest, BonusRoundStartsABreakInsteadOfTheNextRound) {
    BotRun run =
        RunScenario(std::string(kJoin) + Round(30, 20, 40) + Round(40, 20, 40) + "at 60 end\n",
                    MakeConfig({{"ConversationInterval", "2"}}));
    std::string last = SendsTo(run, "alice").back();
    EXPECT_NE(last.find("\"text\":\"Round 2 Earnings: 160.00\\nRounds until next bonus: 0\\nIt's "
                        "time to pay out the bonuses!\\nRich get Richer: 100.00\\nWe will now "
                        "take a short break.  You will have up to 5 minutes"),
              std::string::npos);
    EXPECT_EQ(last.find("Current round"), std::string::npos);
    EXPECT_NE(SendsTo(run, "bob").back().find("Rich get Richer: 0.00\\nWe will now"),
              std::string::npos);
}

TEST(GameTest, LastRoundEndsWithTheModeratorsReport) {
    std::string scenario = std::string(kJoin) + Round(30, 20, 40) + Round(40, 20, 40) +
                           Round(50, 20, 40) + Round(60, 20, 40) +
                           "at 80 im alice 5\nat 81 im bob hi\nat 90 end\n";
    BotRun run = RunScenario(scenario, MakeConfig({{"ConversationInterval", "4"}}));
    // The moderator's three messages leave before the subjects' last ones.
    auto sends = LinesWith(run.wire, "\"op\":\"send\"");
    ASSERT_GE(sends.size(), 5u);
    std::vector<std::string> tail(sends.end() - 5, sends.end());
    EXPECT_NE(tail[0].find("\"to\":\"mod\""), std::string::npos);
    EXPECT_NE(tail[0].find("alice total credits earned: 740.00, Total payout: $10.00"),
              std::string::npos);
    EXPECT_NE(tail[1].find("bob total credits earned: 560.00, Total payout: $10.00"),
              std::string::npos);
    EXPECT_NE(tail[2].find("\"text\":\"team 1:\\n13 sent, 9 received.\\nteam 2:\\n8 sent, 9 "
                           "received.\\nteam 3:\\n2 sent, 0 received.\\n\"}"),
              std::string::npos)
        << tail[2];
    EXPECT_NE(tail[3].find("\"to\":\"alice\""), std::string::npos);
    EXPECT_NE(tail[4].find("\"to\":\"bob\""), std::string::npos);
    EXPECT_NE(tail[4].find("\"text\":\"You invest: 40\\nRound 4 Earnings: 140.00\\nRounds until "
                           "next bonus: 0\\nIt's time to pay out the bonuses!\\nRich get Richer: "
                           "0.00\\nThe investment market has closed for the day, and we will now "
                           "stop the game. Thank you for taking part!\"}"),
              std::string::npos);
    // The closing answer is recorded and counted once; later messages are
    // not recorded.
    EXPECT_EQ(CountLines(run.transcript, "14:31:03 bob           RECV 40"), 1);
    EXPECT_EQ(run.transcript.find("RECV 5\n"), std::string::npos);
    EXPECT_EQ(run.transcript.find("RECV hi\n2008-11-05 14:31:2"), std::string::npos);
    EXPECT_EQ(LinesWith(run.wire, "\"t\":8").size(), 2u);  // the two im lines only
}

TEST(GameTest, PayoutsFollowTheCreditsOfEachSubject) {
    // A divisor of 0.1 makes large earnings: 60 x 10 = 600 a round, + bonus.
    std::string scenario = std::string(kJoin) + Round(30, 30, 30) + Round(40, 30, 30) +
                           Round(50, 60, 0) + "at 70 end\n";
    BotRun run = RunScenario(
        scenario,
        MakeConfig({{"NRounds", "3"}, {"ConversationInterval", "3"}, {"MarketBase", "0.1"}}));
    // A: 630 + 630 + 600 + 0 = 1860 -> $13.95; B: 630 + 630 + 660 + 100 = 2020 -> $15.15.
    EXPECT_NE(run.wire.find("alice total credits earned: 1860.00, Total payout: $13.95"),
              std::string::npos);
    EXPECT_NE(run.wire.find("bob total credits earned: 2020.00, Total payout: $15.15"),
              std::string::npos);
    // The lab's own pay rule: a cent a credit, between 5 and 50 dollars;
    // the payouts file follows it.
    run = RunScenario(scenario, MakeConfig({{"NRounds", "3"},
                                            {"ConversationInterval", "3"},
                                            {"MarketBase", "0.1"},
                                            {"CreditValue", "0.01"},
                                            {"MinPayout", "5"},
                                            {"MaxPayout", "50"}}));
    EXPECT_NE(run.wire.find("alice total credits earned: 1860.00, Total payout: $18.60"),
              std::string::npos);
    EXPECT_NE(run.wire.find("bob total credits earned: 2020.00, Total payout: $20.20"),
              std::string::npos);
}

TEST(GameTest, ZeroRoundsStartsAndIgnoresEverything) {
    BotRun run = RunScenario(std::string(kJoin) + "at 30 im alice 5\nat 40 end\n",
                             MakeConfig({{"NRounds", "0"}}));
    EXPECT_EQ(SendsTo(run, "alice").size(), 2u);  // waiting, then the start
    EXPECT_EQ(run.transcript.find("RECV 5"), std::string::npos);
    EXPECT_EQ(run.wire.find("total credits"), std::string::npos);
}

TEST(GameTest, ExampleRunsAreByteIdentical) {
    std::string scenario =
        std::string(kJoin) + Round(30, 20, 40) + Round(40, 0, 60) + "at 45 im carol 3\nat 60 end\n";
    BotRun a = RunScenario(scenario);
    BotRun b = RunScenario(scenario);
    EXPECT_EQ(WithoutWorkingDirectory(a.out), WithoutWorkingDirectory(b.out));
    EXPECT_EQ(a.transcript, b.transcript);
    EXPECT_EQ(a.wire, b.wire);
}

}  // namespace
