// What the command line asks wexhash to do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wexhash {

enum class TMode {
    Dialog,   // the window, showing paths[0] and its fingerprint if given
    Console,  // the fingerprint of paths[0] on standard output
    Sum,      // sha256sum's lines for every path
    Check,    // sha256sum -c on every path
};

struct TCommandLine {
    TMode mode = TMode::Dialog;
    std::vector<std::string> paths;
};

// True when token is name ("/console", "/sum", ...) in any mix of cases.
bool IsSwitch(std::string_view token, std::string_view name);

// Each argument is one token. "/console PATH" prints one fingerprint and
// ignores further tokens; "/sum FILE..." and "/check FILE..." take them all.
// "PATH", "/console" alone, or nothing opens the dialog.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace wexhash
