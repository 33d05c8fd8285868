#include "platform/clock.h"

#include <chrono>
#include <thread>

#include "platform/sim_time.h"

namespace platform {

int64_t NowMs() {
    if (sim::Active()) return sim::NowMs();
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

int64_t NowSeconds() {
    return NowMs() / 1000;
}

void SleepMs(int64_t ms) {
    if (sim::Active()) return sim::Sleep(ms);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace platform
