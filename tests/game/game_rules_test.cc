// The game's arithmetic: answers, the market, bonuses and payouts.
#include "game/game_rules.h"

#include <gtest/gtest.h>

#include <cmath>

#include "bot/string_ops.h"

namespace {

bool Parse(const std::string& text, int32_t* value) {
    return ParseAnswer(MakeBstr(text), value);
}

TEST(ParseAnswerTest, OneOrTwoDigitsOnly) {
    int32_t v = -1;
    EXPECT_TRUE(Parse("7", &v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(Parse("07", &v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(Parse("99", &v));
    EXPECT_EQ(v, 99);
    for (const char* bad : {"", "100", "-5", "+5", " 5", "5 ", "5.0", "x", "\xD9\xA3"}) {
        v = -1;
        EXPECT_FALSE(Parse(bad, &v)) << bad;
        EXPECT_EQ(v, -1) << bad;
    }
}

TEST(EarningsTest, WholeReturnGoesToEachSubject) {
    GameParameters p;
    p.marketBase = 0.5;
    RoundEarnings e = ComputeEarnings(p, 1, 20, 40);
    EXPECT_DOUBLE_EQ(e.teamA, 160.0);
    EXPECT_DOUBLE_EQ(e.teamB, 140.0);
    e = ComputeEarnings(p, 3, 0, 0);
    EXPECT_DOUBLE_EQ(e.teamA, 60.0);
    EXPECT_DOUBLE_EQ(e.teamB, 60.0);
}

TEST(EarningsTest, NoiseIsUsedCyclically) {
    GameParameters p;
    p.marketBase = 1;
    p.marketNoiseScale = 0.4;
    p.marketNoise = {0.25, 0.75};
    for (int32_t round : {1, 3, 5}) EXPECT_NEAR(MarketDivisor(p, round), 0.9, 1e-12);
    for (int32_t round : {2, 4, 6}) EXPECT_NEAR(MarketDivisor(p, round), 1.1, 1e-12);
    RoundEarnings e = ComputeEarnings(p, 2, 30, 25);
    EXPECT_NEAR(e.teamA, 30 + 55 / 1.1, 1e-9);
    EXPECT_NEAR(e.teamB, 35 + 55 / 1.1, 1e-9);
}

TEST(ScheduleTest, BonusRoundsAndCountdown) {
    // With an interval of 5 the count reads as it always did.
    EXPECT_EQ(RoundsUntilNextBonus(1, 5), 4);
    EXPECT_EQ(RoundsUntilNextBonus(5, 5), 0);
    EXPECT_EQ(RoundsUntilNextBonus(6, 5), 4);
    // Other intervals count down to their own bonus rounds.
    for (int32_t interval : {1, 2, 3, 7}) {
        for (int32_t round = 1; round <= 3 * interval; ++round) {
            EXPECT_EQ(RoundsUntilNextBonus(round, interval) == 0, IsBonusRound(round, interval))
                << round << " of " << interval;
        }
    }
    EXPECT_EQ(RoundsUntilNextBonus(1, 3), 2);
    EXPECT_EQ(RoundsUntilNextBonus(2, 3), 1);
    EXPECT_TRUE(IsBonusRound(5, 5));
    EXPECT_FALSE(IsBonusRound(4, 5));
    EXPECT_TRUE(IsBonusRound(3, 1));
    EXPECT_TRUE(IsBonusRound(10, 5));
}

TEST(BonusTest, ComparesExactlyTheLastIntervalRounds) {
    std::vector<double> a = {100, 100, 100, 100, 100};
    std::vector<double> b = {90, 90, 90, 90, 120};
    Bonus bonus = RichGetRicherBonus(a, b, 5, 5);
    EXPECT_EQ(bonus.teamA, 100.0);
    EXPECT_EQ(bonus.teamB, 0.0);
    // With an interval of 2 at round 4 only rounds 3 and 4 count.
    std::vector<double> c = {500, 500, 10, 10};
    std::vector<double> d = {0, 0, 10, 11};
    bonus = RichGetRicherBonus(c, d, 4, 2);
    EXPECT_EQ(bonus.teamA, 0.0);
    EXPECT_EQ(bonus.teamB, 100.0);
    bonus = RichGetRicherBonus({1, 2}, {2, 1}, 2, 2);
    EXPECT_EQ(bonus.teamA, 50.0);
    EXPECT_EQ(bonus.teamB, 50.0);
    bonus = RichGetRicherBonus({NAN}, {1}, 1, 1);  // not comparable: a tie
    EXPECT_EQ(bonus.teamA, 50.0);
}

TEST(PayoutTest, HeldBetweenTenAndTwentyFiveDollars) {
    GameParameters p;
    EXPECT_DOUBLE_EQ(PayoutDollars(1000, p), 10.0);
    EXPECT_DOUBLE_EQ(PayoutDollars(2000, p), 15.0);
    EXPECT_DOUBLE_EQ(PayoutDollars(4000, p), 25.0);
    EXPECT_DOUBLE_EQ(PayoutDollars(0, p), 10.0);
    EXPECT_DOUBLE_EQ(PayoutDollars(3333.0, p), 3333.0 * 0.0075);
    // A lab's own rule: a cent a credit, between 5 and 50 dollars.
    p.creditValue = 0.01;
    p.minPayout = 5;
    p.maxPayout = 50;
    EXPECT_DOUBLE_EQ(PayoutDollars(400, p), 5.0);
    EXPECT_DOUBLE_EQ(PayoutDollars(1234, p), 12.34);
    EXPECT_DOUBLE_EQ(PayoutDollars(6000, p), 50.0);
}

}  // namespace
