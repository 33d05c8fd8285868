#!/usr/bin/python3
"""Unit tests of the bench's figures: percentiles of the latencies and the
event loop's lag, CPU per message to a subject for the server, the bots
together and the robots, bench.json without NaN, a run with nothing
measured, and the tree's version."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.model import record  # noqa: E402
from wexlab.rehearsal import bench  # noqa: E402


class FakePair:
    def __init__(self, latencies, complete=True):
        self.latencies = latencies
        self._complete = complete

    def complete(self):
        return self._complete


def lab(server="prosody", nodes=None):
    return record.Lab(rounds=2, server=server, nodes=nodes)


# 100 latencies 0.001..0.100 s over two pairs; bots of 10 and 30 MiB using
# 1.5 s and 2.5 s; one bot gone (no stats); the server at 3 s.
PAIRS = [FakePair([i / 1000 for i in range(1, 51)]),
         FakePair([i / 1000 for i in range(51, 101)], complete=False)]
MEASURED = ({1: (10240, 1.5), 2: (30720, 2.5), 3: None}, (20480, 3.0))
LAG = [0.0005, 0.002, 0.010]


class FiguresTest(unittest.TestCase):
    def setUp(self):
        self.f = bench.figures(lab(), PAIRS, MEASURED, LAG, 50, "websocket", 0.8,
                               "2026-12-08T15:00:00Z", "v1-3-gabc")

    def test_latency_and_lag_percentiles_in_ms(self):
        self.assertEqual(self.f.messages, 100)
        self.assertAlmostEqual(self.f.latency_p50_ms, 51.0)  # the 51st of 100 (rounded index)
        self.assertAlmostEqual(self.f.latency_p99_ms, 99.0)
        self.assertAlmostEqual(self.f.latency_max_ms, 100.0)
        self.assertAlmostEqual(self.f.lag_p50_ms, 2.0)
        self.assertAlmostEqual(self.f.lag_max_ms, 10.0)
        self.assertEqual((self.f.pairs, self.f.complete_pairs), (2, 1))

    def test_cpu_per_message(self):
        # 3 s of server over 100 messages: 30 ms each; bots 4 s: 40 ms.
        self.assertAlmostEqual(self.f.server_cpu_ms_per_message, 30.0)
        self.assertAlmostEqual(self.f.bots_cpu_s, 4.0)
        self.assertAlmostEqual(self.f.bots_cpu_ms_per_message, 40.0)
        self.assertAlmostEqual(self.f.robots_cpu_ms_per_message, 8.0)
        self.assertEqual(self.f.bots_measured, 2)
        self.assertEqual((self.f.bot_cpu_min_s, self.f.bot_cpu_max_s), (1.5, 2.5))
        self.assertAlmostEqual(self.f.bot_rss_mean_mib, 20.0)
        self.assertAlmostEqual(self.f.server_peak_rss_mib, 20.0)

    def test_per_message_counts_the_play_only(self):
        # As the play began: bot 1 at 0.5 s, bot 2 at 3.0 s (since started
        # again: its 2.5 s now all count), bot 3 not yet running; the
        # server at 1.0 s, the robots at 0.3 s.
        measured = ({1: (10240, 1.5), 2: (30720, 2.5), 3: (10240, 0.25)}, (20480, 3.0))
        before = {"measured": ({1: (9000, 0.5), 2: (9000, 3.0)}, (10000, 1.0)),
                  "robots_cpu_s": 0.3}
        f = bench.figures(lab(), PAIRS, measured, LAG, 50, "xmpp", 0.8, before=before)
        self.assertAlmostEqual(f.bots_cpu_s, 4.25)  # whole lives
        self.assertAlmostEqual(f.bots_play_cpu_s, 1.0 + 2.5 + 0.25)
        self.assertAlmostEqual(f.bots_cpu_ms_per_message, 37.5)
        self.assertAlmostEqual(f.server_play_cpu_s, 2.0)
        self.assertAlmostEqual(f.server_cpu_ms_per_message, 20.0)
        self.assertAlmostEqual(f.robots_play_cpu_s, 0.5)
        self.assertAlmostEqual(f.robots_cpu_ms_per_message, 5.0)

    def test_run_description(self):
        self.assertEqual((self.f.via, self.f.server, self.f.nodes, self.f.rounds),
                         ("websocket", "prosody", 1, 2))
        nodes = [record.Node("a", 1), record.Node("b", 2)]
        two = bench.figures(lab("ejabberd", nodes), PAIRS, MEASURED, LAG, 0, "xmpp", 0.1)
        self.assertEqual((two.server, two.nodes, two.stagger_ms), ("ejabberd", 2, 0))

    def test_lines_carry_the_per_message_figures(self):
        text = "\n".join(bench.report_lines(self.f))
        self.assertIn("robots via websocket", text)
        self.assertIn("4.00 s in all, 4.00 s in the play: 40.0 ms a message", text)
        self.assertIn("server: CPU 3.00 s (3.00 s in the play: 30.0 ms a message)", text)
        self.assertIn("p99 99.0 ms", text)

    def test_record_written_beside_the_session(self):
        with tempfile.TemporaryDirectory() as folder:
            path = bench.write_record(folder, self.f)
            self.assertEqual(path, os.path.join(folder, "bench.json"))
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
        for key in ("pairs", "rounds", "via", "server", "nodes", "stagger_ms", "messages",
                    "latency_p50_ms", "latency_p99_ms", "latency_max_ms", "server_cpu_s",
                    "server_cpu_ms_per_message", "bots_cpu_s", "bots_cpu_ms_per_message",
                    "robots_cpu_s", "lag_p99_ms", "date", "version"):
            self.assertIn(key, data)
        self.assertEqual(data["bots_cpu_ms_per_message"], 40.0)
        self.assertEqual((data["date"], data["version"]), ("2026-12-08T15:00:00Z", "v1-3-gabc"))


class NothingMeasuredTest(unittest.TestCase):
    def test_no_messages_no_stats_gives_nulls_not_nan(self):
        f = bench.figures(lab(), [FakePair([])], ({1: None}, None), [], 50, "xmpp", 0.5)
        self.assertEqual(f.messages, 0)
        self.assertIsNone(f.latency_p50_ms)
        self.assertIsNone(f.server_cpu_s)
        self.assertIsNone(f.bots_cpu_ms_per_message)
        self.assertIsNone(f.robots_cpu_ms_per_message)
        json.dumps(bench.record(f), allow_nan=False)  # raises on a NaN
        text = "\n".join(bench.report_lines(f))
        self.assertIn("p50 n/a", text)
        self.assertNotIn("server:", text)
        self.assertNotIn("bots:", text)

    def test_per_message(self):
        self.assertEqual(bench.per_message_ms(2.0, 400), 5.0)
        self.assertIsNone(bench.per_message_ms(2.0, 0))
        self.assertIsNone(bench.per_message_ms(None, 10))


COMPARE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                       "scripts", "bench-compare.py")


class CompareTest(unittest.TestCase):
    def test_two_records_side_by_side_with_the_change(self):
        first = bench.figures(lab(), PAIRS, MEASURED, LAG, 50, "xmpp", 0.8)
        faster = ({1: (10240, 1.0), 2: (30720, 1.0)}, (20480, 1.5))
        second = bench.figures(lab(), PAIRS, faster, [], 50, "websocket", 0.8)
        with tempfile.TemporaryDirectory() as folder:
            a, b = os.path.join(folder, "a"), os.path.join(folder, "b")
            os.mkdir(a)
            os.mkdir(b)
            done = subprocess.run([sys.executable, COMPARE, bench.write_record(a, first),
                                   bench.write_record(b, second)],
                                  capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = {line.split()[0]: line.split()[1:] for line in done.stdout.splitlines()[1:]}
        self.assertEqual(lines["via"], ["xmpp", "websocket"])
        self.assertEqual(lines["server_cpu_ms_per_message"], ["30.00", "15.00", "-50%"])
        self.assertEqual(lines["bots_cpu_s"], ["4.00", "2.00", "-50%"])
        self.assertEqual(lines["lag_p50_ms"], ["2.00", "-"])  # no lag measured in B


class VersionTest(unittest.TestCase):
    def test_git_describe_of_a_tree_or_none(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assertIsNone(bench.tree_version(folder))
            git = ["git", "-C", folder, "-c", "user.name=t", "-c", "user.email=t@t"]
            try:
                subprocess.run(git + ["init", "-q"], check=True)
                subprocess.run(git + ["commit", "-q", "--allow-empty", "-m", "x"], check=True)
            except (OSError, subprocess.CalledProcessError):
                self.skipTest("no git")
            head = subprocess.run(git + ["rev-parse", "--short", "HEAD"], capture_output=True,
                                  text=True).stdout.strip()
            self.assertEqual(bench.tree_version(folder), head)


if __name__ == "__main__":
    unittest.main()
