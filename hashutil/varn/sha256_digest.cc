#include "varn/sha256_digest.h"

#include <stdexcept>

#include "varn/sha256_constants.h"

namespace Varn {
namespace {

Sha256BlocksFn ChooseBlocks(TSha256Digest::TEngine engine) {
    switch (engine) {
        case TSha256Digest::TEngine::Portable:
            return &Sha256BlocksPortable;
        case TSha256Digest::TEngine::ShaExtensions:
#if defined(VARN_HAVE_SHANI)
            if (CpuHasShaExtensions()) return &Sha256BlocksShaNi;
#endif
            throw std::invalid_argument("processor has no SHA extensions");
        case TSha256Digest::TEngine::Automatic:
            break;
    }
    return BestSha256Blocks();
}

void StoreBigEndian32(uint32_t value, uint8_t* p) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

// 0x80 and then zeros: the padding that ends every message.
constexpr uint8_t kPadding[TDigest::kBlockSize] = {0x80};

}  // namespace

TSha256Digest::TSha256Digest(TEngine engine)
    : state_(kSha256Initial), blocks_(ChooseBlocks(engine)) {}

void TSha256Digest::Transform(const uint8_t* block) {
    blocks_(state_.data(), block, 1);
}

void TSha256Digest::TransformBlocks(const uint8_t* blocks, size_t count) {
    blocks_(state_.data(), blocks, count);
}

size_t TSha256Digest::Final(uint8_t* output, size_t capacity) {
    if (capacity < kDigestLength) return 0;

    // The message length in bits, most significant byte first, is taken
    // before padding changes the count.
    uint8_t length[8];
    StoreBigEndian32(bitCountHigh_, length);
    StoreBigEndian32(bitCountLow_, length + 4);

    // Pad so that exactly 8 bytes remain in the last block, then add them.
    const size_t index = BufferedBytes();
    Update(kPadding, index < 56 ? 56 - index : 120 - index);
    Update(length, sizeof(length));

    for (size_t i = 0; i < state_.size(); ++i) StoreBigEndian32(state_[i], output + 4 * i);

    ResetCount();
    state_ = kSha256Initial;
    return kDigestLength;
}

}  // namespace Varn
