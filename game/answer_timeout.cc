// The answer timeout (AnswerTimeout, TimeoutAnswer): a subject who has owed
// an answer for AnswerTimeout seconds since being asked is reminded at half
// the time, and at the time the answer is taken for it, as its own would be.
// The worker thread looks every second, under gameLock.
#include <cstdlib>

#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/format_text.h"

using platform::FormatText;

namespace {

// A day: longer than any session, and far from overflowing.
constexpr int32_t kMaxAnswerTimeout = 86400;

bool Refuse(const std::string& reason) {
    platform::PrintErrorLine("wexbot: " + reason);
    return false;
}

// A whole number from 0 to max, blanks around it allowed.
bool ReadWhole(const std::string& text, int32_t max, int32_t* value) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos || text[begin] < '0' || text[begin] > '9') return false;
    char* end = nullptr;
    long long number = std::strtoll(text.c_str() + begin, &end, 10);
    if (std::string(end).find_first_not_of(" \t\r") != std::string::npos || number > max) {
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}

std::string ValueOf(const PropertyFile& config, const char* key, bool* present) {
    CWexBstr raw;
    std::string text;
    *present = config.GetString(key, raw) == S_OK;
    if (*present) ToNarrow(text, raw);
    return text;
}

}  // namespace

bool CBotClient::ReadAnswerTimeout(const PropertyFile& config) {
    GameParameters& p = m_game.params;
    bool present = false;
    std::string text = ValueOf(config, "AnswerTimeout", &present);
    if (present && !ReadWhole(text, kMaxAnswerTimeout, &p.answerTimeout)) {
        return Refuse("AnswerTimeout must be a whole number of seconds from 0 (off) to " +
                      std::to_string(kMaxAnswerTimeout) + ", found \"" + text + "\"");
    }
    text = ValueOf(config, "TimeoutAnswer", &present);
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    if (!present || (begin != std::string::npos && text.substr(begin, end - begin + 1) == "last")) {
        p.timeoutAnswer = GameParameters::kLastAnswer;
    } else if (!ReadWhole(text, 60, &p.timeoutAnswer)) {
        return Refuse("TimeoutAnswer must be \"last\" or a whole number from 0 to 60, found \"" +
                      text + "\"");
    }
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
    int64_t waited = now - asked;
    if (waited < limit) {
        if (!takeable || 2 * waited < limit || live.remindedFor == asked) return;
        live.remindedFor = asked;
        SendMsg(subject,
                MakeBstr(FormatText("Please answer within %lld seconds.",
                                    static_cast<long long>(limit - waited))),
                m_spiSession.get(), nullptr);
        return;
    }
    if (!takeable) {
        // The bot waits for the subject; the moderator hears of it once.
        if (live.waitToldFor == asked) return;
        live.waitToldFor = asked;
        SendAdminMsg(MakeBstr(FormatText("%s: no answer in time in round %i, and no earlier %s "
                                         "to take; still waiting for it.",
                                         SlotName(subject), round,
                                         expectation ? "expectation" : "investment")),
                     m_spiSession.get());
        return;
    }
    TakeTimedOutAnswer(subject, value);
}

// Takes value as the subject's answer: the replies and the round's close
// that the subject's own answer would bring, then the timeout's texts.
void CBotClient::TakeTimedOutAnswer(int32_t subject, int32_t value) {
    IWexSession* piSession = m_spiSession.get();
    const char* what = m_game.Subject(subject).expectation == -1 ? "expectation" : "investment";
    int32_t round = m_game.round;
    AssignText(m_game.sender, SlotName(subject));
    teamABuffer.Reset();
    teamBBuffer.Reset();
    TakeAnswer(value, true, piSession, nullptr);
    if (m_game.gameOver) ReportPayouts(piSession, nullptr);
    Post(subject, FormatText("No answer in time: %i was taken.", value), piSession, nullptr);
    if (StrLength(teamABuffer) > 0) SendMsg(1, teamABuffer, piSession, nullptr);
    if (StrLength(teamBBuffer) > 0) SendMsg(2, teamBBuffer, piSession, nullptr);
    SendAdminMsg(MakeBstr(FormatText("%s: no answer in time in round %i; %i was taken as the %s.",
                                     SlotName(subject), round, value, what)),
                 piSession);
}
