// The texts that announce a chat break and its end, stating the break's
// configured length (MaxChatTime).
#pragma once

#include <cstdint>
#include <string>

// The length as the texts say it: "5 minutes" for 300 seconds, whole
// minutes as "N minutes" ("1 minute"), any other length in seconds.
std::string BreakLength(int32_t seconds);
// The same as an adjective: "5-minute", "1-minute", "90-second".
std::string BreakLengthAdjective(int32_t seconds);

std::string BreakAnnouncement(int32_t maxChatTime);
// The time-up message: its three lines hold the next round.
std::string BreakTimeUpText(int32_t maxChatTime, int32_t round);
