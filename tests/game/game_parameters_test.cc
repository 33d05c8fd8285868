// Reading the game's settings from the configuration.
#include <gtest/gtest.h>

#include "bot/bot_client.h"
#include "bot/string_ops.h"
#include "messaging/property_file.h"

namespace {

// Reads the parameters of a configuration text into a fresh bot.
class GameParametersTest : public testing::Test {
protected:
    void SetUp() override {
        m_bot = new CBotClient();
        m_bot->AddRef();
    }
    void TearDown() override { m_bot->Release(); }

    bool Read(const std::string& text) {
        PropertyFile config;
        AssignText(config.configText, text);
        testing::internal::CaptureStderr();
        bool ok = m_bot->ReadGameParameters(config);
        m_stderr = testing::internal::GetCapturedStderr();
        return ok;
    }
    const GameParameters& Params() { return m_bot->Game().params; }

    CBotClient* m_bot = nullptr;
    std::string m_stderr;
};

TEST_F(GameParametersTest, ConversionsAndLists) {
    ASSERT_TRUE(
        Read("NRounds 12abc\nConversationInterval 3\nMarketBase 1.5x\n"
             "MarketNoise 0.2,0.8,\nBonusMarketRGR 0.2,,0.8\nMaxChatTime 300\n"
             "MaxChatIdle -5\n"));
    EXPECT_EQ(Params().nRounds, 12);
    EXPECT_EQ(Params().conversationInterval, 3);
    EXPECT_DOUBLE_EQ(Params().marketBase, 1.5);
    EXPECT_EQ(Params().marketNoise, (std::vector<double>{0.2, 0.8, 0.0}));
    EXPECT_EQ(Params().bonusMarketRGR, (std::vector<double>{0.2, 0.0, 0.8}));
    EXPECT_EQ(Params().bonusMarketGW, (std::vector<double>{0.0}));
    EXPECT_EQ(Params().maxChatTime, 300);
    EXPECT_EQ(Params().maxChatIdle, -5);
    EXPECT_EQ(m_stderr, "");
}

TEST_F(GameParametersTest, AbsentOrNonNumericValuesReadAsZero) {
    ASSERT_TRUE(Read("ConversationInterval 1\nMarketBase 2\nMarketNoiseScale 2\nMaxChatTime x\n"));
    EXPECT_EQ(Params().nRounds, 0);
    EXPECT_DOUBLE_EQ(Params().marketNoiseScale, 2);
    EXPECT_EQ(Params().marketNoise, (std::vector<double>{0.0}));
    EXPECT_EQ(Params().maxChatTime, 0);
}

TEST_F(GameParametersTest, UnplayableSettingsAreRefusedWithAReason) {
    // A round count that is no number would be a game that never begins.
    EXPECT_FALSE(Read("NRounds abc\nConversationInterval 1\nMarketBase 1\n"));
    EXPECT_NE(m_stderr.find("NRounds is not a whole number"), std::string::npos);
    EXPECT_TRUE(Read("NRounds 12abc\nConversationInterval 1\nMarketBase 1\n"));
    EXPECT_EQ(Params().nRounds, 12);
    EXPECT_FALSE(Read("NRounds 4\nConversationInterval 0\nMarketBase 1\n"));
    EXPECT_NE(m_stderr.find("ConversationInterval"), std::string::npos);
    EXPECT_FALSE(Read("NRounds 4\nConversationInterval -2\nMarketBase 1\n"));
    // MarketBase 0 and no noise: the divisor of every round is 0.
    EXPECT_FALSE(Read("NRounds 4\nConversationInterval 2\n"));
    EXPECT_NE(m_stderr.find("MarketNoise element 1"), std::string::npos);
    // 0.4 x 1.25 - 0.2 + (-0.3) = 0 for the second element only.
    EXPECT_FALSE(
        Read("ConversationInterval 2\nMarketBase -0.3\nMarketNoiseScale 0.4\n"
             "MarketNoise 0.5,1.25\n"));
    EXPECT_NE(m_stderr.find("MarketNoise element 2"), std::string::npos);
    EXPECT_FALSE(
        Read("ConversationInterval 2\nMarketBase 1e308\nMarketNoiseScale 1e308\n"
             "MarketNoise 1e308\n"));
}

TEST_F(GameParametersTest, RoundStorageStartsAtZero) {
    EXPECT_FALSE(m_bot->PrepareRoundStorage(-1));
    ASSERT_TRUE(m_bot->PrepareRoundStorage(3));
    EXPECT_EQ(m_bot->Game().teamA.investments, (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(m_bot->Game().teamB.roundEarnings, (std::vector<double>{0, 0, 0}));
    ASSERT_TRUE(m_bot->PrepareRoundStorage(0));
    EXPECT_TRUE(m_bot->Game().teamA.expectations.empty());
}

}  // namespace
