// The component's tagged values.
#pragma once

#include <cstdint>
#include <vector>

#include "wexcore/wex_string.h"

struct IWexUnknown;

constexpr uint16_t VT_EMPTY = 0;
constexpr uint16_t VT_I4 = 3;
constexpr uint16_t VT_BSTR = 8;
constexpr uint16_t VT_BOOL = 11;
constexpr uint16_t VT_UNKNOWN = 13;
constexpr uint16_t VT_VARIANT = 12;
constexpr uint16_t VT_ARRAY = 0x2000;
constexpr uint16_t VT_ARRAY_OF_VARIANTS = VT_ARRAY | VT_VARIANT;  // 0x200C

constexpr int16_t VARIANT_TRUE = -1;
constexpr int16_t VARIANT_FALSE = 0;

struct WexVariant;
using WexVariantArray = std::vector<WexVariant>;

// A plain tagged value. Whoever fills one releases it with ClearVariant.
struct WexVariant {
    uint16_t vt = VT_EMPTY;
    union {
        int32_t lVal;
        int16_t boolVal;
        WEXSTR bstrVal;
        IWexUnknown* punkVal;  // holds one reference
        WexVariantArray* parray;
    };
    WexVariant() : lVal(0) {}
};

// Releases what the variant holds and leaves it empty.
void ClearVariant(WexVariant* variant);
// Converts source to type vt into target; target may be source ("in place").
// Supported targets: VT_I4, VT_BSTR, VT_BOOL. A value that can't be converted
// gives DISP_E_TYPEMISMATCH and leaves target unchanged.
HRESULT ChangeVariantType(WexVariant* target, const WexVariant* source, uint16_t vt);

// Fillers that make the variant own a new value (the old one is cleared).
void SetVariantInt(WexVariant* variant, int32_t value);
void SetVariantBool(WexVariant* variant, bool value);
HRESULT SetVariantText(WexVariant* variant, const char* utf8);
void SetVariantEmptyArray(WexVariant* variant);
void SetVariantUnknown(WexVariant* variant, IWexUnknown* object);

// RAII holder that clears its variant when it goes out of scope.
class CWexVariant {
public:
    CWexVariant() = default;
    CWexVariant(const CWexVariant&) = delete;
    CWexVariant& operator=(const CWexVariant&) = delete;
    ~CWexVariant() { ClearVariant(&m_value); }
    WexVariant* get() { return &m_value; }
    const WexVariant& value() const { return m_value; }

private:
    WexVariant m_value;
};
