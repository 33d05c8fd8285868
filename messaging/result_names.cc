#include "messaging/result_names.h"

#include <cstdio>
#include <string>

#include "bot/string_ops.h"
#include "platform/console.h"

namespace {

// The table's name for the code, or null. Exact match: no masking.
const char* TableName(HRESULT hr) {
    switch (hr) {
#define WEX_RESULT_NAME_CASE(id, code, name) \
    case id:                                 \
        return name;
        WEX_RESULT_CODES(WEX_RESULT_NAME_CASE)
#undef WEX_RESULT_NAME_CASE
    }
    return nullptr;
}

}  // namespace

const char* ResultName(HRESULT hr) {
    const char* name = TableName(hr);
    return name != nullptr ? name : "(unknown error code)";
}

HRESULT ResultNameBstr(CWexBstr& name, HRESULT hr) {
    const char* known = TableName(hr);
    if (known != nullptr) {
        AssignText(name, known);
        return S_OK;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "unknown error code 0x%x", static_cast<unsigned>(hr));
    AssignText(name, buffer);
    return S_OK;
}

void ReportIfFailed(HRESULT hr, const char* expression, const char* file, int line) {
    if (!Failed(hr)) return;
    CWexBstr name;
    ResultNameBstr(name, hr);
    std::string text;
    if (Failed(ToNarrow(text, name))) text.clear();
    platform::PrintFormat("ERROR \"%s\", file \"%s\", line %d, \"%s\"\n", text.c_str(), file, line,
                          expression);
}
