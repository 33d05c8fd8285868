#!/usr/bin/python3
"""Unit tests of the session's check by the wexbot that plays it: the key
table asked once, --check-config's faults read back, a missing or failing
wexbot, and every reader of a session file refusing a fault before
anything starts."""

import argparse
import os
import shutil
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import errors  # noqa: E402
from wexlab.rehearsal import play  # noqa: E402
from wexlab.runtime import bot_check  # noqa: E402
from wexlab.servers import server as serverlib  # noqa: E402
from wexlab.web import lifecycle  # noqa: E402
from fixtures import GOOD, TREATED, checked, parse, shared_file, wexbot  # noqa: E402


class BotCheckTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="wexlab-check-test-")
        self.addCleanup(shutil.rmtree, self.root)

    def fake_bot(self, name, script):
        """A wexbot stand-in: a shell script that counts its runs in runs.txt."""
        path = os.path.join(self.root, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(f"#!/bin/sh\necho run >> {self.root}/runs.txt\n{script}\n")
        os.chmod(path, 0o755)
        return path

    def runs(self):
        with open(os.path.join(self.root, "runs.txt"), encoding="utf-8") as f:
            return len(f.read().split())

    def test_the_table_is_asked_once_per_wexbot(self):
        real = wexbot()
        bot = self.fake_bot("wexbot", f'exec {real} "$@"')
        first = bot_check.key_table(bot)
        self.assertIs(bot_check.key_table(bot), first)
        self.assertEqual(first, bot_check.key_table(real))
        self.assertEqual(self.runs(), 1)

    def test_the_shipped_lab_example_passes_the_bots_check(self):
        # examples/lab.conf is what the guide tells a lab to start from.
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                               "examples", "lab.conf")
        session = bot_check.read_session(example, wexbot())
        self.assertEqual([t.name for t in session.treatments], ["control", "rich"])
        self.assertEqual(session.pair_count(), 3)

    def test_a_missing_or_failing_wexbot_is_named(self):
        missing = os.path.join(self.root, "no-wexbot")
        cases = [
            (missing, f"cannot run the wexbot program {missing}: No such file or directory"),
            (self.fake_bot("old", "echo 'unknown option --keys=json' >&2; exit 2"),
             f"{self.root}/old --keys=json failed (exit status 2): unknown option --keys=json; "
             "is it a wexbot of this wexlab's version?"),
            (self.fake_bot("chatty", "echo 'a table'"),
             f"{self.root}/chatty --keys=json printed no key table wexlab can read: not JSON: "
             "Expecting value: line 1 column 1 (char 0)"),
        ]
        for bot, reason in cases:
            with self.subTest(bot=bot):
                with self.assertRaises(errors.LabError) as caught:
                    bot_check.key_table(bot)
                self.assertEqual(str(caught.exception), reason)

    def test_a_wexbot_whose_check_fails_is_named(self):
        real = wexbot()
        session = parse(GOOD, "lab.conf")
        for name, check, wanted in (
                ("crashing", "kill -SEGV $$", "failed (exit status -11)"),
                ("silent", "exit 1", "failed (exit status 1); is it a wexbot"),
                ("odd", 'echo "$2: no faults"; exit 3', "failed (exit status 3)")):
            bot = self.fake_bot(name, f'[ "$1" = --check-config ] && {{ {check}; }}\n'
                                f'exec {real} "$@"')
            with self.subTest(bot=name):
                with self.assertRaises(errors.LabError) as caught:
                    bot_check.check_session(session, bot)
                self.assertIn(f"{bot} --check-config ", str(caught.exception))
                self.assertIn(wanted, str(caught.exception))

    def test_the_bot_checks_the_configuration_each_treatment_gives(self):
        bot = self.fake_bot("wexbot", f'[ "$1" = --check-config ] && cp "$2" '
                            f'"{self.root}/checked-$(wc -l < {self.root}/runs.txt).conf"\n'
                            f'exec {wexbot()} "$@"')
        session = parse(TREATED.replace("Treatments high low",
                                        "Treatment plain\nTreatments high low plain"), "lab.conf")
        bot_check.check_session(session, bot)
        # The session's own values and the two treatments' that set any.
        self.assertEqual(self.runs(), 3)
        with open(os.path.join(self.root, "checked-1.conf"), encoding="utf-8") as f:
            own = f.read()
        with open(os.path.join(self.root, "checked-2.conf"), encoding="utf-8") as f:
            high = f.read()
        # The first pair's real configuration.
        self.assertTrue(own.startswith("BotUsername pair01\nSubject1Name "), own)
        self.assertIn("\nDeskName wexdesk\n", own)
        self.assertIn("\nMarketNoise 0.25,0.75\n", own)
        self.assertNotIn("CreditValue", own)
        self.assertIn("# treatment high\n", high)
        self.assertIn("\nCreditValue 0.02\n", high)
        self.assertIn("\nNRounds 12\n", high)

    def test_faults_of_wexlabs_own_lines_are_the_whole_files(self):
        session = parse(GOOD, "lab.conf")
        self.assertEqual(bot_check.session_fault(session, None, "BotUsername", "a reason"),
                         (0, "lab.conf: a reason"))
        self.assertEqual(bot_check.session_fault(session, None, None, "Missing"),
                         (0, "lab.conf: Missing"))
        self.assertEqual(bot_check.session_fault(session, None, "MarketNoise", "noise"),
                         (9, "lab.conf:9: noise"))
        self.assertEqual(bot_check.line_keys("A 1\n# B 2\n\nC\n"), {1: "A", 4: "C"})

    def test_every_reader_refuses_a_fault_before_anything_starts(self):
        bad = TREATED.replace("Treatment high NRounds 12", "Treatment high NRounds 200000")
        path = os.path.join(self.root, "lab.conf")
        shared_file(path, bad)
        folder = os.path.join(self.root, "session")
        wanted = ("lab.conf:18: 'Treatment high NRounds 200000': with treatment high's values "
                  "NRounds must be at most 100000, found 200000")
        never = mock.Mock(side_effect=AssertionError("the server was set up"))
        with mock.patch.object(serverlib, "for_lab", never):
            with self.assertRaises(errors.SessionError) as caught:
                lifecycle.start_session(folder, path, wexbot(), None, quiet=True)
            self.assertTrue(str(caught.exception).endswith(wanted), str(caught.exception))
            self.assertFalse(os.path.exists(folder))
            args = argparse.Namespace(command="rehearse", session=path, pairs=None, rounds=None,
                                      seed=None, dir=folder, bot=wexbot())
            with self.assertRaises(errors.SessionError) as caught:
                play.play_session(args)
            self.assertTrue(str(caught.exception).endswith(wanted), str(caught.exception))
            self.assertFalse(os.path.exists(folder))
            # A missing wexbot is named before the session is read.
            args.bot = os.path.join(self.root, "no-wexbot")
            with self.assertRaisesRegex(errors.LabError, "no wexbot program at"):
                play.play_session(args)
        never.assert_not_called()

    def test_a_language_is_judged_by_the_catalogues_the_bots_get(self):
        self.assertEqual(checked(GOOD.replace("LogFile lab", "LogFile lab\nLanguage de"))
                         .pair_count(), 2)
        with self.assertRaises(errors.SessionError) as caught:
            checked(GOOD.replace("LogFile lab", "LogFile lab\nLanguage xx"))
        self.assertRegex(str(caught.exception),
                         r"lab.conf:5: Language 'xx' is not known; known: en, de \(a lab adds "
                         r"one as po/wexbot/CODE.po and po/seat/CODE.po")

    def test_a_good_session_passes(self):
        self.assertEqual(checked(TREATED).pair_count(), 2)


if __name__ == "__main__":
    unittest.main()
