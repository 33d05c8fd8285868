#!/usr/bin/python3
"""Unit tests of the robots' pacing: no pair begins before every robot is
online, then the pairs begin in order, a set time apart."""

import asyncio
import os
import sys
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.rehearsal import robots  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402


def make_pairs(count):
    return [robots.Pair(lab_file.Pair(i, f"pair{i:02d}", "", ""), 1) for i in range(1, count + 1)]


class GreetTest(unittest.TestCase):
    def test_pairs_wait_for_go_then_start_in_order_apart(self):
        waits = []
        real_sleep = asyncio.sleep

        async def fake_sleep(seconds):
            waits.append(seconds)
            await real_sleep(0)

        async def scenario():
            pairs = make_pairs(3)
            sent = []
            tasks = [asyncio.ensure_future(p.greet(lambda p=p: sent.append(p.index), lambda: 1))
                     for p in reversed(pairs)]
            for _ in range(5):
                await real_sleep(0)
            self.assertEqual(sent, [], "a pair began before every robot was online")
            for pair in pairs:
                pair.stagger = 0.05
                pair.go.set()
            await asyncio.wait_for(asyncio.gather(*tasks), 5)
            return sent

        with mock.patch.object(robots.asyncio, "sleep", fake_sleep):
            sent = asyncio.run(scenario())
        self.assertEqual(sorted(sent), [1, 2, 3])
        self.assertEqual(sorted(waits), [0.0, 0.05, 0.1])

    def test_greeting_counts_as_one_message_in_flight(self):
        async def scenario():
            pair = make_pairs(1)[0]
            pair.go.set()
            await pair.greet(lambda: None, lambda: 2)
            return pair

        pair = asyncio.run(scenario())
        self.assertEqual(pair.pending, 2)
        self.assertFalse(pair.settled.is_set())


class PercentileTest(unittest.TestCase):
    def test_percentiles_of_few_and_no_samples(self):
        self.assertEqual(robots.percentile([5.0, 1.0, 3.0], 0.5), 3.0)
        self.assertEqual(robots.percentile([5.0, 1.0, 3.0], 0.99), 5.0)
        self.assertTrue(robots.percentile([], 0.5) != robots.percentile([], 0.5))  # NaN


if __name__ == "__main__":
    unittest.main()
