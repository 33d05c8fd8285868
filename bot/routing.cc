// Routing of incoming instant messages: the moderator's (and the desk's,
// the second moderator account of DeskName) go to the command handler, everyone else's to the game;
// what the handler posted for each subject leaves afterwards as one message per subject.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"

namespace {

// True when name is the screen name in slot.
bool IsSlot(WEXSTR name, int slot) {
    return StrCompare(name, MakeBstr(SlotName(slot))) == 0;
}

// How many earlier messages of the sender the component folded into this
// one because they came too fast; 0 when it doesn't say.
int32_t SkippedBefore(IWexIm* piIm) {
    auto spiIm2 = QueryAs<IWexIm2>(piIm, IID_IWexIm2);
    WexVariant value;
    if (!spiIm2 || Failed(spiIm2->GetImProperty(WEX_IM_PROP_SKIPPED, &value)) ||
        value.vt != VT_I4) {
        return 0;
    }
    return value.lVal;
}

}  // namespace

bool CBotClient::IsModerator(WEXSTR name) const {
    if (IsSlot(name, SLOT_MODERATOR)) return true;
    return !m_account.deskName.empty() &&
           StrCompare(name, MakeBstr(m_account.deskName.c_str())) == 0;
}

void CBotClient::OnImReceived(IWexSession* piSession, IWexImSession* piImSession,
                              IWexParticipant* piParticipant, IWexIm* piIm) {
    platform::MutexLock game(gameLock);
    if (piParticipant == nullptr || piIm == nullptr ||
        Failed(piParticipant->GetParticipantName(m_game.sender.Out())) ||
        Failed(piIm->GetImText(u"text/plain", m_game.text.Out()))) {
        CWexBstr error = MakeBstr(Tr("There was an error getting team name of IM message."));
        ReplyToSender(m_game.sender, error, piSession, piImSession);
        return;
    }
    {
        platform::MutexLock lock(sendLock);
        if (IsSlot(m_game.sender, SLOT_SUBJECT1)) {
            imTeamASession = piImSession;
        } else if (IsSlot(m_game.sender, SLOT_SUBJECT2)) {
            imTeamBSession = piImSession;
        }
    }
    int32_t skipped = SkippedBefore(piIm);
    if (skipped > 0) {
        m_transcript.LogFolded(FindUsernameSlot(m_game.sender), m_game.sender, skipped,
                               m_flood.Limit(), m_flood.Seconds());
    }
    int32_t subject = SubjectOf(m_game.sender);
    if (subject != 0) {
        m_game.Subject(subject).lastMessageTime = platform::NowSeconds();
    }
    teamABuffer.Reset();
    teamBBuffer.Reset();
    if (IsModerator(m_game.sender)) {
        HandleModeratorMsg(piSession, piImSession);
    } else {
        HandlePlayerMsg(piSession, piImSession);
    }
    if (StrLength(teamABuffer) > 0) SendMsg(1, teamABuffer, piSession, nullptr);
    if (StrLength(teamBBuffer) > 0) SendMsg(2, teamBBuffer, piSession, nullptr);
    // What the message brought (a round's close, a break's end) may leave
    // answers owed by a subject a stand-in plays for.
    if (AnyReplaced()) LetStandInsPlay(piSession);
    platform::MutexLock lock(sendLock);
    imTeamASession.Reset();
    imTeamBSession.Reset();
}
