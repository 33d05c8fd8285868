#include "game/game_element.h"

#include <algorithm>

#include "game/game_rules.h"
#include "platform/format_text.h"
#include "platform/local_time.h"

using platform::FormatText;

namespace {

std::string Money(double value) {
    return FormatText("%.2f", value);
}

// The kind of answer owed, as the extension records it: 1 expectation, 2
// investment, 0 none.
int32_t OwedKind(const GameState& game, int subject) {
    const char* owed = OwedAnswer(game, subject);
    if (owed == nullptr) return 0;
    return owed[0] == 'e' ? 1 : 2;
}

// The last closed round: own and partner's investments, own earnings with
// the bonus, the bonus itself in a bonus round. For a replaced subject, the
// last round closed before its dropout, as its frozen credits are.
void AddLastRound(const GameState& game, int subject, ElementAttributes* a) {
    const SubjectRecord& own = game.Subject(subject);
    int32_t last = std::min<int32_t>(game.round - 1, game.params.nRounds);
    if (own.replaced) last = std::min(last, own.dropoutRound - 1);
    if (last < 1) return;
    size_t index = static_cast<size_t>(last - 1);
    const SubjectRecord& partner = game.Subject(3 - subject);
    double earnings = own.roundEarnings.at(index);
    a->emplace_back("last-round", std::to_string(last));
    a->emplace_back("last-own", std::to_string(own.investments.at(index)));
    a->emplace_back("last-partner", std::to_string(partner.investments.at(index)));
    int32_t interval = game.params.conversationInterval;
    bool bonusRound = interval > 0 && IsBonusRound(last, interval);
    double bonus = 0.0;
    if (bonusRound) {
        Bonus b =
            RichGetRicherBonus(game.teamA.roundEarnings, game.teamB.roundEarnings, last, interval);
        bonus = subject == 1 ? b.teamA : b.teamB;
    }
    a->emplace_back("last-earnings", Money(earnings + bonus));
    if (bonusRound) a->emplace_back("last-bonus", Money(bonus));
}

const char* Phase(const GameState& game, int subject, const std::string& ended) {
    if (!ended.empty() || game.gameOver || game.AllRoundsClosed()) return "over";
    if (game.round < 1) return "joining";
    if (game.breakRunning) return "break";
    return OwedKind(game, subject) == 1 ? "expectation" : "investment";
}

void AddOwed(const GameState& game, int subject, const char* phase, ElementAttributes* a) {
    std::string p = phase;
    if (p == "break") {
        a->emplace_back("owed", game.Subject(subject).done ? "none" : "done");
        return;
    }
    const char* owed = p == "over" ? nullptr : OwedAnswer(game, subject);
    a->emplace_back("owed", owed ? owed : "none");
    if (owed == nullptr) return;
    a->emplace_back("min", "0");
    a->emplace_back("max", std::to_string(kMaxAnswer));
}

void AddTimes(const GameState& game, int subject, const std::string& phase, int64_t now,
              ElementAttributes* a) {
    if (phase == "break") {
        int64_t ends = game.breakStartTime + game.params.maxChatTime;
        a->emplace_back("break-ends", platform::FormatUtcTime(ends));
        a->emplace_back("break-seconds", std::to_string(std::max<int64_t>(0, ends - now)));
        return;
    }
    int64_t deadline = phase == "over" ? 0 : AnswerDeadline(game, subject);
    if (deadline == 0) return;
    a->emplace_back("deadline", platform::FormatUtcTime(deadline));
    a->emplace_back("deadline-seconds", std::to_string(std::max<int64_t>(0, deadline - now)));
    if (MayExtend(game, subject)) {
        a->emplace_back("extend", std::to_string(game.params.timeoutExtend));
    }
}

}  // namespace

const char* OwedAnswer(const GameState& game, int subject) {
    if (game.round < 1 || game.breakRunning || game.gameOver || game.stopped ||
        game.AllRoundsClosed()) {
        return nullptr;
    }
    const SubjectRecord& s = game.Subject(subject);
    if (s.expectation == -1) return "expectation";
    if (s.investment == -1) return "investment";
    return nullptr;
}

int64_t AnswerDeadline(const GameRecord& game, int subject) {
    const GameParameters& p = game.params;
    const SubjectRecord& s = game.Subject(subject);
    if (p.answerTimeout <= 0 || s.askedTime == 0 || game.round < 1 || game.breakRunning ||
        game.stopped || game.AllRoundsClosed()) {
        return 0;
    }
    // With "last", round 1 has no earlier answer to take: the bot waits.
    if (p.timeoutAnswer == GameParameters::kLastAnswer && game.round < 2) return 0;
    int32_t kind = s.expectation == -1 ? 1 : s.investment == -1 ? 2 : 0;
    if (kind == 0) return 0;
    int64_t deadline = s.askedTime + p.answerTimeout;
    if (s.extendedRound == game.round && s.extendedKind == kind) deadline += s.extendedSeconds;
    return deadline;
}

bool MayExtend(const GameRecord& game, int subject) {
    const SubjectRecord& s = game.Subject(subject);
    int32_t kind = s.expectation == -1 ? 1 : 2;
    return game.params.timeoutExtend > 0 && AnswerDeadline(game, subject) != 0 &&
           !(s.extendedRound == game.round && s.extendedKind == kind);
}

double ReportedPayout(const GameRecord& game, int subject) {
    const SubjectRecord& s = game.Subject(subject);
    // A replaced subject is paid what it had earned when it dropped out.
    if (s.replaced) return s.dropoutPayout;
    double payout = PayoutDollars(s.totalCredits, game.params);
    // Subject 1's payout is held in single precision, as the report always
    // gave it.
    if (subject == 1) return static_cast<double>(static_cast<float>(payout));
    return payout;
}

std::string GameEnding(const GameState& game) {
    // The moderator's p reports before the last round has closed.
    if (game.reported) return game.AllRoundsClosed() ? "completed" : "paid_now";
    if (game.stopped) return "stopped";
    return "";
}

ElementAttributes GameElement(const GameState& game, int subject, int64_t now,
                              const std::string& ended) {
    const SubjectRecord& own = game.Subject(subject);
    // A subject a stand-in played for is out of the game: its game ended
    // at the dropout, whatever the partner's does.
    std::string ending = !ended.empty() ? ended : own.replaced ? "replaced" : GameEnding(game);
    const GameParameters& p = game.params;
    ElementAttributes a;
    a.emplace_back("round", std::to_string(std::clamp<int32_t>(game.round, 0, p.nRounds)));
    a.emplace_back("rounds", std::to_string(p.nRounds));
    const char* phase = Phase(game, subject, ending);
    a.emplace_back("phase", phase);
    AddOwed(game, subject, phase, &a);
    AddLastRound(game, subject, &a);
    a.emplace_back("credits", Money(own.ReportedCredits()));
    if (ending.empty() && game.round >= 1 && p.conversationInterval > 0) {
        // The rounds left to play up to the bonus round, this one included.
        int32_t left = RoundsUntilNextBonus(game.round, p.conversationInterval) + 1;
        a.emplace_back("bonus-in", std::to_string(left));
    }
    AddTimes(game, subject, phase, now, &a);
    if (game.reported || own.replaced) {
        a.emplace_back("final-credits", Money(own.ReportedCredits()));
        a.emplace_back("payout", Money(ReportedPayout(game, subject)));
    }
    if (!ending.empty()) a.emplace_back("ended", ending);
    return a;
}
