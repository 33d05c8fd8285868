// The worker thread: every 10 seconds it ends a chat break that ran too
// long, or reminds the subjects when the chat has gone idle.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/break_texts.h"
#include "platform/clock.h"

namespace {

constexpr int64_t kTickMs = 10000;

}  // namespace

uint32_t CBotClient::BreakTimerLoop(CBotClient* bot) {
    if (bot->m_game.stopped) return 0;
    // The stop flag is tested right after each sleep as well, so that after
    // the moderator's end command the worker ends no break by time.
    while (bot->WorkerSleep(kTickMs) && !bot->m_game.stopped) {
        bot->CheckBreak();
    }
    return 0;
}

void CBotClient::CheckBreak() {
    if (!m_game.breakRunning) return;
    int64_t t = platform::NowSeconds();
    if (t - m_game.breakStartTime > m_game.params.maxChatTime) {
        std::string text = BreakTimeUpText(m_game.params.maxChatTime, m_game.round.load());
        bool running = true;
        if (m_game.breakRunning.compare_exchange_strong(running, false)) {
            Journal(Entry("break_end").Int("round", m_game.round).Text("how", "time"));
            SendMsg(3, MakeBstr(text), m_spiSession, nullptr);
        }
    } else if (t - m_game.lastChatTime > m_game.params.maxChatIdle) {
        m_game.lastChatTime = t;
        SendMsg(3,
                MakeBstr("Chat has been idle for some time. If you are ready to resume the game, "
                         "type 'done' and hit enter."),
                m_spiSession, nullptr);
    }
}
