// The check-line parser of wexhash /check. Arbitrary bytes are read as a
// check file's lines; then, taking the input as a file name, the line that
// /sum writes for it must parse back to that name and digest.
#include <cstdint>
#include <string>
#include <string_view>

#include "check_line.h"
#include "file_names.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr char kHex[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

void ParseLines(std::string_view text) {
    wexhash::TCheckParser parser;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (wexhash::IsIgnoredLine(line)) continue;
        std::optional<wexhash::TCheckEntry> entry = parser.Parse(line);
        if (!entry) continue;
        FUZZ_CHECK(wexhash::IsSha256Hex(entry->hex));
        FUZZ_CHECK(entry->name.find('\0') == std::string::npos);
    }
}

// Parses the /sum line for name with parser; the line feed is the reader's.
void RoundTrip(wexhash::TCheckParser& parser, const std::string& name) {
    std::string line = wexhash::SumLine(kHex, name);
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    line.pop_back();
    FUZZ_CHECK(line.find('\n') == std::string::npos);
    FUZZ_CHECK(!wexhash::IsIgnoredLine(line));
    std::optional<wexhash::TCheckEntry> entry = parser.Parse(line);
    FUZZ_CHECK(entry.has_value());
    FUZZ_CHECK(entry->hex == kHex);
    FUZZ_CHECK(entry->name == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    ParseLines(bytes);

    // A file name is never empty and holds no NUL byte.
    std::string name = bytes.substr(0, bytes.find('\0'));
    if (name.empty()) return 0;
    wexhash::TCheckParser fresh;
    RoundTrip(fresh, name);
    // The same after a line that settled the mode marks, as in one file.
    wexhash::TCheckParser settled;
    RoundTrip(settled, "first");
    RoundTrip(settled, name);
    return 0;
}
