// The worker thread: every 10 seconds it ends a chat break that ran too
// long, or reminds the subjects when the chat has gone idle.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "platform/clock.h"
#include "platform/format_text.h"

using platform::FormatText;

namespace {

constexpr int64_t kTickMs = 10000;

// t - since as a signed 32-bit difference (wrapping, never overflowing).
int32_t SecondsBetween(int32_t since, int32_t t) {
    return static_cast<int32_t>(static_cast<uint32_t>(t) - static_cast<uint32_t>(since));
}

}  // namespace

uint32_t CBotClient::BreakTimerLoop(CBotClient* bot) {
    if (bot->m_game.stopFlag) return 0;
    // The stop flag is tested right after each sleep as well, so that after
    // the moderator's end command the worker ends no break by time.
    while (bot->WorkerSleep(kTickMs) && !bot->m_game.stopFlag) {
        bot->CheckBreak();
    }
    return 0;
}

void CBotClient::CheckBreak() {
    if (m_game.breakFlag != 1) return;
    int32_t t = platform::NowSeconds();
    if (SecondsBetween(m_game.breakStartTime, t) > m_game.params.maxChatTime) {
        std::string text = FormatText(
            "5-minute break time is up. The game will now resume.\nCurrent round: %i\nWhen you "
            "are ready, please tell me how much you think the other player will invest?",
            m_game.round.load());
        int32_t running = 1;
        if (m_game.breakFlag.compare_exchange_strong(running, 0)) {
            SendMsg(3, MakeBstr(text), m_spiSession, nullptr);
        }
    } else if (SecondsBetween(m_game.lastChatTime, t) > m_game.params.maxChatIdle) {
        m_game.lastChatTime = t;
        SendMsg(3,
                MakeBstr("Chat has been idle for some time. If you are ready to resume the game, "
                         "type 'done' and hit enter."),
                m_spiSession, nullptr);
    }
}
