#!/usr/bin/python3
"""Unit tests of the session file: its keys, values and faults, each named
with its line."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import bot_config, plan  # noqa: E402
from wexlab.model import session_file  # noqa: E402
from fixtures import GOOD, replaced


class SessionFileTest(unittest.TestCase):
    def test_good_file_gives_subjects_seed_and_bot_keys(self):
        s = session_file.parse_session(GOOD, "lab.conf")
        self.assertEqual(s.subjects, ["ann", "bob", "cy", "dee"])
        self.assertEqual((s.seed, s.rounds, s.moderator, s.pair_count()), (42, 10, "mod", 2))
        conf = bot_config.bot_config(s, "pair01", "cy", "ann")
        self.assertIn("BotUsername pair01\nSubject1Name cy\nSubject2Name ann\n", conf)
        self.assertIn("\nMarketNoise 0.25,0.75\n", conf)
        self.assertNotIn("Subjects", conf)
        self.assertNotIn("Seed", conf)
        self.assertEqual(plan.service_parts(s), ("lab.wex", "10.0.0.5", 5222, False))

    def test_a_plain_service_needs_no_trust(self):
        plain = "Service xmpp:lab.wex@127.0.0.1:5333;tls=off"
        s = session_file.parse_session(replaced("Service", plain))
        self.assertEqual(plan.service_parts(s), ("lab.wex", "127.0.0.1", 5333, True))

    def test_faults_name_the_line_and_the_reason(self):
        cases = [
            (replaced("Subjects", "Subjects ann bob cy"), 13, "even number of names"),
            (replaced("Subjects", "Subjects ann"), 13, "even number"),
            (replaced("Subjects", "Subjects ann Bob cy dee"), 13, "'Bob' cannot be"),
            (replaced("Subjects", "Subjects ann bob cy ann"), 13, "'ann' appears twice"),
            (replaced("Subjects", "Subjects ann bob cy mod"), 13, "'mod' appears twice"),
            (replaced("Subjects", "Subjects ann bob cy pair07"), 13, "wexlab gives"),
            (replaced("Subjects", "Subjects ann bob cy averyveryverylongname"), 13, "cannot be"),
            (GOOD + "Seed 7\n", 15, "Seed appears twice (first on line 14)"),
            (GOOD + "NRound 3\n", 15, "unknown key 'NRound'"),
            (GOOD + "BotUsername x\n", 15, "written by wexlab"),
            (GOOD + " Seed 7\n", 15, "must begin with its key"),
            (replaced("NRounds", "NRounds 0"), 5, "at least 1"),
            (replaced("NRounds", "NRounds ten"), 5, "whole number"),
            (replaced("ConversationInterval", "ConversationInterval 2.5"), 6, "whole number"),
            (replaced("MarketNoise", "MarketNoise 0.25,x"), 9, "must be a number"),
            (replaced("MarketBase", "MarketBase nan"), 7, "finite"),
            (replaced("MarketBase", "MarketBase 0").replace("0.25,0.75", "0.25,0.5"), 9,
             "the noise 0.5 gives a market divisor of 0"),
            (replaced("Service", "Service sim:x.scenario"), 2, "xmpp: service"),
            (replaced("Service", "Service xmpp:lab.wex"), 2, "address and port"),
            (replaced("Service", "Service xmpp:lab.wex@10.0.0.5;trust=any"), 2,
             "address and port"),
            (replaced("Service", "Service xmpp:lab.wex@10.0.0.5:x;trust=any"), 2,
             "address and port"),
            (replaced("Service", "Service xmpp:lab.wex@10.0.0.5:5222"), 2, "trust=any"),
            (replaced("LogFile", "LogFile logs/lab"), 4, "file name"),
            (replaced("Seed", None), 0, "Seed is missing"),
            (GOOD + "CreditValue -0.01\n", 15, "CreditValue must be a number of 0 or more"),
            (GOOD + "MaxPayout lots\n", 15, "MaxPayout must be a number of 0 or more"),
            (GOOD + "MinPayout 30\n", 15, "MinPayout (30) must not exceed MaxPayout (25)"),
            (GOOD + "MaxPayout 5\nMinPayout 8\n", 16, "MinPayout (8) must not exceed"),
            (GOOD + "FloodSeconds 0\n", 15, "FloodSeconds must be at least 1"),
            (GOOD + "FloodLimit 100001\n", 15, "FloodLimit must be at most 100000"),
            (GOOD + "MaxMessageBytes 63\n", 15, "MaxMessageBytes must be at least 64"),
        ]
        for text, line, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(session_file.SessionError) as caught:
                    session_file.parse_session(text, "lab.conf")
                where = f"lab.conf:{line}: " if line else "lab.conf: "
                self.assertTrue(str(caught.exception).startswith(where), str(caught.exception))
                self.assertIn(reason, str(caught.exception))

    def test_crlf_and_trailing_blanks_are_accepted(self):
        s = session_file.parse_session(GOOD.replace("Seed 42", "Seed 42  \t").replace("\n", "\r\n"))
        self.assertEqual(s.seed, 42)
        self.assertEqual(s.values["LogFile"], "lab")


if __name__ == "__main__":
    unittest.main()
