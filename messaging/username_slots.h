// The four screen-name slots through which the bot names every party.
#pragma once

#include <cstddef>
#include <string>

#include "wexcore/wex_string.h"

struct PropertyFile;

constexpr int SLOT_BOT = 0;
constexpr int SLOT_SUBJECT1 = 1;
constexpr int SLOT_SUBJECT2 = 2;
constexpr int SLOT_MODERATOR = 3;
constexpr int SLOT_COUNT = 4;
// A slot holds at most 13 bytes of UTF-8 and a terminator.
constexpr size_t SLOT_SIZE = 14;

// The first slot (0 to 3) whose name equals name exactly, or -1.
int FindUsernameSlot(WEXSTR name);
int FindUsernameSlot(const std::string& name);

// The name stored in a slot ("" for an index outside 0 to 3). Before a name
// is loaded a slot holds 13 blanks.
const char* SlotName(int slot);

// Loads the value of key into slot. Returns "" on success, else the error
// message for the transcript's "ERR " line, leaving the slot as it was.
std::string LoadUsername(const PropertyFile& config, int slot, const std::string& key);

// Reads the value of key as a screen name, with the checks LoadUsername
// makes, into *name without storing it in a slot. Returns "" on success,
// else the error message.
std::string ReadUsername(const PropertyFile& config, const std::string& key, std::string* name);

// Why name cannot be a screen name ("username is too long."...); "" when
// it can.
std::string UsernameFault(const std::string& name);

// Test hook: puts every slot back to 13 blanks.
void ResetUsernameSlots();
