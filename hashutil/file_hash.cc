#include "file_hash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "varn/hex_encode.h"

namespace wexhash {
namespace {

// Owns an open file descriptor.
class TFile {
public:
    explicit TFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~TFile() {
        if (fd_ >= 0) close(fd_);
    }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    int fd() const { return fd_; }

    // Opened, and not a directory (which opens but cannot be read).
    bool IsReadable() const {
        struct stat st;
        return fd_ >= 0 && fstat(fd_, &st) == 0 && !S_ISDIR(st.st_mode);
    }

private:
    int fd_;
};

// Feeds the whole file to digest. Reads go on until end of file: a short read
// (a pipe, a signal) is not taken for the end.
bool ReadInto(Varn::TDigest& digest, const TFile& file) {
    std::array<uint8_t, kReadPieceSize> piece;
    for (;;) {
        const ssize_t got = read(file.fd(), piece.data(), piece.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        digest.Update(piece.data(), static_cast<size_t>(got));
    }
}

}  // namespace

std::optional<std::string> HashFile(Varn::TDigest& digest, const std::string& path) {
    TFile file(path);
    if (!file.IsReadable()) return std::nullopt;
    posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const bool complete = ReadInto(digest, file);
    // Final also returns the digest to its initial state, which a failed read
    // needs as much as a good one.
    std::array<uint8_t, 64> bytes;
    const size_t length = digest.Final(bytes.data(), bytes.size());
    if (!complete) return std::nullopt;

    std::array<char, 2 * bytes.size()> text;
    const size_t digits = Varn::HexEncode(bytes.data(), length, text.data(), text.size());
    return std::string(text.data(), digits);
}

}  // namespace wexhash
