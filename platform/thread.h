// A thread of the program; simulated when simulated time is active.
#pragma once

#include <functional>
#include <thread>

#include "platform/sim_time.h"

namespace platform {

class Thread {
public:
    // name appears in the message when simulated time catches a misuse.
    explicit Thread(const char* name = "a thread") : m_name(name) {}
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread() { Join(); }

    // Starts body at once (under simulated time: when the others wait).
    void Start(std::function<void()> body);
    bool Started() const { return m_started; }
    // Waits for the body to return; does nothing when not started.
    void Join();

private:
    const char* m_name;
    bool m_started = false;
    std::thread m_real;
    sim::ThreadRecord* m_sim = nullptr;
};

}  // namespace platform
