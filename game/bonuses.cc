// The "Rich get Richer" bonus and the final report to the moderator.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_element.h"
#include "game/game_rules.h"
#include "messaging/username_slots.h"
#include "platform/format_text.h"

using platform::FormatText;

void CBotClient::PayRichGetRicherBonus(IWexSession* piSession, IWexImSession* piImSession) {
    Bonus bonus = RichGetRicherBonus(m_game.teamA.roundEarnings, m_game.teamB.roundEarnings,
                                     m_game.round, m_game.params.conversationInterval);
    m_game.teamA.totalCredits += bonus.teamA;
    m_game.teamB.totalCredits += bonus.teamB;
    Post(1, FormatText(Tr("Rich get Richer: %3.2f"), bonus.teamA), piSession, piImSession);
    Post(2, FormatText(Tr("Rich get Richer: %3.2f"), bonus.teamB), piSession, piImSession);
}

void CBotClient::ReportPayouts(IWexSession* piSession, IWexImSession* piImSession) {
    // The answer that closed the last round was logged when it arrived; it
    // is not logged again, so the moderator's counts are the subjects' own.
    Post(3,
         Tr("The investment market has closed for the day, and we will now stop the game. Thank "
            "you for taking part!"),
         piSession, piImSession);
    // Subject 1's payout is held in single precision, as it always was:
    // earlier sessions were paid from figures rounded that way, and the
    // report must give the same cents for the same credits. A subject a
    // stand-in played for is paid what it had at its dropout.
    double payoutA = ReportedPayout(m_game, SLOT_SUBJECT1);
    double payoutB = ReportedPayout(m_game, SLOT_SUBJECT2);
    // On disk, with payouts.csv, before the moderator hears of it.
    Journal(Entry("report").Real("payout_1", payoutA).Real("payout_2", payoutB));
    m_game.reported = true;
    const char* line = Tr("%s total credits earned: %3.2f, Total payout: $%3.2f");
    SendAdminMsg(MakeBstr(FormatText(line, SlotName(SLOT_SUBJECT1), m_game.teamA.ReportedCredits(),
                                     payoutA)),
                 piSession);
    SendAdminMsg(MakeBstr(FormatText(line, SlotName(SLOT_SUBJECT2), m_game.teamB.ReportedCredits(),
                                     payoutB)),
                 piSession);
    for (int32_t subject : {1, 2}) {
        const SubjectRecord& s = m_game.Subject(subject);
        if (!s.replaced) continue;
        SendAdminMsg(MakeBstr(FormatText(Tr("%s was replaced by a stand-in in round %i and is "
                                            "paid as at that time."),
                                         SlotName(subject), s.dropoutRound)),
                     piSession);
    }
    SendAdminMsg(MakeBstr(m_transcript.Stats().Report(m_texts)), piSession);
}
