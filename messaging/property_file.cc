#include "messaging/property_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bot/string_ops.h"
#include "platform/append_file.h"
#include "platform/console.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Position of the first entry for key in text, just past the key; npos
// when there is none.
size_t FindEntry(const std::string& text, const std::string& key) {
    if (key.empty()) return std::string::npos;
    size_t from = 0;
    while (true) {
        size_t p = text.find(key, from);
        if (p == std::string::npos) return p;
        size_t e = p + key.size();
        bool startsLine = p == 0 || text[p - 1] == '\n';
        bool endsKey = e == text.size() || IsBlank(text[e]);
        if (startsLine && endsKey) return e;
        from = e;
    }
}

// The rest of the line from pos, up to the first CR or LF.
std::string RestOfLine(const std::string& text, size_t pos) {
    size_t end = text.find_first_of("\r\n", pos);
    return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

// atoi's reading (blanks, sign, digits) without its overflow: values beyond
// int are clamped.
int ParseInt(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

bool ReadFileText(const std::string& path, std::string* text, std::string* problem) {
    std::string bytes;
    // A read error (a folder, a failing disk) counts as no file at all.
    if (!platform::ReadWholeFile(path, &bytes)) {
        *problem = errno != 0 ? std::strerror(errno) : "read error";
        return false;
    }
    // Editors on some systems start UTF-8 files with a byte order mark; it
    // is not part of the first key.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text->append(bytes);
    return true;
}

HRESULT PropertyFile::Load(const std::string& path) {
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    platform::PrintFormat("working directory: %s\n", cwd.c_str());

    AssignText(configPath, path);
    std::string text;
    std::string problem;
    if (!ReadFileText(path, &text, &problem)) {
        loadProblem = "cannot read the configuration file " + path + ": " + problem;
    }
    AssignText(configText, text);

    std::string passwordPath;
    HRESULT hr = GetNarrow("PasswordFile", &passwordPath);
    if (Failed(hr)) return hr;
    std::string passwords;
    if (!passwordPath.empty()) ReadFileText(passwordPath, &passwords, &problem);
    AssignText(passwordText, passwords);
    return S_OK;
}

HRESULT PropertyFile::GetString(const std::string& key, CWexBstr& value) const {
    if (keysAsked != nullptr) keysAsked->insert(key);
    std::string text;
    if (Failed(ToNarrow(text, configText))) return S_FALSE;
    size_t pos = FindEntry(text, key);
    if (pos == std::string::npos) return S_FALSE;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    AssignText(value, RestOfLine(text, pos));
    return S_OK;
}

// The value as narrow text; "" when the key is absent.
HRESULT PropertyFile::GetNarrow(const std::string& key, std::string* value) const {
    CWexBstr handle;
    HRESULT hr = GetString(key, handle);
    if (Failed(hr)) return hr;
    HRESULT converted = ToNarrow(*value, handle);
    return Failed(converted) ? converted : hr;
}

HRESULT PropertyFile::GetInt(const std::string& key, int* value) const {
    std::string text;
    HRESULT hr = GetNarrow(key, &text);
    *value = Failed(hr) ? 0 : ParseInt(text);
    return hr;
}

HRESULT PropertyFile::GetDouble(const std::string& key, double* value) const {
    std::string text;
    HRESULT hr = GetNarrow(key, &text);
    *value = Failed(hr) ? 0.0 : std::strtod(text.c_str(), nullptr);
    return hr;
}

HRESULT PropertyFile::GetPasswordLine(int index, CWexBstr& line) const {
    std::string text;
    HRESULT hr = ToNarrow(text, passwordText);
    if (Failed(hr)) return hr;
    size_t pos = 0;
    for (int passed = 0; passed < index && pos != std::string::npos; ++passed) {
        pos = text.find('\n', pos);
        if (pos != std::string::npos) ++pos;
    }
    bool exists = index >= 0 && pos != std::string::npos;
    AssignText(line, exists ? RestOfLine(text, pos) : std::string());
    return S_OK;
}
