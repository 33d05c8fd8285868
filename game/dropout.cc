// Dropouts (DropoutAfter, Dropout, StandIn): a joined subject whose client
// has been offline DropoutAfter seconds while the game runs has dropped
// out. With Dropout robot a stand-in gives each answer that subject owes
// from then on, at once, and its payout stays the one at the dropout; the
// partner plays on. With Dropout pay the pair is paid at once, as by the
// moderator's p. The worker thread looks every second, under gameLock.
#include <algorithm>

#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "game/game_element.h"
#include "game/game_rules.h"
#include "messaging/config_values.h"
#include "messaging/username_slots.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/format_text.h"

using platform::FormatText;

bool CBotClient::ReadDropout(const PropertyFile& config) {
    GameParameters& p = m_game.params;
    const ConfigKey& after = ConfigKeyNamed("DropoutAfter");
    std::string fault = ReadSeconds(after, ValueOrDefault(config, after), &p.dropoutAfter);
    const ConfigKey& mode = ConfigKeyNamed("Dropout");
    std::string choice;
    if (fault.empty()) fault = ReadChoice(mode, ValueOrDefault(config, mode), &choice);
    const ConfigKey& standIn = ConfigKeyNamed("StandIn");
    std::string last;
    if (fault.empty()) {
        fault = ReadAnswer(standIn, ValueOrDefault(config, standIn), &last, &p.standIn);
    }
    if (!fault.empty()) {
        platform::PrintErrorLine("wexbot: " + fault);
        return false;
    }
    p.dropoutPay = choice == "pay";
    if (!last.empty()) p.standIn = GameParameters::kLastAnswer;
    return true;
}

void CBotClient::NoteSignedOn(bool online) {
    platform::MutexLock lock(gameLock);
    bool was = m_signedOn;
    m_signedOn = online;
    if (!online || was) return;
    // While the bot was away it saw no presence: a subject who came back
    // meanwhile is told of only now. Time offline counts again from here.
    int64_t now = platform::NowMs();
    for (int32_t subject : {1, 2}) {
        SubjectLive& live = m_game.Live(subject);
        if (live.offlineSinceMs != 0) live.offlineSinceMs = now;
    }
}

void CBotClient::CheckDropouts() {
    platform::MutexLock lock(gameLock);
    // After a resume the subjects' presence is learnt anew once online;
    // while the bot itself is not signed on it learns nothing.
    if (m_resumePending || !m_signedOn) return;
    int64_t now = platform::NowMs();
    int64_t limit = int64_t{m_game.params.dropoutAfter} * 1000;
    for (int32_t subject : {1, 2}) {
        SubjectLive& live = m_game.Live(subject);
        if (live.online != 0 || live.offlineSinceMs == 0) continue;
        // Time offline counts only while the game runs: from its first
        // round on, until it is over or stopped.
        if (m_game.round < 1) {
            live.offlineSinceMs = now;
            continue;
        }
        const SubjectRecord& s = m_game.Subject(subject);
        if (m_game.gameOver || m_game.stopped || m_game.AllRoundsClosed() || !s.joined ||
            s.dropoutRound != 0) {
            continue;
        }
        if (now - live.offlineSinceMs >= limit) DropOut(subject);
    }
    // A break that ended by time, on the worker, leaves the stand-in's
    // answers owed: it gives them here.
    if (AnyReplaced()) LetStandInsPlay(m_spiSession.get());
}

void CBotClient::DropOut(int32_t subject) {
    IWexSession* piSession = m_spiSession.get();
    SubjectRecord& s = m_game.Subject(subject);
    int32_t round = m_game.round;
    bool pay = m_game.params.dropoutPay;
    // The pay rule on the credits now; ReportedPayout keeps subject 1's
    // single precision.
    double credits = s.totalCredits;
    double payout = ReportedPayout(m_game, subject);
    Journal(Entry("dropout")
                .Int("subject", subject)
                .Int("round", round)
                .Text("mode", pay ? "pay" : "robot")
                .Real("credits", credits)
                .Real("payout", payout));
    s.dropoutRound = round;
    s.dropoutCredits = credits;
    s.dropoutPayout = payout;
    m_transcript.WriteLog(
        subject, "PRES",
        pay ? "dropped out; the pair is paid now" : "dropped out; a stand-in plays for it");
    SendAdminMsg(MakeBstr(FormatText(pay ? Tr("%s dropped out in round %i; the pair is paid now.")
                                         : Tr("%s dropped out in round %i; a stand-in plays for "
                                              "them."),
                                     SlotName(subject), round)),
                 piSession);
    teamABuffer.Reset();
    teamBBuffer.Reset();
    if (pay) {
        // The partner gets the usual end of a game paid now.
        StopToPay();
        ReportPayouts(piSession, nullptr);
    } else {
        s.replaced = true;
        UpdateFarewell(subject);
        int32_t partner = 3 - subject;
        if (!m_game.Subject(partner).replaced) {
            Post(partner, Tr("Your partner left; the game goes on with a stand-in for them."),
                 piSession, nullptr);
        }
        // In a break the dropout counts as done.
        if (m_game.breakRunning) s.done = true;
    }
    if (StrLength(teamABuffer) > 0) SendMsg(1, teamABuffer, piSession, nullptr);
    if (StrLength(teamBBuffer) > 0) SendMsg(2, teamBBuffer, piSession, nullptr);
    if (!pay) LetStandInsPlay(piSession);
}

void CBotClient::LetStandInsPlay(IWexSession* piSession) {
    teamABuffer.Reset();
    teamBBuffer.Reset();
    PlayStandIns(piSession);
    if (StrLength(teamABuffer) > 0) SendMsg(1, teamABuffer, piSession, nullptr);
    if (StrLength(teamBBuffer) > 0) SendMsg(2, teamBBuffer, piSession, nullptr);
}

void CBotClient::PlayStandIns(IWexSession* piSession) {
    // Each pass gives what is owed now; an answer that closes a round asks
    // for the next, so the stand-in goes on until it waits for the partner
    // (or for both stand-ins, to the end).
    bool played = true;
    while (played) {
        played = false;
        if (m_game.breakRunning && m_game.teamA.done && m_game.teamB.done) {
            bool running = true;
            if (m_game.breakRunning.compare_exchange_strong(running, false)) {
                JournalBreakEnd("done");
                PostRoundPrompt(piSession, nullptr);
            }
        }
        for (int32_t subject : {1, 2}) {
            if (!m_game.Subject(subject).replaced || !WaitsForAnswer(subject)) continue;
            int32_t value = StandInAnswer(subject);
            const char* what =
                m_game.Subject(subject).expectation == -1 ? "expectation" : "investment";
            AssignText(m_game.sender, SlotName(subject));
            m_transcript.WriteLog(subject, "ROBO", FormatText("stand-in %s %i", what, value));
            TakeAnswer(value, AnswerSource::kRobot, piSession, nullptr);
            if (m_game.gameOver) ReportPayouts(piSession, nullptr);
            played = true;
        }
    }
}

int32_t CBotClient::StandInAnswer(int32_t subject) const {
    int32_t value = m_game.params.standIn;
    if (value != GameParameters::kLastAnswer) return value;
    // The subject's own answer of that kind in the round before; round 1
    // has none, so the stand-in takes the middle of the range.
    const SubjectRecord& s = m_game.Subject(subject);
    int32_t round = m_game.round;
    if (round < 2) return GameParameters::kMiddleAnswer;
    const std::vector<int32_t>& earlier = s.expectation == -1 ? s.expectations : s.investments;
    return earlier.at(static_cast<size_t>(round - 2));
}

void CBotClient::TellReplaced(int32_t subject, IWexSession* piSession) {
    SubjectRecord& s = m_game.Subject(subject);
    if (!s.replaced || s.replacedTold) return;
    Journal(Entry("returned").Int("subject", subject).Int("round", m_game.round));
    s.replacedTold = true;
    m_transcript.WriteLog(subject, "PRES", "is back; told a stand-in played for it");
    std::string payout = FormatText("$%.2f", s.dropoutPayout);
    SendToSubject(subject,
                  MakeBstr(FormatText(Tr("You were away too long, so a stand-in played for you. "
                                         "Your payout: %s."),
                                      payout.c_str())),
                  piSession, "replaced");
}
