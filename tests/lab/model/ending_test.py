#!/usr/bin/python3
"""How a pair's game ended, for each way a journal can end."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model.ending import how_ended, subject_endings  # noqa: E402


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


def dropout(subject, mode):
    return {"kind": "dropout", "t": 50, "subject": subject, "round": 2, "mode": mode,
            "credits": 160.0, "payout": 10.0}


class SubjectEndingsTest(unittest.TestCase):
    def test_without_a_dropout_both_have_the_pairs_ending(self):
        self.assertEqual(subject_endings(entries("start", "close", "report")),
                         {1: "completed", 2: "completed"})
        self.assertEqual(subject_endings(entries("start", "close"), session_stopped=True),
                         {1: "stopped", 2: "stopped"})

    def test_a_replaced_subject_and_a_partner_who_played_on(self):
        played = entries("start", "close") + [dropout(2, "robot")] + entries("close", "report")
        self.assertEqual(subject_endings(played), {1: "completed", 2: "replaced"})
        # The partner's game can still end otherwise, the dropout's cannot.
        paid = entries("start") + [dropout(1, "robot")] + entries("stop", "report")
        self.assertEqual(subject_endings(paid), {1: "replaced", 2: "paid_now"})
        running = entries("start") + [dropout(1, "robot")]
        self.assertEqual(subject_endings(running), {1: "replaced", 2: "running"})
        both = entries("start") + [dropout(1, "robot"), dropout(2, "robot")] + entries("report")
        self.assertEqual(subject_endings(both), {1: "replaced", 2: "replaced"})

    def test_a_dropout_that_pays_the_pair(self):
        paid = entries("start", "close") + [dropout(1, "pay")] + entries("stop", "report")
        self.assertEqual(subject_endings(paid), {1: "dropout", 2: "paid_now"})
        self.assertEqual(how_ended(paid), "paid_now")
        # A second dropout's entry cannot follow the pay; were it there, the
        # first decides.
        self.assertEqual(subject_endings(paid + [dropout(2, "pay")]),
                         {1: "dropout", 2: "paid_now"})


if __name__ == "__main__":
    unittest.main()
