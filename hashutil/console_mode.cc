#include "console_mode.h"

#include <optional>

#include "file_hash.h"
#include "varn/sha256_digest.h"

namespace wexhash {

void PrintFingerprint(const std::string& path, const TConsole& console) {
    Varn::TSha256Digest digest;
    const std::optional<std::string> text = HashFile(digest, path);
    if (!text) {
        std::fprintf(console.err, "%s\n", kOpenErrorText);
        return;
    }
    std::fwrite(text->data(), 1, text->size(), console.out);
    FinishOutput(console, 0);
}

}  // namespace wexhash
