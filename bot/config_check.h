// `wexbot --check-config FILE`: a configuration checked against the key
// table without signing on. Nothing is opened but the file itself and a
// simulated service's scenario: no transcript, journal, password file or
// settings.
#pragma once

#include <string>
#include <vector>

struct ConfigFault {
    int line = 0;  // 1 for the first line; 0 for the file as a whole
    std::string reason;
};

// Every fault of a configuration's text, by line and then those of the
// file as a whole: unknown keys, values the key does not take, keys given
// twice, required keys missing, and the rules the bot refuses to start
// with (names that are one account, a market divisor of 0, MinPayout above
// MaxPayout).
std::vector<ConfigFault> CheckConfigText(const std::string& text);

// Checks the file at path: prints each fault on standard error as
// "PATH:LINE: reason" (or "PATH: reason") and returns 1, or prints
// "PATH: no faults" and returns 0.
int CheckConfigFile(const std::string& path);
