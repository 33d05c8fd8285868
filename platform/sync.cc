#include "platform/sync.h"

#include <chrono>

namespace platform {

void Mutex::lock() {
    if (sim::Active()) return sim::Lock(m_sim);
    m_real.lock();
}

void Mutex::unlock() {
    if (sim::Active()) return sim::Unlock(m_sim);
    m_real.unlock();
}

bool Signal::WaitUntil(MutexLock& lock, int64_t deadlineMs) {
    Mutex& m = *lock.mutex();
    if (sim::Active()) return sim::Wait(m_sim, m.m_sim, deadlineMs);
    std::unique_lock<std::mutex> real(m.m_real, std::adopt_lock);
    bool notified = true;
    if (deadlineMs < 0) {
        m_real.wait(real);
    } else {
        auto deadline =
            std::chrono::system_clock::time_point(std::chrono::milliseconds(deadlineMs));
        notified = m_real.wait_until(real, deadline) == std::cv_status::no_timeout;
    }
    real.release();
    return notified;
}

void Signal::NotifyAll() {
    if (sim::Active()) return sim::NotifyAll(m_sim);
    m_real.notify_all();
}

}  // namespace platform
