// Reading a file one line at a time through a buffer of fixed size, with a
// way to tell whether the next line is already there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace wexhash {

class TLineReader {
public:
    // Reads from the open descriptor fd, which it does not close.
    explicit TLineReader(int fd);

    // The next line without its line feed (the last may have none), valid
    // until the next call; nullopt at the end of the file or after a failed
    // read, which error() tells apart.
    std::optional<std::string_view> Next();

    // True when Next() can answer without reading, and so without waiting
    // on a pipe or terminal.
    bool LineBuffered() const;

    // The errno of a failed read, or 0.
    int error() const { return error_; }

private:
    // Reads more into the buffer; false at the end or after an error.
    bool Fill();

    static constexpr size_t kChunk = 64 * 1024;

    int fd_;
    // Returns whether a line feed is in the unread part, searching only the
    // bytes not yet searched.
    bool FindLineFeed() const;

    std::string buffer_;  // buffer_[begin_, end) is unread
    size_t begin_ = 0;
    mutable size_t searched_ = 0;  // buffer_[begin_, searched_) has no line feed
    bool ended_ = false;
    int error_ = 0;
};

}  // namespace wexhash
