#include "game/break_texts.h"

#include "platform/format_text.h"

using platform::FormatText;

namespace {

// Count and unit ("minute" or "second") of a length.
struct Length {
    int32_t count;
    const char* unit;
};

Length Split(int32_t seconds) {
    if (seconds > 0 && seconds % 60 == 0) return {seconds / 60, "minute"};
    return {seconds, "second"};
}

}  // namespace

std::string BreakLength(int32_t seconds) {
    Length l = Split(seconds);
    return FormatText("%d %s%s", l.count, l.unit, l.count == 1 ? "" : "s");
}

std::string BreakLengthAdjective(int32_t seconds) {
    Length l = Split(seconds);
    return FormatText("%d-%s", l.count, l.unit);
}

std::string BreakAnnouncement(int32_t maxChatTime) {
    return "We will now take a short break.  You will have up to " + BreakLength(maxChatTime) +
           " for negotiations with the other person.  You can discuss what happened in prior "
           "rounds or plan your strategies for coming rounds.  Remember, please keep your "
           "conversation focused on this activity and refrain from discussing other topics.";
}

std::string BreakTimeUpText(int32_t maxChatTime, int32_t round) {
    return BreakLengthAdjective(maxChatTime) +
           FormatText(
               " break time is up. The game will now resume.\nCurrent round: %i\nWhen you are "
               "ready, please tell me how much you think the other player will invest?",
               round);
}
