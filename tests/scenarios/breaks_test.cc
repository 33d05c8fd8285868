// Chat breaks: relaying, "done", the worker thread's time-up and idle
// reminders, and sends of the two threads under the send lock.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace {

// Alice and bob join and play rounds 1 and 2; bob's answer at 20 s closes
// round 2 and opens the break. The worker ticks at 10, 20, 30... seconds
// until one of its own sends (1 s each) shifts it.
const char kToBreak[] =
    "at 1 im alice hi\nat 2 im bob hi\n"
    "at 5 im alice 10\nat 6 im alice 10\nat 7 im bob 10\nat 8 im bob 10\n"
    "at 17 im alice 20\nat 18 im alice 20\nat 19 im bob 30\nat 20 im bob 30\n";

// Texts as they appear (escaped) in the wire log.
const char kPrompt3[] =
    "Current round: 3\\nWhen you are ready, please tell me how much you think your partner "
    "will invest:";
const char kTimeUp3[] =
    "5-minute break time is up. The game will now resume.\\nCurrent round: 3\\nWhen you are "
    "ready, please tell me how much you think the other player will invest?";
// The time-up text of a break whose length reads length ("65-second").
std::string TimeUp3(const std::string& length) {
    return length + (kTimeUp3 + std::string("5-minute").size());
}
const char kIdle[] =
    "Chat has been idle for some time. If you are ready to resume the game, type 'done' and "
    "hit enter.";
const char kRateLimited[] = "80040210";

std::string Expect(int value) {
    return "You expect your partner to invest: " + std::to_string(value) +
           "\\nNow please tell me, how much would you like to invest?";
}

TEST(BreakTest, EndsWhenBothSayDone) {
    BotRun run = RunScenario(std::string(kToBreak) +
                             "at 30 im alice done\nat 40 im bob done\nat 50 im alice 5\n");
    EXPECT_EQ(CountLines(run.wire,
                         "\\nWe will now take a short break.  You will have up to 5 "
                         "minutes for negotiations with the other person.  "),
              2);
    // No "done" is relayed; the second one prompts both; then answers count
    // again, and no timer message follows.
    EXPECT_EQ(Sends(run, 23),
              (std::vector<std::string>{Sent(41, "alice", kPrompt3), Sent(42, "bob", kPrompt3),
                                        Sent(51, "alice", Expect(5))}));
    EXPECT_EQ(CountLines(run.transcript, "RECV done"), 0);
    EXPECT_EQ(CountLines(run.transcript, "alice         RECV 5"), 1);
}

TEST(BreakTest, EndsByTimeAtFirstTickMoreThanMaxChatTimeAfterItsStart) {
    // The break starts at 20: with 300 s the tick at 320 is not late enough,
    // the one at 330 is. With 65 s the tick at 90 is both past the time and
    // idle: the time-out wins and no reminder is sent. The texts state the
    // break's real length.
    struct Case {
        std::string maxChatTime, maxChatIdle;
        int timeUp;
        std::string length, adjective;
    };
    for (const Case& c : {Case{"300", "1000", 331, "5 minutes", "5-minute"},
                          Case{"65", "60", 91, "65 seconds", "65-second"}}) {
        SCOPED_TRACE(c.maxChatTime);
        int answer = c.timeUp + 9;
        BotRun run = RunScenario(
            std::string(kToBreak) + "at " + std::to_string(answer) + " im alice 7\n",
            MakeConfig({{"MaxChatTime", c.maxChatTime}, {"MaxChatIdle", c.maxChatIdle}}));
        std::string timeUp = TimeUp3(c.adjective);
        EXPECT_EQ(Sends(run, 23), (std::vector<std::string>{Sent(c.timeUp, "alice", timeUp),
                                                            Sent(c.timeUp, "bob", timeUp),
                                                            Sent(answer + 1, "alice", Expect(7))}));
        EXPECT_EQ(CountLines(run.transcript, "SEND " + c.adjective + " break time is up."), 2);
        EXPECT_EQ(CountLines(run.wire, "You will have up to " + c.length + " for negotiations"), 2);
    }
}

TEST(BreakTest, IdleRemindersCountFromTheLastReminderOrMessage) {
    struct Case {
        std::string chat;
        std::vector<std::string> sends;
    };
    // Break from 20. Idle from 20: reminders at ticks 90, 151, 212, 273
    // (each sent 1 s later); time-up at tick 324. A message at 75, even a
    // stranger's, restarts the idle clock: ticks 140, 201, 262, then 323.
    std::vector<std::string> fromTwenty = {
        Sent(91, "alice", kIdle),  Sent(91, "bob", kIdle),    Sent(152, "alice", kIdle),
        Sent(152, "bob", kIdle),   Sent(213, "alice", kIdle), Sent(213, "bob", kIdle),
        Sent(274, "alice", kIdle), Sent(274, "bob", kIdle),   Sent(325, "alice", kTimeUp3),
        Sent(325, "bob", kTimeUp3)};
    std::vector<std::string> fromChat = {Sent(141, "alice", kIdle),    Sent(141, "bob", kIdle),
                                         Sent(202, "alice", kIdle),    Sent(202, "bob", kIdle),
                                         Sent(263, "alice", kIdle),    Sent(263, "bob", kIdle),
                                         Sent(324, "alice", kTimeUp3), Sent(324, "bob", kTimeUp3)};
    std::vector<std::string> relayed = {Sent(75, "mod", "(from alice) hi bob"),
                                        Sent(76, "bob", "(from alice) hi bob")};
    relayed.insert(relayed.end(), fromChat.begin(), fromChat.end());
    for (const Case& c : {Case{"", fromTwenty}, Case{"at 75 im alice hi bob\n", relayed},
                          Case{"at 75 im carol hello\n", fromChat}}) {
        SCOPED_TRACE(c.chat);
        BotRun run = RunScenario(kToBreak + c.chat);
        EXPECT_EQ(Sends(run, 23), c.sends);
        EXPECT_EQ(CountLines(run.transcript, "SEND Chat has been idle"),
                  std::count_if(c.sends.begin(), c.sends.end(), [](const std::string& send) {
                      return send.find(kIdle) != std::string::npos;
                  }));
        EXPECT_EQ(CountLines(run.transcript, "carol"), 0);
    }
}

TEST(BreakTest, OnlyTheExactWordDoneCounts) {
    BotRun run = RunScenario(std::string(kToBreak) + "at 30 im alice done.\nat 40 im bob done\n");
    // "done." is chat; bob's "done" alone leaves the break running.
    std::vector<std::string> sends = Sends(run, 23, 112);
    EXPECT_EQ(sends,
              (std::vector<std::string>{Sent(30, "mod", "(from alice) done."),
                                        Sent(31, "bob", "(from alice) done."),
                                        Sent(111, "alice", kIdle), Sent(111, "bob", kIdle)}));
}

TEST(BreakTest, SubjectWhoSaidDoneStillChats) {
    BotRun run = RunScenario(std::string(kToBreak) +
                             "at 30 im alice done\nat 35 im alice one more thing\n"
                             "at 40 im bob ok\nat 50 im bob done\n");
    EXPECT_EQ(Sends(run, 23),
              (std::vector<std::string>{Sent(35, "mod", "(from alice) one more thing"),
                                        Sent(36, "bob", "(from alice) one more thing"),
                                        Sent(40, "mod", "(from bob) ok"),
                                        Sent(41, "alice", "(from bob) ok"),
                                        Sent(51, "alice", kPrompt3), Sent(52, "bob", kPrompt3)}));
}

TEST(BreakTest, NumberDuringBreakIsChatNotAnAnswer) {
    BotRun run = RunScenario(std::string(kToBreak) +
                             "at 30 im bob 15\nat 40 im alice done\nat 41 im bob done\n"
                             "at 50 im bob 25\n");
    // 15 is relayed; 25 after the break is bob's first answer of round 3.
    EXPECT_EQ(Sends(run, 23), (std::vector<std::string>{
                                  Sent(30, "mod", "(from bob) 15"),
                                  Sent(31, "alice", "(from bob) 15"), Sent(42, "alice", kPrompt3),
                                  Sent(43, "bob", kPrompt3), Sent(51, "bob", Expect(25))}));
    EXPECT_EQ(CountLines(run.transcript, "RECV 15"), 0);
    EXPECT_EQ(CountLines(run.transcript, "bob           RECV 25"), 1);
}

TEST(BreakTest, ModeratorsNEndsItAndTheNextBreakClearsDoneMarks) {
    // Alice says "done", then n ends the first break at once. Rounds 3 and 4
    // open a second break at 48, where bob's "done" alone ends nothing.
    BotRun run = RunScenario(std::string(kToBreak) +
                                 "at 25 im alice done\nat 30 im mod n\n"
                                 "at 35 im alice 10\nat 36 im alice 10\nat 37 im bob 10\n"
                                 "at 38 im bob 10\nat 45 im alice 10\nat 46 im alice 10\n"
                                 "at 47 im bob 10\nat 48 im bob 10\n"
                                 "at 55 im bob done\nat 60 im alice done\n",
                             MakeConfig({{"NRounds", "6"}}));
    EXPECT_EQ(Sends(run, 23, 35),
              (std::vector<std::string>{Sent(31, "alice", kPrompt3), Sent(32, "bob", kPrompt3)}));
    EXPECT_EQ(CountLines(run.wire, "We will now take a short break."), 4);
    std::string prompt5 =
        "Current round: 5\\nWhen you are ready, please tell me how much you think your partner "
        "will invest:";
    EXPECT_EQ(Sends(run, 51),
              (std::vector<std::string>{Sent(61, "alice", prompt5), Sent(62, "bob", prompt5)}));
    EXPECT_EQ(CountLines(run.wire, "\"to\":\"mod\""), 0);
}

TEST(BreakTest, RateLimitedSendHoldsBackTheOtherThread) {
    // The worker's reminder at tick 90 is refused twice (retries at 93 and
    // 97); bob's line at 92 cannot reach the moderator before 97.
    BotRun run = RunScenario(std::string(kToBreak) +
                             "at 85 ratelimit alice 2\nat 92 im bob hello\nat 120 end\n");
    std::vector<std::string> sends = Sends(run, 23);
    ASSERT_EQ(sends.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(sends.begin(), sends.begin() + 3),
              (std::vector<std::string>{Sent(91, "alice", kIdle, kRateLimited),
                                        Sent(93, "alice", kIdle, kRateLimited),
                                        Sent(97, "alice", kIdle)}));
    // Both wait for the lock; which of the two gets it first is not fixed.
    std::vector<std::string> at97(sends.begin() + 3, sends.begin() + 5);
    std::sort(at97.begin(), at97.end());
    EXPECT_EQ(at97, (std::vector<std::string>{Sent(97, "bob", kIdle),
                                              Sent(97, "mod", "(from bob) hello")}));
    EXPECT_EQ(sends[5], Sent(98, "alice", "(from bob) hello"));
    EXPECT_EQ(LinesWith(run.out, "WARNING"),
              (std::vector<std::string>{
                  "WARNING: hit rate limit.. will sleep for 2000ms and try again.",
                  "WARNING: hit rate limit.. will sleep for 4000ms and try again."}));
    EXPECT_EQ(CountLines(run.transcript, "14:31:37 alice         SEND Chat has been idle"), 1);

    // The other way round: the relay to the moderator at 88 is refused three
    // times and holds the time-up, due at tick 90, until 102.
    run = RunScenario(std::string(kToBreak) + "at 85 ratelimit mod 3\nat 88 im bob hello\n",
                      MakeConfig({{"MaxChatTime", "65"}}));
    EXPECT_EQ(Sends(run, 23),
              (std::vector<std::string>{
                  Sent(88, "mod", "(from bob) hello", kRateLimited),
                  Sent(90, "mod", "(from bob) hello", kRateLimited),
                  Sent(94, "mod", "(from bob) hello", kRateLimited),
                  Sent(102, "mod", "(from bob) hello"), Sent(102, "alice", TimeUp3("65-second")),
                  Sent(102, "bob", TimeUp3("65-second")), Sent(103, "alice", "(from bob) hello")}));
    EXPECT_EQ(CountLines(run.transcript, "SEND (from bob) hello"), 2);
}

}  // namespace
