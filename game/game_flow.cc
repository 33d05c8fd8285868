// The game's phases: joining, asking for answers round after round, chat
// breaks and the end.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_rules.h"
#include "messaging/username_slots.h"
#include "platform/format_text.h"

using platform::FormatText;

void CBotClient::Post(int32_t recipient, const std::string& text, IWexSession* piSession,
                      IWexImSession* piImSession) {
    AssignText(m_game.reply, text);
    PostMsg(recipient, m_game.reply, piSession, piImSession);
}

void CBotClient::Reply(const std::string& text, IWexSession* piSession,
                       IWexImSession* piImSession) {
    AssignText(m_game.reply, text);
    ReplyToSender(m_game.sender, m_game.reply, piSession, piImSession);
}

void CBotClient::PostRoundPrompt(IWexSession* piSession, IWexImSession* piImSession) {
    Post(3, FormatText(Tr("Current round: %i"), m_game.round.load()), piSession, piImSession);
    Post(3, Tr("When you are ready, please tell me how much you think your partner will invest:"),
         piSession, piImSession);
}

int32_t CBotClient::TeamOf(WEXSTR name) {
    int slot = FindUsernameSlot(name);
    return slot == SLOT_SUBJECT1 || slot == SLOT_SUBJECT2 ? slot : 0;
}

int32_t CBotClient::SubjectOf(WEXSTR name) {
    if (StrCompare(name, MakeBstr(SlotName(SLOT_SUBJECT1))) == 0) return 1;
    if (StrCompare(name, MakeBstr(SlotName(SLOT_SUBJECT2))) == 0) return 2;
    return 0;
}

void CBotClient::ReplyToSender(WEXSTR sender, WEXSTR text, IWexSession* piSession,
                               IWexImSession* piImSession) {
    PostMsg(TeamOf(sender), text, piSession, piImSession);
}

void CBotClient::HandlePlayerMsg(IWexSession* piSession, IWexImSession* piImSession) {
    int32_t subject = SubjectOf(m_game.sender);
    if (subject != 0 && m_game.Subject(subject).replaced) {
        // The stand-in plays for it: its message is on record, and it is
        // told once why nothing it writes counts.
        m_transcript.LogRecv(subject, m_game.text, m_game.sender);
        TellReplaced(subject, piSession);
        return;
    }
    bool inBreak = m_game.breakRunning;
    // Once the answers have ended, messages are ignored, however long.
    if (!inBreak && AnswersEnded()) return;
    if (RefuseOverlongMsg(piSession, piImSession)) return;
    if (inBreak) {
        HandleChatMsg(piSession, piImSession);
    } else {
        HandleGameMsg(piSession, piImSession);
    }
}

bool CBotClient::AnswersEnded() const {
    return m_game.round >= 1 && (m_game.round > m_game.params.nRounds || m_game.stopped);
}

void CBotClient::HandleGameMsg(IWexSession* piSession, IWexImSession* piImSession) {
    // After the final report (at the end, or paid early by p) nothing more
    // is taken, not even a late join.
    if (m_game.gameOver) return;
    if (m_game.round < 1) return HandleJoinMsg(piSession, piImSession);
    if (AnswersEnded()) return;
    HandleAnswerMsg(piSession, piImSession);
    if (m_game.gameOver) ReportPayouts(piSession, piImSession);
}

void CBotClient::HandleJoinMsg(IWexSession* piSession, IWexImSession* piImSession) {
    m_transcript.LogRecv(FindUsernameSlot(m_game.sender), m_game.text, m_game.sender);
    int32_t team = SubjectOf(m_game.sender);
    SubjectRecord* subject = team == 1 ? &m_game.teamA : team == 2 ? &m_game.teamB : nullptr;
    if (subject != nullptr && !subject->joined) {
        subject->joined = true;
        bool both = m_game.teamA.joined && m_game.teamB.joined;
        JournalEntry entry = Entry("join").Int("subject", team).Int("round", both ? 1 : 0);
        Journal(entry);
        if (both) m_game.AskBoth(entry.GetInt("t"));
    }
    if (!m_game.teamA.joined || !m_game.teamB.joined) {
        Reply(Tr("Waiting for the other player to join..."), piSession, piImSession);
        return;
    }
    Post(3, Tr("Both players are here! Let's now begin out game!"), piSession, piImSession);
    ++m_game.round;
    Post(3, FormatText(Tr("This is round %i."), m_game.round.load()), piSession, piImSession);
    Post(3, Tr("How much do you think your partner will invest?"), piSession, piImSession);
}

void CBotClient::HandleAnswerMsg(IWexSession* piSession, IWexImSession* piImSession) {
    m_transcript.LogRecv(FindUsernameSlot(m_game.sender), m_game.text, m_game.sender);
    if (ExtendDeadline(piSession, piImSession)) return;
    int32_t value = 0;
    if (!ParseAnswer(m_game.text, &value)) {
        Reply(Tr("Invalid input, please enter an integer from 0 to 60."), piSession, piImSession);
        return;
    }
    if (value > kMaxAnswer) {
        Reply(FormatText(Tr("Valid values are from 0 to 60 credits. You entered: %i"), value),
              piSession, piImSession);
        return;
    }
    TakeAnswer(value, AnswerSource::kSubject, piSession, piImSession);
}

void CBotClient::TakeAnswer(int32_t value, AnswerSource source, IWexSession* piSession,
                            IWexImSession* piImSession) {
    RecordAnswer(value, source, piSession, piImSession);
    if (m_game.teamA.investment == -1 || m_game.teamB.investment == -1) return;
    CloseRound(piSession, piImSession);
}

// The closed round's entry: its earnings, bonus and totals, and whether a
// break follows; the rounds file's rows come from it.
int64_t CBotClient::JournalRoundClosed(bool bonusRound, bool breakFollows) {
    int32_t round = m_game.round;
    size_t index = static_cast<size_t>(round - 1);
    JournalEntry entry = Entry("close");
    entry.Int("round", round)
        .Real("divisor", MarketDivisor(m_game.params, round))
        .Real("earnings_1", m_game.teamA.roundEarnings.at(index))
        .Real("earnings_2", m_game.teamB.roundEarnings.at(index));
    if (bonusRound) {
        Bonus bonus = RichGetRicherBonus(m_game.teamA.roundEarnings, m_game.teamB.roundEarnings,
                                         round, m_game.params.conversationInterval);
        entry.Real("bonus_1", bonus.teamA).Real("bonus_2", bonus.teamB);
    }
    entry.Real("total_1", m_game.teamA.totalCredits)
        .Real("total_2", m_game.teamB.totalCredits)
        .Bool("break", breakFollows);
    Journal(entry);
    return entry.GetInt("t");
}

// Both investments are in: earnings, the bonus when due, and the next round.
void CBotClient::CloseRound(IWexSession* piSession, IWexImSession* piImSession) {
    ComputeRoundEarnings(piSession, piImSession);
    int32_t round = m_game.round;
    bool bonusRound = IsBonusRound(round, m_game.params.conversationInterval);
    bool breakFollows = bonusRound && round < m_game.params.nRounds;
    if (bonusRound) {
        Post(3, Tr("It's time to pay out the bonuses!"), piSession, piImSession);
        PayRichGetRicherBonus(piSession, piImSession);
    }
    int64_t closed = JournalRoundClosed(bonusRound, breakFollows);
    if (breakFollows) StartBreak(piSession, piImSession);
    ++m_game.round;
    for (SubjectRecord* team : {&m_game.teamA, &m_game.teamB}) {
        team->expectation = -1;
        team->investment = -1;
        team->expectationSource = AnswerSource::kSubject;
        team->investmentSource = AnswerSource::kSubject;
    }
    if (m_game.round > m_game.params.nRounds) m_game.gameOver = true;
    m_game.AskBoth(breakFollows || m_game.gameOver ? 0 : closed);
    if (m_game.breakRunning || m_game.gameOver) return;
    PostRoundPrompt(piSession, piImSession);
}
