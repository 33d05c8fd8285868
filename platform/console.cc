#include "platform/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/format_text.h"

namespace platform {

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PrintFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Print(FormatTextV(format, args));
    va_end(args);
}

void PrintErrorLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace platform
