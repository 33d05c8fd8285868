// Start-up and shutdown of wexbot: the command line, refused
// configurations and a good start.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const char kShutdownInvalidArg[] = "wexbot shutting down with hr=80070057 (unknown error code)\n";

TEST(StartupTest, WrongCommandLinePrintsUsageAndExits255) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
        BotRun run = RunBotWith({}, args);
        EXPECT_EQ(run.out, "usage: wexbot <path_to_config_file>\n");
        EXPECT_EQ(run.exitStatus, 255);
    }
}

// Each broken configuration ends with E_INVALIDARG, exit status 87, a
// reason on standard error naming the problem, and no sign-on.
TEST(StartupTest, RefusedConfigurationsSayWhy) {
    struct Case {
        std::map<std::string, std::string> changes;
        std::string reasonMentions;
    };
    const Case cases[] = {
        {{{"LogFile", ""}}, "LogFile"},
        {{{"Subject1Name", ""}}, "Subject1Name"},
        {{{"ModeratorName", "fourteenchars1"}}, "too long"},
        {{{"BotPasswordIndex", "5"}}, "BotPasswordIndex"},
        {{{"PasswordFile", "missing.txt"}}, "PasswordFile"},
        {{{"Service", ""}}, "Service"},
        {{{"Service", "carrier:pigeon"}}, "carrier:pigeon"},
        {{{"Service", "sim:nowhere.txt"}}, "nowhere.txt"},
        {{{"ConversationInterval", "0"}}, "ConversationInterval"},
        {{{"MarketBase", "0"}}, "MarketNoise"},
        {{{"NRounds", "-1"}}, "NRounds"},
        {{{"NRounds", "100001"}}, "NRounds must be at most 100000, found 100001"},
        {{{"NRounds", "2147483647"}}, "NRounds must be at most 100000"},
        {{{"NRounds", "abc"}}, "NRounds is not a whole number"},
        {{{"NRounds", " "}}, "NRounds is not a whole number"},
        {{{"Subject2Name", "bob "}}, "Subject2Name: username holds a blank"},
        {{{"ModeratorName", "mod@lab"}}, "ModeratorName: username holds '@'"},
        {{{"LogFile", "no/such/folder/run"}}, "cannot write the transcript no/such/folder/run_"},
        // One account for two parties would route a subject as the moderator.
        {{{"Subject1Name", "mod"}}, "ModeratorName: username \"mod\" is already Subject1Name"},
        {{{"Subject2Name", "Alice"}}, "Subject2Name: username \"Alice\" is already Subject1Name"},
        {{{"BotUsername", "alice"}}, "Subject1Name: username \"alice\" is already BotUsername"},
        {{{"MinPayout", "30"}}, "MinPayout (30) must not exceed MaxPayout (25)"},
        {{{"CreditValue", "-0.01"}}, "CreditValue must be a number of 0 or more, found \"-0.01\""},
        {{{"MaxPayout", "lots"}}, "MaxPayout must be a number of 0 or more"},
        {{{"FloodLimit", "-1"}}, "FloodLimit must be a whole number from 0 to 100000"},
        {{{"FloodSeconds", "0"}}, "FloodSeconds must be a whole number from 1 to 3600"},
        {{{"FloodSeconds", "10s"}}, "FloodSeconds must be a whole number"},
        {{{"MaxMessageBytes", "abc"}},
         "MaxMessageBytes must be a whole number from 64 to 1048576, found \"abc\""},
        {{{"MaxMessageBytes", "63"}}, "MaxMessageBytes must be a whole number from 64"},
        {{{"MaxMessageBytes", "1048577"}}, "found \"1048577\""},
        {{{"MaxMessageBytes", "-4096"}}, "found \"-4096\""},
        {{{"MaxMessageBytes", "4096 bytes"}}, "found \"4096 bytes\""},
        {{{"MaxMessageBytes", "99999999999"}}, "found \"99999999999\""},
        {{{"AnswerTimeout", "-5"}},
         "AnswerTimeout must be a whole number of seconds from 0 (off) to 86400, found \"-5\""},
        {{{"AnswerTimeout", "30s"}}, "AnswerTimeout must be a whole number"},
        {{{"AnswerTimeout", "86401"}}, "found \"86401\""},
        {{{"TimeoutAnswer", "61"}},
         "TimeoutAnswer must be \"last\" or a whole number from 0 to 60, found \"61\""},
        {{{"TimeoutAnswer", "previous"}}, "found \"previous\""},
        {{{"TimeoutAnswer", "-1"}}, "found \"-1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reasonMentions);
        BotRun run = RunScenario("at 1 end\n", MakeConfig(c.changes));
        EXPECT_NE(run.out.find(kShutdownInvalidArg), std::string::npos) << run.out;
        EXPECT_EQ(run.exitStatus, 87);
        EXPECT_NE(run.err.find(c.reasonMentions), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("logging in"), std::string::npos);
        EXPECT_EQ(run.wire.find("\"op\":\"send\""), std::string::npos);
    }
}

// A configuration file that can't be read is named with the reason, not
// reported as a missing Service key.
TEST(StartupTest, UnreadableConfigurationFileIsNamed) {
    struct Case {
        std::string path;
        std::string reason;
    };
    for (const Case& c : {Case{"missing.conf", "missing.conf: No such file or directory"},
                          Case{".", "cannot read the configuration file .: Is a directory"}}) {
        BotRun run = RunBotWith({}, {c.path});
        EXPECT_EQ(run.exitStatus, 87);
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Service"), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(kShutdownInvalidArg), std::string::npos) << run.out;
    }
}

TEST(StartupTest, ByteOrderMarkBeforeTheFirstKeyIsSkipped) {
    BotRun run = RunBotWith({{"bot.conf", "\xEF\xBB\xBF" + MakeConfig()},
                             {"sc.txt", "start 2008-11-05T14:30:00\nat 1 end\n"}},
                            {"bot.conf"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(run.out.find("wexbot online and ready."), std::string::npos) << run.out;
}

// Scenario counts that add up past the largest integer neither overflow nor
// make one entry per send.
TEST(StartupTest, HugeScenarioCountsSaturate) {
    BotRun run = RunScenario(
        "at 0 fail alice WEX_E_USER_UNAVAILABLE 2147483647\n"
        "at 0 fail alice WEX_E_USER_UNAVAILABLE 2147483647\n"
        "at 0 openfail bob 2147483647\nat 0 openfail bob 2147483647\n"
        "at 1 im alice hi\nat 2 im bob hi\nat 30 end\n");
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_FALSE(LinesWith(run.wire, "\"op\":\"send\",\"to\":\"alice\"").empty());
    for (const std::string& line : LinesWith(run.wire, "\"op\":\"send\",\"to\":\"alice\"")) {
        EXPECT_NE(line.find("\"code\":\"80040271\""), std::string::npos) << line;
    }
}

TEST(StartupTest, NegativeRoundsRefusedAfterTheInitLines) {
    BotRun run = RunScenario("at 1 end\n", MakeConfig({{"NRounds", "-1"}}));
    EXPECT_EQ(CountLines(run.transcript, " INIT "), 4);
    EXPECT_EQ(run.wire, "");
}

TEST(StartupTest, MalformedScenarioLineNamesFileAndLine) {
    BotRun run = RunScenario("at 1 end\nat 0.5 im alice hi\n");
    EXPECT_EQ(run.exitStatus, 87);
    EXPECT_NE(run.err.find("sc.txt:4:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("earlier"), std::string::npos) << run.err;
}

TEST(StartupTest, GoodStartPrintsInitLinesAndMaskedSignOn) {
    BotRun run = RunScenario("at 1 end\n");
    const char* expected =
        "wexbot initializing...\n"
        "2008-11-05 14:30:00 selkbot       INIT SelkBot initializing.\n"
        "2008-11-05 14:30:00 alice         INIT Subject 1 username initialized.\n"
        "2008-11-05 14:30:00 bob           INIT Subject 2 username initialized.\n"
        "2008-11-05 14:30:00 mod           INIT Moderator username initialized.\n"
        "journal: run_20081105_143000.journal\n"
        "m_spPrefs->SetValue() succeeded!\n"
        "logging in with username \"selkbot\", password \"********\", key \"selkbot "
        "(Key:K1)\"\n"
        "wexbot connecting...\n"
        "wexbot online and ready.\n"
        "wexbot offline, qutting.\n"
        "wexbot shutting down with hr=00000000 (unknown error code)\n";
    EXPECT_NE(run.out.find("\nworking directory: /tmp/"), std::string::npos);
    EXPECT_EQ(WithoutWorkingDirectory(run.out), expected);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.transcript.find("secret"), std::string::npos);
    EXPECT_EQ(run.wire.find("secret"), std::string::npos);
    EXPECT_EQ(run.wireLines.front(),
              "{\"t\":0.000,\"op\":\"signon\",\"name\":\"selkbot\",\"client\":\"selkbot "
              "(Key:K1)\"}");
}

TEST(StartupTest, SameScenarioTwiceGivesIdenticalOutput) {
    const char* scenario =
        "at 3 drop\nat 4 request 1 0\nat 5 state 210\nat 9.25 state 50\nat 40 end\n";
    BotRun first = RunScenario(scenario);
    BotRun second = RunScenario(scenario);
    EXPECT_EQ(WithoutWorkingDirectory(first.out), WithoutWorkingDirectory(second.out));
    EXPECT_EQ(first.transcript, second.transcript);
    EXPECT_EQ(first.wire, second.wire);
    EXPECT_FALSE(first.wire.empty());
}

}  // namespace
