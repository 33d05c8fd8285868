// The worker thread: every 10 seconds it ends a chat break that ran too
// long, or reminds the subjects when the chat has gone idle; with the
// answer timeout on it also looks every second for answers owed too long,
// and with DropoutAfter on for subjects offline too long.
// Between ticks it wakes when a subject's presence window ends.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/break_texts.h"
#include "platform/clock.h"

namespace {

constexpr int64_t kTickMs = 10000;
constexpr int64_t kAnswerTickMs = 1000;

}  // namespace

uint32_t CBotClient::BreakTimerLoop(CBotClient* bot, bool answerTimeout, bool dropouts) {
    if (bot->m_game.stopped) return 0;
    int64_t step = answerTimeout || dropouts ? kAnswerTickMs : kTickMs;
    int64_t sinceBreakCheck = 0;
    int64_t nextTick = platform::NowMs() + step;
    // The stop flag is tested right after each sleep as well, so that after
    // the moderator's end command the worker ends no break by time.
    while (bot->WorkerSleepUntil(bot->NextWake(nextTick)) && !bot->m_game.stopped) {
        int64_t due = bot->m_presenceDueMs;
        if (due != 0 && platform::NowMs() >= due) bot->SettlePresence();
        if (platform::NowMs() < nextTick) continue;
        sinceBreakCheck += step;
        if (sinceBreakCheck >= kTickMs) {
            sinceBreakCheck = 0;
            bot->CheckBreak();
        }
        if (answerTimeout) bot->CheckAnswerTimeouts();
        if (dropouts) bot->CheckDropouts();
        nextTick = platform::NowMs() + step;
    }
    return 0;
}

int64_t CBotClient::NextWake(int64_t tick) const {
    int64_t due = m_presenceDueMs;
    return due != 0 && due < tick ? due : tick;
}

void CBotClient::CheckBreak() {
    if (!m_game.breakRunning) return;
    int64_t t = platform::NowSeconds();
    if (t - m_game.breakStartTime > m_game.params.maxChatTime) {
        std::string text = BreakTimeUpText(m_texts, m_game.params.maxChatTime, m_game.round.load());
        bool running = true;
        if (m_game.breakRunning.compare_exchange_strong(running, false)) {
            JournalBreakEnd("time");
            SendMsg(3, MakeBstr(text), m_spiSession, nullptr);
        }
    } else if (t - m_game.lastChatTime > m_game.params.maxChatIdle) {
        m_game.lastChatTime = t;
        SendMsg(3,
                // TRANSLATORS: 'done' is what the subject types; keep it.
                MakeBstr(Tr("Chat has been idle for some time. If you are ready to resume the "
                            "game, type 'done' and hit enter.")),
                m_spiSession, nullptr);
    }
}
