// The game's state as one subject sees it, sent beside the bot's texts as
// <game xmlns="urn:wex:game:1" .../>: plain functions of the game, so each
// value can be checked alone.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "game/game_state.h"

constexpr char kGameElementName[] = "game";
constexpr char kGameElementNs[] = "urn:wex:game:1";

using ElementAttributes = std::vector<std::pair<std::string, std::string>>;

// The answer the subject owes now: "expectation", "investment", or nullptr
// when it owes none (joining, a break, its round answered, the end).
const char* OwedAnswer(const GameState& game, int subject);

// The subject's answer deadline (seconds since 1970; the timeout takes an
// answer once it has passed), 0 when none runs: AnswerTimeout off, no
// answer owed, or no answer the timeout could take.
int64_t AnswerDeadline(const GameRecord& game, int subject);

// The subject may add TimeoutExtend seconds to the deadline now running.
bool MayExtend(const GameRecord& game, int subject);

// The payout the final report gives the subject, in money: for a subject
// a stand-in played for, the one at its dropout.
double ReportedPayout(const GameRecord& game, int subject);

// How the game ended, "" while it runs.
std::string GameEnding(const GameState& game);

// The element's attributes for subject at now (seconds since 1970);
// ended, when not empty, overrides how the game ended (the bot is told to
// stop: "session_over"). A subject a stand-in played for has ended
// "replaced", with its credits and payout at the dropout.
ElementAttributes GameElement(const GameState& game, int subject, int64_t now,
                              const std::string& ended = "");
