#include "messaging/msg_stats.h"

#include <cstdio>

void MsgStats::AddSent(int slot) {
    if (!InRange(slot)) return;
    platform::MutexLock lock(m_lock);
    ++m_sent[slot];
}

void MsgStats::AddReceived(int slot) {
    if (!InRange(slot)) return;
    platform::MutexLock lock(m_lock);
    ++m_received[slot];
}

void MsgStats::SetCounts(int slot, size_t sent, size_t received) {
    if (!InRange(slot)) return;
    platform::MutexLock lock(m_lock);
    m_sent[slot] = sent;
    m_received[slot] = received;
}

size_t MsgStats::SentCount(int slot) const {
    if (!InRange(slot)) return 0;
    platform::MutexLock lock(m_lock);
    return m_sent[slot];
}

size_t MsgStats::ReceivedCount(int slot) const {
    if (!InRange(slot)) return 0;
    platform::MutexLock lock(m_lock);
    return m_received[slot];
}

std::string MsgStats::Report(const Catalogue& texts) const {
    platform::MutexLock lock(m_lock);
    std::string report;
    char line[1024];
    for (int slot = 1; slot < kSlots; ++slot) {
        std::snprintf(line, sizeof line, texts.Tr("team %d:\n%zu sent, %zu received.\n"), slot,
                      m_sent[slot], m_received[slot]);
        report += line;
    }
    return report;
}
