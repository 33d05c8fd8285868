// The game's state, one model for the live game, the journal's record and
// resume: GameRecord is what the journal's entries build up (ApplyEntry in
// game/game_record.cc); GameState is the live game, a GameRecord with the
// fields only a running bot has beside it. A resumed bot takes the record
// up by assigning it to the live game's GameRecord, so a field added to the
// record reaches all three.
//
// Fields that the worker thread reads or writes are atomic; the rest belong
// to the event thread alone. The game has no lock of its own: sendLock
// guards the IM sessions both threads send on.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "wexcore/wex_string.h"

// The configured settings of the game.
struct GameParameters {
    int32_t nRounds = 0;
    int32_t conversationInterval = 0;
    double marketBase = 0.0;
    double marketNoiseScale = 0.0;
    std::vector<double> marketNoise{0.0};
    std::vector<double> bonusMarketRGR{0.0};
    std::vector<double> bonusMarketGW{0.0};
    int32_t maxChatTime = 0;
    int32_t maxChatIdle = 0;
    // The lab's pay rule: dollars a credit, and the payout's bounds.
    double creditValue = 0.0075;
    double minPayout = 10.0;
    double maxPayout = 25.0;
    // AnswerTimeout: seconds a subject may owe an answer before one is
    // taken for it; 0 = never. TimeoutAnswer: the answer taken, or
    // kLastAnswer for the subject's own previous answer of that kind.
    int32_t answerTimeout = 0;
    int32_t timeoutAnswer = -1;
    static constexpr int32_t kLastAnswer = -1;
    // TimeoutExtend: seconds a subject may add once to a deadline by
    // writing "more time"; 0 = never.
    int32_t timeoutExtend = 0;
    // DropoutAfter: seconds a joined subject may be offline while the game
    // runs before it is a dropout; 0 = never. Dropout: a stand-in plays
    // for the dropout (dropoutPay false) or the pair is paid at once.
    // StandIn: the stand-in's answer, or kLastAnswer for the subject's own
    // last one of that kind (kMiddleAnswer when it has none).
    int32_t dropoutAfter = 0;
    bool dropoutPay = false;
    int32_t standIn = -1;
    static constexpr int32_t kMiddleAnswer = 30;
};

// Who gave an answer: the subject, the answer timeout, or the stand-in
// that plays for a subject who dropped out.
enum class AnswerSource { kSubject, kTimeout, kRobot };

// The name the journal and the data files give a source.
inline const char* SourceName(AnswerSource source) {
    switch (source) {
        case AnswerSource::kTimeout:
            return "timeout";
        case AnswerSource::kRobot:
            return "robot";
        case AnswerSource::kSubject:
            break;
    }
    return "subject";
}

// A field the worker thread reads: atomic, yet copied with the record it
// belongs to (a copy loads and stores; it is not one atomic step).
template <typename T>
class Shared : public std::atomic<T> {
public:
    Shared(T value = T()) : std::atomic<T>(value) {}
    Shared(const Shared& other) : std::atomic<T>(other.load()) {}
    Shared& operator=(const Shared& other) {
        this->store(other.load());
        return *this;
    }
    using std::atomic<T>::operator=;
};

// One subject (team A is subject 1, team B subject 2) as the journal
// records it.
struct SubjectRecord {
    std::string name;             // from the start entry; empty in a new live game
    Shared<bool> joined{false};   // read by the worker's sends
    int32_t expectation = -1;     // this round's; -1 = not given yet
    int32_t investment = -1;      // this round's; -1 = not given yet
    int64_t expectationTime = 0;  // seconds since 1970 when given
    int64_t investmentTime = 0;
    AnswerSource expectationSource = AnswerSource::kSubject;
    AnswerSource investmentSource = AnswerSource::kSubject;
    // Seconds since 1970 when the answer it owes was asked for; 0 when it
    // owes none (joining, a break, its round answered, the end).
    Shared<int64_t> askedTime{0};
    double totalCredits = 0.0;
    std::vector<int32_t> expectations;  // entry r - 1 for round r
    std::vector<int32_t> investments;   // entry r - 1 for round r
    std::vector<double> roundEarnings;  // entry r - 1 for round r
    Shared<bool> done{false};           // said "done" in the running break
    // Seconds since 1970 of its last message (the journal's last received,
    // join or chat entry of it); 0 = none.
    int64_t lastMessageTime = 0;
    // The deadline the subject extended ("more time"): its round and kind
    // (1 expectation, 2 investment; 0 none) and the seconds added.
    int32_t extendedRound = 0;
    int32_t extendedKind = 0;
    int32_t extendedSeconds = 0;
    // A dropout (DropoutAfter): the round it happened in (0: none), and the
    // credits and payout it froze. replaced: a stand-in plays for it (read
    // by the worker's sends, which skip it); replacedTold: it came back and
    // was told so.
    int32_t dropoutRound = 0;
    double dropoutCredits = 0.0;
    double dropoutPayout = 0.0;
    Shared<bool> replaced{false};
    bool replacedTold = false;

    // The credits the final report gives it: frozen at the dropout for a
    // subject a stand-in played for.
    double ReportedCredits() const { return replaced ? dropoutCredits : totalCredits; }
};

// The game as the journal records it.
struct GameRecord {
    std::string botName;  // from the start entry, as the subjects' names
    std::string moderatorName;
    GameParameters params;     // read-only once the game runs
    Shared<int32_t> round{0};  // 0 while joining; nRounds + 1 once all closed
    Shared<bool> breakRunning{false};
    Shared<bool> stopped{false};   // the moderator ended the game (e, or p)
    Shared<bool> reported{false};  // the final report was made
    SubjectRecord teamA;
    SubjectRecord teamB;
    // The messages the transcript counted, by slot, for the moderator's
    // report; countsMessages is false for a journal of a bot that did not
    // record them.
    int64_t sent[4] = {};
    int64_t received[4] = {};
    bool countsMessages = false;

    SubjectRecord& Subject(int subject) { return subject == 2 ? teamB : teamA; }
    const SubjectRecord& Subject(int subject) const { return subject == 2 ? teamB : teamA; }
    // Both subjects are asked for the round's first answer at t.
    void AskBoth(int64_t t) {
        teamA.askedTime = t;
        teamB.askedTime = t;
    }
    // Every round has been closed.
    bool AllRoundsClosed() const { return round > params.nRounds; }
};

// What only the running bot knows of a subject; not journaled.
struct SubjectLive {
    int32_t online = -1;  // its client: 1 online, 0 offline, -1 not known yet
    // The askedTime for which the answer timeout reminded the subject, and
    // told the moderator that no earlier answer could be taken.
    int64_t remindedFor = 0;
    int64_t waitToldFor = 0;
    // The presence window (PresenceSettle) open since the first change
    // after a settled state; settleDueMs 0: none open. settleFrom is the
    // state told before it, settleChanges the changes in it, settleBack
    // that the client came back or announced itself anew in it.
    int64_t settleStartMs = 0;
    int64_t settleDueMs = 0;
    int32_t settleFrom = 0;
    int32_t settleChanges = 0;
    bool settleBack = false;
    // platform::NowMs since when its client has been offline while the game
    // runs; 0 when online or not known.
    int64_t offlineSinceMs = 0;
};

// The live game: the record, and what only a running bot has.
struct GameState : GameRecord {
    CWexBstr sender;  // screen name of the message being handled
    CWexBstr text;    // its plain text
    CWexBstr reply;   // the text being posted
    // The answers are over: the final report is due or made (every round
    // closed, or the moderator's p). Atomic, as done and reported: the
    // worker's sends in a break read them for the game element.
    Shared<bool> gameOver{false};
    std::atomic<int64_t> breakStartTime{0};  // seconds since 1970
    std::atomic<int64_t> lastChatTime{0};
    SubjectLive liveA;
    SubjectLive liveB;

    GameRecord& Record() { return *this; }
    SubjectLive& Live(int subject) { return subject == 2 ? liveB : liveA; }
    const SubjectLive& Live(int subject) const { return subject == 2 ? liveB : liveA; }
};
