#include "file_hash.h"

#include <array>

#include "varn/hex_encode.h"

namespace wexhash {

THashResult HashOpenFile(Varn::TDigest& digest, const TFile& file, const TReadControl& control,
                         bool readAhead) {
    const TReadResult read = ReadFile(
        file, [&digest](const uint8_t* data, size_t length) { digest.Update(data, length); },
        control, readAhead);
    // Final also returns the digest to its initial state, which a failed or
    // cancelled read needs as much as a good one.
    std::array<uint8_t, 64> bytes;
    const size_t length = digest.Final(bytes.data(), bytes.size());

    THashResult result{read.end, read.error, {}};
    if (result.Ok()) {
        std::array<char, 2 * bytes.size()> text;
        const size_t digits = Varn::HexEncode(bytes.data(), length, text.data(), text.size());
        result.hex.assign(text.data(), digits);
    }
    return result;
}

THashResult HashPath(Varn::TDigest& digest, const std::string& path, bool readAhead) {
    const TFile file(path);
    if (!file.IsOpen()) return {TReadEnd::Failed, file.error(), {}};
    return HashOpenFile(digest, file, {}, readAhead);
}

std::optional<std::string> HashFile(Varn::TDigest& digest, const std::string& path) {
    THashResult result = HashPath(digest, path, true);
    if (!result.Ok()) return std::nullopt;
    return std::move(result.hex);
}

}  // namespace wexhash
