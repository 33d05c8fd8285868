#!/usr/bin/python3
"""The pay rule's reach and the warning for a rule that pays everyone the
same, on the game's own numbers."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import fixtures  # noqa: E402
from wexlab.model import pay_rule  # noqa: E402

DEFAULTS = {"CreditValue": "0.0075", "MinPayout": "10", "MaxPayout": "25"}
GAME = {"NRounds": "10", "ConversationInterval": "5", "MarketBase": "1",
        "MarketNoiseScale": "0.4", "MarketNoise": "0.25,0.75"}


class ReachTest(unittest.TestCase):
    def test_bounds_of_the_rehearsal_game(self):
        found = pay_rule.reach(GAME, DEFAULTS)
        # Divisors 0.9 and 1.1 in turn. Least: invest nothing while the
        # partner invests nothing (60) or, at 1.1, invest all alone
        # (60 / 1.1); most: both invest all at 0.9 (120 / 0.9), the
        # partner alone at 1.1 (60 + 60 / 1.1), and two bonuses of 100.
        self.assertAlmostEqual(found.least_credits, 5 * 60 + 5 * 60 / 1.1)
        self.assertAlmostEqual(found.most_credits, 5 * 120 / 0.9 + 5 * (60 + 60 / 1.1) + 200)
        self.assertEqual(found.least_payout, 10)
        self.assertAlmostEqual(found.most_payout, found.most_credits * 0.0075)

    def test_the_rule_as_the_bot_pays(self):
        rule = pay_rule.PayRule(0.01, 5, 30)
        self.assertEqual((rule.payout(100), rule.payout(1000), rule.payout(5000)), (5, 10, 30))

    def test_a_divisor_of_zero_is_not_judged(self):
        self.assertIsNone(pay_rule.reach(dict(GAME, MarketBase="0.2", MarketNoise="0"),
                                         DEFAULTS))


class WarningTest(unittest.TestCase):
    def test_a_rule_that_always_pays_the_minimum(self):
        line = pay_rule.warning("treatment low", dict(GAME, CreditValue="0.005"), DEFAULTS)
        self.assertIn("treatment low pays every subject the minimum $10.00", line)
        for key in ("CreditValue 0.005", "MinPayout 10", "MaxPayout 25"):
            self.assertIn(key, line)

    def test_a_rule_that_always_pays_the_maximum(self):
        line = pay_rule.warning("the session", dict(GAME, CreditValue="1"), DEFAULTS)
        self.assertIn("the session pays every subject the maximum $25.00", line)

    def test_a_rule_whose_pay_depends_on_play(self):
        self.assertIsNone(pay_rule.warning("the session", GAME, DEFAULTS))
        self.assertIsNone(pay_rule.warning("treatment high", dict(
            GAME, CreditValue="0.02", MaxPayout="40", NRounds="12"), DEFAULTS))

    def test_each_treatment_of_a_session_file(self):
        # low: CreditValue 0.005 over ten rounds cannot reach $10; high can.
        session = fixtures.parse(fixtures.TREATED)
        lines = pay_rule.session_warnings(session)
        self.assertEqual(len(lines), 1)
        self.assertIn("treatment low pays every subject the minimum", lines[0])
        self.assertEqual(pay_rule.session_warnings(fixtures.parse(fixtures.GOOD)), [])


if __name__ == "__main__":
    unittest.main()
