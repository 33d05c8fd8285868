// Runs the built wexhash on the console, with no display in its environment:
// "/console" on its own, and "/sum" and "/check" side by side with sha256sum
// on the same files, which must agree byte for byte.
#include <gtest/gtest.h>

#include <regex>

#include "test_util.h"

namespace {

using namespace wexhash_test;

const std::string kEmptyHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbcHash = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class ConsoleTest : public testing::Test {
protected:
    // wexhash run in dir_; argv[0] is "wexhash" so that messages start alike.
    TRunResult Wexhash(const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) {
        return RunCommand(
            {WEXHASH_BINARY, "wexhash", args, Env(env), dir_.path().string(), input_, output_});
    }
    // sha256sum run the same way, under the same name.
    TRunResult Sha256sum(const std::vector<std::string>& args) {
        return RunCommand({"/usr/bin/sha256sum", "wexhash", args, Env({}), dir_.path().string(),
                           input_, output_});
    }
    std::vector<std::string> Env(std::vector<std::string> extra) {
        extra.push_back("HOME=" + home_.path().string());
        extra.push_back("LANG=C.UTF-8");
        return extra;
    }
    // Both programs on the same arguments: "/sum" is sha256sum, "/check" is
    // sha256sum -c. Returns what wexhash did.
    TRunResult ExpectSameAsSha256sum(const std::string& mode,
                                     const std::vector<std::string>& args) {
        std::vector<std::string> ours = {mode}, theirs;
        if (mode == "/check") theirs.push_back("-c");
        ours.insert(ours.end(), args.begin(), args.end());
        theirs.insert(theirs.end(), args.begin(), args.end());
        const TRunResult expected = Sha256sum(theirs);
        const TRunResult got = Wexhash(ours);
        EXPECT_EQ(got.out, expected.out) << mode;
        EXPECT_EQ(got.err, expected.err) << mode;
        EXPECT_EQ(got.status, expected.status) << mode;
        return got;
    }

    TTempDir home_;
    TTempDir dir_;
    std::string input_ = "/dev/null";
    std::string output_;  // standard output goes here; collected when empty
};

TEST_F(ConsoleTest, PrintsSha256sumInUpperCaseWithNoLineEnd) {
    // Around the padding boundary, and around and beyond the read pieces.
    for (size_t size :
         {0, 55, 56, 63, 64, 65, 8192, 70001, 262143, 262144, 262145, 1048576 * 3 + 1}) {
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

// Nothing on standard output, one line on standard error, whether or not a
// display is named: a stale one must not matter, as none is ever opened.
TEST_F(ConsoleTest, FileThatCannotBeOpenedPrintsNothing) {
    for (const std::string& path : {dir_.path().string(), dir_.path().string() + "/missing"}) {
        for (const std::vector<std::string>& env :
             {std::vector<std::string>{}, {"DISPLAY=:97"}, {"WAYLAND_DISPLAY=wayland-97"}}) {
            const TRunResult run = Wexhash({"/console", path}, env);
            EXPECT_EQ(run.out, "") << path;
            EXPECT_EQ(run.err, "Could not open file.\n") << path;
            EXPECT_EQ(run.status, 1);
        }
    }
}

// A result that cannot be written is not lost without a word: "/sum" and
// "/check" say what sha256sum says, and "/console" says the same.
TEST_F(ConsoleTest, WriteErrorIsReported) {
    dir_.Write("file", "abc");
    dir_.Write("sums", kAbcHash + "  file\n");
    output_ = "/dev/full";
    const TRunResult console = Wexhash({"/console", "file"});
    EXPECT_EQ(console.err, "wexhash: write error\n");
    EXPECT_EQ(console.status, 1);

    EXPECT_NE(ExpectSameAsSha256sum("/sum", {"file"}).err, "");
    EXPECT_NE(ExpectSameAsSha256sum("/check", {"sums"}).err, "");
}

// Without the switch, or with it alone, wexhash wants its dialog; with no
// display it cannot show one, prints nothing on standard output and still
// ends with status 1. It is Qt that fails: the dialog module was found.
TEST_F(ConsoleTest, WithoutTheSwitchTheDialogIsWanted) {
    const std::string file = dir_.Write("file", RandomBytes(10, 1));
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-console", file}, {"/console"}, {file}}) {
        const TRunResult run = Wexhash(args);
        EXPECT_EQ(run.out, "") << args[0];
        EXPECT_NE(run.err, "") << args[0];
        EXPECT_EQ(run.err.find("libwexhash_dialog.so"), std::string::npos) << run.err;
        EXPECT_EQ(run.status, 1) << args[0];
    }
}

// Names that a checksum line or a message must escape or quote, an empty
// file, a missing file and a folder; more files than cores, so that several
// are hashed at once and the order must still hold.
TEST_F(ConsoleTest, SumIsSha256sum) {
    const std::vector<std::string> names = {
        "plain",           "with blanks", "back\\slash", "line\nfeed",  "carriage\rreturn",
        "both\\and\nmore", "it's",        "dollar$",     "caf\xc3\xa9", "bad\xe9utf8",
        "*star",           "#hash"};
    std::vector<std::string> args;
    for (size_t i = 0; i < names.size(); ++i) {
        dir_.Write(names[i], RandomBytes(i * 100000, static_cast<uint32_t>(i)));
        args.push_back(names[i]);
    }
    dir_.Write("empty", "");
    args.insert(args.end(), {"empty", "missing", ".", "missing\nline", "plain"});
    ExpectSameAsSha256sum("/sum", args);
    ExpectSameAsSha256sum("/sum", {"plain"});
    ExpectSameAsSha256sum("/sum", {"missing"});
}

// Standard input named more than once is read to its end by the first "-"
// and found empty by the later ones, even with files hashed in between; the
// input is large enough for two reads of it to overlap if they could.
TEST_F(ConsoleTest, SumReadsStandardInput) {
    input_ = dir_.Write("input", RandomBytes(300000, 4));
    ExpectSameAsSha256sum("/sum", {});
    ExpectSameAsSha256sum("/sum", {"-"});

    input_ = dir_.Write("large", RandomBytes(8 << 20, 5));
    dir_.Write("plain", "abc");
    ExpectSameAsSha256sum("/sum", {"-", "-"});
    ExpectSameAsSha256sum("/sum", {"plain", "-", "plain", "-", "-"});
    const std::string inputHash = Sha256sum({"-"}).out.substr(0, 64);
    dir_.Write("twice", inputHash + "  -\n" + inputHash + "  -\n");
    ExpectSameAsSha256sum("/check", {"twice"});
}

// One check file with every kind of line and outcome: good lines in all
// forms, names with blanks, a backslash and a line feed, an empty file, a
// missing file, a folder, a modified file, malformed lines and comments.
TEST_F(ConsoleTest, CheckIsSha256sumC) {
    const std::string lineFeed = "line\nfeed";
    dir_.Write("with blanks", "abc");
    dir_.Write("back\\slash", "abc");
    dir_.Write(lineFeed, "abc");
    dir_.Write("empty", "");
    dir_.Write("modified", "abd");
    const std::string sums =
        kAbcHash + "  with blanks\n" +                 // text mark
        "\\" + kAbcHash + " *back\\\\slash\n" +        // binary, escaped
        "\\" + kAbcHash + "  line\\nfeed\n" +          // escaped line feed
        "SHA256 (with blanks) = " + kAbcHash + "\n" +  // tag form
        "\\SHA256 (line\\nfeed) = " + kAbcHash + "\r\n" + kEmptyHash + "  empty\n" +  // empty file
        "  " + kEmptyHash + "\tempty\n" +                                             // blanks, tab
        kAbcHash + "  missing\n" + kAbcHash + "  .\n" +                               // unreadable
        kAbcHash + "  modified\n" +                                                   // mismatch
        "# a comment\n\n" +                                                           // ignored
        "not a checksum line\n" + kAbcHash + "\n" +                                   // improper
        "\\" + kAbcHash + "  bad\\escape\n" + "MD5 (empty) = " + kEmptyHash + "\n" +
        kAbcHash.substr(1) + "  with blanks\n" + "SHA256 (empty) = " + kEmptyHash.substr(0, 63) +
        "X\n" + kAbcHash.substr(0, 32) + std::string(32, 'A') + "  with blanks";
    dir_.Write("sums", sums);
    ExpectSameAsSha256sum("/check", {"sums"});
}

// Counts of one and of several, a file with nothing to check, several check
// files in one run, an unreadable check file, and all good (status 0).
TEST_F(ConsoleTest, CheckSummariesAndStatus) {
    dir_.Write("a", "abc");
    dir_.Write("b", "abc");
    dir_.Write("good", kAbcHash + "  a\n" + kAbcHash + "  b\n");
    dir_.Write("twoBad", kEmptyHash + "  a\n" + kEmptyHash + "  b\nx\ny\n" + kAbcHash + "  gone\n" +
                             kAbcHash + "  gone2\n");
    dir_.Write("nothing", "garbage\n\n# comment\n");
    dir_.Write("blank", "");
    ExpectSameAsSha256sum("/check", {"good"});
    ExpectSameAsSha256sum("/check", {"twoBad"});
    ExpectSameAsSha256sum("/check", {"nothing"});
    ExpectSameAsSha256sum("/check", {"blank", "good", "missing.sums", ".", "twoBad"});
    input_ = dir_.path().string() + "/good";
    ExpectSameAsSha256sum("/check", {});
    ExpectSameAsSha256sum("/check", {"-"});
}

// The first line without a tag settles whether a mode mark follows the
// blank after the digits; later lines, also in later files, are read alike.
TEST_F(ConsoleTest, CheckSettlesModeMarksOnce) {
    dir_.Write("a", "abc");
    dir_.Write(" a", "abc");
    dir_.Write("*", "abc");
    dir_.Write("marks", kAbcHash + "  a\n" + kAbcHash + "\ta\n" + kAbcHash + " *a\n");
    dir_.Write("noMarks", kAbcHash + "\ta\n" + kAbcHash + "  a\n" + kAbcHash + " a\n");
    dir_.Write("star", kAbcHash + " *\n" + kAbcHash + "  a\n");
    for (const char* first : {"marks", "noMarks", "star"}) {
        for (const char* second : {"marks", "noMarks", "star"}) {
            ExpectSameAsSha256sum("/check", {first, second});
        }
    }
}

}  // namespace
