// Reading a subject's answer from arbitrary text, taken both as UTF-8 (as a
// message arrives) and as raw 16-bit units. The reading must agree with the
// rule: one or two decimal digits (the empty text is not a number).
#include <cstdint>
#include <cstring>
#include <string>

#include "bot/string_ops.h"
#include "game/game_rules.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The rule, written out plainly: the number, or -1 when it is none.
int32_t Expected(const std::u16string& units) {
    if (units.empty() || units.size() > 2) return -1;
    int32_t number = 0;
    for (char16_t c : units) {
        if (c < u'0' || c > u'9') return -1;
        number = number * 10 + (c - u'0');
    }
    return number;
}

void Check(WEXSTR text) {
    std::u16string units(text ? text : u"", StrLength(text));
    int32_t value = -7;
    bool number = ParseAnswer(text, &value);
    int32_t expected = Expected(units);
    FUZZ_CHECK(number == (expected >= 0));
    if (number) {
        FUZZ_CHECK(value == expected);
        FUZZ_CHECK(value >= 0 && value <= 99);
    } else {
        FUZZ_CHECK(value == -7);  // untouched
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    Check(MakeBstr(bytes));

    std::u16string units(size / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    CWexBstr raw;
    FUZZ_CHECK(!Failed(StrFromUnits(units.data(), units.size(), raw.Out())));
    Check(raw);
    return 0;
}
