// DeskName, a second moderator account: its commands act as the
// moderator's, its replies go back to it and never to the moderator, it
// goes first past a flood as the moderator does, and it must be an
// account of its own.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const char kJoin[] = "at 5 im alice hi\nat 6 im bob hi\n";
const char kHurry[] = "I am on a tight schedule! Please send me your decision!";
const char kHurried[] = "okay, sent speed up message.";

std::string DeskConfig(std::map<std::string, std::string> changes = {}) {
    changes.emplace("DeskName", "wexdesk");
    return MakeConfig(changes);
}

// Every send to name, in the form of Sent().
std::vector<std::string> SendsTo(const BotRun& run, const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& sent : Sends(run)) {
        if (sent.find(" " + name + " ") != std::string::npos) out.push_back(sent);
    }
    return out;
}

TEST(DeskTest, DeskCommandsActAndTheirRepliesGoToTheDeskOnly) {
    BotRun run = RunScenario(std::string(kJoin) +
                                 "at 20 im wexdesk ?\nat 30 im wexdesk s\n"
                                 "at 40 im wexdesk b hello\nat 50 im wexdesk e\n"
                                 "at 60 im mod ?\nat 70 end\n",
                             DeskConfig());
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    std::vector<std::string> desk = SendsTo(run, "wexdesk");
    ASSERT_EQ(desk.size(), 4u) << run.wire;
    EXPECT_NE(desk[0].find("Status: round 1 of 4."), std::string::npos) << desk[0];
    EXPECT_EQ(desk[1], Sent(31, "wexdesk", kHurried));
    EXPECT_EQ(desk[2], Sent(41, "wexdesk", "Message was broadcast."));
    EXPECT_EQ(desk[3], Sent(51, "wexdesk", "Okay, Ending Game"));
    // The subjects got the hurry and the broadcast.
    EXPECT_EQ(CountLines(run.transcript, std::string("SEND ") + kHurry), 2);
    EXPECT_EQ(CountLines(run.transcript, "SEND hello"), 2);
    // The moderator hears only the answer to its own ?, which says the
    // desk's e ended the game.
    std::vector<std::string> mod = SendsTo(run, "mod");
    ASSERT_EQ(mod.size(), 1u) << run.wire;
    EXPECT_EQ(mod[0].rfind("61.000 mod Status: round 1 of 4.", 0), 0u) << mod[0];
    EXPECT_NE(mod[0].find("Ended by e: yes."), std::string::npos) << mod[0];
}

TEST(DeskTest, WithoutDeskNameTheSameAccountIsAStranger) {
    // Without the key, wexdesk's s hurries nobody.
    BotRun run = RunScenario(std::string(kJoin) + "at 20 im wexdesk s\nat 30 end\n");
    EXPECT_EQ(CountLines(run.transcript, std::string("SEND ") + kHurry), 0);
    for (const std::string& sent : SendsTo(run, "wexdesk")) {
        EXPECT_EQ(sent.find(kHurried), std::string::npos) << sent;
    }
}

std::string Burst(const std::string& name, double from, int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "at " + std::to_string(from + 0.5 * i / count) + " im " + name + " junk\n";
    }
    return lines;
}

TEST(DeskTest, DeskGoesFirstPastAFloodAsTheModeratorDoes) {
    BotRun run = RunScenario(
        std::string(kJoin) + Burst("alice", 20, 3000) + "at 20.6 im wexdesk ?\nat 90 end\n",
        DeskConfig());
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    std::vector<std::string> desk = SendsTo(run, "wexdesk");
    ASSERT_FALSE(desk.empty()) << run.wire;
    // Answered within about one reply delay, not after alice's messages.
    EXPECT_LT(std::stod(desk[0]), 23) << desk[0];
}

TEST(DeskTest, DeskNameMustBeAnAccountOfItsOwnAndAValidName) {
    struct Case {
        std::map<std::string, std::string> changes;
        std::string reason;
    };
    const Case cases[] = {
        {{{"DeskName", "mod"}}, "DeskName: username \"mod\" is already ModeratorName"},
        {{{"DeskName", "Alice"}}, "DeskName: username \"Alice\" is already Subject1Name"},
        {{{"DeskName", "selkbot"}}, "DeskName: username \"selkbot\" is already BotUsername"},
        {{{"DeskName", "desk@lab"}}, "DeskName: username holds '@'"},
        {{{"DeskName", "fourteenchars1"}}, "DeskName: username is too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        BotRun run = RunScenario("at 1 end\n", MakeConfig(c.changes));
        EXPECT_EQ(run.exitStatus, 87);
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("logging in"), std::string::npos);
    }
}

}  // namespace
