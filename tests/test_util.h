// Helpers shared by the unit tests: temporary folders, environment, files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace testutil {

// A fresh folder under the system's temporary folder, removed afterwards.
struct TempDir {
    std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "wexunit.XXXXXX").string();
        return std::string(::mkdtemp(p.data()));
    }();
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
        if (const char* old = ::getenv(name)) m_old = old;
        Set(value);
    }
    ~ScopedEnv() { Set(m_old); }

private:
    void Set(const std::optional<std::string>& v) {
        v ? ::setenv(m_name, v->c_str(), 1) : ::unsetenv(m_name);
    }
    const char* m_name;
    std::optional<std::string> m_old;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testutil
