#include "game/game_rules.h"

#include <algorithm>

#include "messaging/catalogue.h"

bool ParseAnswer(WEXSTR text, int32_t* value) {
    size_t length = StrLength(text);
    // An empty message says nothing; taking it as 0 would invest nothing
    // for a subject who only pressed Enter.
    if (length == 0 || length > 2) return false;
    int32_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        char16_t c = text[i];
        if (c < u'0' || c > u'9') return false;
        number = number * 10 + (c - u'0');
    }
    *value = number;
    return true;
}

double DivisorForNoise(const GameParameters& p, double noise) {
    double h = p.marketNoiseScale == 0 ? 0 : p.marketNoiseScale * 0.5;
    return ((p.marketNoiseScale * noise) - h) + p.marketBase;
}

double MarketDivisor(const GameParameters& p, int32_t round) {
    size_t n = p.marketNoise.size();
    double noise = n == 0 ? 0.0 : p.marketNoise[static_cast<uint32_t>(round - 1) % n];
    return DivisorForNoise(p, noise);
}

RoundEarnings ComputeEarnings(const GameParameters& p, int32_t round, int32_t investmentA,
                              int32_t investmentB) {
    double marketReturn = static_cast<double>(investmentA + investmentB) / MarketDivisor(p, round);
    return {(kEndowment - investmentA) + marketReturn, (kEndowment - investmentB) + marketReturn};
}

const char* OwedQuestion(const SubjectRecord& team) {
    if (team.expectation == -1) {
        return N_(
            "When you are ready, please tell me how much you think your partner will invest:");
    }
    if (team.investment == -1) return N_("Now please tell me, how much would you like to invest?");
    return nullptr;
}

int32_t RoundsUntilNextBonus(int32_t round, int32_t interval) {
    return interval - 1 - ((round - 1) % interval);
}

bool IsBonusRound(int32_t round, int32_t interval) {
    return ((round - 1) % interval) + 1 == interval;
}

Bonus RichGetRicherBonus(const std::vector<double>& earningsA, const std::vector<double>& earningsB,
                         int32_t round, int32_t interval) {
    double sumA = 0.0;
    double sumB = 0.0;
    for (int32_t i = round - interval; i <= round - 1; ++i) {
        if (i < 0 || static_cast<size_t>(i) >= earningsA.size()) continue;
        sumA += earningsA[i];
        sumB += earningsB[i];
    }
    if (sumA > sumB) return {100.0, 0.0};
    if (sumA < sumB) return {0.0, 100.0};
    return {50.0, 50.0};
}

double PayoutDollars(double totalCredits, const GameParameters& params) {
    double p = totalCredits * params.creditValue;
    double m = std::min(p, params.maxPayout);
    if (!(m > params.minPayout)) return params.minPayout;
    return p < params.maxPayout ? p : params.maxPayout;
}
