// Console mode: the fingerprint on standard output, with no window.
#pragma once

#include <string>

#include "sum_mode.h"

namespace wexhash {

// Writes the fingerprint of the file at path to the console's output, in
// upper case with no line end, or nothing at all and "Could not open file."
// on its error stream when the file cannot be hashed. A failed write is
// reported too. Needs no display.
void PrintFingerprint(const std::string& path, const TConsole& console);

}  // namespace wexhash
