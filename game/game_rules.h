// The arithmetic of the game: answers, the market, bonuses and payouts.
// Plain functions of their inputs, so the rules can be checked alone.
#pragma once

#include <cstdint>
#include <vector>

#include "game/game_state.h"
#include "wexcore/wex_string.h"

// Endowment of each subject in each round, in credits.
constexpr int32_t kEndowment = 60;
// Largest valid answer.
constexpr int32_t kMaxAnswer = 60;

// Reads an answer: one or two characters, all decimal digits. False when
// the text is not a number (the empty text is not one).
bool ParseAnswer(WEXSTR text, int32_t* value);

// The market divisor that one noise element gives.
double DivisorForNoise(const GameParameters& p, double noise);
// The market divisor of round r (from 1), with the noise used cyclically.
double MarketDivisor(const GameParameters& p, int32_t round);

struct RoundEarnings {
    double teamA;
    double teamB;
};
// Each subject keeps what he or she did not invest and receives the
// market's whole return on both investments.
RoundEarnings ComputeEarnings(const GameParameters& p, int32_t round, int32_t investmentA,
                              int32_t investmentB);

// The question of the round that a subject owes the answer to: the
// expectation's, else the investment's; nullptr when it owes neither.
const char* OwedQuestion(const SubjectRecord& team);

// Rounds left until the next bonus, paid every interval rounds: 0 in the
// round that pays it.
int32_t RoundsUntilNextBonus(int32_t round, int32_t interval);

// True when round ends a bonus period of interval rounds.
bool IsBonusRound(int32_t round, int32_t interval);

struct Bonus {
    double teamA;
    double teamB;
};
// 100 credits to the subject who earned more over the interval rounds
// that end with round, 0 to the other; 50 each on a tie.
Bonus RichGetRicherBonus(const std::vector<double>& earningsA, const std::vector<double>& earningsB,
                         int32_t round, int32_t interval);

// Dollars for a subject's total credits: CreditValue a credit (0.0075
// unless configured), held between MinPayout and MaxPayout (10 and 25).
double PayoutDollars(double totalCredits, const GameParameters& p);
