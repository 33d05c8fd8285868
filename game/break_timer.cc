// The worker thread: every 10 seconds it ends a chat break that ran too
// long, or reminds the subjects when the chat has gone idle; with the
// answer timeout on it also looks every second for answers owed too long.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/break_texts.h"
#include "platform/clock.h"

namespace {

constexpr int64_t kTickMs = 10000;
constexpr int64_t kAnswerTickMs = 1000;

}  // namespace

uint32_t CBotClient::BreakTimerLoop(CBotClient* bot, bool answerTimeout) {
    if (bot->m_game.stopped) return 0;
    int64_t step = answerTimeout ? kAnswerTickMs : kTickMs;
    int64_t sinceBreakCheck = 0;
    // The stop flag is tested right after each sleep as well, so that after
    // the moderator's end command the worker ends no break by time.
    while (bot->WorkerSleep(step) && !bot->m_game.stopped) {
        sinceBreakCheck += step;
        if (sinceBreakCheck >= kTickMs) {
            sinceBreakCheck = 0;
            bot->CheckBreak();
        }
        if (answerTimeout) bot->CheckAnswerTimeouts();
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
            JournalBreakEnd("time");
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
