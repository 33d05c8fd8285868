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


def dropout(subject, mode, payout=1.5):
    return {"kind": "dropout", "subject": subject, "round": 3, "mode": mode,
            "credits": 150, "payout": payout}


class SubjectEndingsTest(unittest.TestCase):
    def test_without_a_dropout_both_end_as_the_game(self):
        for kinds, ending in ((("start", "report"), "completed"),
                              (("start", "stop", "report"), "paid_now"),
                              (("start", "stop"), "stopped"), (("start",), "running")):
            self.assertEqual(subject_endings(entries(*kinds)), {1: ending, 2: ending})

    def test_a_replaced_subject_stays_replaced_and_the_partner_plays_on(self):
        journal = entries("start", "close") + [dropout(2, "robot")] + entries("close")
        self.assertEqual(subject_endings(journal), {1: "running", 2: "replaced"})
        self.assertEqual(subject_endings(journal + entries("report")),
                         {1: "completed", 2: "replaced"})
        self.assertEqual(subject_endings(journal + entries("stop", "report")),
                         {1: "paid_now", 2: "replaced"})
        # Both replaced: nobody is left to end as the game did.
        both = journal + [dropout(1, "robot")] + entries("report")
        self.assertEqual(subject_endings(both), {1: "replaced", 2: "replaced"})

    def test_a_dropout_paid_at_once_pays_the_partner_now(self):
        journal = entries("start", "close") + [dropout(1, "pay")] + entries("report")
        self.assertEqual(subject_endings(journal), {1: "dropout", 2: "paid_now"})
        # Only the first paid dropout counts: the game ended with it.
        late = journal[:3] + [dropout(2, "pay")] + entries("report")
        self.assertEqual(subject_endings(late), {1: "dropout", 2: "paid_now"})

    def test_a_dropout_journaled_again_on_resume_changes_nothing(self):
        journal = [dropout(1, "robot"), {"kind": "resume"}, dropout(1, "robot")] + \
            entries("report")
        self.assertEqual(subject_endings(journal), {1: "replaced", 2: "completed"})
        # A replaced subject's later pay dropout pays the partner, not it.
        paid = [dropout(1, "robot"), dropout(1, "pay"), dropout(2, "pay")] + entries("report")
        self.assertEqual(subject_endings(paid), {1: "replaced", 2: "dropout"})


if __name__ == "__main__":
    unittest.main()
