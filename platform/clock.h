// The program's clock and sleep; simulated when simulated time is active.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since 1970.
int64_t NowMs();
// Whole seconds since 1970, as the bot keeps its times (64-bit, so dates
// after January 2038 stay right).
int64_t NowSeconds();
void SleepMs(int64_t ms);

}  // namespace platform
