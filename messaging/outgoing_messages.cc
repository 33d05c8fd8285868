// Everything the bot says leaves here: texts posted while a message is
// handled are queued per subject; the rest is sent at once, waiting out the
// service's rate limit.
#include <algorithm>

#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_element.h"
#include "messaging/result_names.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/console.h"

// CHECK_RESULT that also keeps the result in var; the ERROR line names
// only the call.
#define CHECK_KEEP(var, expr) \
    ReportIfFailed((var = (expr)), #expr, SourceBaseName(__FILE__), __LINE__)

namespace {

constexpr int64_t kSendDelayMs = 1000;
constexpr int64_t kFirstRateLimitWaitMs = 2000;
// The back-off stops growing here, so a long limit never stalls the bot
// for hours between two tries.
constexpr int64_t kMaxRateLimitWaitMs = 300000;

// Opens an IM session with the screen name into an empty reference.
HRESULT OpenIfNone(WEXSTR name, IWexSession* piSession, WexPtr<IWexImSession>* piImSession) {
    if (*piImSession) return S_OK;
    if (piSession == nullptr) return WEX_E_NOT_LOGGED_ON;
    return piSession->OpenImSession(name, 0, piImSession->Out());
}

}  // namespace

HRESULT CBotClient::PostMsg(int32_t recipient, WEXSTR text, IWexSession* piSession,
                            IWexImSession* piImSession) {
    CWexBstr lineFeed = MakeBstr("\n");
    bool queued = false;
    HRESULT hr = S_OK;
    if (recipient == 1 || recipient == 3) {
        CWexBstr name = MakeBstr(SlotName(SLOT_SUBJECT1));
        if (StrLength(teamABuffer) > 0) AppendMsg(name, lineFeed);
        hr = AppendMsg(name, text);
        queued = true;
    }
    if (recipient == 2 || recipient == 3) {
        CWexBstr name = MakeBstr(SlotName(SLOT_SUBJECT2));
        if (StrLength(teamBBuffer) > 0) AppendMsg(name, lineFeed);
        hr = AppendMsg(name, text);
        queued = true;
    }
    if (!queued) hr = SendMsg(recipient, text, piSession, piImSession);
    return hr;
}

HRESULT CBotClient::AppendMsg(WEXSTR name, WEXSTR text) {
    int slot = FindUsernameSlot(name);
    if (slot != SLOT_SUBJECT1 && slot != SLOT_SUBJECT2) {
        platform::PrintFormat("ERROR: AppendMsg called on team #%d\n", slot);
        return 1;
    }
    std::string added;
    HRESULT hr = ToNarrow(added, text);
    if (Failed(hr)) return hr;
    CWexBstr& buffer = slot == SLOT_SUBJECT1 ? teamABuffer : teamBBuffer;
    std::string joined;
    hr = ToNarrow(joined, buffer);
    if (Failed(hr)) return hr;
    AssignText(buffer, joined + added);
    return S_OK;
}

HRESULT CBotClient::SendMsg(int32_t recipient, WEXSTR text, IWexSession* piSession,
                            IWexImSession* piImSession) {
    if (recipient == 0 && !MayReplyToSender()) return S_OK;
    // A subject a stand-in plays for is sent nothing; it is told once,
    // when it comes back (TellReplaced).
    if ((recipient == 1 || recipient == 2) && m_game.Subject(recipient).replaced) return S_OK;
    platform::SleepMs(kSendDelayMs);
    if (recipient == 0 && piImSession != nullptr) {
        WexPtr<IWexIm> spiResponse;
        if (!m_spiSession || Failed(m_spiSession->MakeIm(0, u"text/plain", spiResponse.Out())) ||
            Failed(spiResponse->SetImText(text))) {
            return S_OK;
        }
        CHECK_RESULT(piImSession->SendIm(spiResponse));
    }
    for (int32_t subject : {SLOT_SUBJECT1, SLOT_SUBJECT2}) {
        if (recipient != subject && recipient != 3) continue;
        const SubjectRecord& s = m_game.Subject(subject);
        if (!s.joined || s.replaced) continue;
        if (!SendToSubject(subject, text, piSession, "")) break;
    }
    return S_OK;
}

// Each subject's message carries the game's state as that subject sees it
// at the time of sending.
bool CBotClient::SendToSubject(int32_t subject, WEXSTR text, IWexSession* piSession,
                               const std::string& ended) {
    WexPtr<IWexIm> spiResponse = MakeGameIm(subject, ended);
    if (!spiResponse || Failed(spiResponse->SetImText(text))) return false;
    CWexBstr team = MakeBstr(SlotName(subject));
    HRESULT result;
    UpdateFarewell(subject);
    // One call per subject: the ERROR line names the session it used.
    if (subject == SLOT_SUBJECT1) {
        CHECK_KEEP(result, SendMsgCheckRateLimit(team, piSession, &imTeamASession, spiResponse));
    } else {
        CHECK_KEEP(result, SendMsgCheckRateLimit(team, piSession, &imTeamBSession, spiResponse));
    }
    m_transcript.LogSend(subject, text, result);
    return true;
}

WexPtr<IWexIm> CBotClient::MakeGameIm(int32_t subject, const std::string& ended) {
    WexPtr<IWexIm> spiIm;
    if (!m_spiSession || Failed(m_spiSession->MakeIm(0, u"text/plain", spiIm.Out()))) {
        return WexPtr<IWexIm>();
    }
    auto spiIm3 = QueryAs<IWexIm3>(spiIm.get(), IID_IWexIm3);
    if (!spiIm3) return spiIm;
    spiIm3->SetImElement(MakeBstr(kGameElementName), MakeBstr(kGameElementNs));
    for (const auto& [name, value] : GameElement(m_game, subject, platform::NowSeconds(), ended)) {
        spiIm3->AddImElementAttribute(MakeBstr(name), MakeBstr(value));
    }
    return spiIm;
}

void CBotClient::SendGameOnly(int32_t subject, const std::string& ended) {
    if (!m_game.Subject(subject).joined || m_game.Subject(subject).replaced) return;
    WexPtr<IWexIm> spiIm = MakeGameIm(subject, ended);
    auto spiSession2 = QueryAs<IWexSession2>(m_spiSession.get(), IID_IWexSession2);
    if (!spiIm || !spiSession2) return;
    // Not a text: the transcript and the counts do not see it.
    spiSession2->SendElementIm(MakeBstr(SlotName(subject)), spiIm);
}

// While a joined subject's game runs, a stop signal sends it the game's end
// ("session_over"); once the game has ended its messages have told it so.
// Set before each send, so a stop during the send finds it.
void CBotClient::UpdateFarewell(int32_t subject) {
    auto spiSession2 = QueryAs<IWexSession2>(m_spiSession.get(), IID_IWexSession2);
    if (!spiSession2) return;
    CWexBstr peer = MakeBstr(SlotName(subject));
    // A replaced subject hears of its end when it comes back, not from a
    // stop.
    if (m_game.reported || m_game.stopped || !m_game.Subject(subject).joined ||
        m_game.Subject(subject).replaced) {
        spiSession2->SetFarewellIm(peer, nullptr);
        return;
    }
    WexPtr<IWexIm> spiIm = MakeGameIm(subject, "session_over");
    if (spiIm) spiSession2->SetFarewellIm(peer, spiIm);
}

// A stranger (neither subject nor moderator nor desk) is answered once a minute at
// most, so that strangers can't keep the bot busy with its reply delay.
bool CBotClient::MayReplyToSender() {
    int slot = FindUsernameSlot(m_game.sender);
    if (slot == SLOT_SUBJECT1 || slot == SLOT_SUBJECT2 || IsModerator(m_game.sender)) return true;
    std::string name;
    ToNarrow(name, m_game.sender);
    return m_flood.MayAnswerStranger(name, platform::NowMs());
}

HRESULT CBotClient::SendAdminMsg(WEXSTR text, IWexSession* piSession) {
    WexPtr<IWexIm> spiResponse;
    if (m_spiSession && Succeeded(m_spiSession->MakeIm(0, u"text/plain", spiResponse.Out())) &&
        Succeeded(spiResponse->SetImText(text))) {
        CWexBstr team = MakeBstr(SlotName(SLOT_MODERATOR));
        HRESULT result;
        CHECK_KEEP(result, SendMsgCheckRateLimit(team, piSession, &imAdminSession, spiResponse));
        m_transcript.LogSend(SLOT_MODERATOR, text, result);
    }
    platform::MutexLock lock(sendLock);
    imAdminSession.Reset();
    return S_OK;
}

HRESULT CBotClient::SendMsgCheckRateLimit(WEXSTR team, IWexSession* piSession,
                                          WexPtr<IWexImSession>* piImSession, IWexIm* spiResponse) {
    platform::MutexLock lock(sendLock);
    HRESULT result = OpenIfNone(team, piSession, piImSession);
    if (Failed(result)) return result;
    result = (*piImSession)->SendIm(spiResponse);
    int64_t wait = kFirstRateLimitWaitMs;
    while (result == WEX_E_RATE_LIMITED) {
        platform::PrintFormat("WARNING: hit rate limit.. will sleep for %lldms and try again.\n",
                              static_cast<long long>(wait));
        platform::SleepMs(wait);
        wait = std::min(wait * 2, kMaxRateLimitWaitMs);
        CHECK_RESULT((*piImSession)->EndSession());
        piImSession->Reset();
        result = OpenIfNone(team, piSession, piImSession);
        if (Failed(result)) break;
        result = (*piImSession)->SendIm(spiResponse);
    }
    return result;
}
