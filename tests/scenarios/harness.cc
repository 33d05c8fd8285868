#include "harness.h"

#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::vector<std::pair<std::string, std::string>> kDefaultConfig = {
    {"Service", "sim:sc.txt"},
    {"BotUsername", "selkbot"},
    {"Subject1Name", "alice"},
    {"Subject2Name", "bob"},
    {"ModeratorName", "mod"},
    {"PasswordFile", "pw.txt"},
    {"BotPasswordIndex", "0"},
    {"KeyIndex", "1"},
    {"LogFile", "run"},
    {"NRounds", "4"},
    {"ConversationInterval", "2"},
    {"MarketBase", "0.5"},
    {"MarketNoiseScale", "0"},
    {"MarketNoise", "0"},
    {"MaxChatTime", "300"},
    {"MaxChatIdle", "60"},
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A number from a line "KEY:   N kB" of /proc/PID/status; 0 when absent.
long StatusKb(pid_t pid, const std::string& key) {
    std::string status = ReadAll("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("\n" + key + ":");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + key.size() + 2);
}

// Waits for the traced child to end, stopping it on its way out (while its
// memory is still there) to read its memory use into *run.
int WaitTraced(pid_t pid, BotRun* run) {
    int status = 0;
    waitpid(pid, &status, 0);  // the stop at exec
    if (WIFSTOPPED(status)) {
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
            int signal = WSTOPSIG(status);
            if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                run->exitPeakRssKb = StatusKb(pid, "VmHWM");
                run->exitRssKb = StatusKb(pid, "VmRSS");
                signal = 0;
            }
            ptrace(PTRACE_CONT, pid, nullptr, signal);
        }
    }
    return status;
}

// Runs the program in folder with stdout and stderr sent to files; traced,
// its memory at exit goes to *run.
int Spawn(const fs::path& folder, const std::vector<std::string>& args, bool traced, BotRun* run) {
    std::fflush(nullptr);  // else the child would write out what is buffered, too
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(127);
        setenv("TZ", "UTC", 1);
        setenv("WEX_SETTINGS_DIR", (folder / "settings").c_str(), 1);
        if (!freopen("stdout.txt", "w", stdout) || !freopen("stderr.txt", "w", stderr)) _exit(127);
        std::vector<char*> argv;
        std::string program = WEXBOT_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (traced) {
        status = WaitTraced(pid, run);
    } else {
        waitpid(pid, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

BotRun RunIn(const std::string& folderName, const std::map<std::string, std::string>& files,
             const std::vector<std::string>& args, bool traced) {
    fs::path folder = folderName;
    if (files.find("pw.txt") == files.end()) WriteAll(folder / "pw.txt", "secret\nK1\n");
    for (const auto& [name, text] : files) WriteAll(folder / name, text);
    BotRun run;
    run.exitStatus = Spawn(folder, args, traced, &run);
    run.out = ReadAll(folder / "stdout.txt");
    run.err = ReadAll(folder / "stderr.txt");
    // A sanitizer's report in the bot is a failure of whatever test ran it.
    for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer",
                               "ERROR: LeakSanitizer", "runtime error:"}) {
        if (run.err.find(report) != std::string::npos) ADD_FAILURE() << run.err;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("run_", 0) == 0 && entry.path().extension() == ".log") {
            run.transcript = ReadAll(entry.path());
        }
    }
    run.wire = ReadAll(folder / "wire.jsonl");
    run.wireLines = SplitLines(run.wire);
    return run;
}

}  // namespace

std::string MakeConfig(const std::map<std::string, std::string>& changes) {
    std::string text;
    for (const auto& [key, value] : kDefaultConfig) {
        auto change = changes.find(key);
        if (change == changes.end()) {
            text += key + " " + value + "\n";
        } else if (!change->second.empty()) {
            text += key + " " + change->second + "\n";
        }
    }
    for (const auto& [key, value] : changes) {
        bool known = false;
        for (const auto& entry : kDefaultConfig) known = known || entry.first == key;
        if (!known && !value.empty()) text += key + " " + value + "\n";
    }
    return text;
}

BotRun RunBotWith(const std::map<std::string, std::string>& files,
                  const std::vector<std::string>& args) {
    std::string folder = MakeTestFolder();
    BotRun run = RunBotIn(folder, files, args);
    fs::remove_all(folder);
    return run;
}

std::string MakeTestFolder() {
    char pattern[] = "/tmp/wexbot-test-XXXXXX";
    return mkdtemp(pattern);
}

std::string ReadFileEndingWith(const std::string& folder, const std::string& suffix) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return ReadAll(entry.path());
        }
    }
    return "";
}

BotRun RunBotIn(const std::string& folder, const std::map<std::string, std::string>& files,
                const std::vector<std::string>& args) {
    return RunIn(folder, files, args, false);
}

BotRun RunBotMeasured(const std::string& folder, const std::map<std::string, std::string>& files,
                      const std::vector<std::string>& args) {
    return RunIn(folder, files, args, true);
}

BotRun RunScenario(const std::string& scenario, const std::string& config) {
    std::string header;
    if (scenario.find("start ") == std::string::npos) header += "start 2008-11-05T14:30:00\n";
    if (scenario.find("wirelog ") == std::string::npos) header += "wirelog wire.jsonl\n";
    return RunBotWith({{"bot.conf", config}, {"sc.txt", header + scenario}}, {"bot.conf"});
}

int CountLines(const std::string& text, const std::string& needle) {
    return static_cast<int>(LinesWith(text, needle).size());
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& needle) {
    std::vector<std::string> found;
    for (const std::string& line : SplitLines(text)) {
        if (line.find(needle) != std::string::npos) found.push_back(line);
    }
    return found;
}

std::string WithoutWorkingDirectory(const std::string& out) {
    std::string text = out;
    size_t at = text.find("working directory: ");
    if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
    return text;
}

std::string AfterSignOn(const std::string& out) {
    size_t at = out.find("logging in with");
    if (at == std::string::npos) return std::string();
    return out.substr(out.find('\n', at) + 1);
}

std::string Sent(double t, const std::string& to, const std::string& text,
                 const std::string& code) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", t);
    return std::string(time) + " " + to + " " + text + (code.empty() ? "" : " [" + code + "]");
}

std::vector<std::string> Sends(const BotRun& run, double from, double to) {
    std::vector<std::string> sends;
    for (const std::string& line : LinesWith(run.wire, "\"op\":\"send\"")) {
        double t = std::stod(line.substr(5));
        if (t < from || t >= to) continue;
        size_t name = line.find("\"to\":\"") + 6;
        size_t code = line.find("\"code\":\"") + 8;
        size_t text = line.find("\"text\":\"") + 8;
        std::string result = line.substr(code, 8);
        sends.push_back(Sent(t, line.substr(name, line.find('"', name) - name),
                             line.substr(text, line.size() - 2 - text),
                             result == "00000000" ? "" : result));
    }
    return sends;
}
