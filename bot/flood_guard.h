// The bot's guard against participants who write too much: how fast a
// sender may write before the component folds its messages (keys
// FloodLimit and FloodSeconds), the moderator's (and the desk's) messages going first, and
// at most one reply a minute to a stranger; and how long a subject's
// presence is watched before it is told (PresenceSettle).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "messaging/property_file.h"
#include "wexcore/interfaces.h"

class FloodGuard {
public:
    // Reads FloodLimit (messages; 0 turns the rule off), FloodSeconds and
    // PresenceSettle;
    // false, with a line on standard error, for a value that is not a whole
    // number in range. Their ranges and defaults are the key table's.
    bool Read(const PropertyFile& config);
    // Hands the rule and the moderator's name, and the desk's ("" for
    // none), to the session before sign-on: both go first.
    HRESULT Apply(IWexSession* session, const std::string& moderator,
                  const std::string& desk) const;
    // True when a stranger may be answered now: once a minute at most.
    bool MayAnswerStranger(const std::string& name, int64_t nowMs);

    int32_t Limit() const { return m_limit; }
    int32_t Seconds() const { return m_seconds; }
    // PresenceSettle in seconds; 0: presence changes are told at once.
    int32_t PresenceSettle() const { return m_presenceSettle; }

private:
    int32_t m_limit = 0;
    int32_t m_seconds = 0;
    int32_t m_presenceSettle = 0;
    std::map<std::string, int64_t> m_lastStrangerReplyMs;
};
