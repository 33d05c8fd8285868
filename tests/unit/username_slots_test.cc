#include "messaging/username_slots.h"

#include <gtest/gtest.h>

#include "messaging/transcript.h"
#include "test_util.h"

using testutil::ConfigFrom;

namespace {

class UsernameSlots : public testing::Test {
protected:
    void SetUp() override { ResetUsernameSlots(); }
    void TearDown() override { ResetUsernameSlots(); }

    // Loads key into slot; returns what went to standard error.
    bool Load(const std::string& config, int slot, const std::string& key, std::string* err) {
        PropertyFile file = ConfigFrom(config);
        testing::internal::CaptureStderr();
        bool ok = LoadUsername(file, transcript, slot, key);
        *err = testing::internal::GetCapturedStderr();
        return ok;
    }

    Transcript transcript;
};

}  // namespace

TEST_F(UsernameSlots, LengthLimitsInUnitsAndUtf8Bytes) {
    std::string err;
    EXPECT_STREQ(SlotName(SLOT_SUBJECT1), "             ");
    EXPECT_TRUE(Load("Subject1Name abcdefghijklm\n", SLOT_SUBJECT1, "Subject1Name", &err));
    EXPECT_STREQ(SlotName(SLOT_SUBJECT1), "abcdefghijklm");
    EXPECT_EQ(err, "");

    EXPECT_FALSE(Load("Subject1Name abcdefghijklmn\n", SLOT_SUBJECT1, "Subject1Name", &err));
    EXPECT_EQ(err, "Subject1Name: username is too long.\n");
    EXPECT_STREQ(SlotName(SLOT_SUBJECT1), "abcdefghijklm");  // unchanged by a failed load

    // Seven characters, but fourteen bytes of UTF-8: does not fit the slot.
    const std::string e = "\xC3\xA9";
    EXPECT_FALSE(
        Load("ModeratorName " + e + e + e + e + e + e + e, SLOT_MODERATOR, "ModeratorName", &err));
    EXPECT_EQ(err, "ModeratorName: username is too long.\n");
    EXPECT_TRUE(
        Load("ModeratorName a" + e + e + e + e + e + e, SLOT_MODERATOR, "ModeratorName", &err));
    EXPECT_EQ(SlotName(SLOT_MODERATOR), "a" + e + e + e + e + e + e);
}

TEST_F(UsernameSlots, MissingOrEmptyNames) {
    std::string err;
    for (const char* config : {"", "Subject2Name\n", "Subject2Name   \n", "Subject2Name=bob\n"}) {
        EXPECT_FALSE(Load(config, SLOT_SUBJECT2, "Subject2Name", &err)) << config;
        EXPECT_EQ(err, "Subject2Name: username is missing or zero length. Check config file.\n");
    }
    EXPECT_STREQ(SlotName(SLOT_SUBJECT2), "             ");
    EXPECT_FALSE(Load("Subject2Name bob\n", 4, "Subject2Name", &err));
    EXPECT_FALSE(Load("Subject2Name bob\n", -1, "Subject2Name", &err));
}

TEST_F(UsernameSlots, TrailingBlanksAreKept) {
    std::string err;
    EXPECT_TRUE(Load("Subject1Name  alice  \n", SLOT_SUBJECT1, "Subject1Name", &err));
    EXPECT_STREQ(SlotName(SLOT_SUBJECT1), "alice  ");
    EXPECT_EQ(FindUsernameSlot(std::string("alice")), -1);
    EXPECT_EQ(FindUsernameSlot(std::string("alice  ")), SLOT_SUBJECT1);
}

TEST_F(UsernameSlots, FindUsernameSlot) {
    std::string err;
    const std::string config =
        "BotUsername selkbot\nSubject1Name annabel\nSubject2Name ann\nModeratorName Ann\n";
    ASSERT_TRUE(Load(config, SLOT_BOT, "BotUsername", &err));
    ASSERT_TRUE(Load(config, SLOT_SUBJECT1, "Subject1Name", &err));
    ASSERT_TRUE(Load(config, SLOT_SUBJECT2, "Subject2Name", &err));
    ASSERT_TRUE(Load(config, SLOT_MODERATOR, "ModeratorName", &err));

    EXPECT_EQ(FindUsernameSlot(MakeBstr("ann").get()), SLOT_SUBJECT2);
    EXPECT_EQ(FindUsernameSlot(MakeBstr("annabel").get()), SLOT_SUBJECT1);
    EXPECT_EQ(FindUsernameSlot(MakeBstr("annabelle").get()), -1);
    EXPECT_EQ(FindUsernameSlot(MakeBstr("Ann").get()), SLOT_MODERATOR);
    EXPECT_EQ(FindUsernameSlot(MakeBstr("selkbot").get()), SLOT_BOT);
    EXPECT_EQ(FindUsernameSlot(nullptr), -1);
    EXPECT_EQ(FindUsernameSlot(std::string()), -1);
    EXPECT_STREQ(SlotName(-1), "");
    EXPECT_STREQ(SlotName(4), "");
}
