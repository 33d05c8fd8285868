#!/usr/bin/python3
"""Unit tests of the escapes the desk and report.html apply to what
participants wrote: the same as the bot's VisibleLine for the same input,
both the cases of tests/messaging/visible_text_test.cc (as Python text)
and, when $WEX_TEST_BOT names a wexbot, what that bot writes in its
transcript for texts a subject sends in simulated time."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
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


# What a subject sends the bot (a scenario line each: \n, \t and \\ are
# the scenario's escapes, everything else is sent as it stands).
SENT = ["photo\u202egnp.exe", "a\nb\tc\\d", "\x01\x1b[2J\x7f", "\x85\x9b\xa0 \u20ac",
        "\u200e\u200f\u202a\u2066\u2069", "\u2028\u2029 \u200d\u202f\u2065\u206a",
        "\U0001F600 ok"]
PASSWORDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                         "examples", "rehearsal-passwords.txt")
BOT_CONFIG = """Service sim:visible.scenario
BotUsername selkbot
Subject1Name alice
Subject2Name bob
ModeratorName moderator
PasswordFile rehearsal-passwords.txt
BotPasswordIndex 0
KeyIndex 1
LogFile visible
NRounds 4
ConversationInterval 4
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
"""


def scenario_text(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")


@unittest.skipUnless(os.environ.get("WEX_TEST_BOT"), "needs $WEX_TEST_BOT, a built wexbot")
class SameAsTheBotTest(unittest.TestCase):
    def test_the_transcript_of_a_real_bot(self):
        folder = tempfile.mkdtemp(prefix="visible-test-")
        self.addCleanup(shutil.rmtree, folder)
        with open(os.path.join(folder, "visible.conf"), "w", encoding="utf-8") as f:
            f.write(BOT_CONFIG)
        shutil.copy(PASSWORDS, folder)
        lines = ["start 2026-12-07T09:00:00", "password rehearsal-password"]
        lines += [f"at {i + 1} im alice {scenario_text(text)}" for i, text in enumerate(SENT)]
        lines.append(f"at {len(SENT) + 2} end")
        with open(os.path.join(folder, "visible.scenario"), "w", encoding="utf-8",
                  newline="") as f:
            f.write("\n".join(lines) + "\n")
        done = subprocess.run([os.environ["WEX_TEST_BOT"], "visible.conf"], cwd=folder,
                              capture_output=True, timeout=60,
                              env=dict(os.environ, WEX_SETTINGS_DIR=folder, TZ="UTC"))
        self.assertEqual(done.returncode, 0, done.stderr)
        [transcript] = glob.glob(os.path.join(folder, "visible_*.log"))
        with open(transcript, encoding="utf-8", newline="") as f:
            received = [line.rstrip("\n").split(" RECV ", 1)[1] for line in f
                        if " alice " in line and " RECV " in line]
        self.assertEqual(received, [visible_line(text) for text in SENT])


if __name__ == "__main__":
    unittest.main()
