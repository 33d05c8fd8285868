#include "file_hash.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "command_line.h"
#include "parallel_hash.h"
#include "test_util.h"
#include "varn/sha256_digest.h"

namespace {

using namespace wexhash;
using namespace wexhash_test;

// A directory, a missing file, and a file that opens but fails to read
// (offset 0 of a process's memory is never mapped): no fingerprint, the
// reason, and a digest ready for the next file; with and without a reader
// thread.
TEST(HashFile, UnreadableGivesNothingAndLeavesDigestClean) {
    const TTempDir dir;
    const std::string good = dir.Write("good", RandomBytes(2 * kPieceSize + 5, 9));
    const std::string expected = Sha256sumUpper(good);
    Varn::TSha256Digest digest;
    const std::pair<std::string, int> cases[] = {{dir.path().string(), EISDIR},
                                                 {dir.path().string() + "/missing", ENOENT},
                                                 {"/proc/self/mem", EIO}};
    for (const auto& [bad, error] : cases) {
        EXPECT_EQ(HashFile(digest, bad), std::nullopt) << bad;
        EXPECT_EQ(HashFile(digest, good), expected) << "after " << bad;
        for (bool readAhead : {false, true}) {
            const THashResult result = HashPath(digest, bad, readAhead);
            EXPECT_EQ(result.end, TReadEnd::Failed) << bad;
            EXPECT_EQ(result.error, error) << bad;
            EXPECT_EQ(HashPath(digest, good, readAhead).hex, expected) << "after " << bad;
        }
    }
}

// Sizes around the read piece and past the reader thread's ring of buffers,
// read both ways; the progress count ends at the size.
TEST(HashFile, PieceBoundariesBothWays) {
    const TTempDir dir;
    for (size_t size :
         {size_t{0}, size_t{1}, kPieceSize - 1, kPieceSize, kPieceSize + 1, 9 * kPieceSize + 3}) {
        const std::string path = dir.Write("f", RandomBytes(size, static_cast<uint32_t>(size)));
        const std::string expected = Sha256sumUpper(path);
        for (bool readAhead : {false, true}) {
            Varn::TSha256Digest digest;
            std::atomic<uint64_t> done = 0;
            const TFile file(path);
            EXPECT_EQ(file.size(), size);
            const THashResult result = HashOpenFile(digest, file, {nullptr, &done}, readAhead);
            EXPECT_EQ(result.hex, expected) << size << (readAhead ? " ahead" : " here");
            EXPECT_EQ(done, size);
        }
    }
}

// A cancel stops the read at the next piece and leaves the digest clean. The
// sink raises the flag itself, so the test needs no timing.
TEST(HashFile, CancelStopsAtTheNextPiece) {
    const TTempDir dir;
    const std::string path = dir.Write("big", RandomBytes(20 * kPieceSize, 3));
    for (bool readAhead : {false, true}) {
        Varn::TSha256Digest digest;
        std::atomic<bool> cancel = false;
        std::atomic<uint64_t> done = 0;
        size_t pieces = 0;
        const TReadResult read = ReadFile(
            TFile(path),
            [&](const uint8_t* data, size_t length) {
                digest.Update(data, length);
                if (++pieces == 3) cancel = true;
            },
            {&cancel, &done}, readAhead);
        EXPECT_EQ(read.end, TReadEnd::Cancelled);
        EXPECT_EQ(pieces, 3u);
        EXPECT_EQ(done, 3 * kPieceSize);
        digest.Final(std::array<uint8_t, 32>().data(), 32);
        EXPECT_EQ(HashOpenFile(digest, TFile(path), {}, readAhead).hex, Sha256sumUpper(path));
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

// The first file is by far the largest, so the others finish first; the
// results still come in the listed order, each with its own digest, on as
// many threads as asked and on one.
TEST(HashInOrder, ReportsInListedOrder) {
    const TTempDir dir;
    std::vector<std::string> paths = {dir.Write("large", RandomBytes(6 << 20, 1))};
    for (int i = 0; i < 12; ++i) paths.push_back(dir.Write(std::to_string(i), RandomBytes(i, i)));
    paths.push_back(dir.path().string() + "/missing");
    for (unsigned threads : {1u, 3u}) {
        size_t next = 0;
        HashInOrder(paths, threads, [&](size_t index, const THashResult& result) {
            EXPECT_EQ(index, next++);
            if (index + 1 == paths.size()) {
                EXPECT_EQ(result.error, ENOENT);
            } else {
                EXPECT_EQ(result.hex, Sha256sumUpper(paths[index])) << paths[index];
            }
        });
        EXPECT_EQ(next, paths.size());
    }
}

// Many more files than the queue holds at once, with a missing one now and
// then: the order and the digests hold as the queue empties and refills.
TEST(HashInOrder, MoreFilesThanItHoldsAtOnce) {
    const TTempDir dir;
    for (unsigned threads : {1u, 2u}) {
        std::vector<std::string> paths, expected;
        for (size_t i = 0; i < WindowFor(threads) + 70; ++i) {
            const std::string name = std::to_string(threads) + "-" + std::to_string(i);
            if (i % 50 == 7) {
                paths.push_back(dir.path().string() + "/missing" + name);
                expected.push_back("");
                continue;
            }
            paths.push_back(dir.Write(name, name));
            expected.push_back(Sha256sumUpper(paths.back()));
        }
        size_t next = 0;
        HashInOrder(paths, threads, [&](size_t index, const THashResult& result) {
            ASSERT_EQ(index, next++);
            EXPECT_EQ(result.hex, expected[index]) << paths[index];
            EXPECT_EQ(result.error, expected[index].empty() ? ENOENT : 0) << paths[index];
        });
        EXPECT_EQ(next, paths.size());
    }
}

// Each case: the arguments, "", then the mode and the paths expected.
TEST(CommandLine, ModesAndTokens) {
    const std::vector<std::vector<std::string>> cases = {
        {"", "dialog"},
        {"/console", "", "dialog"},
        {"/console", "a b", "", "console", "a b"},
        {"/CONSOLE", "f", "", "console", "f"},
        {"/Console", "f", "g", "", "console", "f"},
        {"-console", "f", "", "dialog", "-console"},
        {"/consoles", "f", "", "dialog", "/consoles"},
        {"\"quoted\"", "", "dialog", "\"quoted\""},
        {"/sum", "", "sum"},
        {"/SUM", "a", "/console", "-", "", "sum", "a", "/console", "-"},
        {"/Check", "s1", "s2", "", "check", "s1", "s2"},
        {"a", "/sum", "", "dialog", "a"},
    };
    const char* modeNames[] = {"dialog", "console", "sum", "check"};
    for (const auto& c : cases) {
        const size_t end = std::find(c.begin(), c.end(), "") - c.begin();
        std::vector<const char*> argv = {"wexhash"};
        for (size_t i = 0; i < end; ++i) argv.push_back(c[i].c_str());
        const TCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(modeNames[static_cast<int>(parsed.mode)], c[end + 1]) << c[0];
        EXPECT_EQ(parsed.paths, std::vector<std::string>(c.begin() + end + 2, c.end())) << c[0];
    }
}

}  // namespace
