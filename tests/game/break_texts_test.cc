// The break texts state MaxChatTime's real length; with 300 seconds they
// read as they always did.
#include "game/break_texts.h"

#include <gtest/gtest.h>

namespace {

TEST(BreakTextsTest, LengthInWholeMinutesOrSeconds) {
    struct Case {
        int32_t seconds;
        const char* length;
        const char* adjective;
    };
    for (const Case& c : {Case{300, "5 minutes", "5-minute"}, Case{60, "1 minute", "1-minute"},
                          Case{600, "10 minutes", "10-minute"}, Case{90, "90 seconds", "90-second"},
                          Case{1, "1 second", "1-second"}, Case{0, "0 seconds", "0-second"}}) {
        EXPECT_EQ(BreakLength(c.seconds), c.length);
        EXPECT_EQ(BreakLengthAdjective(c.seconds), c.adjective);
    }
}

TEST(BreakTextsTest, UnchangedForFiveMinutes) {
    EXPECT_EQ(BreakAnnouncement(300),
              "We will now take a short break.  You will have up to 5 minutes for negotiations "
              "with the other person.  You can discuss what happened in prior rounds or plan "
              "your strategies for coming rounds.  Remember, please keep your conversation "
              "focused on this activity and refrain from discussing other topics.");
    EXPECT_EQ(BreakTimeUpText(300, 3),
              "5-minute break time is up. The game will now resume.\nCurrent round: 3\nWhen you "
              "are ready, please tell me how much you think the other player will invest?");
    EXPECT_NE(BreakAnnouncement(90).find("up to 90 seconds for"), std::string::npos);
    EXPECT_EQ(BreakTimeUpText(60, 7).substr(0, 31), "1-minute break time is up. The ");
}

}  // namespace
