// Runs the built wexhash in console mode, with no display in its environment.
#include <gtest/gtest.h>

#include <regex>

#include "test_util.h"

namespace {

using namespace wexhash_test;

class ConsoleTest : public testing::Test {
protected:
    TRunResult Wexhash(const std::vector<std::string>& args) {
        return RunProgram(WEXHASH_BINARY, args, {"HOME=" + home_.path().string(), "LANG=C.UTF-8"});
    }

    TTempDir home_;
    TTempDir dir_;
};

TEST_F(ConsoleTest, PrintsSha256sumInUpperCaseWithNoLineEnd) {
    for (size_t size : {0, 55, 56, 63, 64, 65, 8191, 8192, 8193, 16384, 12345, 70001}) {
        const std::string path = dir_.Write("f" + std::to_string(size), RandomBytes(size, 11));
        const TRunResult run = Wexhash({"/console", path});
        EXPECT_TRUE(std::regex_match(run.out, std::regex("[0-9A-F]{64}"))) << run.out;
        EXPECT_EQ(run.out, Sha256sumUpper(path)) << "size " << size;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 1);
    }
}

TEST_F(ConsoleTest, SwitchInAnyCaseAndOnlyTheFirstPath) {
    const std::string first = dir_.Write("first", RandomBytes(300, 1));
    const std::string second = dir_.Write("second", RandomBytes(300, 2));
    const std::string expected = Sha256sumUpper(first);
    for (const char* token : {"/CONSOLE", "/Console", "/cOnSoLe"}) {
        const TRunResult run = Wexhash({token, first, second});
        EXPECT_EQ(run.out, expected) << token;
        EXPECT_EQ(run.status, 1);
    }
}

TEST_F(ConsoleTest, FileThatCannotBeOpenedPrintsNothing) {
    for (const std::string& path : {dir_.path().string(), dir_.path().string() + "/missing"}) {
        const TRunResult run = Wexhash({"/console", path});
        EXPECT_EQ(run.out, "") << path;
        EXPECT_EQ(run.err, "Could not open file.\n") << path;
        EXPECT_EQ(run.status, 1);
    }
}

// Without the switch, or with it alone, wexhash wants its dialog; with no
// display it cannot show one, prints nothing on standard output and still
// ends with status 1.
TEST_F(ConsoleTest, WithoutTheSwitchTheDialogIsWanted) {
    const std::string file = dir_.Write("file", RandomBytes(10, 1));
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-console", file}, {"/console"}, {file}}) {
        const TRunResult run = Wexhash(args);
        EXPECT_EQ(run.out, "") << args[0];
        EXPECT_NE(run.err, "") << args[0];
        EXPECT_EQ(run.status, 1) << args[0];
    }
}

}  // namespace
