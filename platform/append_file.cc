#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace platform {

bool AppendFile::Open(const std::string& path, bool exclusive) {
    Close();
    int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : 0);
    // Transcripts, journals and data files hold what the subjects wrote:
    // nobody outside the owner's group reads them.
    m_fd = ::open(path.c_str(), flags, 0640);
    return m_fd >= 0;
}

void AppendFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool AppendFile::Append(const std::string& record) {
    if (m_fd < 0) return false;
    struct stat before {};
    if (::fstat(m_fd, &before) != 0) return false;
    ssize_t written;
    do {
        written = ::write(m_fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(record.size())) return true;
    // Part of the record may have gone out: take it back.
    int saved = errno;
    if (written > 0 && ::ftruncate(m_fd, before.st_size) != 0) saved = errno;
    errno = written >= 0 ? ENOSPC : saved;
    return false;
}

bool AppendFile::Sync() {
    return m_fd >= 0 && ::fdatasync(m_fd) == 0;
}

bool AppendFile::Truncate(int64_t size) {
    return m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    bool failed = std::ferror(file) != 0;
    int saved = errno;
    std::fclose(file);
    errno = saved;
    if (failed) return false;
    *text = std::move(bytes);
    return true;
}

}  // namespace platform
