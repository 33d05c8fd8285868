#include "varn/hex_encode.h"

namespace Varn {

size_t HexEncode(const uint8_t* data, size_t length, char* text, size_t capacity) {
    // Compare by halving, so that 2 * length cannot overflow.
    if (length > capacity / 2) return 0;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i) {
        text[2 * i] = kDigits[data[i] >> 4];
        text[2 * i + 1] = kDigits[data[i] & 15];
    }
    return 2 * length;
}

}  // namespace Varn
