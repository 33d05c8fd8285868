#include "platform/local_time.h"

#include <cstdio>
#include <ctime>

namespace platform {

std::string FormatLocalTime(int64_t seconds, const char* format) {
    time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    if (localtime_r(&t, &parts) == nullptr) return std::string();
    char buffer[256];
    size_t n = std::strftime(buffer, sizeof buffer, format, &parts);
    return std::string(buffer, n);
}

std::string FormatUtcTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    if (gmtime_r(&t, &parts) == nullptr) return std::string();
    char buffer[64];
    size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(buffer, n);
}

bool ParseLocalTime(const std::string& text, int64_t* seconds) {
    struct tm parts {};
    int consumed = 0;
    if (text.size() != 19 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6 ||
        consumed != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T') {
        return false;
    }
    if (parts.tm_mon < 1 || parts.tm_mon > 12 || parts.tm_mday < 1 || parts.tm_mday > 31 ||
        parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60) {
        return false;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    parts.tm_isdst = -1;
    time_t t = std::mktime(&parts);
    if (t == static_cast<time_t>(-1)) return false;
    *seconds = static_cast<int64_t>(t);
    return true;
}

}  // namespace platform
