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
from wexlab.servers.ejabberd import config as ejabberd_config  # noqa: E402
from wexlab.servers.prosody import config as prosody_config  # noqa: E402


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


class OneSessionTest(unittest.TestCase):
    RECORD = {"moderator": "mod", "domain": "lab.wex", "pairs": [
        {"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "ann"},
        {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "bob"}]}

    def test_only_the_subjects_hold_one_session(self):
        record = lab_file.from_json(self.RECORD)
        self.assertEqual(policy.one_session_accounts(record), ["cy", "ann", "dee", "bob"])
        self.assertEqual(prosody_config.session_lines(record),
                         ['wex_lab_one_session = { "cy"; "ann"; "dee"; "bob"; }'])
        options = ejabberd_config.policy_options("/srv/s", policy.one_session_accounts(record))
        self.assertIn('    one_session: ["cy", "ann", "dee", "bob"]\n', options)
        self.assertIn('    replaced_log: "/srv/s/replaced.log"\n', options)
        self.assertIn("    one_session: []\n", ejabberd_config.policy_options("/srv/s"))

    def test_replaced_sessions_are_read_line_by_line_as_they_come(self):
        folder = tempfile.mkdtemp(prefix="wexlab-replaced-")
        self.addCleanup(shutil.rmtree, folder)
        self.assertEqual(policy.read_replaced(folder), ([], 0))
        os.makedirs(os.path.join(folder, "server"))
        log = os.path.join(folder, "server", "replaced.log")
        with open(log, "w", encoding="utf-8") as f:
            f.write("2026-01-01T10:00:00Z\tann\tweb-a\tweb-b\n2026-01-01T10:00:01Z\tann")
        lines, offset = policy.read_replaced(folder)
        self.assertEqual(lines, [["2026-01-01T10:00:00Z", "ann", "web-a", "web-b"]])
        # The torn line waits until it is whole.
        self.assertEqual(policy.read_replaced(folder, offset), ([], offset))
        with open(log, "a", encoding="utf-8") as f:
            f.write("\tweb-b\tweb-c\n")
        lines, end = policy.read_replaced(folder, offset)
        self.assertEqual(lines, [["2026-01-01T10:00:01Z", "ann", "web-b", "web-c"]])
        self.assertEqual(end, os.path.getsize(log))


if __name__ == "__main__":
    unittest.main()
