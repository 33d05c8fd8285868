#include "game/game_record.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "messaging/csv_writer.h"
#include "messaging/data_files.h"
#include "platform/format_text.h"
#include "platform/local_time.h"

namespace {

std::string ListText(const std::vector<double>& list) {
    std::string text;
    for (size_t i = 0; i < list.size(); ++i) {
        text += (i > 0 ? "," : "") + ShortestDouble(list[i]);
    }
    return text;
}

std::vector<double> ListFrom(const std::string& text) {
    std::vector<double> list;
    size_t begin = 0;
    while (true) {
        size_t comma = text.find(',', begin);
        list.push_back(std::strtod(text.substr(begin, comma - begin).c_str(), nullptr));
        if (comma == std::string::npos) return list;
        begin = comma + 1;
    }
}

std::string TimeText(int64_t t) {
    return platform::FormatLocalTime(t, "%Y-%m-%dT%H:%M:%S");
}

// Who gave an answer, from an answer entry: absent for the subject's own.
AnswerSource SourceOf(const JournalEntry& e) {
    std::string source = e.GetText("source");
    if (source == "timeout") return AnswerSource::kTimeout;
    if (source == "robot") return AnswerSource::kRobot;
    return AnswerSource::kSubject;
}

std::string Key(const char* name, int subject) {
    return name + std::to_string(subject);
}

void ApplyStart(const JournalEntry& e, GameRecord* game) {
    game->botName = e.GetText("BotUsername");
    game->teamA.name = e.GetText("Subject1Name");
    game->teamB.name = e.GetText("Subject2Name");
    game->moderatorName = e.GetText("ModeratorName");
    GameParameters& p = game->params;
    p.nRounds = static_cast<int32_t>(e.GetInt("NRounds"));
    p.conversationInterval = static_cast<int32_t>(e.GetInt("ConversationInterval"));
    p.marketBase = e.GetReal("MarketBase");
    p.marketNoiseScale = e.GetReal("MarketNoiseScale");
    p.marketNoise = ListFrom(e.GetText("MarketNoise"));
    p.bonusMarketRGR = ListFrom(e.GetText("BonusMarketRGR"));
    p.bonusMarketGW = ListFrom(e.GetText("BonusMarketGW"));
    p.maxChatTime = static_cast<int32_t>(e.GetInt("MaxChatTime"));
    p.maxChatIdle = static_cast<int32_t>(e.GetInt("MaxChatIdle"));
    // A journal written before the pay rule could be configured was paid
    // by the default rule.
    if (e.Has("CreditValue")) p.creditValue = e.GetReal("CreditValue");
    if (e.Has("MinPayout")) p.minPayout = e.GetReal("MinPayout");
    if (e.Has("MaxPayout")) p.maxPayout = e.GetReal("MaxPayout");
    size_t rounds = p.nRounds > 0 ? static_cast<size_t>(p.nRounds) : 0;
    for (SubjectRecord* s : {&game->teamA, &game->teamB}) {
        s->expectations.assign(rounds, 0);
        s->investments.assign(rounds, 0);
        s->roundEarnings.assign(rounds, 0.0);
    }
}

void ApplyJoin(const JournalEntry& e, GameRecord* game) {
    game->Subject(static_cast<int>(e.GetInt("subject"))).joined = true;
    if (game->round == 0 && game->teamA.joined && game->teamB.joined) {
        game->round = 1;
        game->AskBoth(e.GetInt("t"));
    }
}

void ApplyAnswer(const JournalEntry& e, GameRecord* game) {
    SubjectRecord& s = game->Subject(static_cast<int>(e.GetInt("subject")));
    int32_t value = static_cast<int32_t>(e.GetInt("value"));
    int64_t index = e.GetInt("round") - 1;
    bool stored = index >= 0 && static_cast<size_t>(index) < s.expectations.size();
    AnswerSource source = SourceOf(e);
    if (e.GetText("what") == "expectation") {
        s.expectation = value;
        s.expectationTime = e.GetInt("t");
        s.expectationSource = source;
        s.askedTime = e.GetInt("t");  // the investment is asked for at once
        if (stored) s.expectations[index] = value;
    } else {
        s.investment = value;
        s.investmentTime = e.GetInt("t");
        s.investmentSource = source;
        s.askedTime = 0;
        if (stored) s.investments[index] = value;
    }
}

void ApplyClose(const JournalEntry& e, GameRecord* game, DataRows* rows) {
    int32_t round = static_cast<int32_t>(e.GetInt("round"));
    bool bonusRound = e.Has("bonus_1");
    for (int subject = 1; subject <= 2; ++subject) {
        SubjectRecord& s = game->Subject(subject);
        const SubjectRecord& partner = game->Subject(3 - subject);
        double earnings = e.GetReal(Key("earnings_", subject));
        s.totalCredits = e.GetReal(Key("total_", subject));
        if (round >= 1 && static_cast<size_t>(round) <= s.roundEarnings.size()) {
            s.roundEarnings[round - 1] = earnings;
        }
        rows->records[DataFiles::kRounds].push_back(CsvRecord({
            std::to_string(round),
            std::to_string(subject),
            s.name,
            std::to_string(s.expectation),
            std::to_string(s.investment),
            std::to_string(partner.investment),
            ShortestDouble(e.GetReal("divisor")),
            ShortestDouble(earnings),
            bonusRound ? ShortestDouble(e.GetReal(Key("bonus_", subject))) : "",
            ShortestDouble(s.totalCredits),
            TimeText(s.expectationTime),
            TimeText(s.investmentTime),
            SourceName(s.expectationSource),
            SourceName(s.investmentSource),
        }));
    }
    // A round number no game reaches is damage; it must not overflow.
    game->round = round < INT32_MAX ? round + 1 : round;
    for (SubjectRecord* s : {&game->teamA, &game->teamB}) {
        s->expectation = -1;
        s->investment = -1;
        s->expectationSource = AnswerSource::kSubject;
        s->investmentSource = AnswerSource::kSubject;
        s->done = false;
    }
    game->breakRunning = e.GetBool("break");
    // The next round is asked for now, unless a break or the end comes first.
    game->AskBoth(game->breakRunning || game->AllRoundsClosed() ? 0 : e.GetInt("t"));
}

void ApplyChat(const JournalEntry& e, GameRecord* game, DataRows* rows) {
    int subject = static_cast<int>(e.GetInt("subject"));
    SubjectRecord& s = game->Subject(subject);
    std::string text = e.GetText("text");
    if (text == "done") s.done = true;
    rows->records[DataFiles::kChat].push_back(
        CsvRecord({TimeText(e.GetInt("t")), std::to_string(e.GetInt("round")), s.name, text}));
}

// Rounds closed so far: all of them at the end, fewer when the moderator's
// p paid out early.
int32_t RoundsClosed(const GameRecord& game) {
    return std::clamp(game.round - 1, 0, std::max(game.params.nRounds, 0));
}

// A subject dropped out: with mode robot a stand-in plays for it from now
// on and its credits and payout stay these.
void ApplyDropout(const JournalEntry& e, GameRecord* game) {
    int64_t subject = e.GetInt("subject");
    if (subject != 1 && subject != 2) return;
    SubjectRecord& s = game->Subject(static_cast<int>(subject));
    s.dropoutRound = static_cast<int32_t>(e.GetInt("round"));
    s.dropoutCredits = e.GetReal("credits");
    s.dropoutPayout = e.GetReal("payout");
    s.replaced = e.GetText("mode") == "robot";
}

void ApplyReport(const JournalEntry& e, GameRecord* game, DataRows* rows) {
    game->reported = true;
    for (int subject = 1; subject <= 2; ++subject) {
        const SubjectRecord& s = game->Subject(subject);
        rows->records[DataFiles::kPayouts].push_back(
            CsvRecord({std::to_string(subject), s.name, ShortestDouble(s.ReportedCredits()),
                       platform::FormatText("%.2f", e.GetReal(Key("payout_", subject))),
                       std::to_string(RoundsClosed(*game))}));
    }
}

void ApplyCount(const JournalEntry& e, GameRecord* game) {
    int64_t slot = e.GetInt("slot");
    game->countsMessages = true;
    if (slot < 0 || slot >= 4) return;
    ++(e.Kind() == "sent" ? game->sent : game->received)[slot];
}

// A subject's last message: a message received from it, or (in a journal
// without counts) its join or chat line.
void NoteMessage(const JournalEntry& e, GameRecord* game) {
    int64_t subject = e.GetInt(e.Kind() == "received" ? "slot" : "subject");
    if (subject != 1 && subject != 2) return;
    int64_t& last = game->Subject(static_cast<int>(subject)).lastMessageTime;
    last = std::max(last, e.GetInt("t"));
}

}  // namespace

void ApplyEntry(const JournalEntry& entry, GameRecord* game, DataRows* rows) {
    const std::string& kind = entry.Kind();
    if (kind == "start") {
        ApplyStart(entry, game);
    } else if (kind == "join") {
        ApplyJoin(entry, game);
    } else if (kind == "answer") {
        ApplyAnswer(entry, game);
    } else if (kind == "close") {
        ApplyClose(entry, game, rows);
    } else if (kind == "chat") {
        ApplyChat(entry, game, rows);
    } else if (kind == "break_end") {
        game->breakRunning = false;
        game->AskBoth(entry.GetInt("t"));
    } else if (kind == "extend") {
        SubjectRecord& s = game->Subject(static_cast<int>(entry.GetInt("subject")));
        s.extendedRound = static_cast<int32_t>(entry.GetInt("round"));
        s.extendedKind = entry.GetText("what") == "expectation" ? 1 : 2;
        s.extendedSeconds = static_cast<int32_t>(entry.GetInt("seconds"));
    } else if (kind == "stop") {
        game->stopped = true;
    } else if (kind == "report") {
        ApplyReport(entry, game, rows);
    } else if (kind == "dropout") {
        ApplyDropout(entry, game);
    } else if (kind == "returned") {
        int64_t subject = entry.GetInt("subject");
        if (subject == 1 || subject == 2)
            game->Subject(static_cast<int>(subject)).replacedTold = true;
    } else if (kind == "sent" || kind == "received") {
        ApplyCount(entry, game);
    }
    if (kind == "received" || kind == "join" || kind == "chat") NoteMessage(entry, game);
    // "resume" changes nothing: it marks where a restarted bot took over.
}

JournalEntry StartEntry(int64_t t, const std::string (&names)[4], const GameParameters& p) {
    return JournalEntry("start", t)
        .Text("BotUsername", names[0])
        .Text("Subject1Name", names[1])
        .Text("Subject2Name", names[2])
        .Text("ModeratorName", names[3])
        .Int("NRounds", p.nRounds)
        .Int("ConversationInterval", p.conversationInterval)
        .Real("MarketBase", p.marketBase)
        .Real("MarketNoiseScale", p.marketNoiseScale)
        .Text("MarketNoise", ListText(p.marketNoise))
        .Text("BonusMarketRGR", ListText(p.bonusMarketRGR))
        .Text("BonusMarketGW", ListText(p.bonusMarketGW))
        .Int("MaxChatTime", p.maxChatTime)
        .Int("MaxChatIdle", p.maxChatIdle)
        .Real("CreditValue", p.creditValue)
        .Real("MinPayout", p.minPayout)
        .Real("MaxPayout", p.maxPayout);
}

std::string FirstDifference(const JournalEntry& journal, const JournalEntry& configuration) {
    // Journals written before the pay rule could be configured were paid
    // by the default rule.
    GameParameters defaults;
    JournalEntry before = JournalEntry("start", 0)
                              .Real("CreditValue", defaults.creditValue)
                              .Real("MinPayout", defaults.minPayout)
                              .Real("MaxPayout", defaults.maxPayout);
    for (const JournalEntry::Field& field : configuration.Fields()) {
        if (field.key == "kind" || field.key == "t") continue;
        std::string saved = "(none)";
        for (const JournalEntry::Field& old : before.Fields()) {
            if (old.key == field.key) saved = old.value;
        }
        for (const JournalEntry::Field& other : journal.Fields()) {
            if (other.key == field.key) saved = other.value;
        }
        if (saved != field.value) {
            return field.key + " is \"" + saved + "\" in the journal but \"" + field.value +
                   "\" in this configuration";
        }
    }
    return "";
}
