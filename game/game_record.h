// What the journal knows of a game: the GameRecord (game/game_state.h) its
// entries build up, and the data rows they make. The running bot applies
// each entry it writes, and a resumed bot applies the entries it reads,
// through the same ApplyEntry, so both write the same rows.
//
// Entry kinds and their keys (besides "kind" and "t", seconds since 1970):
//   start      the configuration: BotUsername, Subject1Name, Subject2Name,
//              ModeratorName and the nine game keys (lists as text)
//   join       subject (1 or 2), round (after the join)
//   answer     subject, what ("expectation" or "investment"), value, round,
//              source ("timeout" when the answer timeout took it, "robot"
//              when the stand-in gave it; absent for the subject's own)
//   close      round, divisor, earnings_1, earnings_2, bonus_1 and bonus_2
//              (bonus rounds only), total_1, total_2, break (a break began)
//   chat       round, subject, text (a line sent during a break, "done" too)
//   break_end  round, how ("done", "time", "moderator", "pay" or "resume")
//   extend     subject, round, what, seconds (the subject's "more time"
//              added seconds to that answer's deadline)
//   stop       round (the moderator's e, or p before its report)
//   report     payout_1, payout_2 (the final report was made)
//   resume     round (a restarted bot took the game up)
//   dropout    subject, round, mode ("robot" or "pay"), credits, payout: the
//              subject was offline DropoutAfter seconds; robot: a stand-in
//              plays for it and these are its credits and payout
//   returned   subject, round: a replaced subject came back and was told
//   sent       slot (0 to 3): the transcript counted a message sent there
//   received   slot: the transcript counted a message received from there
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/game_state.h"
#include "game/journal_entry.h"

// CSV records an entry adds, by DataFiles::Kind (rounds, chat, payouts).
struct DataRows {
    std::vector<std::string> records[3];
};

// Applies entry to game and appends the data rows it makes to rows.
void ApplyEntry(const JournalEntry& entry, GameRecord* game, DataRows* rows);

// The start entry: the screen names (slots 0 to 3) and the game keys.
JournalEntry StartEntry(int64_t t, const std::string (&names)[4], const GameParameters& params);

// "" when the configuration of two start entries is the same; otherwise
// names the first key that differs, with both values.
std::string FirstDifference(const JournalEntry& journal, const JournalEntry& configuration);
