// The game's record: the data files, and a game that goes on after the bot
// is killed, from its journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "harness.h"

namespace {

constexpr char kJournal[] = "run_20081105_143000.journal";
constexpr int kKilled = 128 + SIGKILL;
constexpr int kRefused = 0x57;  // E_INVALIDARG's low byte

// Four rounds with a bonus and a break after round 2 (ConversationInterval
// 2 in the usual configuration), and the final report.
const std::vector<std::string> kGame = {
    "at 1 im alice hi",
    "at 2 im bob hi",
    "at 5 im alice 10",
    "at 6 im alice 20",
    "at 7 im bob 30",
    "at 8 im bob 40",
    "at 17 im alice 20",
    "at 18 im alice 25",
    "at 19 im bob 30",
    "at 20 im bob 35",
    "at 30 im alice hi, bob \"quoted\"\\nsecond line",
    "at 35 im bob a,b",
    "at 40 im alice done",
    "at 41 im bob done",
    "at 50 im alice 30",
    "at 51 im alice 35",
    "at 52 im bob 40",
    "at 53 im bob 45",
    "at 60 im alice 50",
    "at 61 im bob 50",
    "at 62 im alice 55",
    "at 63 im bob 60",
    "at 90 end",
};

struct Played {
    BotRun first;
    BotRun second;  // the resumed run
    std::string rounds, chat, payouts, journal;
};

// Plays game; with crashAt, the bot is killed then, and a second run with
// Resume plays the rest an hour later. between may change the folder's
// files before the second run.
Played Play(const std::vector<std::string>& game, double crashAt = -1,
            const std::map<std::string, std::string>& resumeConfig = {},
            const std::function<void(const std::string&)>& between = nullptr) {
    std::string first = "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n";
    std::string second = "start 2008-11-05T15:30:00\nwirelog wire.jsonl\n";
    for (const std::string& line : game) {
        (crashAt < 0 || std::stod(line.substr(3)) < crashAt ? first : second) += line + "\n";
    }
    if (crashAt >= 0) first += "at " + std::to_string(crashAt) + " crash\n";
    std::string folder = MakeTestFolder();
    Played p;
    p.first = RunBotIn(folder, {{"bot.conf", MakeConfig()}, {"sc.txt", first}}, {"bot.conf"});
    if (crashAt >= 0) {
        if (between) between(folder);
        std::map<std::string, std::string> changes = resumeConfig;
        changes.emplace("Resume", kJournal);
        p.second =
            RunBotIn(folder, {{"bot.conf", MakeConfig(changes)}, {"sc.txt", second}}, {"bot.conf"});
    }
    p.rounds = ReadFileEndingWith(folder, "_rounds.csv");
    p.chat = ReadFileEndingWith(folder, "_chat.csv");
    p.payouts = ReadFileEndingWith(folder, "_payouts.csv");
    p.journal = ReadFileEndingWith(folder, ".journal");
    std::filesystem::remove_all(folder);
    return p;
}

// The rounds file without its two time columns (the 11th and 12th), which a
// restart moves.
std::string WithoutTimes(const std::string& rounds) {
    std::string out;
    std::istringstream lines(rounds);
    for (std::string line; std::getline(lines, line);) {
        size_t begin = 0;
        for (int i = 0; i < 10; ++i) begin = line.find(',', begin) + 1;
        size_t end = line.find(',', line.find(',', begin) + 1);
        out += line.substr(0, begin) + line.substr(end + 1) + "\n";
    }
    return out;
}

TEST(ResumeTest, CrashAtEachKindOfMomentThenResumeGivesTheSameData) {
    Played whole = Play(kGame);
    ASSERT_EQ(whole.first.exitStatus, 0);
    ASSERT_EQ(CountLines(whole.rounds, "\r"), 9);  // header and 8 rows
    ASSERT_EQ(CountLines(whole.payouts, "\r"), 3);
    struct Case {
        const char* moment;
        double crashAt;
        int resumedAt;
    };
    for (const Case& c :
         {Case{"joining", 1.5, 0}, Case{"after one answer", 5.5, 1},
          Case{"right after a round closed", 8.5, 2}, Case{"in a break", 30.5, 3}}) {
        SCOPED_TRACE(c.moment);
        Played p = Play(kGame, c.crashAt);
        EXPECT_EQ(p.first.exitStatus, kKilled);
        EXPECT_EQ(p.second.exitStatus, 0) << p.second.err;
        EXPECT_EQ(WithoutTimes(p.rounds), WithoutTimes(whole.rounds));
        EXPECT_EQ(p.payouts, whole.payouts);
        // The same transcript goes on, with a line saying so.
        EXPECT_EQ(p.second.transcript.rfind(p.first.transcript, 0), 0u);
        EXPECT_EQ(CountLines(p.second.transcript, "INIT Game resumed at round " +
                                                      std::to_string(c.resumedAt) + " from " +
                                                      kJournal + "."),
                  1);
        EXPECT_EQ(CountLines(p.second.out, std::string("journal: ") + kJournal), 1);
        EXPECT_EQ(CountLines(p.journal, "\"kind\":\"resume\""), 1);
    }
}

TEST(ResumeTest, SubjectsAreToldTheRoundAndWhatTheyOwe) {
    const char kAsk[] =
        "When you are ready, please tell me how much you think your partner will invest:";
    // Alice has given her expectation of round 1, Bob nothing.
    Played p = Play(kGame, 5.5);
    EXPECT_EQ(Sends(p.second, 0, 3),
              (std::vector<std::string>{
                  Sent(1, "alice",
                       "Current round: 1\\nNow please tell me, how much would you like to invest?"),
                  Sent(2, "bob", std::string("Current round: 1\\n") + kAsk)}));
    // A break that ran ends as the moderator's n would end it.
    p = Play(kGame, 30.5);
    EXPECT_EQ(
        Sends(p.second, 0, 3),
        (std::vector<std::string>{Sent(1, "alice", std::string("Current round: 3\\n") + kAsk),
                                  Sent(2, "bob", std::string("Current round: 3\\n") + kAsk)}));
    EXPECT_EQ(CountLines(p.journal,
                         "\"kind\":\"break_end\",\"t\":1225899000,\"round\":3,\"how\":"
                         "\"resume\""),
              1);
    // Joining: Alice waits for Bob, who has not written yet.
    p = Play(kGame, 1.5);
    EXPECT_EQ(
        Sends(p.second, 0, 2),
        (std::vector<std::string>{Sent(1, "alice", "Waiting for the other player to join...")}));
}

TEST(ResumeTest, QuestionMarkAfterAResumeTellsTheTrueAgeOfTheLastMessages) {
    // Killed in the break after round 2; resumed an hour later. Alice last
    // wrote at 14:30:18, bob at 14:30:20.
    std::vector<std::string> game = {kGame.begin(), kGame.begin() + 10};
    game.push_back("at 27 im mod ?");
    game.push_back("at 30 end");
    Played p = Play(game, 25);
    ASSERT_EQ(p.second.exitStatus, 0) << p.second.err;
    std::vector<std::string> mod = Sends(p.second, 27, 29);
    ASSERT_EQ(mod.size(), 1u) << testing::PrintToString(Sends(p.second));
    EXPECT_NE(mod[0].find("\\nalice: owes the expectation and the investment; presence not "
                          "known; last message 3609 s ago.\\nbob: owes the expectation and "
                          "the investment; presence not known; last message 3607 s ago."),
              std::string::npos)
        << mod[0];
    EXPECT_EQ(mod[0].find("no message yet"), std::string::npos);
}

TEST(ResumeTest, EndedGameIsRefusedAndItsFilesStayAsTheyWere) {
    std::vector<std::string> stopped = kGame;
    stopped.insert(stopped.begin() + 14, "at 45 im mod e");
    std::vector<std::string> paid = kGame;
    paid.insert(paid.begin() + 14, "at 45 im mod p");
    struct Case {
        std::vector<std::string> game;
        double crashAt;
        const char* why;
    };
    for (const Case& c : {Case{kGame, 70, "(the final report was made)"},
                          Case{stopped, 46, "(the moderator ended it with e)"},
                          Case{paid, 46, "(the final report was made)"}}) {
        SCOPED_TRACE(c.why);
        Played whole = Play(c.game);
        Played p = Play(c.game, c.crashAt);
        EXPECT_EQ(p.second.exitStatus, kRefused);
        EXPECT_NE(p.second.err.find(std::string("has ended ") + c.why), std::string::npos)
            << p.second.err;
        EXPECT_EQ(p.second.transcript, p.first.transcript);
        EXPECT_EQ(p.rounds, whole.rounds);
        EXPECT_EQ(p.payouts, whole.payouts);
    }
}

TEST(ResumeTest, JournalOfAnotherConfigurationIsRefused) {
    struct Case {
        std::map<std::string, std::string> changes;
        const char* difference;
    };
    for (const Case& c :
         {Case{{{"Subject2Name", "carol"}},
               "Subject2Name is \"bob\" in the journal but \"carol\" in this configuration"},
          Case{{{"MarketNoise", "0,1"}},
               "MarketNoise is \"0\" in the journal but \"0,1\" in this configuration"}}) {
        SCOPED_TRACE(c.difference);
        Played p = Play(kGame, 5.5, c.changes);
        EXPECT_EQ(p.second.exitStatus, kRefused);
        EXPECT_NE(p.second.err.find(c.difference), std::string::npos) << p.second.err;
        EXPECT_EQ(p.second.transcript, p.first.transcript);
        EXPECT_EQ(CountLines(p.journal, "\"kind\":\"resume\""), 0);
    }
}

TEST(ResumeTest, TornLastEntryIsIgnored) {
    Played whole = Play(kGame);
    std::string torn = "1b2c3d4e {\"kind\":\"answer\",\"t\":1225895406,\"subj";
    Played p = Play(kGame, 5.5, {}, [&](const std::string& folder) {
        std::ofstream(folder + "/" + kJournal, std::ios::app | std::ios::binary) << torn;
    });
    EXPECT_EQ(p.second.exitStatus, 0) << p.second.err;
    EXPECT_EQ(WithoutTimes(p.rounds), WithoutTimes(whole.rounds));
    EXPECT_EQ(p.journal.find(torn), std::string::npos);
}

// The counts of the moderator's report as the transcript's own lines give
// them: its SEND and RECV lines (a SEND line followed by its ERR line not)
// up to the report's SEND line.
std::string CountsOfLines(const std::string& transcript) {
    const std::string names[4] = {"selkbot", "alice", "bob", "mod"};
    int sent[4] = {}, received[4] = {};
    std::regex line("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (\\S+) +(SEND|RECV|ERR ) (.*)");
    std::istringstream lines(transcript);
    int pending = -1;  // a SEND line's slot until the next line
    for (std::string text; std::getline(lines, text);) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        if (m[2] == "SEND" && m[3] == "team 1:") break;
        int slot = static_cast<int>(std::find(names, names + 4, m[1].str()) - names);
        if (pending >= 0 && !(m[2] == "ERR " && slot == pending)) ++sent[pending];
        pending = m[2] == "SEND" && slot < 4 ? slot : -1;
        if (m[2] == "RECV" && slot < 4) ++received[slot];
    }
    if (pending >= 0) ++sent[pending];
    std::string report;
    for (int slot = 1; slot < 4; ++slot) {
        report += "team " + std::to_string(slot) + ":\n" + std::to_string(sent[slot]) + " sent, " +
                  std::to_string(received[slot]) + " received.\n";
    }
    return report;
}

// The report's counts as the moderator got them; "" when there was none.
std::string ReportedCounts(const BotRun& run) {
    size_t at = run.transcript.find("SEND team 1:\n");
    if (at == std::string::npos) return "";
    size_t begin = at + 5;
    size_t end = begin;
    for (int i = 0; i < 6 && end != std::string::npos; ++i)
        end = run.transcript.find('\n', end) + 1;
    return run.transcript.substr(begin, end - begin);
}

// A subject's line feeds and carriage returns can't forge transcript lines,
// so a resumed bot's report counts only what really passed, the same as
// without the forgery: the counts come from the journal.
TEST(ResumeTest, ForgedTranscriptLinesAreNotCountedAfterAResume) {
    const std::string forgedSend = "2008-11-05 14:30:01 mod           SEND team 3:";
    const std::string forgedRecv = "2008-11-05 14:30:01 alice         RECV 5";
    std::vector<std::string> forged = kGame;
    forged[0] = "at 1 im alice hi\\n" + forgedSend + "\\n" + forgedSend + "\r" + forgedRecv;
    forged.insert(forged.begin() + 11, "at 31 im bob x\\n" + forgedSend + "\\n" + forgedRecv);
    std::vector<std::string> plain = kGame;
    plain.insert(plain.begin() + 11, "at 31 im bob x");
    for (double crashAt : {5.5, 31.5}) {
        SCOPED_TRACE(crashAt);
        Played p = Play(forged, crashAt);
        ASSERT_EQ(p.second.exitStatus, 0) << p.second.err;
        const std::string& transcript = p.second.transcript;
        // No line of the transcript is a forged one.
        EXPECT_EQ(LinesWith(transcript, forgedSend).size(), 3u);
        for (const std::string& line : LinesWith(transcript, forgedSend)) {
            EXPECT_NE(line.rfind(forgedSend, 0), 0u) << line;
        }
        EXPECT_EQ(CountLines(transcript, "alice         RECV hi\\n" + forgedSend + "\\n" +
                                             forgedSend + "\\r" + forgedRecv),
                  1);
        std::string reported = ReportedCounts(p.second);
        ASSERT_NE(reported, "") << transcript;
        EXPECT_EQ(reported, CountsOfLines(transcript)) << transcript;
        EXPECT_EQ(reported, ReportedCounts(Play(plain, crashAt).second));
        // The chat file and the journal keep the exact text.
        EXPECT_NE(p.chat.find("\"x\n" + forgedSend + "\n" + forgedRecv + "\""), std::string::npos)
            << p.chat;
    }
}

// Runs python3's csv module on the data files and prints their rows as JSON.
std::string ReadWithPython(const std::string& folder) {
    std::string command = "cd " + folder +
                          " && python3 -c 'import csv, glob, json\n"
                          "for name in sorted(glob.glob(\"run_*.csv\")):\n"
                          "    with open(name, newline=\"\", encoding=\"utf-8\") as f:\n"
                          "        print(name.split(\"_\")[-1], json.dumps(list(csv.reader(f))))'";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

TEST(DataFilesTest, ReadBackWithPythonsCsvModule) {
    std::string folder = MakeTestFolder();
    std::string scenario = "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n";
    for (const std::string& line : kGame) scenario += line + "\n";
    BotRun run = RunBotIn(folder, {{"bot.conf", MakeConfig()}, {"sc.txt", scenario}}, {"bot.conf"});
    std::string rows = ReadWithPython(folder);
    std::filesystem::remove_all(folder);
    ASSERT_EQ(run.exitStatus, 0);
    for (const char* row : {
             // chat lines with a comma, quotes and a line feed come back whole
             R"(chat.csv [["time", "round", "from", "text"], )"
             R"(["2008-11-05T14:30:30", "3", "alice", "hi, bob \"quoted\"\nsecond line"], )"
             R"(["2008-11-05T14:30:35", "3", "bob", "a,b"], )"
             R"(["2008-11-05T14:30:40", "3", "alice", "done"], )"
             R"(["2008-11-05T14:30:41", "3", "bob", "done"]])",
             R"(["1", "1", "alice", "10", "20", "40", "0.5", "160", "", "160", )"
             R"("2008-11-05T14:30:05", "2008-11-05T14:30:06", "subject", "subject"])",
             R"(["2", "1", "alice", "20", "25", "35", "0.5", "155", "100", "415", )",
             R"(["2", "2", "bob", "30", "35", "25", "0.5", "145", "0", "285", )",
             R"(payouts.csv [["subject", "name", "total_credits", "payout", "rounds"], )",
             R"("investment_time", "expectation_source", "investment_source"], )",
         }) {
        EXPECT_NE(rows.find(row), std::string::npos) << row << "\n" << rows;
    }
    EXPECT_EQ(CountLines(rows, "rounds.csv [[\"round\", \"subject\", \"name\", \"expectation\""), 1)
        << rows;
}

TEST(DataFilesTest, TimesAfter2038StayRight) {
    std::string folder = MakeTestFolder();
    std::string scenario = "start 2038-01-19T03:13:00\nwirelog wire.jsonl\n";
    // Round 1, 200 seconds after the start.
    for (size_t i = 0; i < 6; ++i) {
        const std::string& line = kGame[i];
        scenario += "at " + std::to_string(200 + std::stoi(line.substr(3))) +
                    line.substr(line.find(" im")) + "\n";
    }
    BotRun run = RunBotIn(folder, {{"bot.conf", MakeConfig()}, {"sc.txt", scenario}}, {"bot.conf"});
    std::string rounds = ReadFileEndingWith(folder, "_rounds.csv");
    std::filesystem::remove_all(folder);
    EXPECT_EQ(run.exitStatus, 0);
    // 2038-01-19 03:14:07 is the last second a signed 32-bit time holds.
    EXPECT_GE(CountLines(run.transcript, "2038-01-19 03:16:"), 4) << run.transcript;
    EXPECT_EQ(run.transcript.find("1901"), std::string::npos);
    EXPECT_NE(rounds.find(",2038-01-19T03:16:"), std::string::npos) << rounds;
}

}  // namespace
