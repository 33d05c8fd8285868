#include "command_line.h"

#include <algorithm>
#include <cctype>

namespace wexhash {

bool IsSwitch(std::string_view token, std::string_view name) {
    return std::ranges::equal(token, name, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
    TCommandLine result;
    if (argc < 2) return result;
    const std::string_view first = argv[1];
    if (IsSwitch(first, "/sum") || IsSwitch(first, "/check")) {
        result.mode = IsSwitch(first, "/sum") ? TMode::Sum : TMode::Check;
        result.paths.assign(argv + 2, argv + argc);
    } else if (!IsSwitch(first, "/console")) {
        result.paths.emplace_back(first);
    } else if (argc >= 3) {
        result.mode = TMode::Console;
        result.paths.emplace_back(argv[2]);
    }
    return result;
}

}  // namespace wexhash
