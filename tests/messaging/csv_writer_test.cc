// RFC 4180 records, shortest doubles, and data files that survive a torn
// last record.
#include "messaging/csv_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "messaging/data_files.h"
#include "tests/test_util.h"

namespace {

TEST(CsvWriterTest, QuotesOnlyFieldsThatNeedIt) {
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(CsvRecord({"1", "a,b", ""}), "1,\"a,b\",\r\n");
}

TEST(CsvWriterTest, ShortestDoubleReadsBackExactly) {
    EXPECT_EQ(ShortestDouble(160), "160");
    EXPECT_EQ(ShortestDouble(0.1), "0.1");
    EXPECT_EQ(ShortestDouble(-2.5), "-2.5");
    EXPECT_EQ(ShortestDouble(std::numeric_limits<double>::infinity()), "inf");
    for (double v : {1.0 / 3.0, 95.45454545454545, 0.9 * 3, 1e-300, 123456789.123456789}) {
        EXPECT_EQ(std::strtod(ShortestDouble(v).c_str(), nullptr), v) << ShortestDouble(v);
    }
}

TEST(CsvWriterTest, CountsWholeRecordsOnly) {
    std::string two = "h1,h2\r\n\"a\r\nb\",\"x\"\"\n\"\r\n";
    EXPECT_EQ(CountCsvRecords(two), 2u);
    EXPECT_EQ(WholeRecordsLength(two), two.size());
    // Cut inside a quoted line feed, and after a field without a line end.
    EXPECT_EQ(WholeRecordsLength(two + "\"torn\n"), two.size());
    EXPECT_EQ(WholeRecordsLength(two + "1,2"), two.size());
    EXPECT_EQ(CountCsvRecords("no line end"), 0u);
}

TEST(DataFilesTest, NewFilesGetTheirHeaderAndRowsAppendWhole) {
    testutil::TempDir dir;
    std::string base = dir / "run_20081105_143000";
    std::string error;
    {
        DataFiles files;
        ASSERT_TRUE(files.Open(base, &error)) << error;
        EXPECT_TRUE(files.Append(DataFiles::kChat, CsvRecord({"t", "3", "alice", "a, \"b\""})));
        EXPECT_EQ(files.RowsAtOpen(DataFiles::kChat), 0u);
    }
    EXPECT_EQ(testutil::ReadFile(base + "_chat.csv"),
              "time,round,from,text\r\nt,3,alice,\"a, \"\"b\"\"\"\r\n");
    EXPECT_EQ(testutil::ReadFile(base + "_payouts.csv"),
              "subject,name,total_credits,payout,rounds\r\n");
    EXPECT_EQ(testutil::ReadFile(base + "_rounds.csv").substr(0, 18), "round,subject,name");

    // Reopened (a resumed game): no second header, rows counted, and a
    // record torn by a power cut is cut off before anything is appended.
    testutil::WriteFile(base + "_chat.csv",
                        testutil::ReadFile(base + "_chat.csv") + "t,3,bob,\"half a li");
    DataFiles again;
    ASSERT_TRUE(again.Open(base, &error)) << error;
    EXPECT_EQ(again.RowsAtOpen(DataFiles::kChat), 1u);
    EXPECT_EQ(again.RowsAtOpen(DataFiles::kPayouts), 0u);
    EXPECT_TRUE(again.Append(DataFiles::kChat, CsvRecord({"u", "3", "bob", "ok"})));
    EXPECT_EQ(testutil::ReadFile(base + "_chat.csv"),
              "time,round,from,text\r\nt,3,alice,\"a, \"\"b\"\"\"\r\nu,3,bob,ok\r\n");
}

TEST(DataFilesTest, MissingFolderIsNamed) {
    DataFiles files;
    std::string error;
    EXPECT_FALSE(files.Open("/nonexistent-folder/run", &error));
    EXPECT_NE(error.find("/nonexistent-folder/run_rounds.csv"), std::string::npos) << error;
}

}  // namespace
