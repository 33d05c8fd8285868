// printf-style formatting into a std::string.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with a va_list.
std::string FormatTextV(const char* format, va_list args);

}  // namespace platform
