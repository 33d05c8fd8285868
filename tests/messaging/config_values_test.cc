// Reading one configuration value by its key, as the bot reads it.
#include "messaging/config_values.h"

#include <filesystem>

#include "tests/handle_test_util.h"
#include "tests/test_util.h"

namespace {

std::string Fault(const std::string& key, const std::string& text) {
    return ValueFault(ConfigKeyNamed(key), text);
}

// Each value is refused as the bot refuses it at start-up, or taken as the
// bot has always taken it.
TEST(ConfigValuesTest, NumbersAreReadAsTheBotReadsThem) {
    struct Case {
        const char* key;
        const char* text;
        const char* fault;  // "" when the value is good
    };
    const Case cases[] = {
        {"NRounds", "4", ""},
        {"NRounds", "+7 ", ""},
        {"NRounds", "12abc", "NRounds is not a whole number"},
        {"NRounds", "", "NRounds is not a whole number"},
        {"NRounds", "-1", "NRounds must not be negative"},
        {"NRounds", "100001", "NRounds must be at most 100000, found 100001"},
        // Read as the nearest int, as the bot reads it.
        {"NRounds", "99999999999", "NRounds must be at most 100000, found 2147483647"},
        {"ConversationInterval", "0", "ConversationInterval must be 1 or more, found 0"},
        {"MaxChatIdle", "-5", ""},
        {"MaxChatTime", "99999999999",
         "MaxChatTime is beyond the whole numbers the bot reads, found \"99999999999\""},
        {"BotPasswordIndex", "-1", "BotPasswordIndex must not be negative"},
        {"MarketBase", "1e3 ", ""},
        {"MarketBase", "1.5x", "MarketBase must be a finite number, found \"1.5x\""},
        {"MarketNoiseScale", "inf", "MarketNoiseScale must be a finite number, found \"inf\""},
        {"MarketNoise", "0.25, 0.75", ""},
        {"MarketNoise", "0.2,,0.8", "MarketNoise element 2 must be a finite number, found \"\""},
        {"BonusMarketGW", "1,x", "BonusMarketGW element 2 must be a finite number, found \"x\""},
        {"CreditValue", "0.01 ", ""},
        {"CreditValue", "-0.01", "CreditValue must be a number of 0 or more, found \"-0.01\""},
        {"MaxPayout", "nan", "MaxPayout must be a number of 0 or more, found \"nan\""},
        {"FloodLimit", "+5", ""},
        {"FloodLimit", "-1", "FloodLimit must be a whole number from 0 to 100000, found \"-1\""},
        {"FloodSeconds", "10s",
         "FloodSeconds must be a whole number from 1 to 3600, found \"10s\""},
        {"MaxMessageBytes", "4096\t", ""},
        {"MaxMessageBytes", "+4096",
         "MaxMessageBytes must be a whole number from 64 to 1048576, found \"+4096\""},
        {"MaxMessageBytes", "1048577", "found \"1048577\""},
        {"AnswerTimeout", "30 ", ""},
        {"AnswerTimeout", "-0",
         "AnswerTimeout must be a whole number of seconds from 0 (off) to 86400, found \"-0\""},
        {"AnswerTimeout", "86401", "found \"86401\""},
        {"TimeoutAnswer", "last ", ""},
        {"TimeoutAnswer", "60", ""},
        {"TimeoutAnswer", "61",
         "TimeoutAnswer must be \"last\" or a whole number from 0 to 60, found \"61\""},
        {"TimeoutAnswer", "Last", "found \"Last\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.text);
        std::string fault = Fault(c.key, c.text);
        if (std::string(c.fault).empty()) {
            EXPECT_EQ(fault, "");
        } else {
            EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
        }
    }
}

TEST(ConfigValuesTest, NamesPathsAndServices) {
    EXPECT_EQ(Fault("Subject1Name", "alice"), "");
    EXPECT_EQ(Fault("Subject2Name", "bob "),
              "Subject2Name: username holds a blank, which cannot be in an address.");
    EXPECT_EQ(Fault("DeskName", ""),
              "DeskName: username is missing or zero length. Check config file.");
    EXPECT_EQ(Fault("ModeratorName", "fourteenchars1"), "ModeratorName: username is too long.");
    EXPECT_EQ(Fault("LogFile", ""), kNoLogFileText);
    EXPECT_EQ(Fault("PasswordFile", ""), kNoPasswordFileText);
    EXPECT_EQ(Fault("Resume", ""), "");  // no journal: a new game
    EXPECT_EQ(Fault("Service", ""), kNoServiceText);
    EXPECT_EQ(Fault("Service", "carrier:pigeon"),
              "Service 'carrier:pigeon' is not known (use sim:PATH or xmpp:DOMAIN)");
    EXPECT_EQ(Fault("Service", "xmpp:lab.example@127.0.0.1:5222;trust=any"), "");
    EXPECT_NE(Fault("Service", "xmpp:lab example").find("Service xmpp:"), std::string::npos);
    EXPECT_EQ(Fault("Service", "sim:"),
              "Service sim: needs the path of a scenario file (sim:PATH)");
}

// A simulated service's scenario is read and parsed, and nothing is
// prepared: the wire log it names is not made.
TEST(ConfigValuesTest, SimulatedServiceScenarioIsParsedNotPrepared) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "good.txt", "wirelog " + (dir / "wire.log") + "\nat 1 end\n");
    testutil::WriteFile(dir / "bad.txt", "at 2 end\nat 1 end\n");
    EXPECT_EQ(Fault("Service", "sim:" + (dir / "good.txt")), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "wire.log"));
    EXPECT_NE(Fault("Service", "sim:" + (dir / "bad.txt")).find("bad.txt:2:"), std::string::npos);
    EXPECT_EQ(Fault("Service", "sim:" + (dir / "none.txt")),
              "cannot read the scenario file " + (dir / "none.txt"));
}

TEST(ConfigValuesTest, AnAbsentKeyReadsAsItsDefault) {
    PropertyFile config = testutil::ConfigFrom("FloodLimit 3\nResume \n");
    bool given = false;
    EXPECT_EQ(ValueOrDefault(config, ConfigKeyNamed("FloodLimit"), &given), "3");
    EXPECT_TRUE(given);
    EXPECT_EQ(ValueOrDefault(config, ConfigKeyNamed("FloodSeconds"), &given), "10");
    EXPECT_FALSE(given);
    EXPECT_EQ(ValueOrDefault(config, ConfigKeyNamed("TimeoutAnswer")), "last");
    EXPECT_EQ(ValueOrDefault(config, ConfigKeyNamed("Resume"), &given), "");
    EXPECT_TRUE(given);
    EXPECT_EQ(ValueOrDefault(config, ConfigKeyNamed("DeskName"), &given), "");
    EXPECT_FALSE(given);

    std::string choice;
    int32_t value = -7;
    EXPECT_EQ(ReadAnswer(ConfigKeyNamed("TimeoutAnswer"), " last", &choice, &value), "");
    EXPECT_EQ(choice, "last");
    EXPECT_EQ(value, -7);
    EXPECT_EQ(ReadAnswer(ConfigKeyNamed("TimeoutAnswer"), "12", &choice, &value), "");
    EXPECT_EQ(choice, "");
    EXPECT_EQ(value, 12);
}

// A choice key takes one of its words, blanks around it, and nothing else.
TEST(ConfigValuesTest, ChoiceIsOneOfItsWords) {
    const ConfigKey& key = ConfigKeyNamed("Dropout");
    std::string choice;
    EXPECT_EQ(ReadChoice(key, " pay\t", &choice), "");
    EXPECT_EQ(choice, "pay");
    EXPECT_EQ(ReadChoice(key, "robot", &choice), "");
    EXPECT_EQ(choice, "robot");
    for (const char* wrong : {"", "Pay", "robots", "1", "robot pay"}) {
        EXPECT_EQ(ReadChoice(key, wrong, &choice),
                  std::string("Dropout must be \"robot\" or \"pay\", found \"") + wrong + "\"");
    }
    EXPECT_EQ(ValueFault(key, "pay"), "");
    EXPECT_NE(ValueFault(key, "stay"), "");
}

}  // namespace
