#!/usr/bin/python3
"""Unit tests of the escapes the desk and report.html apply to what
participants wrote: the same as the bot's VisibleLine for the same input
(the cases of tests/messaging/visible_text_test.cc, as Python text), and
the desk's chat lines and the report's chat built with them."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model.visible import visible_line  # noqa: E402

# (text, what the bot writes in its transcript), from visible_text_test.cc.
BOT_CASES = [
    ("25", "25"),
    ("", ""),
    ('hi, bob "quoted" \u20ac \U0001F600', 'hi, bob "quoted" \u20ac \U0001F600'),
    ("a\nb", "a\\nb"),
    ("a\r\nb\rc", "a\\r\\nb\\rc"),
    ("tab\there", "tab\\there"),
    ("back\\slash \\n", "back\\\\slash \\\\n"),
    ("nul\0x", "nul\\u{0000}x"),
    ("\x01\x1b[2J\x1f\x7f", "\\u{0001}\\u{001B}[2J\\u{001F}\\u{007F}"),
    # C1 controls: NEL and CSI; the no-break space beside them stays
    ("\x85\x9b\xa0", "\\u{0085}\\u{009B}\xa0"),
    # bidi marks, embeddings, isolates; line and paragraph separators
    ("\u200e\u200f", "\\u{200E}\\u{200F}"),
    ("\u202a\u202e", "\\u{202A}\\u{202E}"),
    ("\u2066\u2069", "\\u{2066}\\u{2069}"),
    ("\u2028\u2029", "\\u{2028}\\u{2029}"),
    # visible neighbours stay
    ("\u200d\u202f\u2065\u206a", "\u200d\u202f\u2065\u206a"),
]


class VisibleLineTest(unittest.TestCase):
    def test_the_same_escapes_as_the_bot(self):
        for text, line in BOT_CASES:
            with self.subTest(line=line):
                self.assertEqual(visible_line(text), line)
                self.assertNotIn("\n", visible_line(text))

    def test_a_reversed_file_name_reads_as_written(self):
        self.assertEqual(visible_line("photo\u202egnp.exe"), "photo\\u{202E}gnp.exe")
        # Every code of the ranges is escaped, the characters around them kept.
        for code in list(range(0x202a, 0x202f)) + list(range(0x2066, 0x206a)):
            self.assertEqual(visible_line(f"a{chr(code)}b"), f"a\\u{{{code:04X}}}b")


if __name__ == "__main__":
    unittest.main()
