// The game element on the bot's messages to subjects: its values in every
// phase, the element-only messages at the end, "more time", and a resumed
// game. The scenarios opt in with "record game" to see the elements.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "harness.h"

namespace {

using Attributes = std::map<std::string, std::string>;

// One send of the wire log with the element it carried.
struct Message {
    double t = 0;
    std::string to;
    std::string text;
    bool bodyless = false;
    Attributes game;  // empty: no element
};

// The value of "key":"..." in a wire line, JSON escapes of quotes undone.
std::string Field(const std::string& line, const std::string& key, bool* found = nullptr) {
    std::string open = "\"" + key + "\":\"";
    size_t at = line.find(open);
    if (found != nullptr) *found = at != std::string::npos;
    if (at == std::string::npos) return "";
    std::string value;
    for (size_t i = at + open.size(); i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        value += line[i];
    }
    return value;
}

Attributes ParseElement(const std::string& xml) {
    Attributes attributes;
    EXPECT_EQ(xml.rfind("<game xmlns=\"urn:wex:game:1\"", 0), 0u) << xml;
    size_t at = xml.find('"');
    at = xml.find('"', at + 1);  // past the namespace
    while (true) {
        size_t eq = xml.find("=\"", at);
        if (eq == std::string::npos) break;
        size_t start = xml.rfind(' ', eq) + 1;
        size_t end = xml.find('"', eq + 2);
        attributes[xml.substr(start, eq - start)] = xml.substr(eq + 2, end - eq - 2);
        at = end + 1;
    }
    return attributes;
}

std::vector<Message> Messages(const BotRun& run, const std::string& to) {
    std::vector<Message> messages;
    for (const std::string& line : LinesWith(run.wire, "\"op\":\"send\"")) {
        Message m;
        m.t = std::stod(line.substr(5));
        m.to = Field(line, "to");
        if (m.to != to) continue;
        bool hasText = false;
        m.text = Field(line, "text", &hasText);
        m.bodyless = !hasText;
        bool hasGame = false;
        std::string xml = Field(line, "game", &hasGame);
        if (hasGame) m.game = ParseElement(xml);
        messages.push_back(m);
    }
    return messages;
}

// The last message to `to` sent before t.
Message Before(const BotRun& run, const std::string& to, double t) {
    Message last;
    for (const Message& m : Messages(run, to)) {
        if (m.t < t) last = m;
    }
    return last;
}

const char kHead[] = "start 2008-11-05T14:30:00\nwirelog wire.jsonl\nrecord game\n";

// Four rounds, a break after round 2 (ConversationInterval 2). Market base
// 0.5 doubles both investments for each subject.
const char kWholeGame[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 20\nat 7 im bob 30\nat 8 im bob 40\n"
    "at 17 im alice 20\nat 18 im alice 10\nat 19 im bob 30\nat 20 im bob 50\n"
    "at 30 im alice done\nat 40 im bob done\n"
    "at 50 im alice 1\nat 51 im alice 2\nat 52 im bob 3\nat 53 im bob 4\n"
    "at 60 im alice 5\nat 61 im alice 6\nat 62 im bob 7\nat 63 im bob 8\n";

TEST(GameElementTest, ValuesFollowTheGameFromJoiningToTheEnd) {
    BotRun run = RunScenario(std::string(kHead) + kWholeGame + "at 90 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    // Joining: alice waits for bob.
    Attributes joining = Before(run, "alice", 2.5).game;
    EXPECT_EQ(joining, (Attributes{{"round", "0"},
                                   {"rounds", "4"},
                                   {"phase", "joining"},
                                   {"owed", "none"},
                                   {"credits", "0.00"}}));
    // Round 1's question: the expectation is owed, with its range.
    Attributes asked = Before(run, "bob", 4.5).game;
    EXPECT_EQ(asked, (Attributes{{"round", "1"},
                                 {"rounds", "4"},
                                 {"phase", "expectation"},
                                 {"owed", "expectation"},
                                 {"min", "0"},
                                 {"max", "60"},
                                 {"credits", "0.00"},
                                 {"bonus-in", "2"}}));
    EXPECT_EQ(Before(run, "alice", 6.5).game.at("owed"), "investment");
    // Alice has answered both; bob still owes his.
    Attributes waiting = Before(run, "alice", 7.5).game;
    EXPECT_EQ(waiting.at("phase"), "investment");
    EXPECT_EQ(waiting.at("owed"), "none");
    EXPECT_EQ(waiting.count("min"), 0u);
    // Round 1 closed: alice invested 20, bob 40: 60 - 20 + 2 * 60 = 160.
    Attributes afterOne = Before(run, "alice", 9.5).game;
    EXPECT_EQ(afterOne.at("round"), "2");
    EXPECT_EQ(afterOne.at("last-round"), "1");
    EXPECT_EQ(afterOne.at("last-own"), "20");
    EXPECT_EQ(afterOne.at("last-partner"), "40");
    EXPECT_EQ(afterOne.at("last-earnings"), "160.00");
    EXPECT_EQ(afterOne.count("last-bonus"), 0u);
    EXPECT_EQ(afterOne.at("credits"), "160.00");
    EXPECT_EQ(afterOne.at("bonus-in"), "1");
    EXPECT_EQ(Before(run, "bob", 10.5).game.at("last-earnings"), "140.00");
    // Round 2 closed, a bonus round: alice 10 and bob 50 give alice 170
    // and bob 130; alice earned more over rounds 1 and 2 (330 to 270) and
    // gets the bonus of 100. The break follows.
    Attributes inBreak = Before(run, "alice", 21.5).game;
    EXPECT_EQ(inBreak.at("phase"), "break");
    EXPECT_EQ(inBreak.at("owed"), "done");
    EXPECT_EQ(inBreak.at("last-round"), "2");
    EXPECT_EQ(inBreak.at("last-earnings"), "270.00");
    EXPECT_EQ(inBreak.at("last-bonus"), "100.00");
    EXPECT_EQ(inBreak.at("credits"), "430.00");
    // Opened at 20, MaxChatTime 300: ends at 14:35:20; sent at 21.
    EXPECT_EQ(inBreak.at("break-ends"), "2008-11-05T14:35:20Z");
    EXPECT_EQ(inBreak.at("break-seconds"), "299");
    Attributes bobBreak = Before(run, "bob", 22.5).game;
    EXPECT_EQ(bobBreak.at("last-bonus"), "0.00");
    EXPECT_EQ(bobBreak.at("last-earnings"), "130.00");
    // Bob's done at 40 ends the break; both are asked for round 3.
    Attributes round3 = Before(run, "alice", 42).game;
    EXPECT_EQ(round3.at("phase"), "expectation");
    EXPECT_EQ(round3.at("round"), "3");
    EXPECT_EQ(round3.at("bonus-in"), "2");
    EXPECT_EQ(round3.count("break-ends"), 0u);
    // The end: the final report's payout is the moderator's.
    std::vector<Message> alice = Messages(run, "alice");
    Attributes last = alice.back().game;
    EXPECT_NE(alice.back().text.find("The investment market has closed"), std::string::npos);
    EXPECT_EQ(last.at("phase"), "over");
    EXPECT_EQ(last.at("ended"), "completed");
    EXPECT_EQ(last.at("round"), "4");
    EXPECT_EQ(last.at("last-round"), "4");
    EXPECT_EQ(last.count("bonus-in"), 0u);
    for (const char* name : {"alice", "bob"}) {
        Attributes end = Messages(run, name).back().game;
        std::vector<std::string> report =
            LinesWith(run.wire, std::string("\"text\":\"") + name + " total credits earned: ");
        ASSERT_EQ(report.size(), 1u);
        std::string expected = "total credits earned: " + end.at("final-credits") +
                               ", Total payout: $" + end.at("payout");
        EXPECT_NE(report[0].find(expected), std::string::npos) << report[0];
        EXPECT_EQ(end.at("final-credits"), end.at("credits"));
    }
    // The moderator's messages carry no element.
    for (const Message& m : Messages(run, "mod")) EXPECT_TRUE(m.game.empty()) << m.text;
}

// In a break a subject owes its done until it has typed it.
TEST(GameElementTest, BreakShowsDoneOwedUntilTyped) {
    BotRun chat = RunScenario(std::string(kHead) +
                              "at 1 im alice hi\nat 2 im bob hi\n"
                              "at 5 im alice 10\nat 6 im alice 20\nat 7 im bob 30\nat 8 im bob 40\n"
                              "at 17 im alice 20\nat 18 im alice 10\nat 19 im bob 30\n"
                              "at 20 im bob 50\nat 30 im alice done\nat 35 im bob hello\n"
                              "at 40 im alice bye\nat 60 end\n");
    ASSERT_EQ(chat.exitStatus, 0) << chat.err;
    Message relayed = Before(chat, "alice", 37);
    EXPECT_NE(relayed.text.find("hello"), std::string::npos) << relayed.text;
    EXPECT_EQ(relayed.game.at("owed"), "none");
    EXPECT_EQ(relayed.game.at("phase"), "break");
    Message toBob = Before(chat, "bob", 42);
    EXPECT_NE(toBob.text.find("bye"), std::string::npos) << toBob.text;
    EXPECT_EQ(toBob.game.at("owed"), "done");
}

TEST(GameElementTest, WithoutRecordGameTheWireShowsNoElement) {
    BotRun run = RunScenario(std::string("start 2008-11-05T14:30:00\nwirelog wire.jsonl\n") +
                             kWholeGame + "at 90 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(CountLines(run.wire, "\"game\""), 0);
    EXPECT_EQ(CountLines(run.wire, "urn:wex:game:1"), 0);
    EXPECT_GT(CountLines(run.wire, "\"op\":\"send\""), 20);
}

// The moderator's e: each joined subject gets the element alone, once,
// kept out of the transcript.
TEST(GameElementTest, EndByTheModeratorSendsTheElementAlone) {
    BotRun run = RunScenario(std::string(kHead) +
                             "at 1 im alice hi\nat 2 im bob hi\nat 5 im alice 10\n"
                             "at 10 im mod e\nat 20 im mod e\nat 30 end\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    for (const char* name : {"alice", "bob"}) {
        std::vector<Message> sent = Messages(run, name);
        int bodyless = 0;
        for (const Message& m : sent) bodyless += m.bodyless ? 1 : 0;
        EXPECT_EQ(bodyless, 1) << name;
        const Message& last = sent.back();
        EXPECT_TRUE(last.bodyless);
        EXPECT_GE(last.t, 10);
        EXPECT_EQ(last.game.at("phase"), "over");
        EXPECT_EQ(last.game.at("ended"), "stopped");
        EXPECT_EQ(last.game.count("payout"), 0u);
    }
    int texts = 0;
    for (const char* name : {"alice", "bob"}) {
        for (const Message& m : Messages(run, name)) texts += m.bodyless ? 0 : 1;
    }
    EXPECT_EQ(CountLines(run.transcript, "SEND"), texts);
    // A stop signal after e sends nothing more.
    BotRun signal = RunScenario(std::string(kHead) +
                                "at 1 im alice hi\nat 2 im bob hi\nat 10 im mod e\n"
                                "at 20 signal TERM\n");
    EXPECT_EQ(signal.exitStatus, 0) << signal.err;
    EXPECT_EQ(CountLines(signal.wire, "session_over"), 0);
    EXPECT_EQ(CountLines(signal.wire, "ended=\\\"stopped\\\""), 2);
}

// A stop signal mid-game: each joined subject gets ended=session_over; a
// subject who has not joined gets nothing; after the report, nothing.
TEST(GameElementTest, StopSignalSendsSessionOverUntilTheReport) {
    BotRun run = RunScenario(std::string(kHead) + "at 1 im alice hi\nat 10 signal TERM\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    std::vector<Message> alice = Messages(run, "alice");
    ASSERT_FALSE(alice.empty());
    EXPECT_TRUE(alice.back().bodyless);
    EXPECT_EQ(alice.back().game.at("phase"), "over");
    EXPECT_EQ(alice.back().game.at("ended"), "session_over");
    EXPECT_TRUE(Messages(run, "bob").empty());
    // It leaves before the sign-off.
    size_t over = run.wire.find("session_over");
    size_t signoff = run.wire.find("\"op\":\"signoff\"");
    EXPECT_LT(over, signoff);
    EXPECT_EQ(CountLines(run.transcript, "SEND"), 1);

    BotRun done = RunScenario(std::string(kHead) + kWholeGame + "at 89 signal INT\n");
    ASSERT_EQ(done.exitStatus, 0) << done.err;
    EXPECT_EQ(CountLines(done.wire, "session_over"), 0);
    ASSERT_FALSE(Messages(done, "bob").empty());
    EXPECT_EQ(Messages(done, "bob").back().game.at("ended"), "completed");
}

// The moderator's p: the last text carries paid_now and the payout.
TEST(GameElementTest, PayNowEndsWithPaidNow) {
    BotRun run = RunScenario(std::string(kHead) +
                             "at 1 im alice hi\nat 2 im bob hi\n"
                             "at 5 im alice 10\nat 6 im alice 20\nat 7 im bob 30\nat 8 im bob 40\n"
                             "at 12 im mod p\nat 30 signal TERM\n");
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    Attributes last = Messages(run, "alice").back().game;
    EXPECT_EQ(last.at("ended"), "paid_now");
    EXPECT_EQ(last.at("final-credits"), "160.00");
    // 160 credits at 0.0075 is 1.20, held up to the least payout of 10.
    EXPECT_EQ(last.at("payout"), "10.00");
    EXPECT_EQ(CountLines(run.wire, "session_over"), 0);
}

const std::map<std::string, std::string> kTimed = {
    {"AnswerTimeout", "30"}, {"TimeoutAnswer", "25"}, {"TimeoutExtend", "20"}};

// Round 1 answered by 8; round 2 asked then (at 14:30:08).
const char kRoundTwo[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 20\nat 7 im bob 30\nat 8 im bob 40\n";

// A deadline with AnswerTimeout, moved once by "more time"; a second one
// is ordinary input, and the answer is taken at the moved deadline.
TEST(GameElementTest, MoreTimeExtendsTheDeadlineOnce) {
    std::string folder = MakeTestFolder();
    BotRun run = RunBotIn(folder,
                          {{"bot.conf", MakeConfig(kTimed)},
                           {"sc.txt", std::string(kHead) + kRoundTwo +
                                          "at 12 im bob More Time \nat 16 im bob more time\n"
                                          "at 80 end\n"}},
                          {"bot.conf"});
    std::string journal = ReadFileEndingWith(folder, ".journal");
    std::filesystem::remove_all(folder);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    Attributes asked = Before(run, "bob", 10.5).game;
    EXPECT_EQ(asked.at("deadline"), "2008-11-05T14:30:38Z");
    EXPECT_EQ(asked.at("deadline-seconds"), "28");
    EXPECT_EQ(asked.at("extend"), "20");
    Message extended = Before(run, "bob", 13.5);
    EXPECT_EQ(extended.text, "Extended: you have 20 more seconds.");
    EXPECT_EQ(extended.game.at("deadline"), "2008-11-05T14:30:58Z");
    EXPECT_EQ(extended.game.at("deadline-seconds"), "45");
    EXPECT_EQ(extended.game.count("extend"), 0u);
    EXPECT_EQ(Before(run, "bob", 17.5).text,
              "Invalid input, please enter an integer from 0 to 60.");
    EXPECT_EQ(CountLines(journal, "\"kind\":\"extend\""), 1);
    EXPECT_EQ(CountLines(journal,
                         "\"kind\":\"extend\",\"t\":1225895412,\"subject\":2,"
                         "\"round\":2,\"what\":\"expectation\",\"seconds\":20}"),
              1)
        << journal;
    // Alice's deadline is not moved: taken at 38; bob's at 58.
    std::vector<std::string> taken = LinesWith(run.wire, "no answer in time in round 2");
    ASSERT_GE(taken.size(), 2u);
    EXPECT_EQ(taken[0].substr(0, 12), "{\"t\":39.000,");
    EXPECT_NE(taken[0].find("alice:"), std::string::npos);
    EXPECT_EQ(taken[1].substr(0, 12), "{\"t\":59.000,");
    EXPECT_NE(taken[1].find("bob:"), std::string::npos);
    // The next deadline (the investment's) may be extended again.
    Message next = Before(run, "bob", 60);
    EXPECT_EQ(next.game.at("owed"), "investment");
    EXPECT_EQ(next.game.at("extend"), "20");
}

TEST(GameElementTest, WithoutTimeoutExtendMoreTimeIsOrdinaryInput) {
    std::map<std::string, std::string> keys = kTimed;
    keys.erase("TimeoutExtend");
    BotRun run = RunScenario(std::string(kHead) + kRoundTwo + "at 12 im bob more time\nat 20 end\n",
                             MakeConfig(keys));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    Message reply = Before(run, "bob", 13.5);
    EXPECT_EQ(reply.text, "Invalid input, please enter an integer from 0 to 60.");
    EXPECT_EQ(reply.game.at("deadline"), "2008-11-05T14:30:38Z");
    EXPECT_EQ(reply.game.count("extend"), 0u);
}

// A resumed game goes on with the journal's values: the credits and last
// round, and the deadline bob extended before the crash, not extendable
// again.
TEST(GameElementTest, ResumedGameContinuesTheValues) {
    std::string folder = MakeTestFolder();
    BotRun first = RunBotIn(
        folder,
        {{"bot.conf", MakeConfig(kTimed)},
         {"sc.txt", std::string(kHead) + kRoundTwo + "at 12 im bob more time\nat 15 crash\n"}},
        {"bot.conf"});
    std::map<std::string, std::string> keys = kTimed;
    keys["Resume"] = "run_20081105_143000.journal";
    BotRun second = RunBotIn(
        folder,
        {{"bot.conf", MakeConfig(keys)},
         {"sc.txt", "start 2008-11-05T14:30:20\nwirelog wire.jsonl\nrecord game\nat 60 end\n"}},
        {"bot.conf"});
    std::filesystem::remove_all(folder);
    ASSERT_EQ(second.exitStatus, 0) << second.err;
    Attributes alice = Messages(second, "alice").front().game;
    EXPECT_EQ(alice.at("round"), "2");
    EXPECT_EQ(alice.at("last-round"), "1");
    EXPECT_EQ(alice.at("last-own"), "20");
    EXPECT_EQ(alice.at("last-partner"), "40");
    EXPECT_EQ(alice.at("credits"), "160.00");
    EXPECT_EQ(alice.at("deadline"), "2008-11-05T14:30:38Z");
    EXPECT_EQ(alice.at("extend"), "20");
    Attributes bob = Messages(second, "bob").front().game;
    EXPECT_EQ(bob.at("credits"), "140.00");
    EXPECT_EQ(bob.at("deadline"), "2008-11-05T14:30:58Z");
    EXPECT_EQ(bob.count("extend"), 0u);
    // Bob's answer is taken at the extended deadline by the journal's clock.
    std::vector<std::string> taken = LinesWith(second.wire, "bob: no answer in time in round 2");
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].substr(0, 12), "{\"t\":39.000,");
}

}  // namespace
