// The readers of the configuration and the key table agree: every key
// they ask for is in the table, and every key of the table is read.
#include <gtest/gtest.h>

#include <set>

#include "bot/bot_client.h"
#include "messaging/config_keys.h"
#include "messaging/username_slots.h"
#include "tests/test_util.h"

namespace {

// A run that reads the whole configuration (and then can't write its
// transcript) asks for every key of the table and for no other.
TEST(KeyTableReadsTest, TheReadersAskForTheTablesKeysAndNoOthers) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "pw.txt", "secret\nK1\n");
    std::string text =
        "Service xmpp:lab.example@127.0.0.1:5222;trust=any\n"
        "BotUsername selkbot\nSubject1Name alice\nSubject2Name bob\nModeratorName mod\n"
        "PasswordFile pw.txt\nKeyIndex 1\nLogFile run\nNRounds 4\nConversationInterval 2\n"
        "MarketBase 0.5\nMarketNoiseScale 0\nMarketNoise 0\nMaxChatTime 300\nMaxChatIdle 60\n";
    text.replace(text.find("pw.txt"), 6, dir / "pw.txt");
    text.replace(text.find("LogFile run"), 11, "LogFile " + (dir / "no/such/folder/run"));
    testutil::WriteFile(dir / "bot.conf", text);

    std::set<std::string> asked;
    PropertyFile config;
    config.keysAsked = &asked;
    testing::internal::CaptureStdout();
    ASSERT_EQ(config.Load(dir / "bot.conf"), S_OK);
    CBotClient* bot = new CBotClient();
    bot->AddRef();
    testing::internal::CaptureStderr();
    EXPECT_EQ(bot->Run(config), E_INVALIDARG);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot write the transcript"),
              std::string::npos);
    testing::internal::GetCapturedStdout();
    bot->Release();
    ResetUsernameSlots();

    std::set<std::string> table;
    for (const ConfigKey& key : ConfigKeys()) table.insert(key.name);
    EXPECT_EQ(asked, table);
}

}  // namespace
