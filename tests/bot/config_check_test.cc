// `wexbot --check-config`: every fault of a configuration, by line, in the
// words of the bot's own refusals.
#include "bot/config_check.h"

#include <gtest/gtest.h>

#include "bot/bot_client.h"
#include "bot/flood_guard.h"
#include "bot/string_ops.h"
#include "tests/test_util.h"

namespace {

// A configuration the bot starts with; the service needs no file.
const char kGood[] =
    "# one pair\n"
    "Service xmpp:lab.example@127.0.0.1:5222;trust=any\n"
    "BotUsername selkbot\n"
    "Subject1Name alice\n"
    "Subject2Name bob\n"
    "ModeratorName mod\n"
    "PasswordFile pw.txt\n"
    "KeyIndex 1\n"
    "LogFile run\n"
    "\n"
    "NRounds 4\n"
    "ConversationInterval 2\n"
    "MarketBase 0.5\n"
    "MarketNoiseScale 0\n"
    "MarketNoise 0\n"
    "MaxChatTime 300\n"
    "MaxChatIdle 60\n";

// The faults as "LINE: reason" ("reason" alone for the file as a whole).
std::vector<std::string> Faults(const std::string& text) {
    std::vector<std::string> out;
    for (const ConfigFault& fault : CheckConfigText(text)) {
        out.push_back(fault.line > 0 ? std::to_string(fault.line) + ": " + fault.reason
                                     : fault.reason);
    }
    return out;
}

// kGood with the key's line replaced by line ("" removes it), or line
// added at the end when the key has none.
std::string With(const std::string& key, const std::string& line) {
    std::string text = kGood;
    size_t at = text.find("\n" + key + " ");
    if (at == std::string::npos) return text + line + (line.empty() ? "" : "\n");
    size_t end = text.find('\n', at + 1);
    return text.substr(0, at + 1) + line + (line.empty() ? "" : "\n") + text.substr(end + 1);
}

TEST(ConfigCheckTest, AGoodFileHasNoFaultsHoweverItsLinesEnd) {
    EXPECT_EQ(Faults(kGood), std::vector<std::string>{});
    std::string crlf;
    for (char c : std::string(kGood)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(Faults(crlf), std::vector<std::string>{});
    // A key on the last line, with no line feed after it, is an entry.
    EXPECT_EQ(Faults(std::string(kGood) + "Resume"), std::vector<std::string>{});
    EXPECT_EQ(Faults(With("Resume", "Resume run_20081105_143000.journal")),
              std::vector<std::string>{});
}

TEST(ConfigCheckTest, EachLineFaultIsNamedAtItsLine) {
    EXPECT_EQ(Faults(With("Colour", "Colour blue")),
              std::vector<std::string>{"18: unknown key 'Colour'"});
    EXPECT_EQ(Faults(With("NRounds", "NRounds 100001")),
              std::vector<std::string>{"11: NRounds must be at most 100000, found 100001"});
    EXPECT_EQ(Faults(With("NRounds", "NRounds four")),
              std::vector<std::string>{"11: NRounds is not a whole number"});
    EXPECT_EQ(Faults(With("TimeoutAnswer", "TimeoutAnswer previous")),
              std::vector<std::string>{"18: TimeoutAnswer must be \"last\" or a whole number "
                                       "from 0 to 60, found \"previous\""});
    EXPECT_EQ(
        Faults(With("NRounds", "NRounds 4\nNRounds 5")),
        std::vector<std::string>{"12: NRounds is given again; the first, on line 11, counts"});
    // The bot reads no entry from a key with nothing after it, nor from a
    // line that begins with a blank.
    EXPECT_EQ(Faults(With("FloodLimit", "FloodLimit\n FloodLimit 5")),
              (std::vector<std::string>{"18: FloodLimit has no value",
                                        "19: the line begins with a blank, so the bot reads no "
                                        "key from it"}));
}

// The first entry is the one checked: a duplicate's value is not.
TEST(ConfigCheckTest, OnlyTheFirstEntryOfAKeyCounts) {
    EXPECT_EQ(Faults(With("FloodSeconds", "FloodSeconds 0\nFloodSeconds 10")),
              (std::vector<std::string>{
                  "18: FloodSeconds must be a whole number from 1 to 3600, found \"0\"",
                  "19: FloodSeconds is given again; the first, on line 18, counts"}));
    EXPECT_EQ(
        Faults(With("FloodSeconds", "FloodSeconds 10\nFloodSeconds 0")),
        std::vector<std::string>{"19: FloodSeconds is given again; the first, on line 18, counts"});
}

TEST(ConfigCheckTest, MissingKeysAreFaultsOfTheWholeFileAfterTheLines) {
    std::string text = kGood;
    text.erase(text.find("Subject2Name bob\n"), 17);
    text.erase(text.find("LogFile run\n"), 12);
    text.replace(text.find("NRounds 4\n"), 10, "Colour blue\n");
    EXPECT_EQ(Faults(text),
              (std::vector<std::string>{
                  "9: unknown key 'Colour'",
                  "Subject2Name: username is missing or zero length. Check config file.",
                  "LogFile: log file name is missing or empty. Check config file.",
                  "NRounds is missing"}));
    // Keys with a default, or whose absence means off, may be left out.
    EXPECT_EQ(Faults(With("KeyIndex", "")), std::vector<std::string>{});
    std::string bare = "Service \n";
    EXPECT_EQ(Faults(bare).front(),
              "1: Service is missing from the configuration (use sim:PATH or xmpp:DOMAIN)");
    EXPECT_EQ(Faults(bare).size(), 14u);  // and the other thirteen required keys
}

TEST(ConfigCheckTest, RulesOverSeveralKeys) {
    EXPECT_EQ(Faults(With("MarketBase", "MarketBase 0")),
              std::vector<std::string>{
                  "15: MarketNoise element 1 gives a market divisor of 0 or one that is not "
                  "finite (check MarketBase, MarketNoiseScale and MarketNoise)"});
    EXPECT_EQ(Faults(With("MarketNoise", "MarketNoise 0.25,0.5,0.75") + "MarketNoiseScale 2\n"),
              std::vector<std::string>{"18: MarketNoiseScale is given again; the first, on "
                                       "line 14, counts"});
    std::string scaled = With("MarketNoiseScale", "MarketNoiseScale 2");
    scaled.replace(scaled.find("MarketNoise 0\n"), 14, "MarketNoise 0.5,0.25\n");
    EXPECT_EQ(Faults(scaled), std::vector<std::string>{"15: MarketNoise element 2 gives a market "
                                                       "divisor of 0 or one that is not finite "
                                                       "(check MarketBase, MarketNoiseScale and "
                                                       "MarketNoise)"});
    // No divisor is worked out from a market key that is no number.
    EXPECT_EQ(Faults(With("MarketBase", "MarketBase zero")).size(), 1u);
    EXPECT_EQ(Faults(With("MinPayout", "MinPayout 30")),
              std::vector<std::string>{"18: MinPayout (30) must not exceed MaxPayout (25)"});
    EXPECT_EQ(Faults(With("MaxPayout", "MaxPayout 5")),
              std::vector<std::string>{"18: MinPayout (10) must not exceed MaxPayout (5)"});
    EXPECT_EQ(Faults(With("Subject2Name", "Subject2Name ALICE") + "DeskName Mod\n"),
              (std::vector<std::string>{
                  "5: Subject2Name: username \"ALICE\" is already Subject1Name; every party "
                  "needs an account of its own.",
                  "18: DeskName: username \"Mod\" is already ModeratorName; every party needs "
                  "an account of its own."}));
    EXPECT_EQ(Faults(With("Service", "Service carrier:pigeon")),
              std::vector<std::string>{
                  "2: Service 'carrier:pigeon' is not known (use sim:PATH or xmpp:DOMAIN)"});
}

// The bot's readers refuse the same values in the same words.
TEST(ConfigCheckTest, ReasonsAreTheBotsOwnRefusals) {
    const std::pair<std::string, std::string> cases[] = {
        {"NRounds", "NRounds 100001"},
        {"NRounds", "NRounds abc"},
        {"ConversationInterval", "ConversationInterval 0"},
        {"MarketBase", "MarketBase 0"},
        {"MinPayout", "MinPayout 30"},
        {"CreditValue", "CreditValue -1"},
        {"FloodLimit", "FloodLimit 100001"},
        {"FloodSeconds", "FloodSeconds x"},
    };
    for (const auto& [key, line] : cases) {
        SCOPED_TRACE(line);
        std::string text = With(key, line);
        std::vector<ConfigFault> faults = CheckConfigText(text);
        ASSERT_EQ(faults.size(), 1u);
        PropertyFile config;
        AssignText(config.configText, text);
        CBotClient* bot = new CBotClient();
        bot->AddRef();
        FloodGuard flood;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(bot->ReadGameParameters(config) && flood.Read(config));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "wexbot: " + faults[0].reason + "\n");
        bot->Release();
    }
}

TEST(ConfigCheckTest, FileFaultsArePrintedWithThePathAndTheExitStatusSaysIfAny) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "good.conf", kGood);
    testutil::WriteFile(dir / "bad.conf", With("NRounds", "NRounds -1") + "Colour blue\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckConfigFile(dir / "good.conf"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), (dir / "good.conf") + ": no faults\n");

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckConfigFile(dir / "bad.conf"), 1);
    EXPECT_EQ(CheckConfigFile(dir / "none.conf"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              (dir / "bad.conf") + ":11: NRounds must not be negative\n" + (dir / "bad.conf") +
                  ":18: unknown key 'Colour'\n" + (dir / "none.conf") +
                  ": cannot read the configuration file " + (dir / "none.conf") +
                  ": No such file or directory\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
