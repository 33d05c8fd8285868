#include "line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

using namespace wexhash;
using wexhash_test::TTempDir;

std::vector<std::string> AllLines(const std::string& path, int* error) {
    const int fd = open(path.c_str(), O_RDONLY);
    TLineReader reader(fd);
    std::vector<std::string> lines;
    while (const std::optional<std::string_view> line = reader.Next()) lines.emplace_back(*line);
    *error = reader.error();
    close(fd);
    return lines;
}

// Lines as they are written, also across and far beyond the reader's
// buffer, with NULs, empty lines and a last line with no line feed.
TEST(LineReader, GivesEachLineWhole) {
    const TTempDir dir;
    const std::string longLine(200000, 'x');
    const std::string nul("a\0b", 3);
    std::vector<std::string> lines = {"first", "", nul, longLine, "after\r"};
    for (int i = 0; i < 5000; ++i) lines.push_back(std::to_string(i) + std::string(i % 40, 'y'));
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    int error = -1;
    EXPECT_EQ(AllLines(dir.Write("feed", text), &error), lines);
    EXPECT_EQ(error, 0);
    lines.push_back("no line feed");
    EXPECT_EQ(AllLines(dir.Write("open", text + "no line feed"), &error), lines);
    EXPECT_EQ(AllLines(dir.Write("empty", ""), &error), std::vector<std::string>{});
    EXPECT_EQ(AllLines(dir.Write("one", "\n"), &error), std::vector<std::string>{""});
}

// A folder cannot be read: no lines, and the error is kept.
TEST(LineReader, KeepsTheReadError) {
    const TTempDir dir;
    int error = 0;
    EXPECT_EQ(AllLines(dir.path().string(), &error), std::vector<std::string>{});
    EXPECT_EQ(error, EISDIR);
}

// On a pipe the reader can tell that the next line is not there yet, so
// that the caller can finish its work before it waits; it never reads more
// than what was written.
TEST(LineReader, TellsWhetherALineIsBuffered) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    TLineReader reader(ends[0]);
    EXPECT_FALSE(reader.LineBuffered());
    ASSERT_EQ(write(ends[1], "one\ntwo\nthr", 11), 11);
    EXPECT_EQ(reader.Next(), "one");
    EXPECT_TRUE(reader.LineBuffered());
    EXPECT_EQ(reader.Next(), "two");
    EXPECT_FALSE(reader.LineBuffered());
    ASSERT_EQ(write(ends[1], "ee\n", 3), 3);
    close(ends[1]);
    EXPECT_EQ(reader.Next(), "three");
    EXPECT_FALSE(reader.LineBuffered());
    EXPECT_EQ(reader.Next(), std::nullopt);
    EXPECT_TRUE(reader.LineBuffered());
    close(ends[0]);
}

}  // namespace
