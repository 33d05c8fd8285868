// The game's state: parameters, round, phase flags and one record per
// subject. Fields that the worker thread reads or writes are atomic; the
// rest belong to the event thread alone. The game has no lock of its own:
// sendLock guards the IM sessions both threads send on.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "wexcore/wex_string.h"

// The nine configured settings of the game.
struct GameParameters {
    int32_t nRounds = 0;
    int32_t conversationInterval = 0;
    double marketBase = 0.0;
    double marketNoiseScale = 0.0;
    std::vector<double> marketNoise{0.0};
    std::vector<double> bonusMarketRGR{0.0};
    std::vector<double> bonusMarketGW{0.0};
    int32_t maxChatTime = 0;
    int32_t maxChatIdle = 0;
    // The lab's pay rule: dollars a credit, and the payout's bounds.
    double creditValue = 0.0075;
    double minPayout = 10.0;
    double maxPayout = 25.0;
};

// One subject (team A is subject 1, team B subject 2).
struct TeamState {
    std::atomic<bool> joined{false};  // read by the worker's sends
    int32_t investment = -1;          // this round's; -1 = not given yet
    int32_t expectation = -1;         // this round's; -1 = not given yet
    double totalCredits = 0.0;
    std::vector<int32_t> investments;   // entry r - 1 for round r
    std::vector<int32_t> expectations;  // entry r - 1 for round r
    std::vector<double> roundEarnings;  // entry r - 1 for round r
    bool done = false;                  // said "done" in the running break
    int64_t lastMessageTime = 0;        // seconds since 1970 of its last message; 0 = none
    int32_t online = -1;                // its client: 1 online, 0 offline, -1 not known yet
};

struct GameState {
    CWexBstr sender;  // screen name of the message being handled
    CWexBstr text;    // its plain text
    CWexBstr reply;   // the text being posted
    std::atomic<int32_t> breakFlag{0};
    std::atomic<int32_t> round{0};
    std::atomic<bool> stopFlag{false};
    bool gameOver = false;
    GameParameters params;
    std::atomic<int64_t> breakStartTime{0};  // seconds since 1970
    std::atomic<int64_t> lastChatTime{0};
    TeamState teamA;
    TeamState teamB;
};
