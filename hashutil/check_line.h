// Lines of a sha256sum check file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wexhash {

// One properly formatted checksum line.
struct TCheckEntry {
    std::string hex;   // 64 hexadecimal digits, in the case written
    std::string name;  // the file name, unescaped
};

// True for exactly 64 hexadecimal digits, in either case.
bool IsSha256Hex(std::string_view text);

// True for a line that is neither a checksum nor a mistake: an empty line
// or a comment starting with '#'. line has its line feed removed.
bool IsIgnoredLine(std::string_view line);

// Reads checksum lines, one at a time, its line feed removed, in any of
//   HEX  NAME     HEX *NAME     HEX NAME     SHA256 (NAME) = HEX
// with blanks before it, a carriage return after it, and a leading backslash
// when NAME is escaped (\\, \n, \r). A NUL ends a plain NAME (and the
// digits of a tagged line) but makes an escaped NAME improper. Whether a
// mode mark (' ' or '*') follows the blank after HEX is settled by the first
// such line and then holds for every later one, also in later files, as
// sha256sum reads them.
class TCheckParser {
public:
    // The entry, or nullopt for an improper line.
    std::optional<TCheckEntry> Parse(std::string_view line);

private:
    enum class TMarks { Unknown, Present, Absent };

    std::optional<TCheckEntry> ParseUntagged(std::string_view text);

    TMarks marks_ = TMarks::Unknown;
};

}  // namespace wexhash
