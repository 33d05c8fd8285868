// "/check" of the built wexhash on the lists that tell a streaming checker
// from one that reads its list first: a list of a million lines, a list
// that arrives slowly through a pipe, lines with a NUL in them, and many
// generated lists, each against sha256sum -c on the same files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "../sanitized.h"
#include "test_util.h"

namespace {

using namespace wexhash_test;

const std::string kAbcHash = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In a child between fork and exec: fd becomes from, or the child ends.
void Move(int from, int fd) {
    if (from != fd && (dup2(from, fd) < 0 || close(from) != 0)) _exit(127);
}

class CheckListTest : public testing::Test {
protected:
    std::vector<std::string> Env() const {
        return {"HOME=" + home_.path().string(), "LANG=C.UTF-8"};
    }

    // wexhash /check with args, in dir_, named "wexhash" so that its
    // messages start as sha256sum's do when it is run under that name.
    TRunResult Wexhash(const std::vector<std::string>& args, const std::string& input) {
        std::vector<std::string> all = {"/check"};
        all.insert(all.end(), args.begin(), args.end());
        return RunCommand({WEXHASH_BINARY, "wexhash", all, Env(), dir_.path().string(), input, ""});
    }
    TRunResult Sha256sum(const std::vector<std::string>& args, const std::string& input) {
        std::vector<std::string> all = {"-c"};
        all.insert(all.end(), args.begin(), args.end());
        return RunCommand(
            {"/usr/bin/sha256sum", "wexhash", all, Env(), dir_.path().string(), input, ""});
    }

    // Both on the same lists. Output and messages must agree byte for byte.
    // The exit status is comparable too: "/check" keeps sha256sum's (0 when
    // all is well, else 1); only the dialog and "/console" always exit 1.
    void ExpectSameAsSha256sum(const std::vector<std::string>& args,
                               const std::string& input = "/dev/null") {
        const TRunResult expected = Sha256sum(args, input);
        const TRunResult got = Wexhash(args, input);
        EXPECT_EQ(got.out, expected.out);
        EXPECT_EQ(got.err, expected.err);
        EXPECT_EQ(got.status, expected.status);
    }

    // Starts wexhash /check on standard input with pipes on both ends.
    pid_t StartOnPipes(int* toChild, int* fromChild) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
        std::vector<std::string> argv = {"wexhash", "/check"};
        std::vector<std::string> env = Env();
        const std::vector<char*> argvPointers = Pointers(argv), envPointers = Pointers(env);
        const pid_t child = fork();
        if (child == 0) {
            Move(in[0], STDIN_FILENO);
            Move(out[1], STDOUT_FILENO);
            Move(open("/dev/null", O_WRONLY), STDERR_FILENO);
            if (chdir(dir_.path().c_str()) != 0) _exit(127);
            execve(WEXHASH_BINARY, argvPointers.data(), envPointers.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        *toChild = in[1];
        *fromChild = out[0];
        return child;
    }

    TTempDir home_;
    TTempDir dir_;
};

// Reads from fd until text holds want, the stream ends, or timeout passes.
// A bound, not a wait for something simulated: a checker that holds its
// results back fails here instead of hanging the test.
std::string ReadUntil(int fd, const std::string& want, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    while (text.find(want) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd poller{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&poller, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

void WriteAll(int fd, const std::string& text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

int WaitFor(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each result comes out while the list is still open: the writer holds the
// pipe and waits for the answer to one line before it sends the next.
TEST_F(CheckListTest, ResultsComeWhileTheListIsStillOpen) {
    dir_.Write("a", "abc");
    dir_.Write("b", "abd");
    int toChild = -1, fromChild = -1;
    const pid_t child = StartOnPipes(&toChild, &fromChild);
    ASSERT_GT(child, 0);
    const std::chrono::seconds bound(30);
    WriteAll(toChild, kAbcHash + "  a\n");
    EXPECT_EQ(ReadUntil(fromChild, "\n", bound), "a: OK\n");
    // A line in two writes, and a comment that brings no result.
    WriteAll(toChild, "# note\n" + kAbcHash);
    WriteAll(toChild, "  b\n");
    EXPECT_EQ(ReadUntil(fromChild, "\n", bound), "b: FAILED\n");
    close(toChild);
    EXPECT_EQ(ReadUntil(fromChild, "\n", bound), "");  // the end, with nothing more
    close(fromChild);
    EXPECT_EQ(WaitFor(child), 1);
}

// The peak resident set of a command, VmHWM as /proc shows it when the
// process is about to exit, in KiB; it is held there by ptrace for that
// moment. -1 when it could not be read. Standard output is thrown away.
long PeakRssKiB(const TCommand& command, int* exitStatus) {
    std::vector<std::string> argv = {command.argv0};
    argv.insert(argv.end(), command.args.begin(), command.args.end());
    std::vector<std::string> env = command.env;
    const std::vector<char*> argvPointers = Pointers(argv), envPointers = Pointers(env);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        Move(null, STDOUT_FILENO);
        if (chdir(command.cwd.c_str()) != 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(127);
        execve(command.program.c_str(), argvPointers.data(), envPointers.data());
        _exit(127);
    }
    long peak = -1;
    int status = 0;
    waitpid(child, &status, 0);  // stopped at exec
    ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
    int signal = 0;
    for (;;) {
        ptrace(PTRACE_CONT, child, nullptr, signal);
        if (waitpid(child, &status, 0) < 0 || !WIFSTOPPED(status)) break;
        signal = 0;
        if (status >> 8 != (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            signal = WSTOPSIG(status);
            continue;
        }
        std::ifstream proc("/proc/" + std::to_string(child) + "/status");
        for (std::string line; std::getline(proc, line);) {
            if (line.starts_with("VmHWM:")) peak = std::stol(line.substr(6));
        }
    }
    *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return peak;
}

// A million lines: memory must not follow the length of the list. Reading
// the list first took over 200 MiB here; checking as it reads, a few.
TEST_F(CheckListTest, MemoryDoesNotGrowWithTheList) {
#ifdef WEX_SANITIZED
    GTEST_SKIP() << "a sanitizer's own memory hides wexhash's";
#endif
    dir_.Write("a", "abc");
    {
        std::ofstream list(dir_.path() / "sums", std::ios::binary);
        const std::string line = kAbcHash + "  a\n";
        for (int i = 0; i < 1000000; ++i) list << line;
    }
    int status = -1;
    const long peak = PeakRssKiB(
        {WEXHASH_BINARY, "wexhash", {"/check", "sums"}, Env(), dir_.path().string(), "", ""},
        &status);
    EXPECT_EQ(status, 0);
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak, 20 * 1024) << "peak resident set in KiB";
}

// A NUL ends a plain name and the digits of a tagged line, but an escaped
// name cannot hold one; the same in lines that end in CR LF and in lines
// where the NUL comes first.
TEST_F(CheckListTest, NulInALineIsReadAsSha256sumReadsIt) {
    dir_.Write("a.txt", "abc");
    const std::string h = kAbcHash;
    const std::string nul(1, '\0');
    const std::vector<std::string> lines = {
        "\\" + h + "  a.txt" + nul + "junk",  // escaped: improper
        h + "  a.txt" + nul + "junk",         // plain: the name is "a.txt"
        "\\" + h + "  a.txt" + nul,
        "\\" + h + "  a.txt" + nul + "\r",
        h + "  a.txt\r" + nul,  // the CR is not the last byte: part of the name
        h + "  a.txt" + nul + "\r",
        h + "  " + nul + "a.txt",  // the name is empty
        h + " *" + nul + "a.txt",
        h + nul + "  a.txt",
        nul + h + "  a.txt",
        nul,
        "#" + nul + "comment",
        "\\" + h + "  a\\\\b" + nul,
        h + "  a\\\\b" + nul + "junk",
        "SHA256 (a.txt) = " + h + nul + "junk",
        "SHA256 (a.txt) = " + h + "\r" + nul,
        "SHA256 (a.txt" + nul + "junk) = " + h,
        "SHA256 (a.txt" + nul + ") junk) = " + h,
        "SHA256 (a.txt) = " + h + nul + "junk)",
        "\\SHA256 (a.txt" + nul + ") = " + h,
        "\\SHA256 (a.txt) = " + h + nul + "junk",
        "SHA256 (" + nul + ") = " + h,
        "SHA256" + nul + " (a.txt) = " + h,
    };
    const std::string good = h + "  a.txt\n";
    for (const std::string& line : lines) {
        SCOPED_TRACE(testing::PrintToString(line));
        // Alone, before a good line, and after one, which settles the marks.
        dir_.Write("alone", line + "\n");
        dir_.Write("first", line + "\n" + good);
        dir_.Write("second", good + line + "\n");
        for (const char* list : {"alone", "first", "second"}) ExpectSameAsSha256sum({list});
    }
}

// Generated lists, the same for every run, each checked alone and some
// several at a time, and one on standard input.
class TListMaker {
public:
    TListMaker(const TTempDir& dir, uint32_t seed) : random_(seed) {
        const std::vector<std::string> names = {
            "plain",           "with blanks", "back\\slash", "line\nfeed", "cr\rname",
            "both\\and\nmore", "*star",       "#hash",       " lead",      "tab\tname",
            "caf\xc3\xa9",     "(paren)",     "x) = y",      "-"};
        for (size_t i = 0; i < names.size(); ++i) {
            const std::vector<uint8_t> bytes = RandomBytes(Pick(3000), static_cast<uint32_t>(i));
            const std::string path = dir.Write(names[i], bytes);
            files_.push_back({names[i], Sha256sumUpper(path)});
        }
    }

    // A list of up to lines lines of every kind.
    std::string List(size_t lines) {
        marks_ = std::vector<std::string>{"  ", " *", " "}[Pick(3)];
        std::string list;
        for (size_t n = 1 + Pick(lines); n > 0; --n) {
            list += Line();
            const size_t end = Pick(10);
            if (n > 1 || end > 0) list += end == 1 ? "\r\n" : "\n";
        }
        return list;
    }

private:
    struct TFileHash {
        std::string name, hash;
    };

    size_t Pick(size_t count) {
        return std::uniform_int_distribution<size_t>(0, count - 1)(random_);
    }

    std::string Hash(std::string hash) {
        if (Pick(2) == 0) {
            for (char& c : hash) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return hash;
    }

    // The name as a checksum line holds it, and whether the line must then
    // start with a backslash; now and then escaped when it need not be.
    std::pair<std::string, bool> Escape(const std::string& name) {
        bool escaped = Pick(8) == 0;
        std::string out;
        for (char c : name) {
            const char* replacement = c == '\\'   ? "\\\\"
                                      : c == '\n' ? "\\n"
                                      : c == '\r' ? "\\r"
                                                  : "";
            if (*replacement == '\0') {
                out += c;
            } else {
                out += replacement;
                escaped = true;
            }
        }
        return {out, escaped};
    }

    std::string Entry(const std::string& name, const std::string& hash) {
        const auto [written, escaped] = Escape(name);
        std::string blanks = Pick(6) == 0 ? std::string(Pick(3) + 1, Pick(2) ? ' ' : '\t') : "";
        const std::string start = blanks + (escaped ? "\\" : "");
        if (Pick(4) == 0) return start + "SHA256 (" + written + ") = " + hash;
        const std::string marks =
            Pick(10) == 0 ? std::vector<std::string>{"  ", " *", " "}[Pick(3)] : marks_;
        return start + hash + marks + written;
    }

    std::string Line() {
        const TFileHash& file = files_[Pick(files_.size())];
        std::string wrong = file.hash;
        wrong[Pick(64)] = wrong[0] == '0' ? '1' : '0';
        switch (Pick(12)) {
            case 0:
                return Entry(file.name, Hash(wrong));
            case 1:
                return Entry(Pick(2) ? "missing" : "gone\nwith\\it", Hash(file.hash));
            case 2:
                return Entry(".", Hash(file.hash));
            case 3: {  // a NUL somewhere in a good line
                std::string line = Entry(file.name, Hash(file.hash));
                return line.insert(Pick(line.size() + 1), 1, '\0');
            }
            case 4:
                return std::vector<std::string>{"", "# comment", "\r", "garbage", " "}[Pick(5)];
            case 5: {  // one byte lost, doubled or changed
                std::string line = Entry(file.name, Hash(file.hash));
                const size_t at = Pick(line.size());
                return Pick(2) ? line.erase(at, 1) : line.insert(at, 1, "x \\)(*"[Pick(6)]);
            }
            case 6:
                return "MD5 (" + file.name + ") = " + Hash(file.hash);
            case 7:
                return "\\" + Hash(file.hash) + marks_ + "bad\\escape";
            default:
                return Entry(file.name, Hash(file.hash));
        }
    }

    std::mt19937 random_;
    std::vector<TFileHash> files_;
    std::string marks_;  // what most untagged lines of the list put after the digits
};

TEST_F(CheckListTest, GeneratedListsAgreeWithSha256sum) {
    TListMaker maker(dir_, 20240611);
    for (int i = 0; i < 40; ++i) {
        const std::string list = maker.List(12);
        SCOPED_TRACE(testing::PrintToString(list));
        dir_.Write("list", list);
        ExpectSameAsSha256sum({"list"});
        if (i % 8 == 0) ExpectSameAsSha256sum({}, (dir_.path() / "list").string());
    }
    for (int i = 0; i < 5; ++i) {
        std::vector<std::string> lists;
        for (int n = 0; n < 3; ++n) {
            lists.push_back("list" + std::to_string(n));
            dir_.Write(lists.back(), maker.List(6));
        }
        SCOPED_TRACE(i);
        ExpectSameAsSha256sum(lists);
    }
}

}  // namespace
