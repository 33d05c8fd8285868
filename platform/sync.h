// Locks and conditions that take part in simulated time when it is active.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/sim_time.h"

namespace platform {

class Mutex {
public:
    // name appears in the message when simulated time catches a misuse.
    explicit Mutex(const char* name = "a lock") { m_sim.name = name; }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock();
    void unlock();

private:
    friend class Signal;
    std::mutex m_real;
    sim::MutexState m_sim;
};

using MutexLock = std::unique_lock<Mutex>;

// A condition to wait for, with an optional deadline.
class Signal {
public:
    // Waits until notified or until deadlineMs (ms since 1970; negative =
    // no deadline). Returns false when the deadline passed. Wakes may be
    // spurious: callers re-check their condition.
    bool WaitUntil(MutexLock& lock, int64_t deadlineMs);
    void NotifyAll();

private:
    std::condition_variable m_real;
    sim::SignalState m_sim;
};

}  // namespace platform
