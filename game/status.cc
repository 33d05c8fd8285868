// The moderator's ?: one message saying where the game stands: the round,
// who still owes which answer, a running break and its time left, when each
// subject last wrote and whether its client is online, and whether the
// moderator ended the game.
#include <algorithm>

#include "bot/bot_client.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/format_text.h"

using platform::FormatText;

namespace {

// What one subject still owes, or where it is, in the current phase.
const char* Owes(const GameState& game, const SubjectRecord& team) {
    if (game.round < 1) return team.joined ? N_("joined") : N_("not joined yet");
    if (team.replaced) return N_("dropped out, a stand-in plays");
    if (game.gameOver) return N_("finished");
    // TRANSLATORS: done is what a subject types to end its break; keep it.
    if (game.breakRunning) return team.done ? N_("in the break, said done") : N_("in the break");
    if (team.expectation == -1) return N_("owes the expectation and the investment");
    if (team.investment == -1) return N_("owes the investment");
    return N_("has answered this round");
}

const char* Online(const SubjectLive& team) {
    if (team.online == 1) return N_("online");
    if (team.online == 0) return N_("offline");
    return N_("presence not known");
}

std::string LastMessage(const Catalogue& texts, const SubjectRecord& team, int64_t now) {
    if (team.lastMessageTime == 0) return texts.Tr("no message yet");
    long long ago = std::max<int64_t>(0, now - team.lastMessageTime);
    return FormatText(texts.Tr("last message %lld s ago"), ago);
}

}  // namespace

std::string CBotClient::StatusText() {
    int64_t now = platform::NowSeconds();
    int32_t round = m_game.round;
    std::string text;
    if (round < 1) {
        text = Tr("Status: waiting for both subjects to join.");
    } else if (m_game.gameOver) {
        text = FormatText(Tr("Status: game over after round %i; payouts sent."), round - 1);
    } else {
        text = FormatText(Tr("Status: round %i of %i."), round, m_game.params.nRounds);
    }
    for (int slot : {SLOT_SUBJECT1, SLOT_SUBJECT2}) {
        const SubjectLive& presence = m_game.Live(slot);
        text += "\n";
        text += FormatText(Tr("%s: %s; %s; %s."), SlotName(slot),
                           Tr(Owes(m_game, m_game.Subject(slot))), Tr(Online(presence)),
                           LastMessage(m_texts, m_game.Subject(slot), now).c_str());
    }
    text += "\n";
    if (m_game.breakRunning) {
        long long left =
            std::max<int64_t>(0, m_game.params.maxChatTime - (now - m_game.breakStartTime.load()));
        text += FormatText(Tr("Break: %lld s left."), left);
    } else {
        text += Tr("Break: none.");
    }
    text += "\n";
    // TRANSLATORS: e is the moderator's command that ends the game.
    text += m_game.stopped ? Tr("Ended by e: yes.") : Tr("Ended by e: no.");
    return text;
}

void CBotClient::ReportStatus(IWexSession* piSession, IWexImSession* piImSession) {
    Reply(StatusText(), piSession, piImSession);
}
