// The bot's conversions between string handles (UTF-16) and narrow UTF-8
// text. Every part of the bot converts through these, never through the
// component's functions directly.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "wexcore/result_codes.h"
#include "wexcore/variant.h"
#include "wexcore/wex_string.h"

namespace TARN {

// A failed result code raised where the bot cannot go on without a handle.
class CWexException : public std::exception {
public:
    explicit CWexException(HRESULT hr);
    HRESULT Result() const { return m_hr; }
    const char* what() const noexcept override { return m_what; }

private:
    HRESULT m_hr;
    char m_what[32];
};

}  // namespace TARN

// Makes a handle holding text; throws TARN::CWexException on failure.
CWexBstr MakeBstr(const std::string& text);

// Replaces the handle's text with text. Throws TARN::CWexException when the
// new handle can't be made; the old text is then kept.
void AssignText(CWexBstr& handle, const std::string& text);

// Replaces text with the handle's characters. On failure returns a negative
// code and leaves text unchanged. A null handle gives "".
HRESULT ToNarrow(std::string& text, WEXSTR handle);
inline HRESULT ToNarrow(std::string& text, const CWexBstr& handle) {
    return ToNarrow(text, handle.get());
}

// Appends the handle's characters to text; on failure text is unchanged.
HRESULT AppendNarrow(std::string& text, WEXSTR handle);
inline HRESULT AppendNarrow(std::string& text, const CWexBstr& handle) {
    return AppendNarrow(text, handle.get());
}

// The handle's new text is prefix followed by its old text. Throws
// TARN::CWexException on failure.
void PrefixText(CWexBstr& handle, const std::string& prefix);

// The 16-bit unit at a 0-based index; the index equal to the length gives
// the terminating 0. Any other index throws E_INVALIDARG.
char16_t CharAt(WEXSTR handle, int64_t index);
inline char16_t CharAt(const CWexBstr& handle, int64_t index) {
    return CharAt(handle.get(), index);
}

// Fills variant with a string (VT_BSTR) holding text. Throws
// TARN::CWexException on failure.
void MakeStringVariant(WexVariant* variant, const std::string& text);
