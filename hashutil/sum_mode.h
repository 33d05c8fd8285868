// "/sum" and "/check": sha256sum's checksum lines and its check mode, with
// the same output, messages and exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace wexhash {

// Where console output goes, and the program name that starts each message.
struct TConsole {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::string program = "wexhash";
};

// Prints "HEX  NAME" for each file ("-" or none: standard input), or an
// error message for one that cannot be read. Returns 0, or 1 after an error.
int RunSum(const std::vector<std::string>& files, const TConsole& console);

// Reads each check file ("-" or none: standard input), hashes the files it
// lists and prints "NAME: OK" or "NAME: FAILED" for each, then warnings for
// improper lines, unreadable files and mismatches. Returns 0 when every
// listed file was read and matched, else 1.
int RunCheck(const std::vector<std::string>& checkFiles, const TConsole& console);

// Flushes the output; when it could not all be written, says so on the
// error stream and returns 1, else returns status.
int FinishOutput(const TConsole& console, int status);

}  // namespace wexhash
