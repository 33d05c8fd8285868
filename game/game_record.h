// What the journal knows of a game: the state its entries build up, and
// the data rows they make. The running bot applies each entry it writes,
// and a resumed bot applies the entries it reads, through the same
// ApplyEntry, so both write the same rows.
//
// Entry kinds and their keys (besides "kind" and "t", seconds since 1970):
//   start      the configuration: BotUsername, Subject1Name, Subject2Name,
//              ModeratorName and the nine game keys (lists as text)
//   join       subject (1 or 2), round (after the join)
//   answer     subject, what ("expectation" or "investment"), value, round
//   close      round, divisor, earnings_1, earnings_2, bonus_1 and bonus_2
//              (bonus rounds only), total_1, total_2, break (a break began)
//   chat       round, subject, text (a line sent during a break, "done" too)
//   break_end  round, how ("done", "time", "moderator", "pay" or "resume")
//   stop       round (the moderator's e, or p before its report)
//   report     payout_1, payout_2 (the final report was made)
//   resume     round (a restarted bot took the game up)
//   sent       slot (0 to 3): the transcript counted a message sent there
//   received   slot: the transcript counted a message received from there
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/game_state.h"
#include "game/journal_entry.h"

struct SubjectRecord {
    std::string name;
    bool joined = false;
    int32_t expectation = -1;  // this round's; -1 = not given yet
    int32_t investment = -1;
    int64_t expectationTime = 0;
    int64_t investmentTime = 0;
    double totalCredits = 0.0;
    std::vector<int32_t> expectations;  // entry r - 1 for round r
    std::vector<int32_t> investments;
    std::vector<double> roundEarnings;
    bool done = false;            // said "done" in the running break
    int64_t lastMessageTime = 0;  // t of its last received, join or chat entry; 0 = none
};

struct GameRecord {
    std::string botName;
    std::string moderatorName;
    GameParameters params;
    int32_t round = 0;
    bool breakRunning = false;
    bool stopped = false;
    bool reported = false;
    SubjectRecord subjects[2];  // subject 1, subject 2
    // The messages the transcript counted, by slot, for the moderator's
    // report; countsMessages is false for a journal of a bot that did not
    // record them.
    int64_t sent[4] = {};
    int64_t received[4] = {};
    bool countsMessages = false;

    SubjectRecord& Subject(int subject) { return subjects[subject == 2 ? 1 : 0]; }
    const SubjectRecord& Subject(int subject) const { return subjects[subject == 2 ? 1 : 0]; }
    // Every round has been closed.
    bool AllRoundsClosed() const { return round > params.nRounds; }
};

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
