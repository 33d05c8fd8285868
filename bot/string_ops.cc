#include "bot/string_ops.h"

#include <cstdio>
#include <new>

namespace TARN {

CWexException::CWexException(HRESULT hr) : m_hr(hr) {
    std::snprintf(m_what, sizeof m_what, "result code %08X", static_cast<unsigned>(hr));
}

}  // namespace TARN

namespace {

void ThrowIfFailed(HRESULT hr) {
    if (Failed(hr)) throw TARN::CWexException(hr);
}

// The handle's whole text as UTF-8, sized exactly so no character is cut.
HRESULT HandleText(WEXSTR handle, std::string* out) {
    try {
        std::string buffer(StrTextSize(handle), '\0');
        HRESULT hr = StrToText(handle, buffer.data(), buffer.size());
        if (Failed(hr)) return hr;
        *out = std::move(buffer);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

CWexBstr MakeBstr(const std::string& text) {
    CWexBstr handle;
    ThrowIfFailed(StrFromText(text.c_str(), handle.Out()));
    return handle;
}

void AssignText(CWexBstr& handle, const std::string& text) {
    handle = MakeBstr(text);
}

HRESULT ToNarrow(std::string& text, WEXSTR handle) {
    return HandleText(handle, &text);
}

HRESULT AppendNarrow(std::string& text, WEXSTR handle) {
    std::string tail;
    HRESULT hr = HandleText(handle, &tail);
    if (Failed(hr)) return hr;
    try {
        text += tail;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void PrefixText(CWexBstr& handle, const std::string& prefix) {
    // Joined as 16-bit units, so the old text is kept exactly as it was.
    CWexBstr head = MakeBstr(prefix);
    std::u16string units(head.get(), head.Length());
    units.append(handle.get(), handle.Length());
    CWexBstr joined;
    ThrowIfFailed(StrFromUnits(units.data(), units.size(), joined.Out()));
    handle = std::move(joined);
}

char16_t CharAt(WEXSTR handle, int64_t index) {
    int64_t length = static_cast<int64_t>(StrLength(handle));
    if (index < 0 || index > length) throw TARN::CWexException(E_INVALIDARG);
    return index == length ? u'\0' : handle[index];
}

void MakeStringVariant(WexVariant* variant, const std::string& text) {
    ThrowIfFailed(SetVariantText(variant, text.c_str()));
}
