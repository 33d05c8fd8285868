#include "varn/digest.h"

#include <cstring>

namespace Varn {

TDigest::~TDigest() = default;

void TDigest::TransformBlocks(const uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) Transform(blocks + i * kBlockSize);
}

void TDigest::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t index = BufferedBytes();

    // The 64-bit bit count grows by length * 8: the low 32 bits of that go
    // into the low half (carrying on wrap), the rest into the high half.
    const uint32_t lowBits = static_cast<uint32_t>(length << 3);
    bitCountLow_ += lowBits;
    if (bitCountLow_ < lowBits) ++bitCountHigh_;
    bitCountHigh_ += static_cast<uint32_t>(length >> 29);

    size_t offset = 0;
    const size_t room = kBlockSize - index;
    if (length >= room) {
        std::memcpy(buffer_ + index, bytes, room);
        Transform(buffer_);
        offset = room;
        const size_t whole = (length - offset) / kBlockSize;
        if (whole > 0) TransformBlocks(bytes + offset, whole);
        offset += whole * kBlockSize;
        index = 0;
    }
    if (length > offset) std::memcpy(buffer_ + index, bytes + offset, length - offset);
}

}  // namespace Varn
