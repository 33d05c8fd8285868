#include "expected_hash.h"

#include <cctype>

#include "check_line.h"

namespace wexhash {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::string_view kPrefix = "sha256:";

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

TExpected ParseExpected(std::string_view text) {
    text = Trim(text);
    if (text.empty()) return {};
    if (text.find_first_of("\r\n") != std::string_view::npos) return {TExpectedKind::Invalid, {}};

    if (const std::optional<TCheckEntry> line = TCheckParser().Parse(text)) {
        return {TExpectedKind::Value, Upper(line->hex)};
    }
    if (StartsWithNoCase(text, kPrefix)) text = Trim(text.substr(kPrefix.size()));
    if (!IsSha256Hex(text)) return {TExpectedKind::Invalid, {}};
    return {TExpectedKind::Value, Upper(text)};
}

TVerdict Compare(std::string_view expectedText, std::string_view fingerprint) {
    const TExpected expected = ParseExpected(expectedText);
    if (expected.kind == TExpectedKind::Invalid) return TVerdict::NotSha256;
    if (expected.kind == TExpectedKind::Empty || fingerprint.empty()) return TVerdict::None;
    return Upper(fingerprint) == expected.hex ? TVerdict::Match : TVerdict::NoMatch;
}

}  // namespace wexhash
