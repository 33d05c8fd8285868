// The moderator's one-letter commands: s hurries the subjects, e ends the
// game, n ends a break and prompts for the round, b broadcasts a text, ?
// asks where the game stands, p ends the game and pays at once.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "wexcore/utf8.h"

void CBotClient::HandleModeratorMsg(IWexSession* piSession, IWexImSession* piImSession) {
    if (StrLength(m_game.text) == 0) return;
    switch (CharAt(m_game.text, 0)) {
        case u's':
            Post(3, Tr("I am on a tight schedule! Please send me your decision!"), piSession,
                 piImSession);
            Reply(Tr("okay, sent speed up message."), piSession, piImSession);
            break;
        case u'e': {
            // The subjects get no text; their seats learn of the end from
            // the element alone, once.
            bool tell = !m_game.stopped && !m_game.reported;
            if (!m_game.stopped) Journal(Entry("stop").Int("round", m_game.round));
            m_game.stopped = true;
            Reply(Tr("Okay, Ending Game"), piSession, piImSession);
            if (tell) {
                for (int32_t subject : {1, 2}) {
                    SendGameOnly(subject, "");
                    UpdateFarewell(subject);
                }
            }
            break;
        }
        case u'n': {
            bool running = true;
            if (m_game.breakRunning.compare_exchange_strong(running, false)) {
                JournalBreakEnd("moderator");
            }
            PostRoundPrompt(piSession, piImSession);
            break;
        }
        case u'b':
            Broadcast(piSession, piImSession);
            break;
        case u'?':
            ReportStatus(piSession, piImSession);
            break;
        case u'p':
            PayNow(piSession, piImSession);
            break;
        default:
            break;
    }
}

// Sends both subjects the text after "b" and the character that follows it.
void CBotClient::Broadcast(IWexSession* piSession, IWexImSession* piImSession) {
    std::string text;
    if (Failed(ToNarrow(text, m_game.text))) {
        Reply(Tr("Error broadcasting message: could not convert from CWexBstr to string."),
              piSession, piImSession);
        return;
    }
    // Skip whole characters, so a multi-byte character is never cut.
    size_t skip = 1;
    if (skip < text.size()) {
        char32_t code = 0;
        size_t length = wexcore::DecodeUtf8(text, skip, &code);
        skip += length == 0 ? 1 : length;
    }
    if (skip >= text.size()) {
        // TRANSLATORS: 'b' is the command the moderator types; keep it.
        Reply(Tr("Received 'b' command with no broadcast message after it. Type 'b message', "
                 "where 'message' is whatever you would like to broadcast."),
              piSession, piImSession);
        return;
    }
    Post(3, text.substr(skip), piSession, piImSession);
    Reply(Tr("Message was broadcast."), piSession, piImSession);
}

// Ends the game as e does and makes the final report on the credits so far,
// for a pair that can't finish (a subject who left, a session out of time).
void CBotClient::PayNow(IWexSession* piSession, IWexImSession* piImSession) {
    if (m_game.gameOver) {
        Reply(Tr("The final report has been made already."), piSession, piImSession);
        return;
    }
    StopToPay();
    Reply(Tr("Okay, Ending Game and paying out now"), piSession, piImSession);
    ReportPayouts(piSession, piImSession);
}

void CBotClient::StopToPay() {
    if (!m_game.stopped) Journal(Entry("stop").Int("round", m_game.round));
    m_game.stopped = true;
    bool running = true;
    if (m_game.breakRunning.compare_exchange_strong(running, false)) {
        JournalBreakEnd("pay");
    }
    m_game.gameOver = true;
}
