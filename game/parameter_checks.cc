#include "game/parameter_checks.h"

#include <cmath>

#include "game/game_rules.h"
#include "platform/format_text.h"

std::string MarketFault(const GameParameters& p) {
    for (size_t i = 0; i < p.marketNoise.size(); ++i) {
        double divisor = DivisorForNoise(p, p.marketNoise[i]);
        if (divisor == 0 || !std::isfinite(divisor)) {
            return "MarketNoise element " + std::to_string(i + 1) +
                   " gives a market divisor of 0 or one that is not finite "
                   "(check MarketBase, MarketNoiseScale and MarketNoise)";
        }
    }
    return std::string();
}

std::string PayBoundsFault(const GameParameters& p) {
    if (p.minPayout <= p.maxPayout) return std::string();
    return "MinPayout (" + platform::FormatText("%g", p.minPayout) +
           ") must not exceed MaxPayout (" + platform::FormatText("%g", p.maxPayout) + ")";
}
