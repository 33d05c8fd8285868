// A participant who writes far faster than anyone plays: the moderator is
// still answered at once, the flood is recorded once with its count, the
// last message of the burst counts, and a stop is not held up by it.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"

namespace {

const char kJoin[] = "at 1 im alice hi\nat 2 im bob hi\n";

// count messages from name, evenly between from and from + spanSeconds;
// the last one is last, the others junk.
std::string Burst(const std::string& name, double from, double spanSeconds, int count,
                  const std::string& last) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        char at[32];
        std::snprintf(at, sizeof at, "%.4f", from + spanSeconds * i / count);
        lines += std::string("at ") + at + " im " + name + " " +
                 (i + 1 == count ? last : "junk " + std::to_string(i)) + "\n";
    }
    return lines;
}

// The simulated time of the first send to name at or after from; -1 when
// there is none.
double FirstSendTo(const BotRun& run, const std::string& name, double from) {
    for (const std::string& sent : Sends(run, from)) {
        if (sent.find(" " + name + " ") != std::string::npos) return std::stod(sent);
    }
    return -1;
}

TEST(FloodTest, ModeratorIsAnsweredAndTheLastAnswerOfTheBurstCounts) {
    BotRun run = RunScenario(std::string(kJoin) + Burst("alice", 20, 0.79, 5000, "25") +
                             "at 21 im mod ?\nat 120 im mod ?\nat 130 end\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    // The moderator's ? goes before everything alice sent.
    double answered = FirstSendTo(run, "mod", 21);
    EXPECT_GE(answered, 21);
    EXPECT_LT(answered, 23);
    // Ten messages in ten seconds are answered one by one; the rest once.
    EXPECT_EQ(CountLines(run.transcript, "alice         RECV junk"), 10);
    std::vector<std::string> drops = LinesWith(run.transcript, " DROP ");
    ASSERT_EQ(drops.size(), 1u) << run.transcript;
    EXPECT_NE(drops[0].find("alice         DROP 4989 messages not answered one by one (more "
                            "than 10 in 10 s); the last one follows"),
              std::string::npos)
        << drops[0];
    EXPECT_NE(run.wire.find("\"from\":\"alice\",\"session\":1,\"text\":\"25\",\"skipped\":4989"),
              std::string::npos);
    EXPECT_NE(run.wire.find("You expect your partner to invest: 25"), std::string::npos);
    // Within about the rate's worth of replies the bot is idle again.
    EXPECT_GT(FirstSendTo(run, "mod", 120), 0);
    EXPECT_LT(FirstSendTo(run, "mod", 120), 122);
}

TEST(FloodTest, OrdinaryPlayIsNotFolded) {
    // Ten answers in ten seconds and a subject who changes her mind: each
    // is answered, in order, a second apart.
    std::string play = std::string(kJoin) + "at 20 im alice 61\nat 20.5 im alice 70\n";
    for (int i = 0; i < 8; ++i) play += "at " + std::to_string(21 + i) + " im alice x\n";
    BotRun run = RunScenario(play + "at 60 end\n");
    EXPECT_EQ(run.transcript.find(" DROP "), std::string::npos);
    EXPECT_EQ(CountLines(run.transcript, "alice         RECV"), 11);
    EXPECT_EQ(CountLines(run.wire, "Invalid input"), 8);
}

TEST(FloodTest, StopDuringAFloodEndsWithinTwoSeconds) {
    BotRun run = RunScenario(std::string(kJoin) + Burst("alice", 20, 0.79, 5000, "25") +
                             "at 21.5 signal TERM\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    std::vector<std::string> signoff = LinesWith(run.wire, "\"op\":\"signoff\"");
    ASSERT_EQ(signoff.size(), 1u);
    double at = std::stod(signoff[0].substr(5));
    EXPECT_LE(at, 23.5) << signoff[0];
    EXPECT_NE(run.out.find(" received messages are left unanswered\n"), std::string::npos);
    EXPECT_NE(run.out.find("wexbot shutting down with hr=00000000"), std::string::npos);
}

TEST(FloodTest, AStrangerIsAnsweredOnceAMinute) {
    std::string stranger;
    for (int i = 0; i < 30; ++i) stranger += "at " + std::to_string(10 + i) + " im carol hey\n";
    BotRun run = RunScenario(std::string(kJoin) + stranger + "at 75 im carol again\nat 90 end\n");
    std::vector<std::string> replies;
    for (const std::string& sent : Sends(run)) {
        if (sent.find(" carol ") != std::string::npos) replies.push_back(sent.substr(0, 6));
    }
    EXPECT_EQ(replies, (std::vector<std::string>{"11.000", "76.000"}));
    // Everything it wrote is in the record, under its own name.
    EXPECT_EQ(CountLines(run.transcript, "carol         RECV hey"), 30);
    EXPECT_EQ(CountLines(run.transcript, "carol         RECV again"), 1);
}

}  // namespace
