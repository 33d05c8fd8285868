#include "command_line.h"

#include <algorithm>
#include <cctype>

namespace wexhash {

bool IsConsoleSwitch(std::string_view token) {
    constexpr std::string_view kSwitch = "/console";
    return std::ranges::equal(token, kSwitch, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
    TCommandLine result;
    if (argc < 2) return result;
    if (!IsConsoleSwitch(argv[1])) {
        result.path = argv[1];
    } else if (argc >= 3) {
        result.console = true;
        result.path = argv[2];
    }
    return result;
}

}  // namespace wexhash
