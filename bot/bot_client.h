// The one bot object: receives the session's events and owns all session,
// routing, game and transcript state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bot/flood_guard.h"
#include "game/game_recorder.h"
#include "game/game_state.h"
#include "messaging/account_settings.h"
#include "messaging/catalogue.h"
#include "messaging/property_file.h"
#include "messaging/transcript.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "wexcore/events.h"
#include "wexcore/interfaces.h"

class CClientPrefs;

class CBotClient final : public WexRefCounted<IWexDispatch> {
public:
    CBotClient();

    // The automation face.
    HRESULT QueryInterface(WexIid iid, void** ppv) override;
    HRESULT GetTypeInfoCount(uint32_t* count) override;
    HRESULT GetTypeInfo(uint32_t index, void** info) override;
    HRESULT GetIDsOfNames(const char16_t** names, uint32_t count, int32_t* ids) override;
    HRESULT Invoke(int32_t dispId, const WexVariant* args, uint32_t argCount) override;

    // Loads the settings, starts the worker thread and signs on.
    HRESULT Run(const PropertyFile& config);

    // One handler per event of the session's event interface.
#define WEX_DECLARE_HANDLER(id, name, argc) void name(const WexVariant* args);
    WEX_SESSION_EVENTS(WEX_DECLARE_HANDLER)
#undef WEX_DECLARE_HANDLER

    // The handlers that act, with their arguments unpacked.
    void OnStateChange(IWexSession* piSession, int32_t state, HRESULT hr);
    void OnRequest(IWexSession* piSession, IWexRequest* piRequest, int32_t requestState);
    void OnImReceived(IWexSession* piSession, IWexImSession* piImSession,
                      IWexParticipant* piParticipant, IWexIm* piIm);

    // Sign-on and the event connection.
    HRESULT Login();
    HRESULT AttachEvents(IWexSession* piSession);
    HRESULT DetachEvents(IWexSession* piSession);
    // Ends every event connection, so that nothing but its owner holds the
    // bot; called on every way out of a run.
    void DetachFromAllSessions();

    // Game parameters and storage.
    bool ReadGameParameters(const PropertyFile& config);
    bool PrepareRoundStorage(int32_t nRounds);

    // Outgoing messages. Recipient codes: 0 the sender of the message being
    // handled, 1 subject 1, 2 subject 2, 3 both subjects.
    HRESULT PostMsg(int32_t recipient, WEXSTR text, IWexSession* piSession,
                    IWexImSession* piImSession);
    HRESULT AppendMsg(WEXSTR name, WEXSTR text);
    HRESULT SendMsg(int32_t recipient, WEXSTR text, IWexSession* piSession,
                    IWexImSession* piImSession);
    HRESULT SendAdminMsg(WEXSTR text, IWexSession* piSession);
    // A new message carrying the subject's game element; ended overrides
    // how the game ended (game/game_element.h). Empty without a session.
    WexPtr<IWexIm> MakeGameIm(int32_t subject, const std::string& ended);
    // Sends one subject text with its game element; ended as in MakeGameIm.
    // False when no message could be made.
    bool SendToSubject(int32_t subject, WEXSTR text, IWexSession* piSession,
                       const std::string& ended);
    // The game element alone, without a text, to a joined subject.
    void SendGameOnly(int32_t subject, const std::string& ended);
    // Sets or clears what a stop signal sends the subject.
    void UpdateFarewell(int32_t subject);
    HRESULT SendMsgCheckRateLimit(WEXSTR team, IWexSession* piSession,
                                  WexPtr<IWexImSession>* piImSession, IWexIm* spiResponse);

    // The game's handling of incoming messages.
    void HandlePlayerMsg(IWexSession* piSession, IWexImSession* piImSession);
    void HandleGameMsg(IWexSession* piSession, IWexImSession* piImSession);
    void HandleJoinMsg(IWexSession* piSession, IWexImSession* piImSession);
    void HandleAnswerMsg(IWexSession* piSession, IWexImSession* piImSession);
    void HandleModeratorMsg(IWexSession* piSession, IWexImSession* piImSession);
    void HandleChatMsg(IWexSession* piSession, IWexImSession* piImSession);
    // The moderator's ?: where the game stands, in one message.
    void ReportStatus(IWexSession* piSession, IWexImSession* piImSession);
    std::string StatusText();
    // A subject's client went offline (online 0) or came back (1); again 1:
    // it was online and a client of it announced itself anew.
    void OnPresence(IWexSession* piSession, IWexParticipant* piParticipant, int32_t online,
                    int32_t again);
    void ReplyToSender(WEXSTR sender, WEXSTR text, IWexSession* piSession,
                       IWexImSession* piImSession);
    void ComputeRoundEarnings(IWexSession* piSession, IWexImSession* piImSession);
    void PayRichGetRicherBonus(IWexSession* piSession, IWexImSession* piImSession);
    void ReportPayouts(IWexSession* piSession, IWexImSession* piImSession);
    void StartBreak(IWexSession* piSession, IWexImSession* piImSession);

    // Body of the worker thread; answerTimeout: AnswerTimeout is on;
    // dropouts: DropoutAfter is.
    static uint32_t BreakTimerLoop(CBotClient* bot, bool answerTimeout, bool dropouts);
    // Runs body as the worker does: an exception leaving it ends the
    // session with its code, as one leaving an event handler does.
    static void RunWorkerBody(const std::function<void()>& body);

    // Read access for tests.
    const GameState& Game() const {
        return m_game;
    }

private:
    ~CBotClient() override;
    // Posts a text (UTF-8) through the game state's reply handle.
    void Post(int32_t recipient, const std::string& text, IWexSession* piSession,
              IWexImSession* piImSession);
    // Replies to the sender of the message being handled.
    void Reply(const std::string& text, IWexSession* piSession, IWexImSession* piImSession);
    // Prompts both subjects for the current round.
    void PostRoundPrompt(IWexSession* piSession, IWexImSession* piImSession);
    void CloseRound(IWexSession* piSession, IWexImSession* piImSession);
    // The game is past its last round, or the moderator ended it: answers
    // are ignored.
    bool AnswersEnded() const;
    // Reads MaxMessageBytes; false, with a reason on standard error, for a
    // bad value.
    bool ReadMessageLimit(const PropertyFile& config);
    // A message above MaxMessageBytes: records it cut short, asks the
    // sender for a shorter one and returns true. Otherwise false.
    bool RefuseOverlongMsg(IWexSession* piSession, IWexImSession* piImSession);
    // Reads Language and loads its catalogue; false, with a reason on
    // standard error, for a language without one.
    bool ReadLanguage(const PropertyFile& config);
    // A text for a subject or the moderator in the session's language.
    const char* Tr(const char* msgid) const __attribute__((format_arg(2))) {
        return m_texts.Tr(msgid);
    }
    const char* TrN(const char* singular, const char* plural, unsigned long n) const
        __attribute__((format_arg(2))) __attribute__((format_arg(3))) {
        return m_texts.TrN(singular, plural, n);
    }
    // Journal entries of the game's changes (game/game_record.h lists
    // them), each on disk before the bot answers.
    JournalEntry Entry(const char* kind) const;
    void Journal(const JournalEntry& entry) {
        m_recorder.Record(entry);
    }
    void JournalAnswer(int32_t team, const char* what, int32_t value, AnswerSource source);
    // Returns the entry's time.
    int64_t JournalRoundClosed(bool bonusRound, bool breakFollows);
    void JournalBreakEnd(const char* how);
    // Takes value as the sender's next answer, with the replies and the
    // round's close it brings; source says who gave it.
    void TakeAnswer(int32_t value, AnswerSource source, IWexSession* piSession,
                    IWexImSession* piImSession);
    void RecordAnswer(int32_t value, AnswerSource source, IWexSession* piSession,
                      IWexImSession* piImSession);
    // A subject's "more time" under a deadline it may extend: the deadline
    // moves and the subject is told; false when the text is not that.
    bool ExtendDeadline(IWexSession* piSession, IWexImSession* piImSession);
    // The answer timeout (game/answer_timeout.cc).
    bool ReadAnswerTimeout(const PropertyFile& config);
    void CheckAnswerTimeouts();
    void CheckAnswerTimeout(int32_t subject, int64_t now);
    void TakeTimedOutAnswer(int32_t subject, int32_t value);
    // Dropouts and the stand-in (game/dropout.cc).
    bool ReadDropout(const PropertyFile& config);
    // The worker, every second with DropoutAfter on: a joined subject
    // offline that long while the game runs drops out.
    void CheckDropouts();
    // With DropoutAfter on: the bot's own connection is up (online) or not.
    void NoteSignedOn(bool online);
    void DropOut(int32_t subject);
    // The stand-in gives every answer a replaced subject owes now; what
    // its answers bring leaves for the partner.
    void LetStandInsPlay(IWexSession* piSession);
    void PlayStandIns(IWexSession* piSession);
    int32_t StandInAnswer(int32_t subject) const;
    // Tells a replaced subject, once, that a stand-in played for it.
    void TellReplaced(int32_t subject, IWexSession* piSession);
    // Some subject has a stand-in playing for it.
    bool AnyReplaced() const {
        return m_game.teamA.replaced || m_game.teamB.replaced;
    }
    // Ends the game at once, as the moderator's p does, before its report.
    void StopToPay();
    // With Resume, takes up the game of an earlier run's journal; refuses
    // start-up when it can't. Without it, does nothing.
    HRESULT ResumeRecord(const PropertyFile& config);
    // Starts the journal and data files of a new game beside the transcript.
    HRESULT StartRecord();
    JournalEntry ConfigurationEntry() const;
    void TakeUpMessageCounts();
    void JournalMessageCounts();
    // A resumed game: the rebuilt game becomes the game state.
    void TakeUpSavedGame();
    // Once online after a resume: tells each subject where the game stands
    // (or makes the final report that the interruption held back).
    void ContinueResumedGame();
    void Broadcast(IWexSession* piSession, IWexImSession* piImSession);
    // The subject owes an answer that the bot waits for: the game asks,
    // no break runs, and no resume has yet to tell the subjects.
    bool WaitsForAnswer(int32_t subject) const;
    // Sends the subject the round and the question it owes once more.
    void AskAgain(int32_t subject, IWexSession* piSession);
    // The moderator's p: the game ends and the final report is made now.
    void PayNow(IWexSession* piSession, IWexImSession* piImSession);
    // Presence (bot/presence.cc): tells the moderator of a change at once,
    // and asks again when the subject is back owing an answer.
    void TellPresence(int32_t subject, bool changed, bool back, IWexSession* piSession);
    // With PresenceSettle on: counts the change in the subject's window,
    // opening one if none is.
    void HoldPresence(int32_t subject, int32_t was, bool changed, bool back);
    // The moderator's notice of a subject's presence: changed to online or
    // offline, or still in that state.
    std::string PresenceNotice(int32_t subject, bool online, bool changed) const;
    // The worker, under gameLock: ends every window that is due, telling
    // what settled once.
    void SettlePresence();
    void SettleSubject(int32_t subject);
    // The earliest due window of the two, 0 for none; gameLock held.
    int64_t EarliestSettle() const;
    // The worker's next wake: the tick, or an earlier presence window's end.
    int64_t NextWake(int64_t tick) const;
    // Wakes the worker to look at its next deadline again.
    void PokeWorker();
    // The worker's checks of a running break at one tick.
    void CheckBreak();
    // The team that FindUsernameSlot gives a screen name: 1 or 2, else 0.
    int32_t TeamOf(WEXSTR name);
    // The subject whose configured name the library finds equal to name:
    // 1 or 2, else 0.
    int32_t SubjectOf(WEXSTR name);
    // The moderator's name, or the desk's (DeskName) when one is set.
    bool IsModerator(WEXSTR name) const;
    // False for a stranger already answered within the last minute.
    bool MayReplyToSender();
    // Calls the acting handler of an event; the others need nothing.
    void Act(int32_t event, const WexVariant* args);
    // Refuses start-up with a reason on standard error.
    HRESULT RefuseStartUp(const std::string& reason);
    HRESULT PrepareMessagingService(const PropertyFile& config);
    HRESULT LogInitLines();
    void StartWorker();
    void StopWorker();
    // Sleeps until deadline (platform::NowMs) or a poke; false when the
    // bot is shutting down.
    bool WorkerSleepUntil(int64_t deadline);

    struct EventConnection {
        IWexSession* source;
        uint32_t cookie;
    };
    std::vector<EventConnection> m_connections;
    WexPtr<IWexSession> m_spiSession;
    std::string m_service;
    AccountSettings m_account;
    WexPtr<CClientPrefs> m_spPrefs;
    GameState m_game;

    // Routing and sending.
    WexPtr<IWexImSession> imAdminSession;
    WexPtr<IWexImSession> imTeamASession;
    WexPtr<IWexImSession> imTeamBSession;
    CWexBstr teamABuffer;
    CWexBstr teamBBuffer;
    // Serialises every rate-limited send and guards the IM session members,
    // which both threads use.
    platform::Mutex sendLock{"sendLock"};
    // Held by the event thread while it handles an event, and by the worker
    // while it takes a timed-out answer: the game's plain fields, the reply
    // buffers and m_game.sender/text/reply are theirs only under it. Taken
    // before sendLock, logLock or the recorder lock, never while holding one.
    platform::Mutex gameLock{"gameLock"};

    size_t m_maxMessageBytes = 0;  // MaxMessageBytes, set at start-up
    Catalogue m_texts;             // Language's texts, loaded at start-up
    Transcript m_transcript;
    FloodGuard m_flood;
    GameRecorder m_recorder;
    bool m_resumed = false;
    bool m_resumePending = false;  // subjects not yet told after a resume

    // The worker thread and what stops it at shutdown.
    platform::Thread m_worker{"worker"};
    platform::Mutex m_workerMu{"m_workerMu"};
    platform::Signal m_workerWake;
    bool m_shuttingDown = false;
    bool m_workerPoked = false;
    // The earliest open presence window's end (platform::NowMs), 0 for
    // none: written under gameLock, read by the worker to wake in time.
    std::atomic<int64_t> m_presenceDueMs{0};
    // The bot is signed on (with DropoutAfter on only); under gameLock.
    bool m_signedOn = false;
};
