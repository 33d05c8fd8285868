// The process exit status for a result code: 0 for success; a failure
// exits with the code's low 8 bits, or 1 where those are 0, so that a
// failure never reads as success.
#pragma once

#include "wexcore/result_codes.h"

inline int ExitStatusFor(HRESULT hr) {
    if (Succeeded(hr)) return 0;
    int low = static_cast<int>(static_cast<uint32_t>(hr) & 0xFF);
    return low == 0 ? 1 : low;
}

// A wrong command line.
inline int ExitStatusForCommandLine() {
    return 255;
}
