// Runs the built wexbot on a configuration and a scenario in a fresh
// folder, in simulated time, and collects what it printed and wrote.
#pragma once

#include <map>
#include <string>
#include <vector>

struct BotRun {
    int exitStatus = -1;
    std::string out;         // standard output
    std::string err;         // standard error
    std::string transcript;  // the transcript file, "" when none was written
    std::string wire;        // the wire log
    std::vector<std::string> wireLines;
    // Set by RunBotMeasured: the process's peak and current resident
    // memory as it exits (VmHWM and VmRSS of /proc/PID/status).
    long exitPeakRssKb = 0;
    long exitRssKb = 0;
};

// The configuration used by most tests; values can be replaced or removed
// (an empty value removes the key's line).
std::string MakeConfig(const std::map<std::string, std::string>& changes = {});

// Runs wexbot with args in a new temporary folder holding the given files
// (name -> text). The password file "pw.txt" holds "secret\nK1\n" unless
// given. TZ is UTC and the settings store lies inside the folder.
BotRun RunBotWith(const std::map<std::string, std::string>& files,
                  const std::vector<std::string>& args);

// The same in folder (made by MakeTestFolder), which is kept: for runs
// that continue an earlier one there. The caller removes it.
BotRun RunBotIn(const std::string& folder, const std::map<std::string, std::string>& files,
                const std::vector<std::string>& args);
std::string MakeTestFolder();
// RunBotIn, reading the bot's memory as it exits: the bot runs traced
// (ptrace) and is stopped on its way out.
BotRun RunBotMeasured(const std::string& folder, const std::map<std::string, std::string>& files,
                      const std::vector<std::string>& args);
// The text of the first file in folder whose name ends with suffix; "" when
// there is none.
std::string ReadFileEndingWith(const std::string& folder, const std::string& suffix);

// The usual run: config "bot.conf" and scenario "sc.txt" (the scenario gets
// a start time and a wire log unless it sets them).
BotRun RunScenario(const std::string& scenario, const std::string& config = MakeConfig());

// Output without its "working directory:" line, which names the
// temporary folder.
std::string WithoutWorkingDirectory(const std::string& out);
// What the bot printed after its sign-on line.
std::string AfterSignOn(const std::string& out);

// One send as Sends() shows it: "t to text", with the code in brackets
// when the service refused the send.
std::string Sent(double t, const std::string& to, const std::string& text,
                 const std::string& code = "");
// The wire log's sends with from <= t < to, in the form of Sent().
std::vector<std::string> Sends(const BotRun& run, double from = 0, double to = 1e9);

// Number of lines of text that contain needle.
int CountLines(const std::string& text, const std::string& needle);
// The lines of text that contain needle, in order.
std::vector<std::string> LinesWith(const std::string& text, const std::string& needle);
