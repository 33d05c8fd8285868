// Runs a piece of the bot so that an exception leaving it becomes a result
// code: the program then ends through its usual shutdown line instead of
// the runtime's terminate.
#pragma once

#include <exception>
#include <new>

#include "bot/string_ops.h"
#include "wexcore/result_codes.h"

// Calls body (which returns an HRESULT) and returns its result, or the code
// of the exception it threw: a result-code exception's own code,
// E_OUTOFMEMORY for a failed allocation, E_FAIL for any other.
template <typename Body>
HRESULT GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const TARN::CWexException& e) {
        return e.Result();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
