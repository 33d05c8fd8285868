#include "file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace wexhash {
namespace {

// One piece as read from the file.
struct TPiece {
    size_t length = 0;
    bool last = false;  // end of file or a failed read follows this piece
    int error = 0;      // errno when the read after the bytes failed
};

// Reads until buffer is full, the file ends or a read fails.
TPiece FillPiece(int fd, uint8_t* buffer, size_t capacity) {
    TPiece piece;
    while (piece.length < capacity) {
        const ssize_t got = read(fd, buffer + piece.length, capacity - piece.length);
        if (got > 0) {
            piece.length += static_cast<size_t>(got);
        } else if (got == 0) {
            piece.last = true;
            break;
        } else if (errno != EINTR) {
            piece.last = true;
            piece.error = errno;
            break;
        }
    }
    return piece;
}

bool Cancelled(const TReadControl& control) {
    return control.cancel && control.cancel->load(std::memory_order_relaxed);
}

TReadResult EndOf(const TPiece& piece) {
    return piece.error ? TReadResult{TReadEnd::Failed, piece.error} : TReadResult{};
}

// Hands a piece to the sink and counts it.
void Deliver(const uint8_t* data, const TPiece& piece, const TPieceSink& sink,
             const TReadControl& control) {
    if (piece.length == 0) return;
    sink(data, piece.length);
    if (control.done) control.done->fetch_add(piece.length, std::memory_order_relaxed);
}

TReadResult ReadHere(const TFile& file, const TPieceSink& sink, const TReadControl& control) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceSize]);
    for (;;) {
        if (Cancelled(control)) return {TReadEnd::Cancelled, 0};
        const TPiece piece = FillPiece(file.fd(), buffer.get(), kPieceSize);
        Deliver(buffer.get(), piece, sink, control);
        if (piece.last) return EndOf(piece);
    }
}

// A reader thread filling a ring of buffers that the caller empties in
// order. The thread stops at the end of the file, after a failed read, or
// when told to; the destructor waits for it.
class TReadAhead {
public:
    static constexpr size_t kSlots = 4;

    explicit TReadAhead(int fd) {
        for (TSlot& slot : slots_) slot.data.reset(new uint8_t[kPieceSize]);
        thread_ = std::thread([this, fd] { Run(fd); });
    }
    ~TReadAhead() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TReadAhead(const TReadAhead&) = delete;
    TReadAhead& operator=(const TReadAhead&) = delete;

    // Waits for the piece in slot index and returns it. Its bytes stay valid
    // until Release(index).
    const TPiece& Take(size_t index, const uint8_t** data) {
        TSlot& slot = slots_[index % kSlots];
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slot.full; });
        *data = slot.data.get();
        return slot.piece;
    }

    void Release(size_t index) {
        {
            const std::lock_guard lock(mutex_);
            slots_[index % kSlots].full = false;
        }
        changed_.notify_all();
    }

private:
    struct TSlot {
        std::unique_ptr<uint8_t[]> data;
        TPiece piece;
        bool full = false;  // holds a piece the caller has not released
    };

    void Run(int fd) {
        for (size_t index = 0;; ++index) {
            TSlot& slot = slots_[index % kSlots];
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return !slot.full || stop_; });
                if (stop_) return;
            }
            const TPiece piece = FillPiece(fd, slot.data.get(), kPieceSize);
            {
                const std::lock_guard lock(mutex_);
                slot.piece = piece;
                slot.full = true;
            }
            changed_.notify_all();
            if (piece.last) return;
        }
    }

    std::array<TSlot, kSlots> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread thread_;
};

TReadResult ReadAhead(const TFile& file, const TPieceSink& sink, const TReadControl& control) {
    TReadAhead reader(file.fd());
    for (size_t index = 0;; ++index) {
        const uint8_t* data = nullptr;
        const TPiece piece = reader.Take(index, &data);
        if (Cancelled(control)) return {TReadEnd::Cancelled, 0};
        Deliver(data, piece, sink, control);
        if (piece.last) return EndOf(piece);
        reader.Release(index);
    }
}

}  // namespace

TFile::TFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    struct stat st;
    const bool known = fstat(fd_, &st) == 0;
    if (!known || S_ISDIR(st.st_mode)) {
        error_ = known ? EISDIR : errno;
        close(fd_);
        fd_ = -1;
        return;
    }
    if (S_ISREG(st.st_mode)) {
        size_ = static_cast<uint64_t>(st.st_size);
        posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

TFile TFile::Borrow(int fd) {
    TFile file;
    file.fd_ = fd;
    file.owned_ = false;
    return file;
}

TFile::TFile(TFile&& other) noexcept
    : fd_(other.fd_), error_(other.error_), size_(other.size_), owned_(other.owned_) {
    other.fd_ = -1;
}

TFile::~TFile() {
    if (fd_ >= 0 && owned_) close(fd_);
}

TReadResult ReadFile(const TFile& file, const TPieceSink& sink, const TReadControl& control,
                     bool readAhead) {
    return readAhead ? ReadAhead(file, sink, control) : ReadHere(file, sink, control);
}

}  // namespace wexhash
