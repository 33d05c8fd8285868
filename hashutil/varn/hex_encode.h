// Varn::HexEncode: bytes as upper-case hexadecimal text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varn {

// Writes two digits per byte of data, high nibble first, into text. Returns
// the number of characters written (2 * length), or 0 without writing when
// capacity is less than that. Writes no terminator.
size_t HexEncode(const uint8_t* data, size_t length, char* text, size_t capacity);

}  // namespace Varn
