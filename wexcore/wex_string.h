// String handles of the messaging component: zero-terminated UTF-16 text
// with its length stored in front, null meaning the empty text. Narrow text
// crossing this interface is UTF-8.
#pragma once

#include <cstddef>

#include "wexcore/result_codes.h"

using WEXSTR = char16_t*;

// Makes a new handle from UTF-8 text (invalid bytes become U+FFFD).
HRESULT StrFromText(const char* text, WEXSTR* out);
// Makes a new handle from UTF-16 units.
HRESULT StrFromUnits(const char16_t* units, size_t count, WEXSTR* out);
// Frees a handle; null is accepted.
void StrFree(WEXSTR str);
// Length in 16-bit units; 0 for null.
size_t StrLength(WEXSTR str);
// 0 when both hold the same units (null equals the empty text), else the
// sign of the first difference.
int StrCompare(WEXSTR a, WEXSTR b);
// Number of UTF-8 bytes that StrToText writes for the whole handle.
size_t StrTextSize(WEXSTR str);
// Writes exactly n UTF-8 bytes of the handle's text to buffer, with no
// terminator. n must not exceed StrTextSize; n = 0 always succeeds.
HRESULT StrToText(WEXSTR str, char* buffer, size_t n);

// RAII owner of one handle.
class CWexBstr {
public:
    CWexBstr() = default;
    explicit CWexBstr(WEXSTR adopted) : m_str(adopted) {}
    CWexBstr(const CWexBstr&) = delete;
    CWexBstr& operator=(const CWexBstr&) = delete;
    CWexBstr(CWexBstr&& other) noexcept : m_str(other.Detach()) {}
    CWexBstr& operator=(CWexBstr&& other) noexcept;
    ~CWexBstr() { StrFree(m_str); }

    WEXSTR get() const { return m_str; }
    operator WEXSTR() const { return m_str; }
    size_t Length() const { return StrLength(m_str); }
    bool Empty() const { return Length() == 0; }
    // Frees the current text and returns the slot for an out-parameter.
    WEXSTR* Out();
    // Replaces the current text with an adopted handle.
    void Reset(WEXSTR adopted = nullptr);
    WEXSTR Detach();

private:
    WEXSTR m_str = nullptr;
};
