#include "file_hash.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "command_line.h"
#include "test_util.h"
#include "varn/sha256_digest.h"

namespace {

using namespace wexhash;
using namespace wexhash_test;

// A directory, a missing file, and a file that opens but fails to read
// (offset 0 of a process's memory is never mapped): no fingerprint, and the
// digest is ready for the next file.
TEST(HashFile, UnreadableGivesNothingAndLeavesDigestClean) {
    const TTempDir dir;
    const std::string good = dir.Write("good", RandomBytes(2 * 8192, 9));
    Varn::TSha256Digest digest;
    for (const std::string& bad :
         {dir.path().string(), dir.path().string() + "/missing", std::string("/proc/self/mem")}) {
        EXPECT_EQ(HashFile(digest, bad), std::nullopt) << bad;
        EXPECT_EQ(HashFile(digest, good), Sha256sumUpper(good)) << "after " << bad;
    }
}

// Data that arrives in small parts (here through a pipe) is read to its end:
// a short read is not the end of the file.
TEST(HashFile, ShortReadsAreNotTheEnd) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::vector<uint8_t> bytes = RandomBytes(20000, 5);
    std::optional<std::string> result;
    std::thread reader([&] {
        Varn::TSha256Digest digest;
        result = HashFile(digest, "/proc/self/fd/" + std::to_string(fds[0]));
    });

    // Write 100 bytes and wait until the reader has taken them, so that its
    // first read returns less than a full piece; then write the rest. (No
    // ASSERT from here on: the reader thread must be joined.)
    EXPECT_EQ(write(fds[1], bytes.data(), 100), 100);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int waiting = 1;
    while (waiting > 0 && std::chrono::steady_clock::now() < deadline) {
        ioctl(fds[0], FIONREAD, &waiting);
        std::this_thread::yield();
    }
    EXPECT_EQ(waiting, 0);
    EXPECT_EQ(write(fds[1], bytes.data() + 100, bytes.size() - 100),
              static_cast<ssize_t>(bytes.size() - 100));
    close(fds[1]);
    reader.join();
    close(fds[0]);

    const TTempDir dir;
    EXPECT_EQ(result, Sha256sumUpper(dir.Write("same", bytes)));
}

// Each case: the arguments, then the mode and path expected.
TEST(CommandLine, ModesAndTokens) {
    const std::vector<std::vector<std::string>> cases = {
        {"", "dialog", ""},
        {"/console", "", "dialog", ""},
        {"/console", "a b", "", "console", "a b"},
        {"/CONSOLE", "f", "", "console", "f"},
        {"/Console", "f", "g", "", "console", "f"},
        {"-console", "f", "", "dialog", "-console"},
        {"/consoles", "f", "", "dialog", "/consoles"},
        {"\"quoted\"", "", "dialog", "\"quoted\""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"wexhash"};
        for (size_t i = 0; !c[i].empty(); ++i) argv.push_back(c[i].c_str());
        const TCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(parsed.console ? "console" : "dialog", c[c.size() - 2]) << c[0];
        EXPECT_EQ(parsed.path, c.back()) << c[0];
    }
}

}  // namespace
