// Run-time choice between the SHA-256 compression paths. Built without any
// special instruction-set flags, so it runs on every processor.
#include "varn/sha256_transform.h"

#if defined(VARN_HAVE_SHANI)
#include <cpuid.h>
#endif

namespace Varn {

bool CpuHasShaExtensions() {
#if defined(VARN_HAVE_SHANI)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool ssse3 = ecx & (1u << 9);
    const bool sse41 = ecx & (1u << 19);
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const bool sha = ebx & (1u << 29);
    return ssse3 && sse41 && sha;
#else
    return false;
#endif
}

Sha256BlocksFn BestSha256Blocks() {
    static const Sha256BlocksFn best = [] {
#if defined(VARN_HAVE_SHANI)
        if (CpuHasShaExtensions()) return &Sha256BlocksShaNi;
#endif
        return &Sha256BlocksPortable;
    }();
    return best;
}

}  // namespace Varn
