// Recording a subject's expectation and investment.
#include "bot/bot_client.h"
#include "platform/clock.h"
#include "platform/format_text.h"

using platform::FormatText;

void CBotClient::JournalAnswer(int32_t team, const char* what, int32_t value, AnswerSource source) {
    JournalEntry entry = Entry("answer")
                             .Int("subject", team)
                             .Text("what", what)
                             .Int("value", value)
                             .Int("round", m_game.round);
    // Only an answer the subject did not give says where it came from.
    if (source != AnswerSource::kSubject) entry.Text("source", SourceName(source));
    Journal(entry);
}

void CBotClient::RecordAnswer(int32_t value, AnswerSource source, IWexSession* piSession,
                              IWexImSession* piImSession) {
    int32_t team = SubjectOf(m_game.sender);
    if (team == 0) {
        Reply(Tr("I don't know who you are."), piSession, piImSession);
        return;
    }
    SubjectRecord& subject = team == 1 ? m_game.teamA : m_game.teamB;
    size_t index = static_cast<size_t>(m_game.round - 1);
    if (subject.expectation == -1) {
        subject.expectation = value;
        subject.expectations.at(index) = value;
        subject.expectationTime = platform::NowSeconds();
        subject.expectationSource = source;
        subject.askedTime = subject.expectationTime;  // for the investment
        JournalAnswer(team, "expectation", value, source);
        Reply(FormatText(Tr("You expect your partner to invest: %i"), value), piSession,
              piImSession);
        Reply(Tr("Now please tell me, how much would you like to invest?"), piSession, piImSession);
    } else if (subject.investment == -1) {
        subject.investment = value;
        subject.investments.at(index) = value;
        subject.investmentTime = platform::NowSeconds();
        subject.investmentSource = source;
        subject.askedTime = 0;
        JournalAnswer(team, "investment", value, source);
        Reply(FormatText(Tr("You invest: %i"), value), piSession, piImSession);
    } else {
        Reply(Tr("Your partner has not completed his/her investment. Please wait for the next "
                 "round to start."),
              piSession, piImSession);
    }
}
