#include "wexcore/variant.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "wexcore/unknown.h"

namespace {

std::string TextOf(WEXSTR str) {
    std::string text(StrTextSize(str), '\0');
    StrToText(str, text.data(), text.size());
    return text;
}

// Reads a whole decimal integer; blanks around it are allowed.
bool ParseInt(const std::string& text, int32_t* value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    *value = static_cast<int32_t>(v);
    return true;
}

HRESULT ToInt(const WexVariant& source, int32_t* value) {
    switch (source.vt) {
        case VT_EMPTY:
            *value = 0;
            return S_OK;
        case VT_I4:
            *value = source.lVal;
            return S_OK;
        case VT_BOOL:
            *value = source.boolVal;
            return S_OK;
        case VT_BSTR:
            return ParseInt(TextOf(source.bstrVal), value) ? S_OK : DISP_E_TYPEMISMATCH;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Text form of a value; booleans read "-1" and "0", as numbers do.
HRESULT ToText(const WexVariant& source, std::string* text) {
    switch (source.vt) {
        case VT_EMPTY:
            text->clear();
            return S_OK;
        case VT_I4:
            *text = std::to_string(source.lVal);
            return S_OK;
        case VT_BOOL:
            *text = source.boolVal ? "-1" : "0";
            return S_OK;
        case VT_BSTR:
            *text = TextOf(source.bstrVal);
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

void ClearVariant(WexVariant* variant) {
    if (variant == nullptr) return;
    switch (variant->vt) {
        case VT_BSTR:
            StrFree(variant->bstrVal);
            break;
        case VT_UNKNOWN:
            if (variant->punkVal) variant->punkVal->Release();
            break;
        case VT_ARRAY_OF_VARIANTS:
            if (variant->parray) {
                for (WexVariant& item : *variant->parray) ClearVariant(&item);
                delete variant->parray;
            }
            break;
        default:
            break;
    }
    variant->vt = VT_EMPTY;
    variant->lVal = 0;
}

HRESULT ChangeVariantType(WexVariant* target, const WexVariant* source, uint16_t vt) {
    if (target == nullptr || source == nullptr) return E_POINTER;
    if (vt == VT_I4 || vt == VT_BOOL) {
        int32_t value = 0;
        HRESULT hr = ToInt(*source, &value);
        if (Failed(hr)) return hr;
        ClearVariant(target);
        if (vt == VT_I4) {
            SetVariantInt(target, value);
        } else {
            SetVariantBool(target, value != 0);
        }
        return S_OK;
    }
    if (vt == VT_BSTR) {
        std::string text;
        HRESULT hr = ToText(*source, &text);
        if (Failed(hr)) return hr;
        WEXSTR str = nullptr;
        hr = StrFromText(text.c_str(), &str);
        if (Failed(hr)) return hr;
        ClearVariant(target);
        target->vt = VT_BSTR;
        target->bstrVal = str;
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

void SetVariantInt(WexVariant* variant, int32_t value) {
    ClearVariant(variant);
    variant->vt = VT_I4;
    variant->lVal = value;
}

void SetVariantBool(WexVariant* variant, bool value) {
    ClearVariant(variant);
    variant->vt = VT_BOOL;
    variant->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

HRESULT SetVariantText(WexVariant* variant, const char* utf8) {
    ClearVariant(variant);
    WEXSTR str = nullptr;
    HRESULT hr = StrFromText(utf8, &str);
    if (Failed(hr)) return hr;
    variant->vt = VT_BSTR;
    variant->bstrVal = str;
    return S_OK;
}

void SetVariantEmptyArray(WexVariant* variant) {
    ClearVariant(variant);
    variant->vt = VT_ARRAY_OF_VARIANTS;
    variant->parray = new WexVariantArray();
}

void SetVariantUnknown(WexVariant* variant, IWexUnknown* object) {
    ClearVariant(variant);
    variant->vt = VT_UNKNOWN;
    variant->punkVal = object;
    if (object) object->AddRef();
}
