#include "messaging/property_file.h"

#include <climits>

#include "tests/handle_test_util.h"

using testutil::ConfigFrom;
using testutil::Narrow;

namespace {

// The value of key, or "<absent>" when there is no entry.
std::string Lookup(const PropertyFile& config, const std::string& key) {
    CWexBstr value = MakeBstr("<absent>");
    bool found = config.GetString(key, value) == S_OK;
    std::string text = Narrow(value);
    EXPECT_EQ(found, text != "<absent>");
    return text;
}

std::string PasswordLine(const std::string& passwords, int index) {
    CWexBstr line;
    EXPECT_EQ(ConfigFrom("", passwords).GetPasswordLine(index, line), S_OK);
    return Narrow(line);
}

}  // namespace

TEST(PropertyFile, Entries) {
    PropertyFile config = ConfigFrom(
        "Subject1Name  alice  \nSubject2Name=bob\nLogFileX wrong\n# LogFile commented\n"
        "LogFile logs/run\nLogFile second\nTabbed\t \tvalue\tx\r\nBlank   \r\nModeratorName mod1");
    EXPECT_EQ(Lookup(config, "Subject1Name"), "alice  ");
    EXPECT_EQ(Lookup(config, "Subject2Name"), "<absent>");
    EXPECT_EQ(Lookup(config, "LogFile"), "logs/run");
    EXPECT_EQ(Lookup(config, "Tabbed"), "value\tx");
    EXPECT_EQ(Lookup(config, "Blank"), "");
    EXPECT_EQ(Lookup(config, "ModeratorName"), "mod1");
    EXPECT_EQ(Lookup(config, "subject1name"), "<absent>");
    EXPECT_EQ(Lookup(config, ""), "<absent>");
    EXPECT_EQ(Lookup(ConfigFrom("A 1\nLogFile"), "LogFile"), "");
    EXPECT_EQ(Lookup(ConfigFrom("A 1\nLogFileX"), "LogFile"), "<absent>");
}

TEST(PropertyFile, Numbers) {
    PropertyFile config = ConfigFrom("N 20\nBad abc\nTail -7x\nHuge 99999999999\nRate 0.25\n");
    const std::pair<const char*, int> cases[] = {
        {"N", 20}, {"Bad", 0}, {"Tail", -7}, {"Huge", INT_MAX}, {"Absent", 0}};
    for (auto [key, expected] : cases) {
        int n = -1;
        EXPECT_EQ(config.GetInt(key, &n), std::string(key) == "Absent" ? S_FALSE : S_OK);
        EXPECT_EQ(n, expected) << key;
    }
    double d = -1;
    EXPECT_EQ(config.GetDouble("Rate", &d), S_OK);
    EXPECT_DOUBLE_EQ(d, 0.25);
}

TEST(PropertyFile, PasswordLines) {
    for (const char* text : {"secret\nK1\n", "secret\r\nK1\r\n"}) {
        EXPECT_EQ(PasswordLine(text, 0), "secret");
        EXPECT_EQ(PasswordLine(text, 1), "K1");
        for (int past : {2, 3, INT_MAX, -1}) EXPECT_EQ(PasswordLine(text, past), "");
    }
    EXPECT_EQ(PasswordLine("a\n\nlast", 2), "last");
}

TEST(PropertyFile, LoadReadsFilesExactly) {
    testutil::TempDir dir;
    const std::string passwords = "pw \xE2\x82\xAC\r\nK1\r\n";
    const std::string config = "PasswordFile " + (dir / "pw") + "\r\nLogFile run\r\n";
    testutil::WriteFile(dir / "pw", passwords);
    testutil::WriteFile(dir / "cfg", config);
    PropertyFile file;
    testing::internal::CaptureStdout();
    EXPECT_EQ(file.Load(dir / "cfg"), S_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "working directory: " + std::filesystem::current_path().string() + "\n");
    EXPECT_EQ(Narrow(file.configPath), dir / "cfg");
    EXPECT_EQ(Narrow(file.configText), config);
    EXPECT_EQ(Narrow(file.passwordText), passwords);

    // Missing files, and a folder, read as empty texts.
    testutil::WriteFile(dir / "cfg", "PasswordFile " + dir.path);
    testing::internal::CaptureStdout();
    EXPECT_EQ(file.Load(dir / "cfg"), S_OK);
    EXPECT_EQ(Narrow(file.passwordText), "");
    EXPECT_EQ(file.Load(dir / "none"), S_OK);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Narrow(file.configText), "");
}
