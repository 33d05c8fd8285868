// Records reach the file whole: a write that a full disk cuts short is
// taken back.
#include "platform/append_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>

#include "tests/test_util.h"

namespace {

TEST(AppendFileTest, WriteCutShortLeavesNoHalfRecord) {
    testutil::TempDir dir;
    platform::AppendFile file;
    ASSERT_TRUE(file.Open(dir / "f"));
    ASSERT_TRUE(file.Append("first line\n"));
    // A file size limit stands in for a full disk: the kernel writes what
    // fits and refuses the rest.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 20;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool appended = file.Append(std::string(100, 'x') + "\n");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(appended);
    EXPECT_EQ(testutil::ReadFile(dir / "f"), "first line\n");
    EXPECT_TRUE(file.Append("second\n"));
    EXPECT_TRUE(file.Sync());
    EXPECT_EQ(testutil::ReadFile(dir / "f"), "first line\nsecond\n");
}

TEST(AppendFileTest, ExclusiveOpenRefusesAnExistingFile) {
    testutil::TempDir dir;
    platform::AppendFile file;
    EXPECT_TRUE(file.Open(dir / "f", true));
    platform::AppendFile second;
    EXPECT_FALSE(second.Open(dir / "f", true));
    EXPECT_TRUE(second.Open(dir / "f"));
}

TEST(AppendFileTest, NewFilesAreClosedToOthers) {
    testutil::TempDir dir;
    // With no umask the mode given to open(2) is the file's mode.
    mode_t old = umask(0);
    platform::AppendFile file;
    bool opened = file.Open(dir / "f");
    umask(old);
    ASSERT_TRUE(opened);
    struct stat info {};
    ASSERT_EQ(stat((dir / "f").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(AppendFileTest, ReadWholeFileReadsEveryByteOrSaysWhy) {
    testutil::TempDir dir;
    std::string bytes("a\0b\r\n", 5);
    testutil::WriteFile(dir / "f", bytes);
    std::string text = "kept";
    ASSERT_TRUE(platform::ReadWholeFile(dir / "f", &text));
    EXPECT_EQ(text, bytes);
    text = "kept";
    EXPECT_FALSE(platform::ReadWholeFile(dir / "missing", &text));
    EXPECT_EQ(errno, ENOENT);
    // A folder opens but can't be read: that is no file either.
    EXPECT_FALSE(platform::ReadWholeFile(dir.path, &text));
    EXPECT_EQ(text, "kept");
}

}  // namespace
