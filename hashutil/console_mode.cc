#include "console_mode.h"

#include <cstdlib>
#include <string_view>

#include "file_hash.h"
#include "varn/sha256_digest.h"

namespace wexhash {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

bool WriteFingerprint(const std::string& path, std::FILE* out) {
    Varn::TSha256Digest digest;
    const std::optional<std::string> text = HashFile(digest, path);
    if (!text) return false;
    std::fwrite(text->data(), 1, text->size(), out);
    std::fflush(out);
    return true;
}

bool HasDisplay() {
    if (const char* platform = std::getenv("QT_QPA_PLATFORM")) {
        const std::string_view name = platform;
        if (name.starts_with("offscreen") || name.starts_with("minimal")) return false;
    }
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

}  // namespace wexhash
