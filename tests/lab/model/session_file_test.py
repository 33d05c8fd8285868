#!/usr/bin/python3
"""Unit tests of the session file: its keys, values and faults, each named
with its line, wexlab's own and those the built wexbot's check finds."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import bot_config, plan  # noqa: E402
from wexlab.model import session_file, values  # noqa: E402
from fixtures import GOOD, bot_keys, checked, parse, replaced


class SessionFileTest(unittest.TestCase):
    def test_good_file_gives_subjects_seed_and_bot_keys(self):
        s = parse(GOOD, "lab.conf")
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
        s = parse(replaced("Service", plain))
        self.assertEqual(plan.service_parts(s), ("lab.wex", "127.0.0.1", 5333, True))

    def test_faults_name_the_line_and_the_reason(self):
        # The texts of the game keys' values and of the market and the pay
        # bounds are the bot's own, from its check.
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
            (GOOD + "Resume journal.wexj\n", 15, "written by wexlab"),
            (GOOD + " Seed 7\n", 15, "must begin with its key"),
            (replaced("NRounds", "NRounds 0"), 5, "NRounds must be at least 1"),
            (replaced("MaxChatTime", "MaxChatTime 0"), 10, "MaxChatTime must be at least 1"),
            (replaced("MaxChatIdle", "MaxChatIdle -5"), 11, "MaxChatIdle must be at least 1"),
            (replaced("NRounds", "NRounds ten"), 5, "NRounds is not a whole number"),
            (replaced("NRounds", "NRounds 100001"), 5, "NRounds must be at most 100000"),
            (replaced("ConversationInterval", "ConversationInterval 2.5"), 6,
             "ConversationInterval is not a whole number"),
            (replaced("MarketNoise", "MarketNoise 0.25,x"), 9,
             'MarketNoise element 2 must be a finite number, found "x"'),
            (replaced("MarketBase", "MarketBase nan"), 7, "MarketBase must be a finite number"),
            (replaced("MarketBase", "MarketBase 0").replace("0.25,0.75", "0.25,0.5"), 9,
             "MarketNoise element 2 gives a market divisor of 0"),
            (replaced("Service", "Service sim:x.scenario"), 2, "xmpp: service"),
            (replaced("Service", "Service xmpp:lab.wex"), 2, "address and port"),
            (replaced("Service", "Service xmpp:lab.wex@10.0.0.5;trust=any"), 2,
             "address and port"),
            (replaced("Service", "Service xmpp:lab.wex@10.0.0.5:x;trust=any"), 2,
             "address and port"),
            (replaced("Service", "Service xmpp:lab.wex@10.0.0.5:5222"), 2, "trust=any"),
            (replaced("LogFile", "LogFile logs/lab"), 4, "file name"),
            (replaced("Seed", None), 0, "Seed is missing"),
            (replaced("MarketNoise", None), 0, "MarketNoise is missing"),
            (GOOD + "CreditValue -0.01\n", 15, "CreditValue must be a number of 0 or more"),
            (GOOD + "MaxPayout lots\n", 15, "MaxPayout must be a number of 0 or more"),
            (GOOD + "MinPayout 30\n", 15, "MinPayout (30) must not exceed MaxPayout (25)"),
            (GOOD + "MaxPayout 5\nMinPayout 8\n", 16, "MinPayout (8) must not exceed"),
            (GOOD + "FloodSeconds 0\n", 15, "FloodSeconds must be a whole number from 1 to 3600"),
            (GOOD + "FloodLimit 100001\n", 15,
             "FloodLimit must be a whole number from 0 to 100000"),
            (GOOD + "MaxMessageBytes 63\n", 15,
             "MaxMessageBytes must be a whole number from 64 to 1048576"),
            (GOOD + "TimeoutAnswer soon\n", 15, 'TimeoutAnswer must be "last" or a whole number'),
        ]
        for text, line, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(session_file.SessionError) as caught:
                    checked(text, "lab.conf")
                where = f"lab.conf:{line}: " if line else "lab.conf: "
                self.assertTrue(str(caught.exception).startswith(where), str(caught.exception))
                self.assertIn(reason, str(caught.exception))

    def test_every_fault_the_bot_finds_is_reported_at_its_line(self):
        text = replaced("NRounds", "NRounds 100001") + "FloodLimit -1\nMinPayout 30\n"
        with self.assertRaises(session_file.SessionError) as caught:
            checked(text, "lab.conf")
        self.assertEqual(str(caught.exception).split("\n"), [
            "lab.conf:5: NRounds must be at most 100000, found 100001",
            'lab.conf:15: FloodLimit must be a whole number from 0 to 100000, found "-1"',
            "lab.conf:16: MinPayout (30) must not exceed MaxPayout (25)"])

    def test_the_keys_are_the_bot_tables_and_wexlabs_own(self):
        keys = bot_keys()
        # wexlab writes these for each pair: the bot must know them all.
        self.assertEqual([k for k in values.PER_PAIR_KEYS if k not in keys], [])
        # wexlab's own keys never reach a bot, so none may be one of its.
        self.assertEqual([k for k in values.LAB_KEYS if k in keys], [])
        self.assertEqual([k for k in values.LAB_RULES if k not in keys], [])
        # Every bot key a session may give is accepted (the bot's check
        # judges its value) and goes into each pair's configuration.
        for key in keys.names():
            if key in values.PER_PAIR_KEYS or key in values.LAB_RULES or key in GOOD:
                continue
            with self.subTest(key=key):
                s = parse(GOOD + f"{key} 1\n")
                self.assertIn(f"\n{key} 1\n", bot_config.bot_config(s, "pair01", "ann", "bob"))
        self.assertEqual(session_file.required_keys(keys)[-2:], ("Subjects", "Seed"))
        self.assertTrue({"Service", "ModeratorName", "LogFile", "NRounds", "MarketNoise"}
                        <= set(session_file.required_keys(keys)))
        self.assertNotIn("BotUsername", session_file.required_keys(keys))

    def test_crlf_and_trailing_blanks_are_accepted(self):
        s = parse(GOOD.replace("Seed 42", "Seed 42  \t").replace("\n", "\r\n"))
        self.assertEqual(s.seed, 42)
        self.assertEqual(s.values["LogFile"], "lab")


if __name__ == "__main__":
    unittest.main()
