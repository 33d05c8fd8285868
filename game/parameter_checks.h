// The rules that the game's settings must meet together, beyond each key's
// own range, in the words the bot refuses them with at start-up.
#pragma once

#include <string>

#include "game/game_state.h"

// A MarketNoise element that gives a market divisor of 0 or one that is
// not finite; "" when none does.
std::string MarketFault(const GameParameters& p);

// MinPayout above MaxPayout; "" when they are in order.
std::string PayBoundsFault(const GameParameters& p);
