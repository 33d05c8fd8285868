// A file that grows only by whole records: each record reaches the file
// with one write(2), and a write cut short (a full disk) is taken back, so
// neither a kill nor a full disk leaves half a record at the end.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile() { Close(); }

    // Opens path for appending, creating it when missing; with exclusive,
    // fails when it exists already. False on failure, errno kept.
    bool Open(const std::string& path, bool exclusive = false);
    bool IsOpen() const { return m_fd >= 0; }
    void Close();

    // Appends record with one write. False when it did not all reach the
    // file; the file is then cut back to its size before the write.
    bool Append(const std::string& record);
    // Makes what was written durable (fdatasync).
    bool Sync();
    // Cuts the file to size bytes: for a torn record left by a power cut.
    bool Truncate(int64_t size);

private:
    int m_fd = -1;
};

// Reads the whole file at path into text. False when it can't be opened or
// read (a folder, a failing disk), text unchanged and errno kept (0 when
// the read failed without saying why).
bool ReadWholeFile(const std::string& path, std::string* text);

}  // namespace platform
