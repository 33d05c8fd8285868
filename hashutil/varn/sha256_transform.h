// The SHA-256 compression function, in a portable form and, on x86, in one
// that uses the processor's SHA extensions. Both process whole 64-byte blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varn {

using Sha256BlocksFn = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* blocks, size_t count);

// Only call this when CpuHasShaExtensions() is true.
void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* blocks, size_t count);

// True when this build has the SHA-extension path and the processor runs it.
bool CpuHasShaExtensions();

// The fastest path this processor runs, decided on the first call.
Sha256BlocksFn BestSha256Blocks();

}  // namespace Varn
