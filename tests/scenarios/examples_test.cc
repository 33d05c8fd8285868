// The examples that the README runs play to the moderator's report, the
// same way every time.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "harness.h"

namespace {

std::string ReadExample(const std::string& name) {
    std::ifstream in(std::string(EXAMPLES_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

BotRun RunExample(const std::string& name) {
    return RunBotWith({{name + ".conf", ReadExample(name + ".conf")},
                       {name + ".scenario", ReadExample(name + ".scenario")},
                       {"rehearsal-passwords.txt", ReadExample("rehearsal-passwords.txt")}},
                      {name + ".conf"});
}

void ExpectWholeGame(const std::string& name, int rounds) {
    BotRun first = RunExample(name);
    BotRun second = RunExample(name);
    EXPECT_EQ(first.exitStatus, 0);
    EXPECT_EQ(CountLines(first.out, "moderator     SEND alice total credits earned"), 1);
    EXPECT_EQ(CountLines(first.out, "moderator     SEND bob total credits earned"), 1);
    EXPECT_EQ(CountLines(first.out, "SEND team 1:"), 1);
    EXPECT_EQ(CountLines(first.out, "Round " + std::to_string(rounds) + " Earnings"), 2);
    EXPECT_EQ(CountLines(first.out, "The investment market has closed"), 2);
    EXPECT_EQ(WithoutWorkingDirectory(first.out), WithoutWorkingDirectory(second.out));
    EXPECT_EQ(first.transcript, second.transcript);
    EXPECT_EQ(first.err, "");
    // Every transcript line is on the console too.
    std::istringstream lines(first.transcript);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_NE(first.out.find(line), std::string::npos) << line;
    }
}

TEST(ExamplesTest, FourRoundsPlayToTheReport) {
    ExpectWholeGame("four-rounds", 4);
    BotRun run = RunExample("four-rounds");
    EXPECT_EQ(CountLines(run.out, "WARNING: hit rate limit"), 3);
    EXPECT_EQ(CountLines(run.out, "RECV twenty"), 1);
    EXPECT_EQ(CountLines(run.out, "visitor       RECV hello?"), 1);
}

TEST(ExamplesTest, RehearsalPlaysTenRoundsWithABreak) {
    ExpectWholeGame("rehearsal", 10);
    BotRun run = RunExample("rehearsal");
    EXPECT_EQ(CountLines(run.out, "SEND (from alice) "), 4);  // to Bob and the moderator
    EXPECT_EQ(CountLines(run.out, "SEND Chat has been idle"), 6);
    EXPECT_EQ(CountLines(run.out, "SEND 5-minute break time is up."), 2);
    EXPECT_EQ(CountLines(run.out, "SEND Five rounds to go."), 2);
    EXPECT_EQ(CountLines(run.out, "SEND I am on a tight schedule!"), 2);
    // The connection drops mid-game and the game goes on.
    EXPECT_EQ(CountLines(run.out, "wexbot disconnected, reconnecting..."), 1);
    EXPECT_EQ(CountLines(run.out, "wexbot online and ready."), 2);
}

}  // namespace
