#!/usr/bin/python3
"""Unit tests of the bots as processes: the wexbot to run, stopping them."""

import os
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import errors, paths  # noqa: E402
from wexlab.runtime import bots, processes  # noqa: E402


class FindBotTest(unittest.TestCase):
    def test_the_named_wexbot_or_none(self):
        with tempfile.TemporaryDirectory() as folder:
            bot = os.path.join(folder, "wexbot")
            with open(bot, "w") as f:
                f.write("#!/bin/sh\n")
            os.chmod(bot, 0o755)
            missing = os.path.join(folder, "no-wexbot")
            with mock.patch.dict(os.environ, {"WEXBOT": bot}):
                self.assertEqual(processes.find_bot(None), bot)
                # A --bot that names none is refused, though $WEXBOT names one.
                with self.assertRaisesRegex(errors.LabError, f"no wexbot program at {missing}"):
                    processes.find_bot(missing)
                os.chmod(bot, 0o644)  # not a program
                with self.assertRaisesRegex(errors.LabError, f"no wexbot program at {bot}"):
                    processes.find_bot(bot)


class CataloguesTest(unittest.TestCase):
    def test_bots_get_the_catalogues_of_the_source_tree_or_the_given_ones(self):
        source = os.path.join(paths.HOME, "po")
        self.assertTrue(os.path.isfile(os.path.join(source, "wexbot", "de.po")))
        with tempfile.TemporaryDirectory() as folder:
            pair = mock.Mock(bot="bot1")
            os.mkdir(os.path.join(folder, "bot1"))
            bot = os.path.join(folder, "fake-wexbot")
            with open(bot, "w") as f:
                f.write('#!/bin/sh\necho "po=$WEX_PO_DIR"\n')
            os.chmod(bot, 0o755)
            env = {k: v for k, v in os.environ.items() if k != "WEX_PO_DIR"}
            with mock.patch.dict(os.environ, env, clear=True):
                self.assertEqual(paths.po_dir(), source)
                bots.start(folder, pair, bot).wait(10)
            with mock.patch.dict(os.environ, {"WEX_PO_DIR": "/elsewhere/po"}):
                self.assertEqual(paths.po_dir(), "/elsewhere/po")
                bots.start(folder, pair, bot).wait(10)
            with open(os.path.join(folder, "bot1", "console.log")) as f:
                self.assertEqual(f.read(), f"po={source}\npo=/elsewhere/po\n")


class TerminateTest(unittest.TestCase):
    def test_a_process_that_ignores_sigterm_is_killed_and_named(self):
        polite = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
        stubborn = subprocess.Popen(
            [sys.executable, "-c", "import signal, time; signal.signal(signal.SIGTERM, "
             "signal.SIG_IGN); print('ready', flush=True); time.sleep(60)"],
            stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(stubborn.stdout.readline(), "ready\n")
            killed = bots.terminate([polite.pid, stubborn.pid], 1)
            self.assertEqual(killed, [stubborn.pid])
            self.assertEqual(polite.wait(5), -15)
            self.assertEqual(stubborn.wait(5), -9)
        finally:
            for proc in (polite, stubborn):
                proc.kill()
                proc.wait()
            stubborn.stdout.close()


if __name__ == "__main__":
    unittest.main()
