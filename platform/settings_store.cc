#include "platform/settings_store.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace platform {

namespace {

// Owns a file descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }
    int get() const { return m_fd; }
    // Closes now; false when closing reported an error.
    bool Close() {
        int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

std::string EnvValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string HomeFolder() {
    std::string home = EnvValue("HOME");
    if (!home.empty()) return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->pw_dir != nullptr ? found->pw_dir : "";
    }
    return "";
}

// Percent-escapes '%', '/', '=' and NUL anywhere, and writes "", "." and
// ".." so that they are no path step. The mapping is one-to-one: every '%'
// in the result starts "%XX", except the lone "%" that stands for "".
std::string EscapeName(const std::string& name) {
    if (name.empty()) return "%";
    if (name == ".") return "%2E";
    if (name == "..") return "%2E%2E";
    std::string escaped;
    for (char c : name) {
        if (c == '%' || c == '/' || c == '=' || c == '\0') {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Writes all of text to fd and flushes it to disk.
bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) == 0;
}

}  // namespace

std::string SettingsRoot() {
    std::string dir = EnvValue("WEX_SETTINGS_DIR");
    if (!dir.empty()) return dir;
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    std::string config = EnvValue("XDG_CONFIG_HOME");
    if (!config.empty() && config[0] == '/') return config + "/wex/registry";
    std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.config/wex/registry";
}

// Key folders keep their escaped names; value files start with '=', which
// no escaped key name holds, so a key and a value may share a name.
std::string SettingsKeyFolder(const std::string& keyPath) {
    std::string folder = SettingsRoot();
    if (folder.empty()) return "";
    size_t start = 0;
    while (true) {
        size_t end = keyPath.find('\\', start);
        folder += "/" + EscapeName(keyPath.substr(start, end - start));
        if (end == std::string::npos) return folder;
        start = end + 1;
    }
}

std::string SettingsValueFile(const std::string& keyPath, const std::string& valueName) {
    std::string folder = SettingsKeyFolder(keyPath);
    return folder.empty() ? "" : folder + "/=" + EscapeName(valueName);
}

bool SettingsKeyExists(const std::string& keyPath) {
    std::string folder = SettingsKeyFolder(keyPath);
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_directory(folder, ec);
}

bool SettingsCreateKey(const std::string& keyPath) {
    std::string folder = SettingsKeyFolder(keyPath);
    if (folder.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

bool SettingsReadValue(const std::string& keyPath, const std::string& valueName, size_t limit,
                       std::string* text) {
    std::string path = SettingsValueFile(keyPath, valueName);
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string value;
    char chunk[4096];
    while (in) {
        in.read(chunk, sizeof chunk);
        value.append(chunk, static_cast<size_t>(in.gcount()));
        if (value.size() > limit) return false;
    }
    if (in.bad()) return false;
    *text = std::move(value);
    return true;
}

bool SettingsWriteValue(const std::string& keyPath, const std::string& valueName,
                        const std::string& text) {
    if (!SettingsCreateKey(keyPath)) return false;
    std::string target = SettingsValueFile(keyPath, valueName);
    // "%t" never begins an escaped name, so the temporary file can't be
    // mistaken for a key or a value.
    std::string temp = SettingsKeyFolder(keyPath) + "/%tmp.XXXXXX";
    FileDescriptor fd(::mkstemp(temp.data()));
    if (fd.get() < 0) return false;
    bool ok = WriteAll(fd.get(), text) && fd.Close() && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace platform
