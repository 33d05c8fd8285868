// Varn::TDigest: the shared part of block digests with 64-byte blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varn {

class TDigest {
public:
    static constexpr size_t kBlockSize = 64;

    TDigest() = default;
    virtual ~TDigest();
    TDigest(const TDigest&) = delete;
    TDigest& operator=(const TDigest&) = delete;

    // Completes the digest into output and returns the object to its initial
    // state. Returns the digest length, or 0 (writing nothing and keeping the
    // state) when capacity is smaller than DigestLength().
    virtual size_t Final(uint8_t* output, size_t capacity) = 0;

    // The digest size in bytes.
    virtual size_t DigestLength() const = 0;

    // Compresses one kBlockSize-byte block into the chaining state.
    virtual void Transform(const uint8_t* block) = 0;

    // Feeds length bytes of data. Whole blocks are compressed straight from
    // data; only a partial block is copied into the block buffer.
    void Update(const void* data, size_t length);

protected:
    // Compresses count consecutive blocks. Subclasses override this when they
    // can do several blocks faster than one Transform call each.
    virtual void TransformBlocks(const uint8_t* blocks, size_t count);

    // Number of bytes waiting in the block buffer.
    size_t BufferedBytes() const { return (bitCountLow_ >> 3) % kBlockSize; }

    void ResetCount() { bitCountLow_ = bitCountHigh_ = 0; }

    // The number of message bits fed so far, as two 32-bit halves.
    uint32_t bitCountLow_ = 0;
    uint32_t bitCountHigh_ = 0;
    uint8_t buffer_[kBlockSize] = {};
};

}  // namespace Varn
