// Dropouts: a subject offline DropoutAfter seconds while the game runs is
// replaced by a stand-in (its payout frozen, told once when back) or has
// the pair paid at once; a shorter absence, or DropoutAfter 0, changes
// nothing; a resumed bot goes on with the stand-in; StandIn's values.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"

namespace {

constexpr char kJournal[] = "run_20081105_143000.journal";
const char kHead[] = "start 2008-11-05T14:30:00\nwirelog wire.jsonl\nrecord game\n";

// Both join; round 1: alice 10 and 20, bob 30 and 40 (closed at 8: alice
// earns 60 - 20 + 2 * 60 = 160, bob 140). Bob's client goes at 10.
const char kRoundOneThenBobLeaves[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 20\nat 7 im bob 30\nat 8 im bob 40\n"
    "at 10 presence bob off\n";

// A credit is worth 1.25 cents and nothing is paid at least: bob's 140
// credits are $1.75.
std::map<std::string, std::string> Keys(std::map<std::string, std::string> more) {
    more.emplace("CreditValue", "0.0125");
    more.emplace("MinPayout", "0");
    return more;
}

struct Played {
    BotRun bot;
    std::string rounds, payouts, journal;
};

Played Play(const std::string& scenario, const std::map<std::string, std::string>& keys,
            const std::string& folder = "") {
    std::string where = folder.empty() ? MakeTestFolder() : folder;
    Played r;
    r.bot = RunBotIn(where, {{"bot.conf", MakeConfig(keys)}, {"sc.txt", scenario}}, {"bot.conf"});
    r.rounds = ReadFileEndingWith(where, "_rounds.csv");
    r.payouts = ReadFileEndingWith(where, "_payouts.csv");
    r.journal = ReadFileEndingWith(where, ".journal");
    if (folder.empty()) std::filesystem::remove_all(where);
    return r;
}

// The wire log's sends to one party: time and the whole line.
std::vector<std::string> SendLinesTo(const BotRun& run, const std::string& to) {
    std::vector<std::string> found;
    for (const std::string& line : LinesWith(run.wire, "\"op\":\"send\"")) {
        if (line.find("\"to\":\"" + to + "\"") != std::string::npos) found.push_back(line);
    }
    return found;
}

double TimeOf(const std::string& wireLine) {
    return std::stod(wireLine.substr(5));
}

// The journal's lines of one kind.
std::vector<std::string> Entries(const std::string& journal, const std::string& kind) {
    return LinesWith(journal, "{\"kind\":\"" + kind + "\"");
}

// Bob drops out in round 2; the stand-in gives his round-1 answers (30 and
// 40) from then on; alice plays rounds 2 to 4, with the break after round
// 2 ended by her "done" alone. Bob comes back at 120 and is told once.
TEST(DropoutTest, StandInPlaysForTheDropoutWhoseBackIsToldOnce) {
    Played r = Play(std::string(kHead) + kRoundOneThenBobLeaves +
                        "at 45 im mod ?\n"
                        "at 50 im alice 10\nat 51 im alice 20\nat 60 im alice done\n"
                        "at 70 im alice 10\nat 71 im alice 20\nat 80 im alice 10\n"
                        "at 81 im alice 20\n"
                        "at 120 presence bob on\nat 130 presence bob off\n"
                        "at 140 presence bob on\nat 150 im bob 25\nat 200 end\n",
                    Keys({{"DropoutAfter", "30"}}));
    ASSERT_EQ(r.bot.exitStatus, 0) << r.bot.err;
    std::vector<std::string> dropouts = Entries(r.journal, "dropout");
    ASSERT_EQ(dropouts.size(), 1u) << r.journal;
    EXPECT_NE(dropouts[0].find("\"subject\":2,\"round\":2,\"mode\":\"robot\",\"credits\":140,"
                               "\"payout\":1.75}"),
              std::string::npos)
        << dropouts[0];
    // Offline since 10: the dropout comes 30 s later, on the worker's
    // second tick.
    double dropoutTime = 0;
    for (const std::string& line : SendLinesTo(r.bot, "mod")) {
        if (line.find("bob dropped out in round 2; a stand-in plays for them.") !=
            std::string::npos) {
            dropoutTime = TimeOf(line);
        }
    }
    EXPECT_GE(dropoutTime, 40);
    EXPECT_LE(dropoutTime, 43);
    // Every answer of bob's from round 2 on is the stand-in's: his own
    // last ones.
    EXPECT_EQ(CountLines(r.journal, "\"source\":\"robot\""), 6);
    EXPECT_EQ(CountLines(r.journal,
                         "\"subject\":2,\"what\":\"expectation\",\"value\":30,"
                         "\"round\":3,\"source\":\"robot\"}"),
              1);
    EXPECT_EQ(CountLines(r.journal,
                         "\"subject\":1,\"what\":\"investment\",\"value\":20,"
                         "\"round\":4}"),
              1);
    EXPECT_NE(r.rounds.find("\r\n4,2,bob,30,40,20,"), std::string::npos) << r.rounds;
    EXPECT_EQ(CountLines(r.rounds, ",robot,robot"), 3) << r.rounds;
    EXPECT_EQ(CountLines(r.rounds, ",subject,subject"), 5) << r.rounds;
    EXPECT_EQ(CountLines(r.bot.transcript, " ROBO stand-in "), 6) << r.bot.transcript;
    // The game ran to its end: alice is paid as usual, bob as at the
    // dropout, though the stand-in earned him more.
    ASSERT_EQ(Entries(r.journal, "report").size(), 1u);
    EXPECT_NE(r.journal.find("\"payout_2\":1.75}"), std::string::npos);
    EXPECT_NE(r.payouts.find("\r\n2,bob,140,1.75,4\r\n"), std::string::npos) << r.payouts;
    EXPECT_NE(r.payouts.find("\r\n1,alice,"), std::string::npos) << r.payouts;
    EXPECT_EQ(CountLines(r.bot.wire, "bob total credits earned: 140.00, Total payout: $1.75"), 1);
    EXPECT_EQ(CountLines(r.bot.wire,
                         "bob was replaced by a stand-in in round 2 and is paid as at that time."),
              1);
    // The moderator's ? says so.
    EXPECT_EQ(CountLines(r.bot.wire, "\\nbob: dropped out, a stand-in plays; offline; "), 1);
    // Alice hears of it once; her game goes on.
    EXPECT_EQ(CountLines(r.bot.wire, "Your partner left; the game goes on with a stand-in"), 1);
    EXPECT_EQ(CountLines(r.bot.wire, "The investment market has closed for the day"), 1);
    // Bob is sent nothing between the dropout and his return, then one
    // message, carrying his frozen payout, however often he comes and
    // writes.
    std::vector<std::string> toBob;
    for (const std::string& line : SendLinesTo(r.bot, "bob")) {
        if (TimeOf(line) > dropoutTime - 1) toBob.push_back(line);
    }
    ASSERT_EQ(toBob.size(), 1u) << r.bot.wire;
    EXPECT_GE(TimeOf(toBob[0]), 120);
    EXPECT_LT(TimeOf(toBob[0]), 122);
    EXPECT_NE(toBob[0].find("\"text\":\"You were away too long, so a stand-in played for you. "
                            "Your payout: $1.75.\""),
              std::string::npos)
        << toBob[0];
    for (const char* attribute :
         {"phase=\\\"over\\\"", "ended=\\\"replaced\\\"", "payout=\\\"1.75\\\"",
          "credits=\\\"140.00\\\"", "final-credits=\\\"140.00\\\"", "last-round=\\\"1\\\""}) {
        EXPECT_NE(toBob[0].find(attribute), std::string::npos) << attribute << " " << toBob[0];
    }
    EXPECT_EQ(Entries(r.journal, "returned").size(), 1u);
    // His message after it is on record and changes nothing.
    EXPECT_EQ(CountLines(r.bot.transcript, "bob           RECV 25"), 1) << r.bot.transcript;
    EXPECT_EQ(CountLines(r.journal, "\"value\":25"), 0);
}

// Dropout pay: the pair is paid at once, as by p; nothing is asked after.
TEST(DropoutTest, PayEndsTheGameAndPaysBoth) {
    Played r = Play(std::string(kHead) + kRoundOneThenBobLeaves +
                        "at 50 im alice 10\nat 51 im alice 20\nat 100 end\n",
                    Keys({{"DropoutAfter", "30"}, {"Dropout", "pay"}}));
    ASSERT_EQ(r.bot.exitStatus, 0) << r.bot.err;
    std::vector<std::string> dropouts = Entries(r.journal, "dropout");
    ASSERT_EQ(dropouts.size(), 1u) << r.journal;
    EXPECT_NE(dropouts[0].find("\"subject\":2,\"round\":2,\"mode\":\"pay\",\"credits\":140,"
                               "\"payout\":1.75}"),
              std::string::npos);
    // The stop and the report follow the dropout, as p writes them.
    size_t dropout = r.journal.find("\"kind\":\"dropout\"");
    size_t stop = r.journal.find("\"kind\":\"stop\"");
    size_t report = r.journal.find("\"kind\":\"report\"");
    EXPECT_LT(dropout, stop);
    EXPECT_LT(stop, report);
    EXPECT_NE(report, std::string::npos);
    EXPECT_EQ(CountLines(r.bot.wire, "bob dropped out in round 2; the pair is paid now."), 1);
    EXPECT_NE(r.payouts.find("\r\n1,alice,160,2.00,1\r\n"), std::string::npos) << r.payouts;
    EXPECT_NE(r.payouts.find("\r\n2,bob,140,1.75,1\r\n"), std::string::npos) << r.payouts;
    // Alice's last message is the usual end of a game paid now.
    std::vector<std::string> toAlice = SendLinesTo(r.bot, "alice");
    ASSERT_FALSE(toAlice.empty());
    EXPECT_NE(toAlice.back().find("The investment market has closed for the day"),
              std::string::npos);
    EXPECT_NE(toAlice.back().find("ended=\\\"paid_now\\\""), std::string::npos);
    EXPECT_NE(toAlice.back().find("payout=\\\"2.00\\\""), std::string::npos);
    // Her later answers are not taken; no stand-in played.
    EXPECT_EQ(CountLines(r.journal, "\"kind\":\"answer\""), 4);
    EXPECT_EQ(CountLines(r.journal, "robot"), 0);
}

// Offline for less than DropoutAfter, or any time with DropoutAfter 0 (the
// default): no dropout, and the game waits for bob as it always has.
TEST(DropoutTest, ShorterAbsenceOrDropoutAfterZeroChangesNothing) {
    std::string back = std::string(kHead) + kRoundOneThenBobLeaves +
                       "at 39 presence bob on\nat 60 presence bob off\nat 80 end\n";
    Played shorter = Play(back, Keys({{"DropoutAfter", "30"}}));
    ASSERT_EQ(shorter.bot.exitStatus, 0) << shorter.bot.err;
    EXPECT_EQ(Entries(shorter.journal, "dropout").size(), 0u) << shorter.journal;
    // Away 29 s, then 20 s before the end: each absence counts alone.
    EXPECT_EQ(CountLines(shorter.bot.wire, "dropped out"), 0);
    // The same with DropoutAfter 0 and without the key: byte for byte what
    // the bot did before the key, though bob stays away for minutes.
    std::string away = std::string(kHead) + kRoundOneThenBobLeaves + "at 900 end\n";
    Played zero = Play(away, Keys({{"DropoutAfter", "0"}, {"Dropout", "pay"}}));
    Played none = Play(away, Keys({}));
    ASSERT_EQ(zero.bot.exitStatus, 0) << zero.bot.err;
    EXPECT_EQ(Entries(zero.journal, "dropout").size(), 0u);
    EXPECT_EQ(zero.bot.wire, none.bot.wire);
    EXPECT_EQ(zero.bot.transcript, none.bot.transcript);
    EXPECT_EQ(zero.journal, none.journal);
    EXPECT_EQ(CountLines(zero.journal, "\"kind\":\"answer\""), 4);
}

// The bot crashes in the break after round 2, bob replaced and told so;
// resumed, it ends the break and the stand-in answers round 3 at once;
// alice plays on, bob is not told again, and his payout is still the one
// at the dropout.
TEST(DropoutTest, ResumedBotGoesOnWithTheStandIn) {
    std::map<std::string, std::string> keys = Keys({{"DropoutAfter", "30"}});
    std::string folder = MakeTestFolder();
    Played first = Play(std::string(kHead) + kRoundOneThenBobLeaves +
                            "at 50 im alice 10\nat 51 im alice 20\nat 55 presence bob on\n"
                            "at 60 crash\n",
                        keys, folder);
    EXPECT_EQ(Entries(first.journal, "dropout").size(), 1u) << first.journal;
    EXPECT_EQ(Entries(first.journal, "returned").size(), 1u) << first.journal;
    keys.emplace("Resume", kJournal);
    Played second = Play(
        "start 2008-11-05T14:32:00\nwirelog wire.jsonl\nrecord game\n"
        "at 1 presence bob on\nat 10 im alice 10\nat 11 im alice 20\nat 20 im alice 10\nat 21 im "
        "alice 20\n"
        "at 60 end\n",
        keys, folder);
    std::filesystem::remove_all(folder);
    ASSERT_EQ(second.bot.exitStatus, 0) << second.bot.err;
    // After the resume entry: the break's end, then the stand-in's round 3.
    size_t resumed = second.journal.find("\"kind\":\"resume\"");
    ASSERT_NE(resumed, std::string::npos);
    std::string after = second.journal.substr(resumed);
    EXPECT_EQ(CountLines(after, "\"source\":\"robot\""), 4) << after;
    EXPECT_EQ(CountLines(after,
                         "\"subject\":2,\"what\":\"expectation\",\"value\":30,"
                         "\"round\":3,\"source\":\"robot\"}"),
              1);
    EXPECT_EQ(Entries(second.journal, "dropout").size(), 1u);
    // Nothing is sent to bob, who was told before the crash that a stand-in
    // plays for him; alice is told the round and plays to the end.
    for (const std::string& line : SendLinesTo(second.bot, "bob")) ADD_FAILURE() << line;
    EXPECT_NE(second.payouts.find("\r\n2,bob,140,1.75,4\r\n"), std::string::npos) << second.payouts;
    EXPECT_NE(second.journal.find("\"payout_2\":1.75}"), std::string::npos);
}

// StandIn N always gives N; StandIn last in round 1, with no earlier
// answer, gives the middle of the range, 30.
TEST(DropoutTest, StandInValues) {
    std::string scenario = std::string(kHead) + kRoundOneThenBobLeaves +
                           "at 50 im alice 10\nat 51 im alice 20\nat 100 end\n";
    Played seven = Play(scenario, Keys({{"DropoutAfter", "30"}, {"StandIn", "7"}}));
    ASSERT_EQ(seven.bot.exitStatus, 0) << seven.bot.err;
    EXPECT_NE(seven.rounds.find("\r\n2,2,bob,7,7,20,"), std::string::npos) << seven.rounds;
    EXPECT_EQ(CountLines(seven.journal, "\"value\":7,\"round\":2,\"source\":\"robot\"}"), 2);
    // Bob leaves before answering round 1; alice answers hers.
    Played first = Play(std::string(kHead) +
                            "at 1 im alice hi\nat 2 im bob hi\nat 3 presence bob off\n"
                            "at 5 im alice 10\nat 6 im alice 20\nat 60 end\n",
                        Keys({{"DropoutAfter", "20"}}));
    ASSERT_EQ(first.bot.exitStatus, 0) << first.bot.err;
    EXPECT_NE(first.journal.find("\"subject\":2,\"round\":1,\"mode\":\"robot\",\"credits\":0,"
                                 "\"payout\":0}"),
              std::string::npos)
        << first.journal;
    EXPECT_NE(first.rounds.find("\r\n1,2,bob,30,30,20,"), std::string::npos) << first.rounds;
}

// While the bot's own connection is down it sees no presence: bob's time
// offline counts from its return, and a subject back by then (alice, whose
// return the bot learns after the outage) is no dropout.
TEST(DropoutTest, OfflineTimeCountsOnlyWhileTheBotIsOnline) {
    Played r = Play(std::string(kHead) + kRoundOneThenBobLeaves +
                        "at 12 presence alice off\nat 15 state 50\nat 70 state 500\n"
                        "at 71 presence alice on\nat 200 end\n",
                    Keys({{"DropoutAfter", "30"}}));
    ASSERT_EQ(r.bot.exitStatus, 0) << r.bot.err;
    std::vector<std::string> dropouts = Entries(r.journal, "dropout");
    ASSERT_EQ(dropouts.size(), 1u) << r.journal;
    EXPECT_NE(dropouts[0].find("\"subject\":2,"), std::string::npos);
    std::vector<std::string> told = LinesWith(r.bot.wire, "bob dropped out in round 2");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_GE(TimeOf(told[0]), 100);
    EXPECT_LE(TimeOf(told[0]), 103);
}

// In a break the dropout counts as done: alice said done before bob went,
// so his dropout ends the break and the stand-in answers round 3. When
// alice goes too, the stand-ins play the game to its end, each paid as at
// its dropout.
TEST(DropoutTest, DoneInABreakAndBothGone) {
    Played r = Play(std::string(kHead) +
                        "at 1 im alice hi\nat 2 im bob hi\n"
                        "at 5 im alice 10\nat 6 im alice 20\nat 7 im bob 30\nat 8 im bob 40\n"
                        "at 11 im alice 10\nat 12 im alice 20\nat 13 im bob 30\n"
                        "at 14 im bob 40\nat 20 im alice done\nat 21 presence bob off\n"
                        "at 60 presence alice off\nat 200 end\n",
                    Keys({{"DropoutAfter", "20"}}));
    ASSERT_EQ(r.bot.exitStatus, 0) << r.bot.err;
    std::vector<std::string> dropouts = Entries(r.journal, "dropout");
    ASSERT_EQ(dropouts.size(), 2u) << r.journal;
    // Bob after round 2's bonus (alice's), alice in round 3.
    EXPECT_NE(dropouts[0].find("\"subject\":2,\"round\":3,\"mode\":\"robot\",\"credits\":280,"
                               "\"payout\":3.5}"),
              std::string::npos)
        << dropouts[0];
    EXPECT_NE(dropouts[1].find("\"subject\":1,\"round\":3,\"mode\":\"robot\",\"credits\":420,"
                               "\"payout\":5.25}"),
              std::string::npos)
        << dropouts[1];
    std::vector<std::string> breakEnds = Entries(r.journal, "break_end");
    ASSERT_EQ(breakEnds.size(), 1u);
    EXPECT_NE(breakEnds[0].find("\"how\":\"done\""), std::string::npos);
    EXPECT_LT(r.journal.find("\"kind\":\"dropout\""), r.journal.find("\"kind\":\"break_end\""));
    // Every round closed and the report made.
    EXPECT_EQ(Entries(r.journal, "close").size(), 4u);
    ASSERT_EQ(Entries(r.journal, "report").size(), 1u);
    EXPECT_NE(r.payouts.find("\r\n1,alice,420,5.25,4\r\n"), std::string::npos) << r.payouts;
    EXPECT_NE(r.payouts.find("\r\n2,bob,280,3.50,4\r\n"), std::string::npos) << r.payouts;
    EXPECT_EQ(CountLines(r.journal,
                         "\"subject\":1,\"what\":\"investment\",\"value\":20,"
                         "\"round\":4,\"source\":\"robot\"}"),
              1)
        << r.journal;
    // Nobody is there: nothing is sent to either after the second dropout
    // but the moderator's report.
    EXPECT_EQ(CountLines(r.bot.wire, "The investment market has closed"), 0);
}

// The keys are checked as the table says.
TEST(DropoutTest, KeysAreRefusedOutsideTheirValues) {
    for (const auto& [key, value, reason] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"DropoutAfter", "86401",
              "DropoutAfter must be a whole number of seconds from 0 (off) to 86400"},
             {"Dropout", "leave", "Dropout must be \"robot\" or \"pay\", found \"leave\""},
             {"StandIn", "61", "StandIn must be \"last\" or a whole number from 0 to 60"},
         }) {
        BotRun run = RunScenario("at 1 end\n", MakeConfig({{key, value}}));
        EXPECT_NE(run.exitStatus, 0) << key;
        EXPECT_NE(run.err.find("wexbot: " + reason), std::string::npos) << run.err;
    }
}

}  // namespace
