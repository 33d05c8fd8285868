// The game element's rules alone: deadlines and their extension, how a
// game ended, the payout as reported, and the seconds left never below 0.
#include "game/game_element.h"

#include <gtest/gtest.h>

#include "game/game_record.h"

namespace {

constexpr int64_t kT = 1225895400;  // 2008-11-05T14:30:00Z

// Both joined, round 2 asked at kT; AnswerTimeout 30, TimeoutAnswer last,
// TimeoutExtend 20.
void RoundTwo(GameState& game) {
    game.params.nRounds = 4;
    game.params.conversationInterval = 2;
    game.params.answerTimeout = 30;
    game.params.timeoutAnswer = GameParameters::kLastAnswer;
    game.params.timeoutExtend = 20;
    for (SubjectRecord* s : {&game.teamA, &game.teamB}) {
        s->joined = true;
        s->expectations.assign(4, 0);
        s->investments.assign(4, 0);
        s->roundEarnings.assign(4, 0.0);
    }
    game.round = 2;
    game.AskBoth(kT);
}

std::string Value(const ElementAttributes& a, const std::string& name) {
    for (const auto& [key, value] : a) {
        if (key == name) return value;
    }
    return "(absent)";
}

TEST(GameElementRulesTest, DeadlineMovesOnceByTheExtension) {
    GameState game;
    RoundTwo(game);
    EXPECT_EQ(AnswerDeadline(game, 1), kT + 30);
    EXPECT_TRUE(MayExtend(game, 1));
    DataRows rows;
    ApplyEntry(JournalEntry("extend", kT + 5)
                   .Int("subject", 1)
                   .Int("round", 2)
                   .Text("what", "expectation")
                   .Int("seconds", 20),
               &game, &rows);
    EXPECT_EQ(AnswerDeadline(game, 1), kT + 50);
    EXPECT_FALSE(MayExtend(game, 1));
    EXPECT_EQ(AnswerDeadline(game, 2), kT + 30);
    // The investment's deadline is a new one.
    game.teamA.expectation = 10;
    game.teamA.askedTime = kT + 40;
    EXPECT_EQ(AnswerDeadline(game, 1), kT + 70);
    EXPECT_TRUE(MayExtend(game, 1));
    // The seconds left do not go below 0.
    ElementAttributes late = GameElement(game, 1, kT + 500);
    EXPECT_EQ(Value(late, "deadline-seconds"), "0");
    EXPECT_EQ(Value(late, "deadline"), "2008-11-05T14:31:10Z");
}

TEST(GameElementRulesTest, NoDeadlineWhereTheTimeoutTakesNothing) {
    GameState game;
    RoundTwo(game);
    game.round = 1;  // "last" has no earlier answer to take
    EXPECT_EQ(AnswerDeadline(game, 1), 0);
    EXPECT_EQ(Value(GameElement(game, 1, kT), "deadline"), "(absent)");
    EXPECT_EQ(Value(GameElement(game, 1, kT), "extend"), "(absent)");
    game.params.timeoutAnswer = 25;
    EXPECT_EQ(AnswerDeadline(game, 1), kT + 30);
    game.params.timeoutExtend = 0;
    EXPECT_FALSE(MayExtend(game, 1));
    game.breakRunning = true;
    EXPECT_EQ(AnswerDeadline(game, 1), 0);
}

TEST(GameElementRulesTest, EndingsAndThePayoutAsReported) {
    GameState game;
    RoundTwo(game);
    EXPECT_EQ(GameEnding(game), "");
    game.stopped = true;
    EXPECT_EQ(GameEnding(game), "stopped");
    game.reported = true;
    EXPECT_EQ(GameEnding(game), "paid_now");  // p before the last round closed
    game.round = 5;
    EXPECT_EQ(GameEnding(game), "completed");
    // Subject 1's payout is held in single precision, as the report has it.
    game.teamA.totalCredits = 1333.37;
    game.teamB.totalCredits = 1333.37;
    EXPECT_EQ(ReportedPayout(game, 1), static_cast<double>(static_cast<float>(1333.37 * 0.0075)));
    EXPECT_DOUBLE_EQ(ReportedPayout(game, 2), 1333.37 * 0.0075);
    ElementAttributes end = GameElement(game, 1, kT);
    EXPECT_EQ(Value(end, "phase"), "over");
    EXPECT_EQ(Value(end, "round"), "4");
    EXPECT_EQ(Value(end, "payout"), "10.00");
    EXPECT_EQ(Value(end, "final-credits"), "1333.37");
    GameState running;
    RoundTwo(running);
    EXPECT_EQ(Value(GameElement(running, 2, kT, "session_over"), "ended"), "session_over");
    EXPECT_EQ(Value(GameElement(running, 2, kT, "session_over"), "phase"), "over");
}

// A replaced subject's element says so, with its credits and payout at the
// dropout, while the game goes on; the partner's is the running game's.
TEST(GameElementRulesTest, ReplacedSubjectKeepsWhatItHadAtTheDropout) {
    GameState game;
    RoundTwo(game);
    game.round = 3;
    game.teamB.investments = {40, 50, 0, 0};
    game.teamA.investments = {20, 10, 0, 0};
    game.teamB.roundEarnings = {140, 130, 0, 0};
    game.teamB.totalCredits = 500;  // the stand-in's rounds included
    game.teamB.dropoutRound = 2;
    game.teamB.dropoutCredits = 140;
    game.teamB.dropoutPayout = 1.75;
    game.teamB.replaced = true;
    EXPECT_EQ(ReportedPayout(game, 2), 1.75);
    EXPECT_EQ(game.teamB.ReportedCredits(), 140);
    ElementAttributes bob = GameElement(game, 2, kT);
    EXPECT_EQ(Value(bob, "ended"), "replaced");
    EXPECT_EQ(Value(bob, "phase"), "over");
    EXPECT_EQ(Value(bob, "owed"), "none");
    EXPECT_EQ(Value(bob, "credits"), "140.00");
    EXPECT_EQ(Value(bob, "final-credits"), "140.00");
    EXPECT_EQ(Value(bob, "payout"), "1.75");
    EXPECT_EQ(Value(bob, "last-round"), "1");  // the round before the dropout
    EXPECT_EQ(Value(bob, "last-own"), "40");
    EXPECT_EQ(Value(bob, "bonus-in"), "(absent)");
    ElementAttributes alice = GameElement(game, 1, kT);
    EXPECT_EQ(Value(alice, "ended"), "(absent)");
    EXPECT_EQ(Value(alice, "payout"), "(absent)");
    EXPECT_EQ(Value(alice, "last-round"), "2");
    EXPECT_EQ(Value(alice, "last-partner"), "50");
}

}  // namespace
