// The break texts state MaxChatTime's real length, in whole minutes where
// it is whole minutes; in English they read as they always did.
#include "game/break_texts.h"

#include <gtest/gtest.h>

namespace {

const char kFiveMinutes[] =
    "We will now take a short break.  You will have up to 5 minutes for negotiations with the "
    "other person.  You can discuss what happened in prior rounds or plan your strategies for "
    "coming rounds.  Remember, please keep your conversation focused on this activity and "
    "refrain from discussing other topics.";

TEST(BreakTextsTest, EnglishStatesTheLengthInMinutesOrSeconds) {
    Catalogue english;
    EXPECT_EQ(BreakAnnouncement(english, 300), kFiveMinutes);
    EXPECT_EQ(BreakTimeUpText(english, 300, 3),
              "5-minute break time is up. The game will now resume.\nCurrent round: 3\nWhen you "
              "are ready, please tell me how much you think the other player will invest?");
    struct Case {
        int32_t seconds;
        const char* length;     // in the announcement
        const char* adjective;  // at the start of the time-up text
    };
    for (const Case& c : {Case{60, "up to 1 minute for", "1-minute break"},
                          Case{600, "up to 10 minutes for", "10-minute break"},
                          Case{90, "up to 90 seconds for", "90-second break"},
                          Case{1, "up to 1 second for", "1-second break"},
                          Case{0, "up to 0 seconds for", "0-second break"}}) {
        EXPECT_NE(BreakAnnouncement(english, c.seconds).find(c.length), std::string::npos)
            << c.seconds;
        EXPECT_EQ(BreakTimeUpText(english, c.seconds, 7).rfind(c.adjective, 0), 0u) << c.seconds;
    }
}

TEST(BreakTextsTest, TranslatedWithTheRightPluralForm) {
    Catalogue german;
    std::string error;
    ASSERT_TRUE(german.LoadText(R"(msgid ""
msgstr "Plural-Forms: nplurals=2; plural=(n != 1);\n"

msgid "We will now take a short break.  You will have up to %d minute for negotiations with the other person.  You can discuss what happened in prior rounds or plan your strategies for coming rounds.  Remember, please keep your conversation focused on this activity and refrain from discussing other topics."
msgid_plural "We will now take a short break.  You will have up to %d minutes for negotiations with the other person.  You can discuss what happened in prior rounds or plan your strategies for coming rounds.  Remember, please keep your conversation focused on this activity and refrain from discussing other topics."
msgstr[0] "Pause: %d Minute."
msgstr[1] "Pause: %d Minuten."

msgid "%d-second break time is up. The game will now resume.\nCurrent round: %i\nWhen you are ready, please tell me how much you think the other player will invest?"
msgstr "Die %d-sekündige Pause ist vorbei.\nRunde %i"
)",
                                "test.po", &error))
        << error;
    EXPECT_EQ(BreakAnnouncement(german, 60), "Pause: 1 Minute.");
    EXPECT_EQ(BreakAnnouncement(german, 300), "Pause: 5 Minuten.");
    EXPECT_EQ(BreakTimeUpText(german, 45, 4), "Die 45-sekündige Pause ist vorbei.\nRunde 4");
    // Texts the catalogue lacks stay English.
    EXPECT_NE(BreakAnnouncement(german, 90).find("up to 90 seconds for"), std::string::npos);
    EXPECT_EQ(BreakTimeUpText(german, 120, 2).rfind("2-minute break", 0), 0u);
}

}  // namespace
