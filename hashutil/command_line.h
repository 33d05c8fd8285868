// What the command line asks wexhash to do.
#pragma once

#include <string>
#include <string_view>

namespace wexhash {

struct TCommandLine {
    // Console mode: print the fingerprint of path and open no window.
    // Otherwise the dialog opens, showing path and its fingerprint when path
    // is not empty.
    bool console = false;
    std::string path;
};

// True for "/console" in any mix of upper and lower case.
bool IsConsoleSwitch(std::string_view token);

// Each argument is one token. "/console PATH" selects console mode; "PATH"
// or "/console" alone, or nothing, opens the dialog. Further tokens are ignored.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace wexhash
