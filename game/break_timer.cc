// The worker thread: wakes every 10 seconds while the game runs.
#include "bot/bot_client.h"

namespace {
constexpr int64_t kTickMs = 10000;
}  // namespace

uint32_t CBotClient::BreakTimerLoop(CBotClient* bot) {
    if (bot->m_game.stopFlag) return 0;
    while (bot->WorkerSleep(kTickMs)) {
        if (bot->m_game.stopFlag) break;
    }
    return 0;
}
