#include "messaging/msg_stats.h"

#include <cstdio>

void MsgStats::AddSent(int64_t time, int slot, const std::string& text) {
    Add(m_sent, time, slot, text);
}

void MsgStats::AddReceived(int64_t time, int slot, const std::string& text) {
    Add(m_received, time, slot, text);
}

size_t MsgStats::SentCount(int slot) const {
    return Count(m_sent, slot);
}

size_t MsgStats::ReceivedCount(int slot) const {
    return Count(m_received, slot);
}

void MsgStats::Add(std::vector<Entry>* lists, int64_t time, int slot, const std::string& text) {
    if (slot < 0 || slot >= kSlots) return;
    platform::MutexLock lock(m_lock);
    lists[slot].push_back(Entry{time, slot, text});
}

size_t MsgStats::Count(const std::vector<Entry>* lists, int slot) const {
    if (slot < 0 || slot >= kSlots) return 0;
    platform::MutexLock lock(m_lock);
    return lists[slot].size();
}

std::string MsgStats::Report() const {
    platform::MutexLock lock(m_lock);
    std::string report;
    char line[1024];
    for (int slot = 1; slot < kSlots; ++slot) {
        std::snprintf(line, sizeof line, "team %d:\n%zu sent, %zu received.\n", slot,
                      m_sent[slot].size(), m_received[slot].size());
        report += line;
    }
    return report;
}
