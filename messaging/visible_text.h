// Text that a participant wrote, made safe to show where a line feed or an
// invisible control would let it pose as something the bot wrote: a
// transcript line, or a "(from NAME)" line of the chat relay.
#pragma once

#include <string>
#include <string_view>

// The text on one line, every character visible: line feed -> \n,
// carriage return -> \r, tab -> \t, backslash -> \\, and the other C0
// controls, DEL, the C1 controls, the bidirectional controls (U+200E,
// U+200F, U+202A..U+202E, U+2066..U+2069) and the line and paragraph
// separators (U+2028, U+2029) -> \u{XXXX} in upper-case hexadecimal. Every
// other character, and any byte that is not valid UTF-8, is kept.
std::string VisibleLine(std::string_view text);

// prefix followed by text, each line of text after the first indented with
// blanks to the width of prefix (in characters), so that no line of a
// subject's text starts where the bot's own lines start. A line ends at a
// line feed, a carriage return (CR LF counts once) or U+2028/U+2029; the
// lines are joined with line feeds. The invisible characters VisibleLine
// escapes, other than tab and the line ends, become \u{XXXX}. Text of one
// line without them comes back unchanged after prefix.
std::string PrefixedLines(std::string_view prefix, std::string_view text);
