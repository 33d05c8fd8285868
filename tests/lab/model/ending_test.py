#!/usr/bin/python3
"""How a pair's game ended, for each way a journal can end."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model.ending import how_ended  # noqa: E402


def entries(*kinds):
    return [{"kind": kind, "t": i} for i, kind in enumerate(kinds)]


class HowEndedTest(unittest.TestCase):
    def test_each_ending(self):
        self.assertEqual(how_ended(entries("start", "join", "close", "report")), "completed")
        self.assertEqual(how_ended(entries("start", "close", "stop", "report")), "paid_now")
        self.assertEqual(how_ended(entries("start", "close", "stop")), "stopped")
        self.assertEqual(how_ended(entries("start", "close")), "running")

    def test_session_stop_ends_a_running_game_without_pay(self):
        self.assertEqual(how_ended(entries("start", "close"), session_stopped=True), "stopped")
        self.assertEqual(how_ended(entries("start", "report"), session_stopped=True),
                         "completed")

    def test_a_stop_after_the_report_changes_nothing(self):
        self.assertEqual(how_ended(entries("start", "resume", "report", "stop")), "completed")


if __name__ == "__main__":
    unittest.main()
