#include "messaging/account_settings.h"

#include <gtest/gtest.h>

#include "messaging/transcript.h"
#include "messaging/username_slots.h"
#include "test_util.h"

using testutil::ConfigFrom;
using testutil::Narrow;

namespace {

const char kNames[] =
    "BotUsername selkbot\nSubject1Name alice\nSubject2Name bob\nModeratorName mod1\n";

class AccountSettingsTest : public testing::Test {
protected:
    void SetUp() override { ResetUsernameSlots(); }
    void TearDown() override { ResetUsernameSlots(); }

    bool Load(const std::string& config, const std::string& passwords) {
        PropertyFile file = ConfigFrom(config, passwords);
        testing::internal::CaptureStderr();
        bool ok = LoadAccountSettings(file, transcript, &account);
        err = testing::internal::GetCapturedStderr();
        return ok;
    }

    Transcript transcript;
    AccountSettings account;
    std::string err;
};

}  // namespace

TEST_F(AccountSettingsTest, DefaultIndexesTakeTheFirstLine) {
    ASSERT_TRUE(Load(kNames, "secret\r\nK1\r\n"));
    EXPECT_EQ(Narrow(account.botName), "selkbot");
    EXPECT_EQ(Narrow(account.botPassword), "secret");
    EXPECT_EQ(account.keyText, "selkbot (Key:secret)");
    EXPECT_EQ(err, "");
    EXPECT_STREQ(SlotName(SLOT_MODERATOR), "mod1");
}

TEST_F(AccountSettingsTest, IndexesChooseLines) {
    ASSERT_TRUE(Load(std::string(kNames) + "BotPasswordIndex 1\nKeyIndex 0\n", "K1\nsecret\n"));
    EXPECT_EQ(Narrow(account.botPassword), "secret");
    EXPECT_EQ(account.keyText, "selkbot (Key:K1)");
}

TEST_F(AccountSettingsTest, EmptyPasswordOrKeySaysWhich) {
    EXPECT_FALSE(Load(std::string(kNames) + "KeyIndex 2\n", "secret\nK1\n"));
    EXPECT_EQ(err,
              "KeyIndex: line 2 of the password file is missing or empty. Check config file.\n");
    EXPECT_EQ(account.keyText, "");

    EXPECT_FALSE(Load(std::string(kNames) + "BotPasswordIndex -1\n", "secret\nK1\n"));
    EXPECT_EQ(err,
              "BotPasswordIndex: line -1 of the password file is missing or empty. Check config "
              "file.\n");

    EXPECT_FALSE(Load(kNames, ""));
    EXPECT_EQ(err, "PasswordFile: password file is missing or empty. Check config file.\n");
}

TEST_F(AccountSettingsTest, StopsAtTheFirstMissingName) {
    EXPECT_FALSE(Load("BotUsername selkbot\nSubject2Name bob\n", "secret\n"));
    EXPECT_EQ(err, "Subject1Name: username is missing or zero length. Check config file.\n");
    EXPECT_STREQ(SlotName(SLOT_BOT), "selkbot");
    EXPECT_STREQ(SlotName(SLOT_SUBJECT2), "             ");
    EXPECT_EQ(account.botName.get(), nullptr);
}
