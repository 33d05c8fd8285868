// Console output of the programs: whole texts, flushed at once.
#pragma once

#include <string>

namespace platform {

// Writes text to standard output and flushes it.
void Print(const std::string& text);
// printf-style variant of Print.
void PrintFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes one line to standard error.
void PrintErrorLine(const std::string& line);

}  // namespace platform
