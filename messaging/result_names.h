// Printed names of result codes and the report of a failed call.
#pragma once

#include "wexcore/result_codes.h"
#include "wexcore/wex_string.h"

// The code's name, or "(unknown error code)". Static text.
const char* ResultName(HRESULT hr);

// Sets name to the code's name, or to "unknown error code 0x%x" for a code
// with no name. Returns S_OK; throws TARN::CWexException when the handle
// can't be made.
HRESULT ResultNameBstr(CWexBstr& name, HRESULT hr);

// For a negative code prints one line naming the code, the source file and
// line of the check and the checked expression. Does nothing otherwise.
void ReportIfFailed(HRESULT hr, const char* expression, const char* file, int line);

// The part of a source path after its last '/'.
constexpr const char* SourceBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/') base = p + 1;
    }
    return base;
}

// Evaluates expr once and reports it if it failed; the caller carries on.
#define CHECK_RESULT(expr) ReportIfFailed((expr), #expr, SourceBaseName(__FILE__), __LINE__)
