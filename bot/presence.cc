// Presence: when a subject's client goes offline during the game, or comes
// back, the moderator is told in one message and the transcript gets a line.
// A subject who comes back, or whose client announces itself anew, while
// the bot waits for its answer is asked the question again.
//
// With PresenceSettle on, a change only opens a window of that many
// seconds and the worker tells what settled when it ends: a change
// reversed within is not told, a burst of changes is told once with its
// count (transcript, journal, moderator), and the question is asked again
// at most once. Handling a change is then only counting it, so a client
// that toggles its presence hundreds of times a second holds up neither
// the moderator's commands nor the partner's answers.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/format_text.h"

namespace {

// Two changes in one window are an off and on: a client that lost its
// connection, or a seat opened in another window that the server closed
// the older session of. Not told, but on record. More make a burst, told.
constexpr int32_t kRecordedChanges = 2;
constexpr int32_t kBurstChanges = 3;

}  // namespace

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
    // DropoutAfter counts from the first news of it offline.
    if (team.online == 1) {
        team.offlineSinceMs = 0;
    } else if (was != 0) {
        team.offlineSinceMs = platform::NowMs();
    }
    // A subject a stand-in plays for is out of the game: it is told so once
    // it is back, and its presence is told no more.
    if (m_game.Subject(subject).replaced) {
        if (team.online == 1) TellReplaced(subject, piSession);
        return;
    }
    // A repeated state is no change, nor is the first news of a client
    // that is online (the server's report at sign-on). A joined subject
    // first known offline has gone since joining: that is told.
    bool changed = was != team.online && !(was == -1 && team.online == 1);
    bool back = team.online == 1 && (was == 0 || (was == 1 && again != 0));
    if (!changed && !back) return;
    if (!m_game.Subject(subject).joined || m_game.gameOver) return;
    if (m_flood.PresenceSettle() > 0) {
        HoldPresence(subject, was, changed, back);
    } else {
        TellPresence(subject, changed, back, piSession);
    }
}

void CBotClient::TellPresence(int32_t subject, bool changed, bool back, IWexSession* piSession) {
    if (changed) {
        bool online = m_game.Live(subject).online == 1;
        m_transcript.WriteLog(subject, "PRES", online ? "is back" : "went offline");
        SendAdminMsg(MakeBstr(PresenceNotice(subject, online, true)), piSession);
    }
    if (!back || !WaitsForAnswer(subject)) return;
    // The record says why the question leaves again.
    if (!changed) m_transcript.WriteLog(subject, "PRES", "signed on again");
    AskAgain(subject, piSession);
}

std::string CBotClient::PresenceNotice(int32_t subject, bool online, bool changed) const {
    return platform::FormatText(
        changed ? (online ? Tr("%s is back") : Tr("%s went offline"))
                : (online ? Tr("%s is still online") : Tr("%s is still offline")),
        SlotName(subject));
}

void CBotClient::HoldPresence(int32_t subject, int32_t was, bool changed, bool back) {
    SubjectLive& team = m_game.Live(subject);
    if (team.settleDueMs == 0) {
        team.settleStartMs = platform::NowMs();
        team.settleDueMs = team.settleStartMs + int64_t{m_flood.PresenceSettle()} * 1000;
        // Not known yet counts as online: a joined subject was there.
        team.settleFrom = was == 0 ? 0 : 1;
        team.settleChanges = 0;
        team.settleBack = false;
        m_presenceDueMs = EarliestSettle();
        PokeWorker();
    }
    if (changed) ++team.settleChanges;
    if (back) team.settleBack = true;
}

int64_t CBotClient::EarliestSettle() const {
    int64_t a = m_game.liveA.settleDueMs;
    int64_t b = m_game.liveB.settleDueMs;
    if (a == 0 || b == 0) return a + b;
    return a < b ? a : b;
}

void CBotClient::SettlePresence() {
    platform::MutexLock lock(gameLock);
    int64_t now = platform::NowMs();
    for (int32_t subject = 1; subject <= 2; ++subject) {
        int64_t due = m_game.Live(subject).settleDueMs;
        if (due != 0 && now >= due) SettleSubject(subject);
    }
    m_presenceDueMs = EarliestSettle();
}

void CBotClient::SettleSubject(int32_t subject) {
    SubjectLive& team = m_game.Live(subject);
    team.settleDueMs = 0;
    if (!m_game.Subject(subject).joined || m_game.gameOver || m_game.stopped ||
        m_game.Subject(subject).replaced) {
        return;
    }
    bool changed = team.online != team.settleFrom;
    bool burst = false;
    int64_t seconds = 0;
    if (team.settleChanges >= kRecordedChanges) {
        seconds = (platform::NowMs() - team.settleStartMs + 500) / 1000;
        std::string count =
            platform::FormatText("presence changed %i times in %lld s", team.settleChanges,
                                 static_cast<long long>(seconds));
        m_transcript.WriteLog(subject, "PRES", count);
        Journal(Entry("presence")
                    .Int("subject", subject)
                    .Int("changes", team.settleChanges)
                    .Int("online", team.online));
        burst = team.settleChanges >= kBurstChanges;
    }
    // One notice at most: the change, or the state that held, with the
    // burst's count.
    if (changed)
        m_transcript.WriteLog(subject, "PRES", team.online == 1 ? "is back" : "went offline");
    if (changed || burst) {
        std::string notice = PresenceNotice(subject, team.online == 1, changed);
        if (burst) {
            unsigned long n = static_cast<unsigned long>(team.settleChanges);
            notice += " (" +
                      platform::FormatText(TrN("presence changed %i time in %lld s",
                                               "presence changed %i times in %lld s", n),
                                           team.settleChanges, static_cast<long long>(seconds)) +
                      ")";
        }
        SendAdminMsg(MakeBstr(notice), m_spiSession.get());
    }
    if (team.online != 1 || !team.settleBack || !WaitsForAnswer(subject)) return;
    if (!changed) m_transcript.WriteLog(subject, "PRES", "signed on again");
    AskAgain(subject, m_spiSession.get());
}
