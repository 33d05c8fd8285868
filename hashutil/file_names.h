// File names as sha256sum writes them: in checksum lines, in check results
// and, quoted for a shell, in error messages.
#pragma once

#include <string>
#include <string_view>

namespace wexhash {

// A checksum line cannot hold a backslash, line feed or carriage return as
// is: a name with any of them is written with each one escaped (\\, \n, \r),
// and the line then starts with a backslash. Returns the name to write and
// whether it was escaped.
std::string EscapeName(std::string_view name, bool* escaped);

// The checksum line of a file, line feed included: "HEX  NAME", with a
// leading backslash when NAME is escaped.
std::string SumLine(std::string_view hex, std::string_view name);

// The name in a check result ("NAME: OK"): escaped as above, with a leading
// backslash, only when it holds a line feed; otherwise as it is.
std::string CheckResultName(std::string_view name);

// The name as error messages show it: as it is when a shell would take it
// as one plain word, else quoted so that a shell would read it back, with
// unprintable bytes as $'\ooo' escapes. What is printable follows the
// LC_CTYPE locale, which the caller sets.
std::string QuoteName(std::string_view name);

}  // namespace wexhash
