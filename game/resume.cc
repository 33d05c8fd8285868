// The game's record at start-up: the journal and data files of a new game,
// or, with Resume, the game of an interrupted run taken up where it stood.
#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_rules.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/format_text.h"

using platform::FormatText;

namespace {

// What a subject still owes in the current round, or that it owes nothing.
const char* OwedText(const SubjectRecord& team) {
    const char* question = OwedQuestion(team);
    if (question != nullptr) return question;
    return N_(
        "Your partner has not completed his/her investment. Please wait for the next round to "
        "start.");
}

}  // namespace

JournalEntry CBotClient::Entry(const char* kind) const {
    return JournalEntry(kind, platform::NowSeconds());
}

// The start entry: what a journal must match to be resumed here.
JournalEntry CBotClient::ConfigurationEntry() const {
    std::string names[SLOT_COUNT];
    for (int slot = 0; slot < SLOT_COUNT; ++slot) names[slot] = SlotName(slot);
    return StartEntry(platform::NowSeconds(), names, m_game.params);
}

HRESULT CBotClient::StartRecord() {
    // The files share the transcript's name: BASE_YYYYMMDD_HHMMSS.
    std::string base = m_transcript.LogPath();
    base.resize(base.size() - 4);  // without ".log"
    std::string error;
    if (!m_recorder.StartNew(base, ConfigurationEntry(), &error)) return RefuseStartUp(error);
    return S_OK;
}

HRESULT CBotClient::ResumeRecord(const PropertyFile& config) {
    CWexBstr value;
    std::string journal;
    if (config.GetString("Resume", value) == S_OK) ToNarrow(journal, value);
    if (journal.empty()) return S_OK;
    std::string error;
    if (!m_recorder.Resume(journal, ConfigurationEntry(), &error)) {
        return RefuseStartUp("Resume: " + error);
    }
    m_transcript.ContinueLogFile(m_recorder.Base() + ".log");
    TakeUpMessageCounts();
    m_resumed = true;
    return S_OK;
}

// The report's counts go on from the journal's: a record of checksummed
// entries that no text a participant writes can add to. Only a journal
// without counts (an older bot's) has them read from the transcript.
void CBotClient::TakeUpMessageCounts() {
    const GameRecord& saved = m_recorder.Game();
    if (!saved.countsMessages) return m_transcript.CountEarlierLines();
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        m_transcript.Stats().SetCounts(slot, static_cast<size_t>(saved.sent[slot]),
                                       static_cast<size_t>(saved.received[slot]));
    }
}

// Each message the transcript counts is journaled, so that a resumed bot
// takes the counts up from the journal.
void CBotClient::JournalMessageCounts() {
    m_transcript.SetCountHook([this](int slot, bool sent) {
        Journal(Entry(sent ? "sent" : "received").Int("slot", slot));
    });
}

void CBotClient::TakeUpSavedGame() {
    GameRecord saved = m_recorder.Game();
    // A break that was running ends below; the worker never sees it run.
    bool breakWasRunning = saved.breakRunning;
    saved.breakRunning = false;
    // The configuration's, which the journal matched; the answer timeout's
    // keys are the configuration's alone.
    saved.params = m_game.params;
    m_game.Record() = saved;
    m_game.gameOver = saved.AllRoundsClosed();
    Journal(Entry("resume").Int("round", m_game.round));
    // A break that was running ends now, as the moderator's n would end it:
    // the subjects are prompted for the round once the bot is online.
    if (breakWasRunning) {
        JournalBreakEnd("resume");
    }
    m_resumePending = true;
}

void CBotClient::ContinueResumedGame() {
    m_resumePending = false;
    IWexSession* piSession = m_spiSession.get();
    teamABuffer.Reset();
    teamBBuffer.Reset();
    if (m_game.gameOver) {
        ReportPayouts(piSession, nullptr);
    } else {
        for (int32_t team : {1, 2}) {
            if (m_game.round < 1) {
                Post(team, Tr("Waiting for the other player to join..."), piSession, nullptr);
                continue;
            }
            Post(team, FormatText(Tr("Current round: %i"), m_game.round.load()), piSession,
                 nullptr);
            Post(team, Tr(OwedText(team == 1 ? m_game.teamA : m_game.teamB)), piSession, nullptr);
        }
    }
    // A subject who has not joined is sent nothing, nor one a stand-in
    // plays for, who goes on playing.
    if (StrLength(teamABuffer) > 0) SendMsg(1, teamABuffer, piSession, nullptr);
    if (StrLength(teamBBuffer) > 0) SendMsg(2, teamBBuffer, piSession, nullptr);
    if (AnyReplaced()) LetStandInsPlay(piSession);
}
