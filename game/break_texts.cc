#include "game/break_texts.h"

#include "platform/format_text.h"

using platform::FormatText;

namespace {

bool WholeMinutes(int32_t seconds) {
    return seconds > 0 && seconds % 60 == 0;
}

}  // namespace

std::string BreakAnnouncement(const Catalogue& texts, int32_t maxChatTime) {
    if (WholeMinutes(maxChatTime)) {
        int32_t minutes = maxChatTime / 60;
        return FormatText(
            texts.TrN("We will now take a short break.  You will have up to %d minute for "
                      "negotiations with the other person.  You can discuss what happened in "
                      "prior rounds or plan your strategies for coming rounds.  Remember, please "
                      "keep your conversation focused on this activity and refrain from "
                      "discussing other topics.",
                      "We will now take a short break.  You will have up to %d minutes for "
                      "negotiations with the other person.  You can discuss what happened in "
                      "prior rounds or plan your strategies for coming rounds.  Remember, please "
                      "keep your conversation focused on this activity and refrain from "
                      "discussing other topics.",
                      static_cast<unsigned long>(minutes)),
            minutes);
    }
    return FormatText(
        texts.TrN("We will now take a short break.  You will have up to %d second for "
                  "negotiations with the other person.  You can discuss what happened in prior "
                  "rounds or plan your strategies for coming rounds.  Remember, please keep your "
                  "conversation focused on this activity and refrain from discussing other "
                  "topics.",
                  "We will now take a short break.  You will have up to %d seconds for "
                  "negotiations with the other person.  You can discuss what happened in prior "
                  "rounds or plan your strategies for coming rounds.  Remember, please keep your "
                  "conversation focused on this activity and refrain from discussing other "
                  "topics.",
                  static_cast<unsigned long>(maxChatTime)),
        maxChatTime);
}

std::string BreakTimeUpText(const Catalogue& texts, int32_t maxChatTime, int32_t round) {
    if (WholeMinutes(maxChatTime)) {
        return FormatText(texts.Tr("%d-minute break time is up. The game will now resume.\n"
                                   "Current round: %i\nWhen you are ready, please tell me how "
                                   "much you think the other player will invest?"),
                          maxChatTime / 60, round);
    }
    return FormatText(texts.Tr("%d-second break time is up. The game will now resume.\n"
                               "Current round: %i\nWhen you are ready, please tell me how much "
                               "you think the other player will invest?"),
                      maxChatTime, round);
}
