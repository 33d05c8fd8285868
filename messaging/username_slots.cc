#include "messaging/username_slots.h"

#include <cstring>

#include "bot/string_ops.h"
#include "messaging/property_file.h"
#include "messaging/transcript.h"
#include "platform/console.h"

namespace {

char g_slots[SLOT_COUNT][SLOT_SIZE] = {"             ", "             ", "             ",
                                       "             "};

bool ValidSlot(int slot) {
    return slot >= 0 && slot < SLOT_COUNT;
}

// Reads the key's value into name; an empty text is the error message.
std::string CheckUsername(const PropertyFile& config, const std::string& key, std::string* name) {
    CWexBstr value;
    if (Failed(config.GetString(key, value))) return "failed to load username from property file.";
    if (Failed(ToNarrow(*name, value))) {
        return "failed to convert username from CWexBstr to string.";
    }
    if (value.Length() == 0) return "username is missing or zero length. Check config file.";
    // Counted in 16-bit units, and as UTF-8 it must fit the slot.
    if (value.Length() >= SLOT_SIZE || name->size() >= SLOT_SIZE) return "username is too long.";
    return std::string();
}

}  // namespace

int FindUsernameSlot(const std::string& name) {
    if (name.empty()) return -1;
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (name == g_slots[slot]) return slot;
    }
    return -1;
}

int FindUsernameSlot(WEXSTR name) {
    std::string text;
    if (Failed(ToNarrow(text, name))) return -1;
    return FindUsernameSlot(text);
}

const char* SlotName(int slot) {
    return ValidSlot(slot) ? g_slots[slot] : "";
}

bool LoadUsername(const PropertyFile& config, Transcript& transcript, int slot,
                  const std::string& key) {
    std::string name;
    std::string error = ValidSlot(slot) ? CheckUsername(config, key, &name) : "no such slot.";
    if (!error.empty()) {
        transcript.WriteLog(slot, "ERR ", error);
        platform::PrintErrorLine(key + ": " + error);
        return false;
    }
    std::memcpy(g_slots[slot], name.c_str(), name.size() + 1);
    return true;
}

void ResetUsernameSlots() {
    for (char* slot : g_slots) {
        std::memset(slot, ' ', SLOT_SIZE - 1);
        slot[SLOT_SIZE - 1] = '\0';
    }
}
