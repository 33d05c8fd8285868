#include "messaging/username_slots.h"

#include <cstring>

#include "bot/string_ops.h"
#include "messaging/property_file.h"

namespace {

char g_slots[SLOT_COUNT][SLOT_SIZE] = {"             ", "             ", "             ",
                                       "             "};

bool ValidSlot(int slot) {
    return slot >= 0 && slot < SLOT_COUNT;
}

// A character that no messaging address can hold: blanks and control
// characters, and the ones an XMPP address reserves. A name with one would
// never match the peer's address, so the game could never begin.
bool ForbiddenInAddress(unsigned char c) {
    return c <= 0x20 || c == 0x7F || std::strchr("\"&'/:<>@", c) != nullptr;
}

std::string DescribeChar(unsigned char c) {
    if (c == ' ') return "a blank";
    if (c < 0x20 || c == 0x7F) return "a control character";
    return std::string("'") + static_cast<char>(c) + "'";
}

// Reads the key's value into name; an empty text is the error message.
std::string CheckUsername(const PropertyFile& config, const std::string& key, std::string* name) {
    CWexBstr value;
    if (Failed(config.GetString(key, value))) return "failed to load username from property file.";
    if (Failed(ToNarrow(*name, value))) {
        return "failed to convert username from CWexBstr to string.";
    }
    return UsernameFault(*name);
}

}  // namespace

std::string UsernameFault(const std::string& name) {
    size_t units = MakeBstr(name).Length();
    if (units == 0) return "username is missing or zero length. Check config file.";
    // Counted in 16-bit units, and as UTF-8 it must fit the slot.
    if (units >= SLOT_SIZE || name.size() >= SLOT_SIZE) return "username is too long.";
    for (unsigned char c : name) {
        if (ForbiddenInAddress(c)) {
            return "username holds " + DescribeChar(c) + ", which cannot be in an address.";
        }
    }
    return std::string();
}

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

std::string LoadUsername(const PropertyFile& config, int slot, const std::string& key) {
    std::string name;
    std::string error = ValidSlot(slot) ? CheckUsername(config, key, &name) : "no such slot.";
    if (error.empty()) std::memcpy(g_slots[slot], name.c_str(), name.size() + 1);
    return error;
}

std::string ReadUsername(const PropertyFile& config, const std::string& key, std::string* name) {
    return CheckUsername(config, key, name);
}

void ResetUsernameSlots() {
    for (char* slot : g_slots) {
        std::memset(slot, ' ', SLOT_SIZE - 1);
        slot[SLOT_SIZE - 1] = '\0';
    }
}
