// A round's earnings from the market model.
#include "bot/bot_client.h"
#include "game/game_rules.h"
#include "platform/format_text.h"

using platform::FormatText;

void CBotClient::ComputeRoundEarnings(IWexSession* piSession, IWexImSession* piImSession) {
    int32_t round = m_game.round;
    RoundEarnings earnings =
        ComputeEarnings(m_game.params, round, m_game.teamA.investment, m_game.teamB.investment);
    size_t index = static_cast<size_t>(round - 1);
    m_game.teamA.roundEarnings.at(index) = earnings.teamA;
    m_game.teamB.roundEarnings.at(index) = earnings.teamB;
    m_game.teamA.totalCredits += earnings.teamA;
    m_game.teamB.totalCredits += earnings.teamB;
    Post(1, FormatText(Tr("Round %i Earnings: %3.2f"), round, earnings.teamA), piSession,
         piImSession);
    Post(2, FormatText(Tr("Round %i Earnings: %3.2f"), round, earnings.teamB), piSession,
         piImSession);
    Post(3,
         FormatText(Tr("Rounds until next bonus: %i"),
                    RoundsUntilNextBonus(round, m_game.params.conversationInterval)),
         piSession, piImSession);
}
