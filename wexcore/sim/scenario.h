// The scenario file that drives the simulated service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wexcore/result_codes.h"

namespace wexcore::sim {

// One timed directive ("at T ...").
struct Directive {
    enum class Op {
        kIm,
        kState,
        kDrop,
        kRequest,
        kRateLimit,
        kFail,
        kOpenFail,
        kEnd,
        kSignal,
        kCrash,
        kPresence
    };
    int64_t atMs = 0;  // after the scenario's start
    Op op = Op::kEnd;
    std::string name;  // peer of im, ratelimit, fail, openfail; signal: INT or TERM
    std::string text;  // im text, escapes resolved
    int32_t state = 0;
    HRESULT code = 0;
    int32_t count = 1;
    std::optional<int32_t> kind;  // request kind; empty = "none"
    std::optional<int32_t> prop;  // request property 1000; empty = "none"
    int lineNumber = 0;

    // Directives the service applies to itself rather than tell the bot.
    bool IsServiceSide() const {
        return op == Op::kRateLimit || op == Op::kFail || op == Op::kOpenFail;
    }
};

struct Scenario {
    std::optional<int64_t> startSeconds;  // local time; empty = now
    std::optional<std::string> password;
    std::optional<HRESULT> signOnFailure;
    std::string wireLogPath;
    // "record game": the wire log shows the element a message carries, and
    // the messages that carry nothing else.
    bool recordElements = false;
    std::vector<Directive> timed;  // ends with an end directive
};

// Parses scenario text. On a malformed line returns false with *error
// naming the file, the line number and the fault.
bool ParseScenario(const std::string& text, const std::string& fileName, Scenario* scenario,
                   std::string* error);

// Reads a result code written in hexadecimal ("0x80040210") or by name.
bool ParseResultCode(const std::string& token, HRESULT* code);

}  // namespace wexcore::sim
