// Asking again: a subject's client that comes back, or announces itself
// anew, while the bot waits for that subject's answer may have lost the
// question with its old connection (a server node that died takes along
// what it had not yet written out), or the answer may have been lost on
// the way. So the bot sends the round and the question once more. Nothing
// of the game changes: an answer is taken once, when it comes.
#include "bot/bot_client.h"
#include "game/game_rules.h"
#include "platform/format_text.h"

bool CBotClient::WaitsForAnswer(int32_t subject) const {
    const SubjectRecord& team = m_game.Subject(subject);
    if (m_resumePending || !team.joined || m_game.round < 1 || m_game.gameOver ||
        m_game.breakRunning || AnswersEnded()) {
        return false;
    }
    return OwedQuestion(team) != nullptr;
}

void CBotClient::AskAgain(int32_t subject, IWexSession* piSession) {
    teamABuffer.Reset();
    teamBBuffer.Reset();
    Post(subject, platform::FormatText(Tr("Current round: %i"), m_game.round.load()), piSession,
         nullptr);
    Post(subject, Tr(OwedQuestion(m_game.Subject(subject))), piSession, nullptr);
    SendMsg(subject, subject == 1 ? teamABuffer : teamBBuffer, piSession, nullptr);
}
