// The answer timeout: a reminder at half the time, the answer taken at the
// time (a fixed number, or the subject's previous one), the moderator told
// once when there is none, the sources in rounds.csv, and a timeout that a
// crash interrupts going on after Resume.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"

namespace {

constexpr char kJournal[] = "run_20081105_143000.journal";

// Both join (the round is asked for at 2); alice answers round 1 at 5 and 6.
const char kAliceAnswers[] =
    "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n"
    "at 1 im alice hi\nat 2 im bob hi\nat 5 im alice 10\nat 6 im alice 20\n";

std::string Expect(int value) {
    return "You expect your partner to invest: " + std::to_string(value) +
           "\\nNow please tell me, how much would you like to invest?";
}

struct Played {
    BotRun bot;
    std::string rounds, journal;
};

Played Play(const std::string& scenario, const std::map<std::string, std::string>& changes,
            const std::string& folder = "") {
    std::string where = folder.empty() ? MakeTestFolder() : folder;
    Played r;
    r.bot =
        RunBotIn(where, {{"bot.conf", MakeConfig(changes)}, {"sc.txt", scenario}}, {"bot.conf"});
    r.rounds = ReadFileEndingWith(where, "_rounds.csv");
    r.journal = ReadFileEndingWith(where, ".journal");
    if (folder.empty()) std::filesystem::remove_all(where);
    return r;
}

TEST(AnswerTimeoutTest, RemindsAtHalfTimeAndTakesTheAnswerAtTheTime) {
    Played r = Play(std::string(kAliceAnswers) + "at 70 end\n",
                    {{"AnswerTimeout", "30"}, {"TimeoutAnswer", "25"}});
    ASSERT_EQ(r.bot.exitStatus, 0) << r.bot.err;
    // Bob is asked at 2: reminded at 17 and his expectation taken at 32, as
    // if he had written 25 (each send leaves a second later); his
    // investment, asked then, goes the same way and closes the round. Alice
    // has answered and gets no reminder. The notice comes before what the
    // answer brings.
    const std::string kTaken = "No answer in time: 25 was taken.\\n";
    EXPECT_EQ(
        Sends(r.bot, 9, 65),
        (std::vector<std::string>{
            Sent(18, "bob", "Please answer within 15 seconds."),
            Sent(33, "bob", kTaken + Expect(25)),
            Sent(33, "mod", "bob: no answer in time in round 1; 25 was taken as the expectation."),
            Sent(48, "bob", "Please answer within 15 seconds."),
            Sent(63, "alice",
                 "Round 1 Earnings: 130.00\\nRounds until next bonus: 1\\nCurrent round: "
                 "2\\nWhen you are ready, please tell me how much you think your partner "
                 "will invest:"),
            Sent(64, "bob",
                 kTaken + "You invest: 25\\nRound 1 Earnings: 125.00\\nRounds until next bonus: "
                          "1\\nCurrent round: 2\\nWhen you are ready, please tell me how much you "
                          "think your partner will invest:"),
            Sent(64, "mod", "bob: no answer in time in round 1; 25 was taken as the investment."),
        }));
    EXPECT_NE(r.rounds.find(",total_credits,expectation_time,investment_time,expectation_source,"
                            "investment_source\r\n"),
              std::string::npos);
    EXPECT_NE(r.rounds.find("\r\n1,1,alice,10,20,25,0.5,130,,130,2008-11-05T14:30:05,"
                            "2008-11-05T14:30:06,subject,subject\r\n"),
              std::string::npos)
        << r.rounds;
    EXPECT_NE(r.rounds.find("\r\n1,2,bob,25,25,20,0.5,125,,125,2008-11-05T14:30:32,"
                            "2008-11-05T14:31:02,timeout,timeout\r\n"),
              std::string::npos)
        << r.rounds;
    EXPECT_EQ(CountLines(r.journal,
                         "\"subject\":2,\"what\":\"expectation\",\"value\":25,"
                         "\"round\":1,\"source\":\"timeout\"}"),
              1);
    EXPECT_EQ(CountLines(r.journal, "\"source\":\"timeout\""), 2);
    // The transcript has the bot's sends, no invented RECV line.
    EXPECT_EQ(CountLines(r.bot.transcript, "RECV"), 4);
}

// With "last", a later round takes the subject's answer of the round
// before; in round 1 there is none, so the bot tells the moderator once
// and waits for the subject, however long.
TEST(AnswerTimeoutTest, LastTakesThePreviousAnswerOrWaitsForTheSubject) {
    Played r = Play(
        "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n"
        "at 1 im alice hi\nat 2 im bob hi\n"
        "at 90 im alice 10\nat 91 im alice 20\nat 92 im bob 30\nat 93 im bob 40\n"
        "at 150 end\n",
        {{"AnswerTimeout", "20"}});
    ASSERT_EQ(r.bot.exitStatus, 0) << r.bot.err;
    // Round 1: no reminder, as nothing could be taken; the moderator hears
    // of each subject once, at 22, and the subjects' own answers close it.
    std::vector<std::string> sends = Sends(r.bot, 9, 96);
    EXPECT_EQ(sends.size(), 7u);
    for (const char* name : {"alice", "bob"}) {
        EXPECT_EQ(sends[std::string(name) == "alice" ? 0 : 1],
                  Sent(22, "mod",
                       std::string(name) +
                           ": no answer in time in round 1, and no earlier expectation to take; "
                           "still waiting for it."));
    }
    EXPECT_EQ(CountLines(r.bot.transcript, "Please answer within"), 4);  // round 2 only
    // Round 2 (asked at 93) takes each subject's answers of round 1.
    EXPECT_EQ(Sends(r.bot, 104, 106),
              (std::vector<std::string>{Sent(104, "alice", "Please answer within 10 seconds."),
                                        Sent(105, "bob", "Please answer within 10 seconds.")}));
    EXPECT_EQ(Sends(r.bot, 114, 116),
              (std::vector<std::string>{
                  Sent(114, "alice", "No answer in time: 10 was taken.\\n" + Expect(10)),
                  Sent(114, "mod",
                       "alice: no answer in time in round 2; 10 was taken as the expectation."),
                  Sent(115, "bob", "No answer in time: 30 was taken.\\n" + Expect(30)),
                  Sent(115, "mod",
                       "bob: no answer in time in round 2; 30 was taken as the expectation.")}));
    EXPECT_NE(r.rounds.find("\r\n2,1,alice,10,20,40,0.5,160,100,420,2008-11-05T14:31:53,"
                            "2008-11-05T14:32:13,timeout,timeout\r\n"),
              std::string::npos)
        << r.rounds;
    EXPECT_NE(r.rounds.find("\r\n1,2,bob,30,40,20,0.5,140,,140,2008-11-05T14:31:32,"
                            "2008-11-05T14:31:33,subject,subject\r\n"),
              std::string::npos)
        << r.rounds;
}

// No answer is owed once the moderator's e has ended the game, nor while
// a chat break runs (the round after it is asked for when it ends).
TEST(AnswerTimeoutTest, NothingIsTakenAfterEOrDuringABreak) {
    std::map<std::string, std::string> keys = {{"AnswerTimeout", "10"}, {"TimeoutAnswer", "5"}};
    Played ended = Play(
        "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n"
        "at 1 im alice hi\nat 2 im bob hi\nat 3 im mod e\nat 60 end\n",
        keys);
    EXPECT_EQ(ended.bot.exitStatus, 0) << ended.bot.err;
    EXPECT_EQ(CountLines(ended.bot.transcript, "answer"), 0) << ended.bot.transcript;
    // Rounds 1 and 2 answered; the break after round 2 runs its 300 s.
    Played inBreak = Play(
        "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n"
        "at 1 im alice hi\nat 2 im bob hi\n"
        "at 5 im alice 10\nat 6 im alice 10\nat 7 im bob 10\nat 8 im bob 10\n"
        "at 17 im alice 20\nat 18 im alice 20\nat 19 im bob 30\n"
        "at 20 im bob 30\nat 200 end\n",
        keys);
    EXPECT_EQ(inBreak.bot.exitStatus, 0) << inBreak.bot.err;
    EXPECT_EQ(CountLines(inBreak.bot.transcript, "in time"), 0) << inBreak.bot.transcript;
    EXPECT_EQ(CountLines(inBreak.rounds, "timeout"), 0);
}

// The bot is killed while bob owes his expectation (asked at 2, due at 32)
// and resumed at 20: it reminds him at once (past half time) and takes the
// answer at 32 by the journal's clock.
TEST(AnswerTimeoutTest, ResumeCountsFromTheJournalsTimeOfAsking) {
    std::map<std::string, std::string> keys = {{"AnswerTimeout", "30"}, {"TimeoutAnswer", "25"}};
    std::string folder = MakeTestFolder();
    Played first = Play(std::string(kAliceAnswers) + "at 10 crash\n", keys, folder);
    keys.emplace("Resume", kJournal);
    Played second =
        Play("start 2008-11-05T14:30:20\nwirelog wire.jsonl\nat 40 end\n", keys, folder);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(CountLines(first.bot.transcript, "Please answer"), 0);
    EXPECT_EQ(second.bot.exitStatus, 0) << second.bot.err;
    EXPECT_EQ(Sends(second.bot, 0, 20),
              (std::vector<std::string>{
                  Sent(1, "alice",
                       "Current round: 1\\nYour partner has not completed his/her investment. "
                       "Please wait for the next round to start."),
                  Sent(2, "bob",
                       "Current round: 1\\nWhen you are ready, please tell me how much you think "
                       "your partner will invest:"),
                  Sent(3, "bob", "Please answer within 10 seconds."),
                  Sent(13, "bob", "No answer in time: 25 was taken.\\n" + Expect(25)),
                  Sent(13, "mod",
                       "bob: no answer in time in round 1; 25 was taken as the expectation.")}));
    // Taken at 14:30:32, 30 s after the journal's join.
    EXPECT_EQ(CountLines(second.journal,
                         "{\"kind\":\"answer\",\"t\":1225895432,\"subject\":2,"
                         "\"what\":\"expectation\",\"value\":25,\"round\":1,"
                         "\"source\":\"timeout\"}"),
              1)
        << second.journal;
}

}  // namespace
