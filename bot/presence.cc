// Presence: when a subject's client goes offline during the game, or comes
// back, the moderator is told in one message and the transcript gets a line.
// A subject who comes back, or whose client announces itself anew, while
// the bot waits for its answer is asked the question again.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/username_slots.h"
#include "platform/format_text.h"

void CBotClient::OnPresence(IWexSession* piSession, IWexParticipant* piParticipant, int32_t online,
                            int32_t again) {
    CWexBstr name;
    if (piParticipant == nullptr || Failed(piParticipant->GetParticipantName(name.Out()))) return;
    int32_t subject = SubjectOf(name);
    if (subject == 0) return;
    platform::MutexLock lock(gameLock);
    SubjectLive& team = m_game.Live(subject);
    int32_t was = team.online;
    team.online = online != 0 ? 1 : 0;
    // A repeated state is no change, nor is the first news of a client
    // that is online (the server's report at sign-on). A joined subject
    // first known offline has gone since joining: that is told.
    bool changed = was != team.online && !(was == -1 && team.online == 1);
    bool back = team.online == 1 && (was == 0 || (was == 1 && again != 0));
    if (!changed && !back) return;
    if (!m_game.Subject(subject).joined || m_game.gameOver) return;
    if (changed) {
        const char* what = team.online == 1 ? "is back" : "went offline";
        m_transcript.WriteLog(subject, "PRES", what);
        SendAdminMsg(MakeBstr(platform::FormatText("%s %s", SlotName(subject), what)), piSession);
    }
    if (!back || !WaitsForAnswer(subject)) return;
    // The record says why the question leaves again.
    if (!changed) m_transcript.WriteLog(subject, "PRES", "signed on again");
    AskAgain(subject, piSession);
}
