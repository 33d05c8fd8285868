#include "line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace wexhash {

TLineReader::TLineReader(int fd) : fd_(fd) {
    buffer_.reserve(kChunk);
}

bool TLineReader::FindLineFeed() const {
    const size_t found = buffer_.find('\n', std::max(begin_, searched_));
    searched_ = found == std::string::npos ? buffer_.size() : found;
    return found != std::string::npos;
}

bool TLineReader::LineBuffered() const {
    return ended_ || FindLineFeed();
}

bool TLineReader::Fill() {
    if (ended_) return false;
    // Keep what is unread at the front; the buffer grows only for a line
    // longer than a chunk.
    buffer_.erase(0, begin_);
    searched_ -= std::min(searched_, begin_);
    begin_ = 0;
    const size_t kept = buffer_.size();
    buffer_.resize(kept + kChunk);
    ssize_t count;
    do {
        count = read(fd_, buffer_.data() + kept, kChunk);
    } while (count < 0 && errno == EINTR);
    buffer_.resize(kept + static_cast<size_t>(std::max<ssize_t>(count, 0)));
    if (count > 0) return true;
    if (count < 0) error_ = errno;
    ended_ = true;
    return false;
}

std::optional<std::string_view> TLineReader::Next() {
    while (!FindLineFeed()) {
        if (Fill()) continue;
        // The end: the last line, if it has no line feed after it.
        if (error_ != 0 || begin_ == buffer_.size()) return std::nullopt;
        const std::string_view line(buffer_.data() + begin_, buffer_.size() - begin_);
        begin_ = buffer_.size();
        return line;
    }
    const std::string_view line(buffer_.data() + begin_, searched_ - begin_);
    begin_ = searched_ + 1;
    return line;
}

}  // namespace wexhash
