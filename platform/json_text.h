// JSON string escaping for the one-object-a-line files the programs write
// (the simulated service's wire log, the game's journal).
#pragma once

#include <string>

namespace platform {

// text with '"', '\\' and the control characters escaped, without the
// surrounding quotes. UTF-8 passes through unchanged.
std::string JsonEscape(const std::string& text);

}  // namespace platform
