// The texts that announce a chat break and its end, stating the break's
// configured length (MaxChatTime): in whole minutes where it is whole
// minutes ("5 minutes", "1 minute"), otherwise in seconds.
#pragma once

#include <cstdint>
#include <string>

#include "messaging/catalogue.h"

std::string BreakAnnouncement(const Catalogue& texts, int32_t maxChatTime);
// The time-up message: its three lines hold the next round.
std::string BreakTimeUpText(const Catalogue& texts, int32_t maxChatTime, int32_t round);
