// Text a participant wrote, made one visible line (transcript) or indented
// lines behind a prefix (chat relay).
#include "messaging/visible_text.h"

#include <gtest/gtest.h>

namespace {

TEST(VisibleTextTest, OneLineEscapesBreaksControlsAndBidi) {
    struct Case {
        std::string text;
        std::string line;
    };
    for (const Case& c : {
             Case{"25", "25"},
             Case{"", ""},
             Case{"hi, bob \"quoted\" \xE2\x82\xAC \xF0\x9F\x98\x80",
                  "hi, bob \"quoted\" "
                  "\xE2\x82\xAC \xF0\x9F\x98\x80"},
             Case{"a\nb", "a\\nb"},
             Case{"a\r\nb\rc", "a\\r\\nb\\rc"},
             Case{"tab\there", "tab\\there"},
             Case{"back\\slash \\n", "back\\\\slash \\\\n"},
             Case{std::string("nul\0x", 5), "nul\\u{0000}x"},
             Case{"\x01\x1B[2J\x1F\x7F", "\\u{0001}\\u{001B}[2J\\u{001F}\\u{007F}"},
             // C1 controls: NEL and CSI
             Case{"\xC2\x85\xC2\x9B\xC2\xA0", "\\u{0085}\\u{009B}\xC2\xA0"},
             // bidi marks, embeddings, isolates; line and paragraph separators
             Case{"\xE2\x80\x8E\xE2\x80\x8F", "\\u{200E}\\u{200F}"},
             Case{"\xE2\x80\xAA\xE2\x80\xAE", "\\u{202A}\\u{202E}"},
             Case{"\xE2\x81\xA6\xE2\x81\xA9", "\\u{2066}\\u{2069}"},
             Case{"\xE2\x80\xA8\xE2\x80\xA9", "\\u{2028}\\u{2029}"},
             // neighbours that are visible stay
             Case{"\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
                  "\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
             // a byte that is not UTF-8 is kept as it is
             Case{"\xFF\xC3", "\xFF\xC3"},
         }) {
        SCOPED_TRACE(c.line);
        std::string line = VisibleLine(c.text);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(line.find('\r'), std::string::npos);
    }
}

TEST(VisibleTextTest, PrefixedLinesIndentEveryLineAfterTheFirst) {
    const std::string prefix = "(from alice) ";
    struct Case {
        std::string text;
        std::string relayed;
    };
    for (const Case& c : {
             // one ordinary line: unchanged, tabs and backslashes too
             Case{"hi, bob \\o/\tok \xE2\x82\xAC", "(from alice) hi, bob \\o/\tok \xE2\x82\xAC"},
             Case{"", "(from alice) "},
             // a forged relay line after a line end starts indented
             Case{"hi\n(from bob) forged", "(from alice) hi\n             (from bob) forged"},
             Case{"a\r\nb\rc\xE2\x80\xA8"
                  "d\xE2\x80\xA9"
                  "e",
                  "(from alice) a\n             b\n             c\n             d\n"
                  "             e"},
             Case{"a\n\nb", "(from alice) a\n             \n             b"},
             // other invisible characters are shown as codes
             Case{"\x1B[1A\xC2\x85\xE2\x80\xAE!", "(from alice) \\u{001B}[1A\\u{0085}\\u{202E}!"},
         }) {
        SCOPED_TRACE(c.relayed);
        EXPECT_EQ(PrefixedLines(prefix, c.text), c.relayed);
    }
    // The indent is the prefix's width in characters, not bytes.
    EXPECT_EQ(PrefixedLines("(from J\xC3\xB6rg) ", "a\nb"), "(from J\xC3\xB6rg) a\n            b");
}

}  // namespace
