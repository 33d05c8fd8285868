// The moderator's commands s, e, n and b in every phase: before the
// subjects join, during rounds, during a break and after the end command.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"

namespace {

// Alice joins at 5 (told to wait at 6), bob at 6: both get kBegin at 7 and 8.
const char kJoin[] = "at 5 im alice hi\nat 6 im bob hi\n";
// As kJoin, then rounds 1 and 2; bob's answer at 20 opens the break.
const char kToBreak[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 10\nat 7 im bob 10\nat 8 im bob 10\n"
    "at 17 im alice 20\nat 18 im alice 20\nat 19 im bob 30\nat 20 im bob 30\n";

// Texts as they appear (escaped) in the wire log.
const char kWait[] = "Waiting for the other player to join...";
const char kBegin[] =
    "Both players are here! Let's now begin out game!\\nThis is round 1.\\nHow much do you "
    "think your partner will invest?";
const char kHurry[] = "I am on a tight schedule! Please send me your decision!";
const char kHurried[] = "okay, sent speed up message.";
const char kEnding[] = "Okay, Ending Game";
const char kBroadcast[] = "Message was broadcast.";
const char kNoBroadcast[] =
    "Received 'b' command with no broadcast message after it. Type 'b message', where "
    "'message' is whatever you would like to broadcast.";
const char kIdle[] =
    "Chat has been idle for some time. If you are ready to resume the game, type 'done' and "
    "hit enter.";

std::string Prompt(int round) {
    return "Current round: " + std::to_string(round) +
           "\\nWhen you are ready, please tell me how much you think your partner will invest:";
}

TEST(ModeratorTest, LowerCaseSHurriesTheSubjectsAndNothingElseDoes) {
    // The reply leaves at once, before the subjects' texts; a subject who
    // has not joined gets nothing.
    BotRun run = RunScenario("at 1 im mod s\n" + std::string(kJoin) +
                             "at 10 im mod stop\nat 20 im mod S\nat 21 im mod Stop\n"
                             "at 22 im mod x\nat 23 im mod\n");
    EXPECT_EQ(Sends(run),
              (std::vector<std::string>{Sent(2, "mod", kHurried), Sent(6, "alice", kWait),
                                        Sent(7, "alice", kBegin), Sent(8, "bob", kBegin),
                                        Sent(11, "mod", kHurried), Sent(12, "alice", kHurry),
                                        Sent(13, "bob", kHurry)}));
    EXPECT_EQ(CountLines(run.transcript, "SEND I am on a tight schedule!"), 2);
    EXPECT_EQ(CountLines(run.transcript, kHurried), 0);
    EXPECT_EQ(CountLines(run.transcript, "RECV"), 2);
}

TEST(ModeratorTest, BroadcastSendsTheTextFromItsThirdCharacterOn) {
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 10 im mod b\nat 15 im mod b \nat 20 im mod b hi\n"
                             "at 30 im mod bxhi\nat 40 im mod b\xC3\xA9hi\nat 50 im mod b  x\n");
    EXPECT_EQ(Sends(run, 9),
              (std::vector<std::string>{
                  Sent(11, "mod", kNoBroadcast), Sent(16, "mod", kNoBroadcast),
                  Sent(21, "mod", kBroadcast), Sent(22, "alice", "hi"), Sent(23, "bob", "hi"),
                  Sent(31, "mod", kBroadcast), Sent(32, "alice", "hi"), Sent(33, "bob", "hi"),
                  Sent(41, "mod", kBroadcast), Sent(42, "alice", "hi"), Sent(43, "bob", "hi"),
                  Sent(51, "mod", kBroadcast), Sent(52, "alice", " x"), Sent(53, "bob", " x")}));
    EXPECT_EQ(CountLines(run.transcript, "SEND hi"), 6);
}

TEST(ModeratorTest, NOutsideABreakOnlyRepeatsThePrompt) {
    // In the joining phase only alice has joined; in round 1 alice's
    // expectation stays recorded, so her next number is her investment.
    BotRun run = RunScenario(
        "at 5 im alice hi\nat 10 im mod n\nat 15 im bob hi\nat 20 im alice 10\n"
        "at 25 im mod n\nat 30 im alice 7\n");
    EXPECT_EQ(Sends(run), (std::vector<std::string>{
                              Sent(6, "alice", kWait), Sent(11, "alice", Prompt(0)),
                              Sent(16, "alice", kBegin), Sent(17, "bob", kBegin),
                              Sent(21, "alice",
                                   "You expect your partner to invest: 10\\nNow please tell me, "
                                   "how much would you like to invest?"),
                              Sent(26, "alice", Prompt(1)), Sent(27, "bob", Prompt(1)),
                              Sent(31, "alice", "You invest: 7")}));
}

TEST(ModeratorTest, AfterEndAnswersAreIgnoredButCommandsStillWork) {
    BotRun run = RunScenario(std::string(kJoin) +
                             "at 10 im alice 10\nat 15 im mod e\nat 20 im alice 10\n"
                             "at 21 im bob 10\nat 25 im mod b still there?\nat 30 im mod s\n"
                             "at 35 im mod n\nat 40 im bob 10\n");
    EXPECT_EQ(Sends(run, 12),
              (std::vector<std::string>{Sent(16, "mod", kEnding), Sent(26, "mod", kBroadcast),
                                        Sent(27, "alice", "still there?"),
                                        Sent(28, "bob", "still there?"), Sent(31, "mod", kHurried),
                                        Sent(32, "alice", kHurry), Sent(33, "bob", kHurry),
                                        Sent(36, "alice", Prompt(1)), Sent(37, "bob", Prompt(1))}));
    EXPECT_EQ(CountLines(run.transcript, "RECV"), 3);
    EXPECT_EQ(CountLines(run.transcript, kEnding), 0);
}

TEST(ModeratorTest, EndWhileJoiningStillBeginsRoundOne) {
    BotRun run = RunScenario("at 1 im mod e\n" + std::string(kJoin) +
                             "at 10 im alice 10\nat 11 im bob 10\n");
    EXPECT_EQ(Sends(run),
              (std::vector<std::string>{Sent(2, "mod", kEnding), Sent(6, "alice", kWait),
                                        Sent(7, "alice", kBegin), Sent(8, "bob", kBegin)}));
    EXPECT_EQ(CountLines(run.transcript, "RECV"), 2);
}

TEST(ModeratorTest, EndDuringABreakLeavesItToDoneOrN) {
    // The break from 20 would end by time at 331 and be idle from 91 on;
    // after e neither happens, chat is still relayed, and "done"s or n end it.
    for (std::string end : {"at 400 im alice done\nat 401 im bob done\n", "at 401 im mod n\n"}) {
        SCOPED_TRACE(end);
        BotRun run = RunScenario(std::string(kToBreak) + "at 25 im mod e\n" +
                                 "at 350 im alice still here?\n" + end + "at 410 im alice 10\n");
        EXPECT_EQ(Sends(run, 23),
                  (std::vector<std::string>{
                      Sent(26, "mod", kEnding), Sent(350, "mod", "(from alice) still here?"),
                      Sent(351, "bob", "(from alice) still here?"), Sent(402, "alice", Prompt(3)),
                      Sent(403, "bob", Prompt(3))}));
        EXPECT_EQ(CountLines(run.transcript, "RECV 10"), 4);  // those of round 1 only
    }
}

TEST(ModeratorTest, CommandsDuringABreakAreNotChat) {
    // Neither relayed nor counted as chat: the idle reminder still comes at
    // tick 90.
    BotRun run = RunScenario(std::string(kToBreak) + "at 75 im mod b hi all\nat 80 im mod s\n");
    EXPECT_EQ(Sends(run, 23, 92),
              (std::vector<std::string>{Sent(76, "mod", kBroadcast), Sent(77, "alice", "hi all"),
                                        Sent(78, "bob", "hi all"), Sent(81, "mod", kHurried),
                                        Sent(82, "alice", kHurry), Sent(83, "bob", kHurry),
                                        Sent(91, "alice", kIdle), Sent(91, "bob", kIdle)}));
}

// The moderator's p in each phase: the game ends as with e, and the final
// report is made at once on the credits so far.
TEST(ModeratorTest, PayNowReportsTheCreditsSoFarInEveryPhase) {
    struct Case {
        const char* phase;
        std::string scenario;
        const char* aliceCredits;
        int rounds;
    };
    const std::string stopped = std::string(kJoin) + "at 10 im mod e\n";
    const Case cases[] = {
        {"joining", "at 5 im alice hi\n", "0.00", 0},
        {"asking", std::string(kJoin) + "at 10 im alice 10\n", "0.00", 0},
        {"in a break", kToBreak, "330.00", 2},
        {"after e", stopped, "0.00", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        std::string folder = MakeTestFolder();
        BotRun run =
            RunBotIn(folder,
                     {{"bot.conf", MakeConfig()},
                      {"sc.txt", "start 2008-11-05T14:30:00\nwirelog wire.jsonl\n" + c.scenario +
                                     "at 30 im mod p\nat 40 im mod p\nat 45 im alice "
                                     "10\nat 50 end\n"}},
                     {"bot.conf"});
        std::string payouts = ReadFileEndingWith(folder, "_payouts.csv");
        std::string journal = ReadFileEndingWith(folder, ".journal");
        std::filesystem::remove_all(folder);
        std::vector<std::string> mod;
        for (const std::string& sent : Sends(run, 30)) {
            if (sent.find(" mod ") != std::string::npos) mod.push_back(sent);
        }
        ASSERT_EQ(mod.size(), 5u) << run.wire;
        EXPECT_NE(mod[0].find("Okay, Ending Game and paying out now"), std::string::npos);
        EXPECT_NE(mod[1].find(std::string("alice total credits earned: ") + c.aliceCredits +
                              ", Total payout: $10.00"),
                  std::string::npos)
            << mod[1];
        EXPECT_NE(mod[3].find("team 1:"), std::string::npos);
        EXPECT_NE(mod[4].find("The final report has been made already."), std::string::npos);
        // Every joined subject gets the closing text; later answers are ignored.
        EXPECT_EQ(CountLines(run.wire, "The investment market has closed for the day"),
                  c.scenario.find("bob") == std::string::npos ? 1 : 2);
        EXPECT_EQ(run.transcript.find("RECV 10\n2008-11-05 14:30:4"), std::string::npos);
        EXPECT_EQ(CountLines(payouts, ",10.00," + std::to_string(c.rounds) + "\r"), 2) << payouts;
        EXPECT_EQ(CountLines(journal, "\"kind\":\"report\""), 1) << journal;
        EXPECT_EQ(CountLines(journal, "\"kind\":\"stop\""), 1) << journal;
    }
}

}  // namespace
