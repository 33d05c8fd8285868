// The game that journal entries build up, the data rows they make, and
// the check that a journal belongs to a configuration.
#include "game/game_record.h"

#include <gtest/gtest.h>

#include "game/game_recorder.h"
#include "messaging/data_files.h"
#include "tests/test_util.h"

namespace {

const std::string kNames[4] = {"selkbot", "alice", "bob", "mod"};
constexpr int64_t kStart = 1225895400;  // 2008-11-05 14:30:00 UTC

GameParameters Params() {
    GameParameters p;
    p.nRounds = 2;
    p.conversationInterval = 2;
    p.marketBase = 1;
    p.marketNoiseScale = 0.4;
    p.marketNoise = {0.25, 0.75};
    p.maxChatTime = 300;
    p.maxChatIdle = 60;
    return p;
}

JournalEntry Answer(int64_t t, int subject, const char* what, int value, int round) {
    return JournalEntry("answer", kStart + t)
        .Int("subject", subject)
        .Text("what", what)
        .Int("value", value)
        .Int("round", round);
}

// Round 1 played and closed, then round 2 half answered.
std::vector<JournalEntry> RoundOneGame() {
    return {StartEntry(kStart, kNames, Params()),
            JournalEntry("join", kStart + 1).Int("subject", 2).Int("round", 0),
            JournalEntry("join", kStart + 2).Int("subject", 1).Int("round", 1),
            Answer(3, 1, "expectation", 20, 1),
            Answer(4, 2, "expectation", 30, 1),
            Answer(5, 1, "investment", 10, 1),
            Answer(6, 2, "investment", 40, 1),
            JournalEntry("close", kStart + 6)
                .Int("round", 1)
                .Real("divisor", 0.9)
                .Real("earnings_1", 50 + 50 / 0.9)
                .Real("earnings_2", 20 + 50 / 0.9)
                .Real("total_1", 50 + 50 / 0.9)
                .Real("total_2", 20 + 50 / 0.9)
                .Bool("break", false),
            Answer(9, 2, "expectation", 7, 2)};
}

TEST(GameRecordTest, EntriesRebuildTheGameAndItsRows) {
    GameRecord game;
    DataRows rows;
    for (const JournalEntry& e : RoundOneGame()) ApplyEntry(e, &game, &rows);
    EXPECT_EQ(game.round, 2);
    EXPECT_TRUE(game.Subject(1).joined && game.Subject(2).joined);
    EXPECT_EQ(game.Subject(1).expectation, -1);
    EXPECT_EQ(game.Subject(2).expectation, 7);
    EXPECT_EQ(game.Subject(2).investment, -1);
    EXPECT_EQ(game.Subject(1).investments, (std::vector<int32_t>{10, 0}));
    EXPECT_EQ(game.Subject(2).roundEarnings[0], 20 + 50 / 0.9);
    EXPECT_EQ(game.params.marketNoise, (std::vector<double>{0.25, 0.75}));
    EXPECT_FALSE(game.breakRunning || game.AllRoundsClosed());
    ASSERT_EQ(rows.records[DataFiles::kRounds].size(), 2u);
    EXPECT_EQ(rows.records[DataFiles::kRounds][0],
              "1,1,alice,20,10,40,0.9,105.55555555555556,,105.55555555555556,"
              "2008-11-05T14:30:03,2008-11-05T14:30:05,subject,subject\r\n");
    EXPECT_EQ(rows.records[DataFiles::kRounds][1],
              "1,2,bob,30,40,10,0.9,75.55555555555556,,75.55555555555556,"
              "2008-11-05T14:30:04,2008-11-05T14:30:06,subject,subject\r\n");
}

TEST(GameRecordTest, BonusBreakChatAndReport) {
    GameRecord game;
    DataRows rows;
    for (const JournalEntry& e : RoundOneGame()) ApplyEntry(e, &game, &rows);
    ApplyEntry(JournalEntry("close", kStart + 20)
                   .Int("round", 2)
                   .Real("divisor", 1.1)
                   .Real("earnings_1", 60)
                   .Real("earnings_2", 60)
                   .Real("bonus_1", 50)
                   .Real("bonus_2", 50)
                   .Real("total_1", 265.5)
                   .Real("total_2", 185.5)
                   .Bool("break", true),
               &game, &rows);
    EXPECT_TRUE(game.breakRunning);
    EXPECT_TRUE(game.AllRoundsClosed());
    EXPECT_EQ(rows.records[DataFiles::kRounds][3].substr(0, 37),
              "2,2,bob,7,-1,-1,1.1,60,50,185.5,2008-");
    ApplyEntry(
        JournalEntry("chat", kStart + 30).Int("round", 3).Int("subject", 1).Text("text", "done"),
        &game, &rows);
    EXPECT_TRUE(game.Subject(1).done);
    EXPECT_EQ(rows.records[DataFiles::kChat][0], "2008-11-05T14:30:30,3,alice,done\r\n");
    ApplyEntry(JournalEntry("break_end", kStart + 31).Int("round", 3).Text("how", "done"), &game,
               &rows);
    EXPECT_FALSE(game.breakRunning);
    ApplyEntry(JournalEntry("report", kStart + 40).Real("payout_1", 10).Real("payout_2", 10.125),
               &game, &rows);
    EXPECT_TRUE(game.reported);
    EXPECT_EQ(rows.records[DataFiles::kPayouts],
              (std::vector<std::string>{"1,alice,265.5,10.00,2\r\n", "2,bob,185.5,10.12,2\r\n"}));
}

// A dropout with a stand-in: its answers are the robot's in the rounds
// file, its credits and payout stay the dropout's in the payouts file, and
// its return is on record; a dropout that pays replaces nobody.
TEST(GameRecordTest, DropoutStandInAndReturn) {
    GameRecord game;
    DataRows rows;
    for (const JournalEntry& e : RoundOneGame()) ApplyEntry(e, &game, &rows);
    ApplyEntry(JournalEntry("dropout", kStart + 40)
                   .Int("subject", 1)
                   .Int("round", 2)
                   .Text("mode", "robot")
                   .Real("credits", 105.5)
                   .Real("payout", 10.25),
               &game, &rows);
    EXPECT_TRUE(game.Subject(1).replaced);
    EXPECT_EQ(game.Subject(1).dropoutRound, 2);
    EXPECT_FALSE(game.Subject(2).replaced);
    ApplyEntry(Answer(40, 1, "expectation", 20, 2).Text("source", "robot"), &game, &rows);
    ApplyEntry(Answer(40, 1, "investment", 10, 2).Text("source", "robot"), &game, &rows);
    ApplyEntry(Answer(41, 2, "investment", 30, 2), &game, &rows);
    ApplyEntry(JournalEntry("close", kStart + 41)
                   .Int("round", 2)
                   .Real("divisor", 1.1)
                   .Real("earnings_1", 60)
                   .Real("earnings_2", 60)
                   .Real("total_1", 300)
                   .Real("total_2", 200)
                   .Bool("break", false),
               &game, &rows);
    ASSERT_EQ(rows.records[DataFiles::kRounds].size(), 4u);
    EXPECT_EQ(rows.records[DataFiles::kRounds][2].substr(0, 16), "2,1,alice,20,10,");
    EXPECT_NE(rows.records[DataFiles::kRounds][2].find(",robot,robot\r\n"), std::string::npos);
    EXPECT_NE(rows.records[DataFiles::kRounds][3].find(",subject,subject\r\n"), std::string::npos);
    ApplyEntry(JournalEntry("report", kStart + 42).Real("payout_1", 10.25).Real("payout_2", 12),
               &game, &rows);
    EXPECT_EQ(rows.records[DataFiles::kPayouts],
              (std::vector<std::string>{"1,alice,105.5,10.25,2\r\n", "2,bob,200,12.00,2\r\n"}));
    EXPECT_FALSE(game.Subject(1).replacedTold);
    ApplyEntry(JournalEntry("returned", kStart + 50).Int("subject", 1).Int("round", 3), &game,
               &rows);
    EXPECT_TRUE(game.Subject(1).replacedTold);

    GameRecord paid;
    for (const JournalEntry& e : RoundOneGame()) ApplyEntry(e, &paid, &rows);
    ApplyEntry(JournalEntry("dropout", kStart + 40)
                   .Int("subject", 2)
                   .Int("round", 2)
                   .Text("mode", "pay")
                   .Real("credits", 75.5)
                   .Real("payout", 10),
               &paid, &rows);
    EXPECT_FALSE(paid.Subject(2).replaced);
    EXPECT_EQ(paid.Subject(2).dropoutRound, 2);
    EXPECT_EQ(paid.Subject(2).ReportedCredits(), paid.Subject(2).totalCredits);
}

// The start entry gives back every game key, the pay rule included, so a
// resumed game takes up the journal's parameters whole; an older journal
// without the pay rule keeps the default one.
TEST(GameRecordTest, StartEntryGivesBackEveryParameter) {
    GameParameters p = Params();
    p.bonusMarketRGR = {0.5, 1.5};
    p.creditValue = 0.01;
    p.minPayout = 5;
    p.maxPayout = 50;
    GameRecord game;
    DataRows rows;
    ApplyEntry(StartEntry(kStart, kNames, p), &game, &rows);
    EXPECT_EQ(game.params.nRounds, 2);
    EXPECT_EQ(game.params.marketNoise, p.marketNoise);
    EXPECT_EQ(game.params.bonusMarketRGR, p.bonusMarketRGR);
    EXPECT_EQ(game.params.maxChatIdle, 60);
    EXPECT_EQ(game.params.creditValue, 0.01);
    EXPECT_EQ(game.params.minPayout, 5.0);
    EXPECT_EQ(game.params.maxPayout, 50.0);

    GameRecord older;
    ApplyEntry(JournalEntry("start", kStart).Int("NRounds", 3), &older, &rows);
    EXPECT_EQ(older.params.creditValue, GameParameters().creditValue);
    EXPECT_EQ(older.params.maxPayout, GameParameters().maxPayout);
}

// The live game is a GameRecord with more beside it: a record assigned to it
// carries every field, the worker's atomics too, and leaves the rest alone.
TEST(GameRecordTest, LiveGameTakesUpARecordWhole) {
    GameRecord saved;
    DataRows rows;
    for (const JournalEntry& e : RoundOneGame()) ApplyEntry(e, &saved, &rows);
    GameState live;
    live.gameOver = true;
    live.Live(2).online = 1;
    live.Record() = saved;
    EXPECT_EQ(live.round, 2);
    EXPECT_TRUE(live.teamA.joined && live.teamB.joined);
    EXPECT_EQ(live.Subject(2).expectation, 7);
    EXPECT_EQ(live.Subject(2).expectationTime, kStart + 9);
    EXPECT_EQ(live.Subject(1).investments, (std::vector<int32_t>{10, 0}));
    EXPECT_EQ(live.Subject(1).totalCredits, saved.teamA.totalCredits);
    EXPECT_EQ(live.Subject(2).name, "bob");
    EXPECT_EQ(live.params.marketNoise, Params().marketNoise);
    EXPECT_TRUE(live.gameOver);
    EXPECT_EQ(live.Live(2).online, 1);
}

TEST(GameRecordTest, LastMessageTimeOfEachSubject) {
    GameRecord game;
    DataRows rows;
    // A journal without counts: joins and chat lines tell.
    for (const JournalEntry& e : RoundOneGame()) ApplyEntry(e, &game, &rows);
    ApplyEntry(
        JournalEntry("chat", kStart + 12).Int("round", 2).Int("subject", 2).Text("text", "hi"),
        &game, &rows);
    EXPECT_EQ(game.teamA.lastMessageTime, kStart + 2);
    EXPECT_EQ(game.teamB.lastMessageTime, kStart + 12);
    // Received messages by slot; the moderator's and the bot's are no
    // subject's, and an earlier time does not go back.
    for (auto [slot, t] :
         {std::pair{1, 20}, std::pair{3, 30}, std::pair{0, 31}, std::pair{2, 11}}) {
        ApplyEntry(JournalEntry("received", kStart + t).Int("slot", slot), &game, &rows);
    }
    EXPECT_EQ(game.teamA.lastMessageTime, kStart + 20);
    EXPECT_EQ(game.teamB.lastMessageTime, kStart + 12);
}

TEST(GameRecordTest, FirstDifferenceNamesTheKeyAndBothValues) {
    JournalEntry saved = StartEntry(kStart, kNames, Params());
    EXPECT_EQ(FirstDifference(saved, StartEntry(kStart + 999, kNames, Params())), "");
    std::string others[4] = {"selkbot", "alice", "carol", "mod"};
    GameParameters p = Params();
    p.marketNoise = {0.25, 0.5};
    EXPECT_EQ(FirstDifference(saved, StartEntry(kStart, others, p)),
              "Subject2Name is \"bob\" in the journal but \"carol\" in this configuration");
    EXPECT_EQ(FirstDifference(saved, StartEntry(kStart, kNames, p)),
              "MarketNoise is \"0.25,0.75\" in the journal but \"0.25,0.5\" in this "
              "configuration");
}

TEST(GameRecorderTest, ResumeAppendsTheRowsACrashLeftUnwritten) {
    testutil::TempDir dir;
    std::string base = dir / "run_20081105_143000";
    std::string error;
    {
        GameRecorder recorder;
        ASSERT_TRUE(recorder.StartNew(base, StartEntry(kStart, kNames, Params()), &error));
        for (const JournalEntry& e : RoundOneGame()) {
            if (e.Kind() != "start") recorder.Record(e);
        }
    }
    std::string rounds = testutil::ReadFile(base + "_rounds.csv");
    // The crash came after the close entry, before its rows reached the file.
    testutil::WriteFile(base + "_rounds.csv", DataFiles::Header(DataFiles::kRounds));
    GameRecorder resumed;
    ASSERT_TRUE(resumed.Resume(base + ".journal", StartEntry(kStart, kNames, Params()), &error))
        << error;
    EXPECT_EQ(testutil::ReadFile(base + "_rounds.csv"), rounds);
    EXPECT_EQ(resumed.Game().round, 2);
    EXPECT_EQ(resumed.Base(), base);

    // A journal whose game has ended is refused.
    resumed.Record(JournalEntry("stop", kStart + 50).Int("round", 2));
    GameRecorder again;
    EXPECT_FALSE(again.Resume(base + ".journal", StartEntry(kStart, kNames, Params()), &error));
    EXPECT_NE(error.find("has ended (the moderator ended it with e)"), std::string::npos) << error;
    EXPECT_FALSE(again.Resume(base + ".log", StartEntry(kStart, kNames, Params()), &error));
    EXPECT_NE(error.find("must end in .journal"), std::string::npos) << error;
}

}  // namespace
