// Plain C++ SHA-256 compression (FIPS 180-2, section 6.2.2).
#include <bit>
#include <cstring>

#include "varn/sha256_constants.h"
#include "varn/sha256_transform.h"

namespace Varn {
namespace {

uint32_t LoadBigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t Ch(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) ^ (~x & z);
}
uint32_t Maj(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) ^ (x & z) ^ (y & z);
}
uint32_t BigSigma0(uint32_t x) {
    return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22);
}
uint32_t BigSigma1(uint32_t x) {
    return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25);
}
uint32_t SmallSigma0(uint32_t x) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
uint32_t SmallSigma1(uint32_t x) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}

void CompressBlock(uint32_t state[8], const uint8_t* block) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian32(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        w[t] = SmallSigma1(w[t - 2]) + w[t - 7] + SmallSigma0(w[t - 15]) + w[t - 16];
    }

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        const uint32_t t1 = h + BigSigma1(e) + Ch(e, f, g) + kSha256Rounds[t] + w[t];
        const uint32_t t2 = BigSigma0(a) + Maj(a, b, c);
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;

    // The schedule is derived from the message; leave none of it on the stack.
    explicit_bzero(w, sizeof(w));
}

}  // namespace

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) CompressBlock(state, blocks + 64 * i);
}

}  // namespace Varn
