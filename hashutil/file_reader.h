// Opening a file and reading it to its end in large pieces, optionally with a
// second thread that reads ahead while the caller works on the last piece.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace wexhash {

// Owns an open, readable file descriptor (not a directory).
class TFile {
public:
    // Opens path for reading. On failure fd() is -1 and error() holds the
    // errno value (EISDIR for a directory, which opens but cannot be read).
    explicit TFile(const std::string& path);
    // Takes over an already open descriptor, such as standard input; does
    // not close it.
    static TFile Borrow(int fd);
    ~TFile();
    TFile(TFile&& other) noexcept;
    TFile& operator=(TFile&&) = delete;
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int error() const { return error_; }
    // The size of a regular file, or 0 when it is not known (a pipe).
    uint64_t size() const { return size_; }

private:
    TFile() = default;

    int fd_ = -1;
    int error_ = 0;
    uint64_t size_ = 0;
    bool owned_ = true;
};

// Lets another thread watch and stop a read. Both pointers may be null.
struct TReadControl {
    const std::atomic<bool>* cancel = nullptr;  // set to stop at the next piece
    std::atomic<uint64_t>* done = nullptr;      // bytes handed over so far
};

enum class TReadEnd { Complete, Failed, Cancelled };

struct TReadResult {
    TReadEnd end = TReadEnd::Complete;
    int error = 0;  // errno of the failed read
};

// Receives the file's bytes in order, one piece at a time.
using TPieceSink = std::function<void(const uint8_t* data, size_t length)>;

// Reads file to its end and hands every piece to sink on the calling thread.
// With readAhead, a second thread reads the next pieces meanwhile, so reading
// and the sink's work overlap; either way memory use is a few fixed buffers.
// A short read is not taken for the end; only a read of 0 bytes is.
TReadResult ReadFile(const TFile& file, const TPieceSink& sink, const TReadControl& control,
                     bool readAhead);

// Size of one piece. Large enough to make system calls rare, small enough
// that a piece is still in the processor's cache when it is hashed.
inline constexpr size_t kPieceSize = 256 * 1024;

}  // namespace wexhash
