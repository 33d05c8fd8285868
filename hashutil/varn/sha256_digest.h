// Varn::TSha256Digest: SHA-256 (FIPS 180-2) over the TDigest block machinery.
#pragma once

#include <array>

#include "varn/digest.h"
#include "varn/sha256_transform.h"

namespace Varn {

class TSha256Digest : public TDigest {
public:
    static constexpr size_t kDigestLength = 32;

    // Which compression path to use. Automatic picks the SHA extensions when
    // the processor has them; the others exist so both can be checked.
    enum class TEngine { Automatic, Portable, ShaExtensions };

    // Throws std::invalid_argument for ShaExtensions on a processor without them.
    explicit TSha256Digest(TEngine engine = TEngine::Automatic);

    size_t Final(uint8_t* output, size_t capacity) override;
    size_t DigestLength() const override { return kDigestLength; }
    void Transform(const uint8_t* block) override;

protected:
    void TransformBlocks(const uint8_t* blocks, size_t count) override;

    // The chaining state H0..H7.
    std::array<uint32_t, 8> state_;

private:
    Sha256BlocksFn blocks_;
};

}  // namespace Varn
