#!/usr/bin/python3
"""Unit tests of the lab server's policy: who may talk to whom."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.servers import policy  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402


class PolicyTest(unittest.TestCase):
    def test_refusals_are_counted_for_the_experimenter(self):
        folder = tempfile.mkdtemp(prefix="wexlab-refused-")
        self.addCleanup(shutil.rmtree, folder)
        self.assertIsNone(policy.refusals_note(folder))
        os.makedirs(os.path.join(folder, "server"))
        log = os.path.join(folder, "server", "refused.log")
        with open(log, "w", encoding="utf-8") as f:
            f.write("2026-01-01T10:00:00Z\tmessage\tann@lab.wex/phone\tbob@lab.wex\n"
                    "2026-01-01T10:00:01Z\tpresence\tann@lab.wex/phone\tbob@lab.wex\n")
        self.assertIn("refused 2 message(s)", policy.refusals_note(folder))
        self.assertIn(log, policy.refusals_note(folder))

    def test_subjects_meet_only_their_own_bot(self):
        record = lab_file.from_json({"moderator": "mod", "pairs": [
            {"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "ann"},
            {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "bob"}]})
        allowed = {frozenset(pair) for pair in policy.policy_pairs(record)}
        self.assertEqual(allowed, {frozenset(p) for p in (
            ("pair01", "cy"), ("pair01", "ann"), ("pair01", "mod"), ("pair01", "wexlab"),
            ("pair01", "wexdesk"),
            ("pair02", "dee"), ("pair02", "bob"), ("pair02", "mod"), ("pair02", "wexlab"),
            ("pair02", "wexdesk"),
            ("mod", "wexlab"))})


if __name__ == "__main__":
    unittest.main()
