// Chat breaks: the subjects talk through the bot until both say "done",
// the time runs out or the moderator ends the break.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/break_texts.h"
#include "messaging/username_slots.h"
#include "messaging/visible_text.h"
#include "platform/clock.h"
#include "platform/format_text.h"

using platform::FormatText;

void CBotClient::StartBreak(IWexSession* piSession, IWexImSession* piImSession) {
    Post(3, BreakAnnouncement(m_texts, m_game.params.maxChatTime), piSession, piImSession);
    int64_t now = platform::NowSeconds();
    m_game.breakStartTime = now;
    m_game.lastChatTime = now;
    // A subject a stand-in plays for counts as done.
    m_game.teamA.done = m_game.teamA.replaced.load();
    m_game.teamB.done = m_game.teamB.replaced.load();
    m_game.breakRunning = true;
}

// The break is over: journaled, and both subjects are asked for the round
// from now on.
void CBotClient::JournalBreakEnd(const char* how) {
    JournalEntry entry = Entry("break_end").Int("round", m_game.round).Text("how", how);
    Journal(entry);
    m_game.AskBoth(entry.GetInt("t"));
}

void CBotClient::HandleChatMsg(IWexSession* piSession, IWexImSession* piImSession) {
    int32_t team = SubjectOf(m_game.sender);
    if (team != 0) {
        SubjectRecord& subject = team == 1 ? m_game.teamA : m_game.teamB;
        // Each line is on disk (chat.csv's row comes from it) before it is
        // relayed.
        std::string line;
        AppendNarrow(line, m_game.text);
        Journal(Entry("chat").Int("round", m_game.round).Int("subject", team).Text("text", line));
        if (StrCompare(m_game.text, MakeBstr("done")) == 0) {
            subject.done = true;
        } else {
            // The subject's line ends start indented lines, so no line of the
            // relay can pose as another "(from NAME)" line.
            AssignText(m_game.text,
                       PrefixedLines(FormatText(Tr("(from %s) "), SlotName(team)), line));
            PostMsg(team == 1 ? 2 : 1, m_game.text, piSession, piImSession);
            SendAdminMsg(m_game.text, piSession);
        }
    }
    if (m_game.teamA.done && m_game.teamB.done) {
        // The worker may end the break by time at the same moment; only
        // one of the two announces the next round.
        bool running = true;
        if (m_game.breakRunning.compare_exchange_strong(running, false)) {
            JournalBreakEnd("done");
            PostRoundPrompt(piSession, piImSession);
        }
    } else {
        m_game.lastChatTime = platform::NowSeconds();
    }
}
