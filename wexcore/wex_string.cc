#include "wexcore/wex_string.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "wexcore/utf8.h"

namespace {

// A handle points just past a 32-bit count of units.
struct StrHeader {
    uint32_t length;
};

WEXSTR AllocUnits(size_t count) {
    void* block = std::malloc(sizeof(StrHeader) + (count + 1) * sizeof(char16_t));
    if (block == nullptr) return nullptr;
    static_cast<StrHeader*>(block)->length = static_cast<uint32_t>(count);
    WEXSTR units = reinterpret_cast<WEXSTR>(static_cast<StrHeader*>(block) + 1);
    units[count] = 0;
    return units;
}

StrHeader* HeaderOf(WEXSTR str) {
    return reinterpret_cast<StrHeader*>(str) - 1;
}

std::u16string Utf8ToUtf16(const char* text) {
    std::string_view bytes(text);
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0xFFFD;  // an invalid byte stands for itself alone
        size_t length = wexcore::DecodeUtf8(bytes, i, &cp);
        i += length == 0 ? 1 : length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// UTF-8 of the whole handle. A lone surrogate is encoded as it stands (three
// bytes), so no unit is ever lost or replaced.
std::string Utf16ToUtf8(WEXSTR str) {
    std::string out;
    size_t n = StrLength(str);
    for (size_t i = 0; i < n; ++i) {
        char32_t unit = str[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n && str[i + 1] >= 0xDC00 &&
            str[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (str[i + 1] - 0xDC00);
            ++i;
        }
        wexcore::EncodeUtf8(unit, out);
    }
    return out;
}

}  // namespace

HRESULT StrFromUnits(const char16_t* units, size_t count, WEXSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    WEXSTR str = AllocUnits(count);
    if (str == nullptr) return E_OUTOFMEMORY;
    if (count > 0) std::memcpy(str, units, count * sizeof(char16_t));
    *out = str;
    return S_OK;
}

HRESULT StrFromText(const char* text, WEXSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (text == nullptr) return E_POINTER;
    std::u16string units;
    try {
        units = Utf8ToUtf16(text);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return StrFromUnits(units.data(), units.size(), out);
}

void StrFree(WEXSTR str) {
    if (str != nullptr) std::free(HeaderOf(str));
}

size_t StrLength(WEXSTR str) {
    return str == nullptr ? 0 : HeaderOf(str)->length;
}

int StrCompare(WEXSTR a, WEXSTR b) {
    size_t na = StrLength(a);
    size_t nb = StrLength(b);
    for (size_t i = 0; i < na && i < nb; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    if (na == nb) return 0;
    return na < nb ? -1 : 1;
}

size_t StrTextSize(WEXSTR str) {
    return Utf16ToUtf8(str).size();
}

HRESULT StrToText(WEXSTR str, char* buffer, size_t n) {
    if (n == 0) return S_OK;
    if (buffer == nullptr) return E_POINTER;
    std::string text = Utf16ToUtf8(str);
    if (n > text.size()) return E_INVALIDARG;
    std::memcpy(buffer, text.data(), n);
    return S_OK;
}

CWexBstr& CWexBstr::operator=(CWexBstr&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
}

WEXSTR* CWexBstr::Out() {
    Reset();
    return &m_str;
}

void CWexBstr::Reset(WEXSTR adopted) {
    StrFree(m_str);
    m_str = adopted;
}

WEXSTR CWexBstr::Detach() {
    WEXSTR str = m_str;
    m_str = nullptr;
    return str;
}
