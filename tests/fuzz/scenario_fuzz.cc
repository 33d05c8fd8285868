// The scenario parser on arbitrary text. A parsed scenario keeps its timed
// directives in order and holds an end; a refused one says where and why.
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "wexcore/sim/scenario.h"

using wexcore::sim::Directive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    wexcore::sim::Scenario scenario;
    std::string error;
    if (!wexcore::sim::ParseScenario(text, "fuzz.scenario", &scenario, &error)) {
        FUZZ_CHECK(error.rfind("fuzz.scenario:", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(!scenario.timed.empty());
    bool hasEnd = false;
    for (size_t i = 0; i < scenario.timed.size(); ++i) {
        const Directive& d = scenario.timed[i];
        FUZZ_CHECK(d.atMs >= 0);
        if (i > 0) FUZZ_CHECK(d.atMs >= scenario.timed[i - 1].atMs);
        if (d.op == Directive::Op::kIm) FUZZ_CHECK(!d.name.empty());
        if (d.op == Directive::Op::kRateLimit || d.op == Directive::Op::kFail ||
            d.op == Directive::Op::kOpenFail) {
            FUZZ_CHECK(d.count >= 0);
        }
        hasEnd = hasEnd || d.op == Directive::Op::kEnd;
    }
    FUZZ_CHECK(hasEnd);

    // Each result code reads back from its hexadecimal form.
    for (const Directive& d : scenario.timed) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(d.code));
        HRESULT code = 0;
        FUZZ_CHECK(wexcore::sim::ParseResultCode(hex, &code));
        FUZZ_CHECK(code == d.code);
    }
    return 0;
}
