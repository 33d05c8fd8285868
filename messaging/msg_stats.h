// Per-party counts of the messages the transcript recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sync.h"

class MsgStats {
public:
    // Record a message sent to or received from a slot (0 to 3). Messages
    // of any other slot are not counted.
    void AddSent(int64_t time, int slot, const std::string& text);
    void AddReceived(int64_t time, int slot, const std::string& text);

    size_t SentCount(int slot) const;
    size_t ReceivedCount(int slot) const;

    // Two lines for each of slots 1, 2 and 3: "team N:" and
    // "S sent, R received.".
    std::string Report() const;

private:
    static constexpr int kSlots = 4;
    struct Entry {
        int64_t time;
        int slot;
        std::string text;
    };
    void Add(std::vector<Entry>* lists, int64_t time, int slot, const std::string& text);
    size_t Count(const std::vector<Entry>* lists, int slot) const;

    // Taken by every method, so counts read while another thread adds are
    // consistent.
    mutable platform::Mutex m_lock{"MsgStats lock"};
    std::vector<Entry> m_sent[kSlots];
    std::vector<Entry> m_received[kSlots];
};
