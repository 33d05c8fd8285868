// Local-time formatting and parsing in the process's time zone (TZ).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// strftime of the local time of seconds since 1970.
std::string FormatLocalTime(int64_t seconds, const char* format);
// seconds since 1970 in UTC as ISO 8601 with a Z: "2026-12-08T10:05:00Z".
std::string FormatUtcTime(int64_t seconds);
// Parses "YYYY-MM-DDTHH:MM:SS" as local time; false when malformed.
bool ParseLocalTime(const std::string& text, int64_t* seconds);

}  // namespace platform
