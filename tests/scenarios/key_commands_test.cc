// wexbot --keys and --check-config from the command line: their output and
// exit statuses, that a check leaves nothing behind, and the documents made
// from the key table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: wexbot <path_to_config_file>\n"
    "       wexbot --keys[=text|json|markdown]\n"
    "       wexbot --check-config <path_to_config_file>\n";

std::string ReadSource(const std::string& path) {
    std::ifstream in(std::string(SOURCE_DIR) + "/" + path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The key names, from the first column of `wexbot --keys`.
std::vector<std::string> KeyNames() {
    BotRun run = RunBotWith({}, {"--keys"});
    std::vector<std::string> names;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) names.push_back(line.substr(0, line.find(' ')));
    return names;
}

TEST(KeyCommandsTest, KeysPrintsTheTableInEachFormatAndExits0) {
    BotRun text = RunBotWith({}, {"--keys"});
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(text.out.rfind("KEY  ", 0), 0u) << text.out;
    EXPECT_EQ(RunBotWith({}, {"--keys=text"}).out, text.out);

    std::vector<std::string> names = KeyNames();
    EXPECT_EQ(names.size(), 34u);
    BotRun json = RunBotWith({}, {"--keys=json"});
    EXPECT_EQ(json.exitStatus, 0);
    EXPECT_EQ(json.out.rfind("{\"keys\":[\n{\"name\":\"Service\",", 0), 0u) << json.out;
    for (const std::string& name : names) {
        EXPECT_NE(json.out.find("{\"name\":\"" + name + "\","), std::string::npos) << name;
    }
    BotRun markdown = RunBotWith({}, {"--keys=markdown"});
    EXPECT_EQ(markdown.exitStatus, 0);
    EXPECT_EQ(markdown.out.rfind("# Configuration keys\n", 0), 0u);
}

// The one-argument run keeps its usage line and 255; a switch used wrongly
// gets the full usage and 255 too.
TEST(KeyCommandsTest, AWrongCommandLineExits255) {
    const std::vector<std::string> wrong[] = {
        {"--keys=xml"}, {"--keys", "extra"}, {"--check-config"}, {"--check-config", "a", "b"}};
    for (const std::vector<std::string>& args : wrong) {
        SCOPED_TRACE(args[0]);
        BotRun run = RunBotWith({}, args);
        EXPECT_EQ(run.exitStatus, 255);
        EXPECT_EQ(run.out, kUsage);
    }
    BotRun two = RunBotWith({}, {"a", "b"});
    EXPECT_EQ(two.exitStatus, 255);
    EXPECT_EQ(two.out, "usage: wexbot <path_to_config_file>\n");
}

// A check signs on to nothing and writes nothing: no transcript, journal,
// wire log or settings, whatever the file holds.
TEST(KeyCommandsTest, CheckConfigExitsWithWhetherThereAreFaultsAndLeavesNothing) {
    const std::string scenario = "start 2008-11-05T14:30:00\nwirelog wire.jsonl\nat 1 end\n";
    std::string folder = MakeTestFolder();
    BotRun good = RunBotIn(folder, {{"bot.conf", MakeConfig()}, {"sc.txt", scenario}},
                           {"--check-config", "bot.conf"});
    EXPECT_EQ(good.exitStatus, 0);
    EXPECT_EQ(good.out, "bot.conf: no faults\n");
    EXPECT_EQ(good.err, "");

    std::string faulty = MakeConfig({{"NRounds", "100001"}, {"Subject1Name", ""}}) +
                         "Colour blue\nMaxMessageBytes 63\nNRounds 4\n";
    BotRun bad = RunBotIn(folder, {{"bad.conf", faulty}}, {"--check-config", "bad.conf"});
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "bad.conf:9: NRounds must be at most 100000, found 100001\n"
              "bad.conf:16: unknown key 'Colour'\n"
              "bad.conf:17: MaxMessageBytes must be a whole number from 64 to 1048576, "
              "found \"63\"\n"
              "bad.conf:18: NRounds is given again; the first, on line 9, counts\n"
              "bad.conf: Subject1Name: username is missing or zero length. Check config file.\n");

    BotRun missing = RunBotIn(folder, {}, {"--check-config", "none.conf"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.err,
              "none.conf: cannot read the configuration file none.conf: No such file or "
              "directory\n");

    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"bad.conf", "bot.conf", "pw.txt", "sc.txt", "stderr.txt",
                                           "stdout.txt"}));
    fs::remove_all(folder);
}

// The reference page is what the generator writes now, and the man page
// names every key and both switches.
TEST(KeyCommandsTest, DocumentsFollowTheKeyTable) {
    BotRun markdown = RunBotWith({}, {"--keys=markdown"});
    EXPECT_EQ(ReadSource("docs/reference/configuration.md"), markdown.out)
        << "docs/reference/configuration.md is out of date: run scripts/config-keys-doc.sh";
    std::string man = ReadSource("docs/man/wexbot.1.scd");
    for (const std::string& name : KeyNames()) {
        EXPECT_NE(markdown.out.find("| `" + name + "` |"), std::string::npos) << name;
        EXPECT_NE(man.find("*" + name + "*"), std::string::npos)
            << name << " is missing from docs/man/wexbot.1.scd";
    }
    EXPECT_NE(man.find("*--keys*"), std::string::npos);
    EXPECT_NE(man.find("*--check-config*"), std::string::npos);
}

}  // namespace
