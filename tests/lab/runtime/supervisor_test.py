#!/usr/bin/python3
"""Unit tests of the supervisor's notices about seats opened again: one
notice per subject for what the server logged since the last look; and,
in an online session, bots started only for the pairs the room formed."""

import os
import shutil
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import record as lab_file, room_log  # noqa: E402
from wexlab.runtime import supervisor  # noqa: E402

RECORD = {"moderator": "mod", "domain": "lab.wex", "pairs": [
    {"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "ann"},
    {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "bob"}]}


class ReplacedTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-supervisor-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.makedirs(os.path.join(self.folder, "server"))
        self.log = os.path.join(self.folder, "server", "replaced.log")

    def write(self, *lines):
        with open(self.log, "a", encoding="utf-8") as f:
            f.writelines(f"2026-01-01T10:00:00Z\t{name}\tweb-{i}\tweb-{i + 1}\n"
                         for i, name in enumerate(lines))

    def supervisor(self):
        watcher = supervisor.Supervisor(self.folder, lab_file.from_json(RECORD), [1, 2])
        watcher.told = []
        watcher.tell_moderator = watcher.told.append
        return watcher

    def test_one_notice_per_subject_naming_it_and_its_pair(self):
        self.write("ann")  # before the supervisor started: told by the one before
        watcher = self.supervisor()
        watcher.check_replaced()
        self.assertEqual(watcher.told, [])
        self.write("ann", "bob", "bob", "bob", "mod")
        watcher.check_replaced()
        self.assertEqual(watcher.told, [
            "pair01's subject ann opened the seat in another window; the older window "
            "was closed.",
            "pair02's subject bob opened the seat in another window (3 sign-ins); the "
            "older window was closed."])
        watcher.check_replaced()  # nothing new, nothing told
        self.assertEqual(len(watcher.told), 2)


class OnlineLaunchTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-supervisor-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.makedirs(os.path.join(self.folder, "server"))

    def supervisor(self, online=True):
        data = dict(RECORD, log_file="lab", online={"max_pairs": 2} if online else None)
        watcher = supervisor.Supervisor(self.folder, lab_file.from_json(data), [1, 2])
        watcher.launched = []

        def launch(pair):
            watcher.launched.append(pair.index)
            watcher.pids[pair.index] = 0
        watcher.launch = launch
        watcher.save = lambda: None
        return watcher

    def test_a_bot_starts_once_the_room_has_formed_its_pair(self):
        room_log.append(self.folder, [{"time": 1.0, "kind": "open", "max_pairs": 2}])
        watcher = self.supervisor()
        watcher.adopt_or_launch({})
        self.assertEqual(watcher.launched, [])
        room_log.append(self.folder, [{"time": 2.0, "kind": "pair", "pair": 1,
                                       "tickets": ["t1", "t2"], "treatment": None}])
        watcher.launch_formed()
        watcher.launch_formed()  # read once: started once
        self.assertEqual(watcher.launched, [1])
        # A supervisor started again reads room.log from its start.
        again = self.supervisor()
        again.adopt_or_launch({})
        self.assertEqual(again.launched, [1])
        # Offline sessions start every pair at once, room.log or not.
        offline = self.supervisor(online=False)
        offline.adopt_or_launch({})
        self.assertEqual(offline.launched, [1, 2])

    def test_room_log_is_read_only_when_it_grew_and_a_torn_line_waits(self):
        room_log.append(self.folder, [{"time": 1.0, "kind": "open", "max_pairs": 2}])
        watcher = self.supervisor()
        reads = []
        real_read = room_log.read_from

        def counted(folder, offset=0):
            reads.append(offset)
            return real_read(folder, offset)
        with mock.patch.object(supervisor.room_log, "read_from", counted):
            for _ in range(3):
                watcher.launch_formed()
            self.assertEqual(reads, [])  # nothing new: a stat, no read
            # The room's pair line half written: read, not acted on, read again.
            with open(room_log.path(self.folder), "a", encoding="utf-8") as f:
                f.write('{"kind": "pair", "pair": 2, "tick')
            watcher.launch_formed()
            self.assertEqual(watcher.launched, [])
            with open(room_log.path(self.folder), "a", encoding="utf-8") as f:
                f.write('ets": ["t1", "t2"], "time": 2.0, "treatment": null}\n')
            watcher.launch_formed()
            self.assertEqual(watcher.launched, [2])
            self.assertEqual(len(reads), 2)

    def test_each_turn_looks_at_the_room_and_every_half_second_at_the_bots(self):
        watcher = self.supervisor()
        looks = []
        watcher.check = lambda: looks.append("bots")
        watcher.check_replaced = lambda: looks.append("replaced")
        watcher.launch_formed = lambda: looks.append("room")
        step = supervisor.ROOM_POLL_SECONDS
        for turn in range(12):
            watcher.tick(100.0 + turn * step)
        self.assertEqual(looks.count("room"), 12)
        # At 100.0 and once POLL_SECONDS later (100.5), bots before the room.
        self.assertEqual(looks.count("bots"), 2)
        self.assertEqual(looks.count("replaced"), 2)
        self.assertEqual(looks[:3], ["bots", "replaced", "room"])
        self.assertLess(step, supervisor.POLL_SECONDS)
        # Offline the loop wakes every POLL_SECONDS: a wake a little early
        # still looks at the bots, rather than skipping a whole turn.
        looks.clear()
        watcher.tick(200.0)
        watcher.tick(200.0 + supervisor.POLL_SECONDS - 0.001)
        self.assertEqual(looks.count("bots"), 2)


if __name__ == "__main__":
    unittest.main()
