#!/usr/bin/python3
"""Unit tests of the matching: pairs drawn from the seed, their names,
matching.csv and --only."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import matching  # noqa: E402
from wexlab.model import session_file  # noqa: E402


class MatchingTest(unittest.TestCase):
    NAMES = [f"s{i:02d}" for i in range(1, 21)]

    def test_same_seed_same_pairs_every_subject_once(self):
        first = matching.match(self.NAMES, 7)
        self.assertEqual(first, matching.match(list(self.NAMES), 7))
        self.assertEqual(len(first), 10)
        self.assertEqual(sorted(n for pair in first for n in pair), self.NAMES)

    def test_other_seeds_give_other_matchings(self):
        matchings = {tuple(matching.match(self.NAMES, seed)) for seed in range(20)}
        self.assertEqual(len(matchings), 20)

    def test_matching_file_and_pair_names(self):
        text = matching.matching_csv([("cy", "ann"), ("dee", "bob")])
        self.assertEqual(text, "pair,bot,subject1,subject2\n1,pair01,cy,ann\n2,pair02,dee,bob\n")
        self.assertEqual(matching.pair_name(7, 99), "pair07")
        self.assertEqual(matching.pair_name(7, 100), "pair007")

    def test_only_names_a_subset_of_pairs(self):
        self.assertEqual(matching.parse_only("1-3,5", 6), [1, 2, 3, 5])
        self.assertEqual(matching.parse_only("2,2-3", 6), [2, 3])
        self.assertEqual(matching.parse_only(None, 3), [1, 2, 3])
        self.assertEqual(matching.parse_only("none", 3), [])
        for bad in ("0-2", "3-7", "4-2", "x", "1,,2"):
            with self.subTest(bad=bad), self.assertRaises(session_file.SessionError):
                matching.parse_only(bad, 6)


# GOOD with two treatments; lines 15 to 19.


if __name__ == "__main__":
    unittest.main()
