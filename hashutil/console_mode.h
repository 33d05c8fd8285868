// Console mode: the fingerprint on standard output, with no window.
#pragma once

#include <cstdio>
#include <string>

namespace wexhash {

// Writes the fingerprint of the file at path to out, with no line end, or
// nothing at all when the file cannot be hashed. Returns whether it wrote one.
bool WriteFingerprint(const std::string& path, std::FILE* out);

// True when a window could be shown: a display is named and Qt is not told
// to draw off screen, where a message box would wait unseen for ever.
bool HasDisplay();

}  // namespace wexhash
