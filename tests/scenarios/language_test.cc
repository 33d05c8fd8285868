// Language: a game in German sends the catalogue's texts and writes the
// same data files as in English; an unknown language is refused.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "harness.h"

namespace {

const std::string kPoDir = std::string(SOURCE_DIR) + "/po";

// Two rounds, a bonus at the second, a wrong answer and the moderator's ?.
const char kGame[] =
    "start 2008-11-05T14:30:00\nwirelog wire.jsonl\nat 10 im alice hi\nat 20 im bob hi\n"
    "at 30 im alice 61\nat 31 im alice 10\nat 32 im bob 10\nat 33 im alice 20\nat 34 im bob 40\n"
    "at 40 im mod ?\n"
    "at 50 im alice 10\nat 51 im bob 10\nat 52 im alice 20\nat 53 im bob 40\nat 70 end\n";

struct Played {
    BotRun bot;
    std::map<std::string, std::string> data;  // file ending -> text
};

Played Play(const std::string& language) {
    std::string folder = MakeTestFolder();
    Played r;
    r.bot = RunBotIn(
        folder,
        {{"bot.conf",
          MakeConfig({{"NRounds", "2"}, {"ConversationInterval", "2"}, {"Language", language}})},
         {"sc.txt", kGame}},
        {"bot.conf"});
    for (const char* ending : {"_rounds.csv", "_chat.csv", "_payouts.csv", ".journal"}) {
        r.data[ending] = ReadFileEndingWith(folder, ending);
    }
    std::filesystem::remove_all(folder);
    return r;
}

class LanguageTest : public testing::Test {
protected:
    void SetUp() override { setenv("WEX_PO_DIR", kPoDir.c_str(), 1); }
    void TearDown() override { unsetenv("WEX_PO_DIR"); }
};

TEST_F(LanguageTest, AGameInGermanSendsItsTextsAndKeepsTheData) {
    Played german = Play("de");
    ASSERT_EQ(german.bot.exitStatus, 0) << german.bot.err;
    for (const char* text : {
             "\"text\":\"Beide Teilnehmenden sind da! Beginnen wir jetzt mit dem Spiel!\\nDies ist "
             "Runde 1.\\nWie viel wird Ihr Gegenüber Ihrer Meinung nach investieren?\"",
             "Gültig sind Werte von 0 bis 60 Credits. Sie haben eingegeben: 61",
             "Sie investieren: 40\\nErtrag in Runde 1: 140.00",
             "Runden bis zum nächsten Bonus: 1\\nAktuelle Runde: 2",
             "Status: Runde 2 von 2.\\nalice: schuldet die Erwartung und die Investition; "
             "Anwesenheit unbekannt; letzte Nachricht vor 7 s.\\n",
             "Jetzt werden die Boni ausgezahlt!\\nBonus „Rich get Richer“: ",
             "Vielen Dank für Ihre Teilnahme!",
             "alice Credits insgesamt: ",
             "\"text\":\"Team 1:\\n",
         }) {
        EXPECT_NE(german.bot.wire.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(german.bot.wire.find("Current round"), std::string::npos);
    // The transcript records what was sent; the data files are the same.
    EXPECT_NE(german.bot.transcript.find("SEND Sie investieren: 40"), std::string::npos);
    Played english = Play("en");
    ASSERT_EQ(english.bot.exitStatus, 0) << english.bot.err;
    EXPECT_NE(english.bot.wire.find("Rounds until next bonus: 1\\nCurrent round: 2"),
              std::string::npos);
    for (const auto& [ending, text] : english.data) {
        EXPECT_FALSE(text.empty()) << ending;
        EXPECT_EQ(german.data[ending], text) << ending;
    }
}

TEST_F(LanguageTest, AnUnknownLanguageIsRefusedWithTheKnownOnes) {
    std::string config = MakeConfig({{"Language", "xx"}});
    BotRun run = RunBotWith({{"bot.conf", config}, {"sc.txt", "at 10 end\n"}}, {"bot.conf"});
    EXPECT_NE(run.exitStatus, 0);
    std::string line = "Language: no catalogue for 'xx' in " + kPoDir + "/wexbot; known: de, en";
    EXPECT_NE(run.err.find("wexbot: " + line + "\n"), std::string::npos) << run.err;
    EXPECT_TRUE(run.wire.empty() || run.wire.find("\"op\":\"send\"") == std::string::npos);

    BotRun check = RunBotWith({{"bot.conf", config}}, {"--check-config", "bot.conf"});
    EXPECT_EQ(check.exitStatus, 1);
    EXPECT_NE(check.err.find(line), std::string::npos) << check.err;
    BotRun german =
        RunBotWith({{"bot.conf", MakeConfig({{"Language", "de"}})}, {"sc.txt", "at 10 end\n"}},
                   {"--check-config", "bot.conf"});
    EXPECT_EQ(german.exitStatus, 0) << german.err;
    BotRun path = RunBotWith({{"bot.conf", MakeConfig({{"Language", "../de"}})}},
                             {"--check-config", "bot.conf"});
    EXPECT_NE(path.err.find("Language: '../de' is no language code"), std::string::npos)
        << path.err;
}

}  // namespace
