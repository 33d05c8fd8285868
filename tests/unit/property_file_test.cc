#include "messaging/property_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "test_util.h"

using testutil::ConfigFrom;
using testutil::Narrow;

namespace {

// The value of key, or "<absent>" when GetString finds no entry.
std::string Lookup(const PropertyFile& config, const std::string& key) {
    CWexBstr value;
    HRESULT hr = config.GetString(key, value);
    EXPECT_TRUE(hr == S_OK || hr == S_FALSE);
    return hr == S_OK ? Narrow(value) : "<absent>";
}

std::string PasswordLine(const PropertyFile& config, int index) {
    CWexBstr line;
    EXPECT_EQ(config.GetPasswordLine(index, line), S_OK);
    return Narrow(line);
}

}  // namespace

TEST(PropertyFile, EntryRecognition) {
    PropertyFile config = ConfigFrom(
        "Subject1Name  alice  \n"
        "Subject2Name=bob\n"
        "LogFileX wrong\n"
        "# LogFile commented\n"
        "XNRounds 4\n"
        "LogFile logs/run\n"
        "LogFile second\n"
        "Tabbed\t \tvalue\twith\ttabs\r\n"
        "Blank   \r\n"
        "NRounds 20\n"
        "ModeratorName mod1");
    EXPECT_EQ(Lookup(config, "Subject1Name"), "alice  ");
    EXPECT_EQ(Lookup(config, "Subject2Name"), "<absent>");
    EXPECT_EQ(Lookup(config, "LogFile"), "logs/run");
    EXPECT_EQ(Lookup(config, "Tabbed"), "value\twith\ttabs");
    EXPECT_EQ(Lookup(config, "Blank"), "");
    EXPECT_EQ(Lookup(config, "NRounds"), "20");
    EXPECT_EQ(Lookup(config, "ModeratorName"), "mod1");
    EXPECT_EQ(Lookup(config, "Missing"), "<absent>");
    EXPECT_EQ(Lookup(config, "subject1name"), "<absent>");
    EXPECT_EQ(Lookup(config, ""), "<absent>");
}

TEST(PropertyFile, KeyAtEndOfText) {
    EXPECT_EQ(Lookup(ConfigFrom("A 1\nLogFile"), "LogFile"), "");
    EXPECT_EQ(Lookup(ConfigFrom("A 1\nLogFile "), "LogFile"), "");
    EXPECT_EQ(Lookup(ConfigFrom("A 1\nLogFileX"), "LogFile"), "<absent>");
    EXPECT_EQ(Lookup(ConfigFrom(""), "LogFile"), "<absent>");
}

TEST(PropertyFile, AbsentKeyLeavesHandleUntouched) {
    PropertyFile config = ConfigFrom("A 1\n");
    CWexBstr value = MakeBstr("kept");
    EXPECT_EQ(config.GetString("B", value), S_FALSE);
    EXPECT_EQ(Narrow(value), "kept");
}

TEST(PropertyFile, Numbers) {
    PropertyFile config = ConfigFrom(
        "NRounds 20\nBad abc\nTail -7x\nHuge 99999999999\nTiny -99999999999\nRate 0.25\n");
    int n = -1;
    EXPECT_EQ(config.GetInt("NRounds", &n), S_OK);
    EXPECT_EQ(n, 20);
    EXPECT_EQ(config.GetInt("Bad", &n), S_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(config.GetInt("Tail", &n), S_OK);
    EXPECT_EQ(n, -7);
    n = -1;
    EXPECT_EQ(config.GetInt("Absent", &n), S_FALSE);
    EXPECT_EQ(n, 0);
    // Out of range values are clamped, not wrapped.
    config.GetInt("Huge", &n);
    EXPECT_EQ(n, INT_MAX);
    config.GetInt("Tiny", &n);
    EXPECT_EQ(n, INT_MIN);

    double d = -1;
    EXPECT_EQ(config.GetDouble("Rate", &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 0.25);
    EXPECT_EQ(config.GetDouble("Absent", &d), S_FALSE);
    EXPECT_EQ(d, 0.0);
}

TEST(PropertyFile, PasswordLines) {
    for (const char* text : {"secret\nK1\n", "secret\r\nK1\r\n"}) {
        PropertyFile config = ConfigFrom("", text);
        EXPECT_EQ(PasswordLine(config, 0), "secret");
        EXPECT_EQ(PasswordLine(config, 1), "K1");
        EXPECT_EQ(PasswordLine(config, 2), "");
        EXPECT_EQ(PasswordLine(config, 3), "");
        EXPECT_EQ(PasswordLine(config, -1), "");
        EXPECT_EQ(PasswordLine(config, INT_MAX), "");
    }
    PropertyFile unterminated = ConfigFrom("", "p w d\n\nlast");
    EXPECT_EQ(PasswordLine(unterminated, 0), "p w d");
    EXPECT_EQ(PasswordLine(unterminated, 1), "");
    EXPECT_EQ(PasswordLine(unterminated, 2), "last");
    EXPECT_EQ(PasswordLine(ConfigFrom(""), 0), "");
}

TEST(PropertyFile, LoadReadsBothFilesExactly) {
    testutil::TempDir dir;
    const std::string passwords = "pw \xE2\x82\xAC\r\nK1\r\n";
    testutil::WriteFile(dir / "pw.txt", passwords);
    const std::string config = "PasswordFile " + (dir / "pw.txt") + "\r\nLogFile run\r\n";
    testutil::WriteFile(dir / "bot.cfg", config);

    PropertyFile file;
    testing::internal::CaptureStdout();
    EXPECT_EQ(file.Load(dir / "bot.cfg"), S_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "working directory: " + std::filesystem::current_path().string() + "\n");
    EXPECT_EQ(Narrow(file.configPath), dir / "bot.cfg");
    EXPECT_EQ(Narrow(file.configText), config);
    EXPECT_EQ(Narrow(file.passwordText), passwords);
    EXPECT_EQ(Lookup(file, "LogFile"), "run");
    EXPECT_EQ(PasswordLine(file, 0), "pw \xE2\x82\xAC");
}

TEST(PropertyFile, LoadOfMissingFilesLeavesTextsEmpty) {
    testutil::TempDir dir;
    testutil::WriteFile(dir / "bot.cfg", "PasswordFile " + (dir / "none.txt") + "\n");
    PropertyFile file;
    testing::internal::CaptureStdout();
    EXPECT_EQ(file.Load(dir / "bot.cfg"), S_OK);
    EXPECT_EQ(file.Load(dir / "missing.cfg"), S_OK);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Narrow(file.configText), "");
    EXPECT_EQ(Narrow(file.passwordText), "");

    std::string text = "kept";
    EXPECT_EQ(ReadFileText(dir.path(), &text), S_OK);  // a folder reads as nothing
    EXPECT_EQ(text, "kept");
}
