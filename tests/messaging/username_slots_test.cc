#include "messaging/username_slots.h"

#include "messaging/account_settings.h"
#include "messaging/transcript.h"
#include "tests/handle_test_util.h"

using testutil::ConfigFrom;

namespace {

const std::string kNames =
    "BotUsername selkbot\nSubject1Name alice\nSubject2Name bob\nModeratorName mod1\n";

class Slots : public testing::Test {
protected:
    void SetUp() override { ResetUsernameSlots(); }
    void TearDown() override { ResetUsernameSlots(); }

    // Runs load with standard error captured into err.
    template <typename Load>
    bool Capture(Load load) {
        testing::internal::CaptureStderr();
        bool ok = load();
        err = testing::internal::GetCapturedStderr();
        return ok;
    }
    // Loads one slot; err holds the error text it returned.
    bool Load(const std::string& config, int slot, const std::string& key) {
        err = LoadUsername(ConfigFrom(config), slot, key);
        return err.empty();
    }
    bool LoadAccount(const std::string& config, const std::string& passwords) {
        PropertyFile file = ConfigFrom(kNames + config, passwords);
        return Capture([&] { return LoadAccountSettings(file, log, &account); });
    }

    Transcript log;
    AccountSettings account;
    std::string err;
};

}  // namespace

TEST_F(Slots, NameLengthInUnitsAndUtf8Bytes) {
    EXPECT_STREQ(SlotName(1), "             ");
    EXPECT_TRUE(Load("Subject1Name abcdefghijklm", 1, "Subject1Name"));
    EXPECT_FALSE(Load("Subject1Name abcdefghijklmn", 1, "Subject1Name"));
    EXPECT_EQ(err, "username is too long.");
    EXPECT_STREQ(SlotName(1), "abcdefghijklm");  // a failed load keeps the slot
    // Seven characters but fourteen bytes: too long for the slot.
    const std::string e = "\xC3\xA9";
    EXPECT_FALSE(Load("ModeratorName " + e + e + e + e + e + e + e, 3, "ModeratorName"));
    EXPECT_TRUE(Load("ModeratorName a" + e + e + e + e + e + e, 3, "ModeratorName"));
    EXPECT_FALSE(Load("Subject2Name bob", 4, "Subject2Name"));
}

// A name the messaging service could never deliver from is refused, so a
// stray blank in the configuration cannot stall the game at joining.
TEST_F(Slots, NamesThatCannotBeAddressesAreRefused) {
    EXPECT_FALSE(Load("Subject2Name  alice  ", 2, "Subject2Name"));
    EXPECT_EQ(err, "username holds a blank, which cannot be in an address.");
    EXPECT_STREQ(SlotName(2), "             ");
    EXPECT_FALSE(Load("Subject2Name bob\tx", 2, "Subject2Name"));
    EXPECT_EQ(err, "username holds a control character, which cannot be in an address.");
    for (const char* bad : {"bob@lab", "a/b", "a:b", "a<b", "a>b", "a&b", "a'b", "a\"b"}) {
        EXPECT_FALSE(Load(std::string("Subject2Name ") + bad, 2, "Subject2Name")) << bad;
    }
    EXPECT_EQ(err, "username holds '\"', which cannot be in an address.");
    EXPECT_TRUE(Load("Subject2Name bob.smith_2-x", 2, "Subject2Name"));
}

TEST_F(Slots, MissingNames) {
    for (const char* config : {"", "Subject2Name\n", "Subject2Name   \n", "Subject2Name=bob"}) {
        EXPECT_FALSE(Load(config, 2, "Subject2Name"));
        EXPECT_EQ(err, "username is missing or zero length. Check config file.");
    }
}

TEST_F(Slots, FindUsernameSlot) {
    const std::string config = "Subject1Name annabel\nSubject2Name ann\nModeratorName Ann\n";
    ASSERT_TRUE(Load(config, 1, "Subject1Name") && Load(config, 2, "Subject2Name") &&
                Load(config, 3, "ModeratorName"));
    EXPECT_EQ(FindUsernameSlot(MakeBstr("ann").get()), 2);
    EXPECT_EQ(FindUsernameSlot(MakeBstr("annabel").get()), 1);
    EXPECT_EQ(FindUsernameSlot(MakeBstr("annabelle").get()), -1);
    EXPECT_EQ(FindUsernameSlot(std::string("Ann")), 3);
    EXPECT_EQ(FindUsernameSlot(nullptr), -1);
    EXPECT_STREQ(SlotName(-1), "");
}

TEST_F(Slots, AccountSettings) {
    ASSERT_TRUE(LoadAccount("", "secret\r\nK1\r\n"));
    EXPECT_EQ(testutil::Narrow(account.botName), "selkbot");
    EXPECT_EQ(testutil::Narrow(account.botPassword), "secret");
    EXPECT_EQ(account.keyText, "selkbot (Key:secret)");
    ASSERT_TRUE(LoadAccount("BotPasswordIndex 1\nKeyIndex 0\n", "K1\nsecret\n"));
    EXPECT_EQ(testutil::Narrow(account.botPassword), "secret");
    EXPECT_EQ(account.keyText, "selkbot (Key:K1)");
    EXPECT_EQ(err, "");
}

TEST_F(Slots, AccountRefusalsSayWhy) {
    EXPECT_FALSE(LoadAccount("KeyIndex 2\n", "secret\nK1\n"));
    EXPECT_EQ(err,
              "KeyIndex: line 2 of the password file is missing or empty. Check config file.\n");
    EXPECT_FALSE(LoadAccount("BotPasswordIndex -1\n", "secret\n"));
    EXPECT_EQ(err.substr(0, 26), "BotPasswordIndex: line -1 ");
    EXPECT_FALSE(LoadAccount("", ""));
    EXPECT_EQ(err, "PasswordFile: password file is missing or empty. Check config file.\n");
    AccountSettings fresh;
    PropertyFile noSubject = ConfigFrom("BotUsername x\nSubject2Name bob\n", "pw\n");
    EXPECT_FALSE(Capture([&] { return LoadAccountSettings(noSubject, log, &fresh); }));
    EXPECT_EQ(err, "Subject1Name: username is missing or zero length. Check config file.\n");
    EXPECT_EQ(fresh.botName.get(), nullptr);
}
