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
std::string Owes(const GameState& game, const SubjectRecord& team) {
    if (game.round < 1) return team.joined ? "joined" : "not joined yet";
    if (game.gameOver) return "finished";
    if (game.breakRunning) return team.done ? "in the break, said done" : "in the break";
    if (team.expectation == -1) return "owes the expectation and the investment";
    if (team.investment == -1) return "owes the investment";
    return "has answered this round";
}

std::string Online(const SubjectLive& team) {
    if (team.online == 1) return "online";
    if (team.online == 0) return "offline";
    return "presence not known";
}

std::string LastMessage(const SubjectRecord& team, int64_t now) {
    if (team.lastMessageTime == 0) return "no message yet";
    long long ago = std::max<int64_t>(0, now - team.lastMessageTime);
    return FormatText("last message %lld s ago", ago);
}

}  // namespace

std::string CBotClient::StatusText() {
    int64_t now = platform::NowSeconds();
    int32_t round = m_game.round;
    std::string text;
    if (round < 1) {
        text = "Status: waiting for both subjects to join.";
    } else if (m_game.gameOver) {
        text = FormatText("Status: game over after round %i; payouts sent.", round - 1);
    } else {
        text = FormatText("Status: round %i of %i.", round, m_game.params.nRounds);
    }
    for (int slot : {SLOT_SUBJECT1, SLOT_SUBJECT2}) {
        const SubjectLive& presence = m_game.Live(slot);
        text += FormatText("\n%s: %s; %s; %s.", SlotName(slot),
                           Owes(m_game, m_game.Subject(slot)).c_str(), Online(presence).c_str(),
                           LastMessage(m_game.Subject(slot), now).c_str());
    }
    if (m_game.breakRunning) {
        long long left =
            std::max<int64_t>(0, m_game.params.maxChatTime - (now - m_game.breakStartTime.load()));
        text += FormatText("\nBreak: %lld s left.", left);
    } else {
        text += "\nBreak: none.";
    }
    text += m_game.stopped ? "\nEnded by e: yes." : "\nEnded by e: no.";
    return text;
}

void CBotClient::ReportStatus(IWexSession* piSession, IWexImSession* piImSession) {
    Reply(StatusText(), piSession, piImSession);
}
