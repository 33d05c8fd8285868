#include "platform/thread.h"

namespace platform {

void Thread::Start(std::function<void()> body) {
    Join();
    if (sim::Active()) {
        m_sim = sim::Spawn(m_name, std::move(body));
    } else {
        m_real = std::thread(std::move(body));
    }
    m_started = true;
}

void Thread::Join() {
    if (!m_started) return;
    if (m_sim != nullptr) {
        sim::Join(m_sim);
        m_sim = nullptr;
    } else if (m_real.joinable()) {
        m_real.join();
    }
    m_started = false;
}

}  // namespace platform
