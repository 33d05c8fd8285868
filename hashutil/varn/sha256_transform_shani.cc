// SHA-256 compression with the x86 SHA extensions. This file alone is built
// with -msha -msse4.1; it runs only after CpuHasShaExtensions() said yes.
#include <immintrin.h>

#include "varn/sha256_constants.h"
#include "varn/sha256_transform.h"

namespace Varn {
namespace {

// Loads four message words; the block stores them most significant byte first.
__m128i LoadWords(const uint8_t* p) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), byteSwap);
}

__m128i RoundConstants(int group) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256Rounds.data() + 4 * group));
}

// Compresses one block. The state is kept as the instruction set wants it:
// abef holds A, B, E, F and cdgh holds C, D, G, H (highest lane first).
// The message schedule lives in registers only.
void CompressBlock(__m128i& abef, __m128i& cdgh, const uint8_t* block) {
    const __m128i abefStart = abef;
    const __m128i cdghStart = cdgh;
    __m128i w[4] = {LoadWords(block), LoadWords(block + 16), LoadWords(block + 32),
                    LoadWords(block + 48)};

#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
        // Four rounds, two per instruction, on words 4*group .. 4*group+3.
        __m128i wk = _mm_add_epi32(w[group % 4], RoundConstants(group));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
        wk = _mm_shuffle_epi32(wk, 0x0E);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);

        // Words 4*(group+1) .. are due next: derive them from the last sixteen.
        if (group >= 3 && group < 15) {
            __m128i& next = w[(group + 1) % 4];
            __m128i t = _mm_sha256msg1_epu32(next, w[(group + 2) % 4]);
            t = _mm_add_epi32(t, _mm_alignr_epi8(w[group % 4], w[(group + 3) % 4], 4));
            next = _mm_sha256msg2_epu32(t, w[group % 4]);
        }
    }
    abef = _mm_add_epi32(abef, abefStart);
    cdgh = _mm_add_epi32(cdgh, cdghStart);
}

}  // namespace

void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* blocks, size_t count) {
    // state[0..7] = A..H; regroup into ABEF and CDGH.
    __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    abcd = _mm_shuffle_epi32(abcd, 0xB1);  // highest lane first: C D A B
    efgh = _mm_shuffle_epi32(efgh, 0x1B);  // highest lane first: E F G H
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);

    for (size_t i = 0; i < count; ++i) CompressBlock(abef, cdgh, blocks + 64 * i);

    // And back to A..H.
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace Varn
