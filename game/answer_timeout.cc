// The answer timeout (AnswerTimeout, TimeoutAnswer): a subject who has owed
// an answer for AnswerTimeout seconds since being asked is reminded at half
// the time, and at the time the answer is taken for it, as its own would be.
// The worker thread looks every second, under gameLock.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_element.h"
#include "messaging/config_values.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/format_text.h"

using platform::FormatText;

namespace {

std::string TrimBlanks(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

bool CBotClient::ReadAnswerTimeout(const PropertyFile& config) {
    GameParameters& p = m_game.params;
    const ConfigKey& timeout = ConfigKeyNamed("AnswerTimeout");
    std::string fault = ReadSeconds(timeout, ValueOrDefault(config, timeout), &p.answerTimeout);
    const ConfigKey& answer = ConfigKeyNamed("TimeoutAnswer");
    std::string choice;
    if (fault.empty()) {
        fault = ReadAnswer(answer, ValueOrDefault(config, answer), &choice, &p.timeoutAnswer);
    }
    const ConfigKey& extend = ConfigKeyNamed("TimeoutExtend");
    if (fault.empty()) {
        fault = ReadSeconds(extend, ValueOrDefault(config, extend), &p.timeoutExtend);
    }
    if (!fault.empty()) {
        platform::PrintErrorLine("wexbot: " + fault);
        return false;
    }
    // The one choice: the subject's own answer of that kind in the round
    // before.
    if (!choice.empty()) p.timeoutAnswer = GameParameters::kLastAnswer;
    return true;
}

void CBotClient::CheckAnswerTimeouts() {
    platform::MutexLock lock(gameLock);
    // After a resume the subjects are asked again once the bot is online.
    if (m_resumePending) return;
    int64_t now = platform::NowSeconds();
    for (int32_t subject : {1, 2}) CheckAnswerTimeout(subject, now);
}

void CBotClient::CheckAnswerTimeout(int32_t subject, int64_t now) {
    // Checked for each subject: the other's answer may have closed the game.
    if (m_game.round < 1 || m_game.gameOver || m_game.breakRunning || AnswersEnded()) return;
    const SubjectRecord& owing = m_game.Subject(subject);
    SubjectLive& live = m_game.Live(subject);
    int64_t asked = owing.askedTime;
    if (asked == 0) return;
    bool expectation = owing.expectation == -1;
    int32_t round = m_game.round;
    int32_t value = m_game.params.timeoutAnswer;
    // With "last", round 1 has no earlier answer to take.
    bool takeable = value != GameParameters::kLastAnswer || round >= 2;
    if (takeable && value == GameParameters::kLastAnswer) {
        value = (expectation ? owing.expectations : owing.investments).at(round - 2);
    }
    int64_t limit = m_game.params.answerTimeout;
    // A "more time" for this deadline moves it.
    if (owing.extendedRound == round && owing.extendedKind == (expectation ? 1 : 2)) {
        limit += owing.extendedSeconds;
    }
    int64_t waited = now - asked;
    if (waited < limit) {
        if (!takeable || 2 * waited < limit || live.remindedFor == asked) return;
        live.remindedFor = asked;
        SendMsg(subject,
                MakeBstr(FormatText(Tr("Please answer within %lld seconds."),
                                    static_cast<long long>(limit - waited))),
                m_spiSession.get(), nullptr);
        return;
    }
    if (!takeable) {
        // The bot waits for the subject; the moderator hears of it once.
        if (live.waitToldFor == asked) return;
        live.waitToldFor = asked;
        SendAdminMsg(MakeBstr(FormatText(
                         expectation ? Tr("%s: no answer in time in round %i, and no "
                                          "earlier expectation to take; still waiting for it.")
                                     : Tr("%s: no answer in time in round %i, and no "
                                          "earlier investment to take; still waiting for it."),
                         SlotName(subject), round)),
                     m_spiSession.get());
        return;
    }
    TakeTimedOutAnswer(subject, value);
}

bool CBotClient::ExtendDeadline(IWexSession* piSession, IWexImSession* piImSession) {
    int32_t subject = SubjectOf(m_game.sender);
    if (subject == 0 || !MayExtend(m_game, subject)) return false;
    std::string text;
    AppendNarrow(text, m_game.text);
    if (LowerAscii(TrimBlanks(text)) != "more time") return false;
    SubjectRecord& owing = m_game.Subject(subject);
    bool expectation = owing.expectation == -1;
    int32_t seconds = m_game.params.timeoutExtend;
    Journal(Entry("extend")
                .Int("subject", subject)
                .Int("round", m_game.round)
                .Text("what", expectation ? "expectation" : "investment")
                .Int("seconds", seconds));
    owing.extendedRound = m_game.round;
    owing.extendedKind = expectation ? 1 : 2;
    owing.extendedSeconds = seconds;
    Reply(FormatText(Tr("Extended: you have %i more seconds."), seconds), piSession, piImSession);
    return true;
}

// Takes value as the subject's answer: the replies and the round's close
// that the subject's own answer would bring, then the timeout's texts.
void CBotClient::TakeTimedOutAnswer(int32_t subject, int32_t value) {
    IWexSession* piSession = m_spiSession.get();
    bool expectation = m_game.Subject(subject).expectation == -1;
    int32_t round = m_game.round;
    AssignText(m_game.sender, SlotName(subject));
    teamABuffer.Reset();
    teamBBuffer.Reset();
    // The notice comes first, then what the answer brings: the next
    // question, or the round's close.
    Post(subject, FormatText(Tr("No answer in time: %i was taken."), value), piSession, nullptr);
    TakeAnswer(value, AnswerSource::kTimeout, piSession, nullptr);
    if (m_game.gameOver) ReportPayouts(piSession, nullptr);
    if (StrLength(teamABuffer) > 0) SendMsg(1, teamABuffer, piSession, nullptr);
    if (StrLength(teamBBuffer) > 0) SendMsg(2, teamBBuffer, piSession, nullptr);
    SendAdminMsg(
        MakeBstr(FormatText(
            expectation ? Tr("%s: no answer in time in round %i; %i was taken as the expectation.")
                        : Tr("%s: no answer in time in round %i; %i was taken as the investment."),
            SlotName(subject), round, value)),
        piSession);
}
