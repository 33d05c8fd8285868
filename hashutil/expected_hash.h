// The "Expected hash value" field: what people paste there, and how it
// compares with the fingerprint shown.
#pragma once

#include <string>
#include <string_view>

namespace wexhash {

enum class TExpectedKind {
    Empty,    // nothing but blanks
    Value,    // a SHA-256 value
    Invalid,  // anything else
};

struct TExpected {
    TExpectedKind kind = TExpectedKind::Empty;
    std::string hex;  // 64 upper-case digits for a Value
};

// Accepts 64 hexadecimal digits in either case, with blanks around them, an
// optional "sha256:" prefix, or a whole sha256sum line (HEX  NAME, or the
// SHA256 (NAME) = HEX form) on a single line.
TExpected ParseExpected(std::string_view text);

enum class TVerdict { None, Match, NoMatch, NotSha256 };

// The comparison of the field's text with the fingerprint shown ("" when
// none is): nothing to say while either is missing, except that text which is
// no SHA-256 value says so at once.
TVerdict Compare(std::string_view expectedText, std::string_view fingerprint);

}  // namespace wexhash
