#include "expected_hash.h"

#include <cctype>
#include <optional>

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

std::optional<std::string> UpperHex(std::string_view text) {
    if (text.size() != 64) return std::nullopt;
    std::string hex;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return hex;
}

}  // namespace

TExpected ParseExpected(std::string_view text) {
    text = Trim(text);
    if (text.empty()) return {};
    if (text.find_first_of("\r\n") != std::string_view::npos) return {TExpectedKind::Invalid, {}};

    std::optional<std::string> hex;
    if (const std::optional<TCheckEntry> line = TCheckParser().Parse(text)) {
        hex = UpperHex(line->hex);
    } else {
        if (StartsWithNoCase(text, kPrefix)) text = Trim(text.substr(kPrefix.size()));
        hex = UpperHex(text);
    }
    if (!hex) return {TExpectedKind::Invalid, {}};
    return {TExpectedKind::Value, std::move(*hex)};
}

TVerdict Compare(std::string_view expectedText, std::string_view fingerprint) {
    const TExpected expected = ParseExpected(expectedText);
    if (expected.kind == TExpectedKind::Invalid) return TVerdict::NotSha256;
    if (expected.kind == TExpectedKind::Empty || fingerprint.empty()) return TVerdict::None;
    const std::optional<std::string> shown = UpperHex(fingerprint);
    return shown == expected.hex ? TVerdict::Match : TVerdict::NoMatch;
}

}  // namespace wexhash
