#!/usr/bin/python3
"""Unit tests of the bots as processes: stopping them."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.runtime import bots  # noqa: E402


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
