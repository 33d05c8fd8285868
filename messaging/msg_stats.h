// Per-party counts of the messages the transcript recorded. Only the
// counts are kept: the report needs nothing else, and keeping each text
// would let the bot's memory grow with every byte it receives.
#pragma once

#include <cstddef>
#include <string>

#include "messaging/catalogue.h"
#include "platform/sync.h"

class MsgStats {
public:
    // Count a message sent to or received from a slot (0 to 3). Messages
    // of any other slot are not counted.
    void AddSent(int slot);
    void AddReceived(int slot);
    // Sets a slot's counts: a resumed game takes up its earlier counts.
    void SetCounts(int slot, size_t sent, size_t received);

    size_t SentCount(int slot) const;
    size_t ReceivedCount(int slot) const;

    // Two lines for each of slots 1, 2 and 3: "team N:" and
    // "S sent, R received.".
    std::string Report(const Catalogue& texts) const;

private:
    static constexpr int kSlots = 4;
    static bool InRange(int slot) { return slot >= 0 && slot < kSlots; }

    // Taken by every method, so counts read while another thread adds are
    // consistent.
    mutable platform::Mutex m_lock{"MsgStats lock"};
    size_t m_sent[kSlots] = {};
    size_t m_received[kSlots] = {};
};
