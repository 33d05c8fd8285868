#!/usr/bin/python3
"""Unit tests of treatments: their lines and faults, how the pairs are
spread over them, each pair's configuration."""

import argparse
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import record as lab_file  # noqa: E402
from wexlab.model import bot_config, matching, plan  # noqa: E402
from wexlab.model import session_file, treatments  # noqa: E402
from wexlab.rehearsal import play  # noqa: E402
from fixtures import GOOD, TREATED, bot_keys, checked, config_values, parse


class TreatmentTest(unittest.TestCase):
    def test_assignment_is_balanced_and_reproducible_from_the_seed(self):
        for pairs, names, wanted in ((5, ["a", "b"], [3, 2]), (1, ["a", "b"], [1, 0]),
                                     (4, ["a", "b"], [2, 2]), (7, ["a", "b", "c"], [3, 2, 2]),
                                     (9, ["a", "b", "c"], [3, 3, 3]), (3, ["a"], [3]),
                                     (11, ["a", "b", "c", "d"], [3, 3, 3, 2])):
            for seed in range(25):
                with self.subTest(pairs=pairs, names=names, seed=seed):
                    given = treatments.assign_treatments(names, pairs, seed)
                    self.assertEqual([given.count(n) for n in names], wanted)
                    self.assertEqual(given, treatments.assign_treatments(list(names), pairs, seed))
        self.assertEqual(treatments.assign_treatments([], 3, 1), [None, None, None])

    def test_the_seed_draws_the_assignment(self):
        drawn = {tuple(treatments.assign_treatments(["a", "b"], 5, seed)) for seed in range(40)}
        # 5 pairs, 3 a and 2 b: ten orders, and forty seeds meet most of them.
        self.assertGreaterEqual(len(drawn), 8)
        first = treatments.assign_treatments(["a", "b"], 5, 0)
        other = next(seed for seed in range(1, 40)
                     if treatments.assign_treatments(["a", "b"], 5, seed) != first)
        self.assertNotEqual(treatments.assign_treatments(["a", "b"], 5, other), first)

    def test_treatments_leave_the_matching_alone(self):
        plain = plan.new_lab(parse(GOOD), "wexbot")
        treated = plan.new_lab(parse(TREATED), "wexbot")
        self.assertEqual([(p.subject1, p.subject2) for p in plain.pairs],
                         [(p.subject1, p.subject2) for p in treated.pairs])
        self.assertNotIn("treatments", lab_file.to_json(plain))
        self.assertTrue(all(p.treatment is None for p in plain.pairs))
        self.assertEqual(matching.matching_text(plain).split("\n")[0], "pair,bot,subject1,subject2")

    def test_each_pair_configuration_carries_its_treatment(self):
        s = parse(TREATED, "lab.conf")
        self.assertEqual([t.name for t in s.treatments], ["high", "low"])
        record = plan.new_lab(s, "wexbot")
        self.assertEqual(sorted(p.treatment for p in record.pairs), ["high", "low"])
        wanted = {"high": {"CreditValue": "0.02", "MaxPayout": "40", "NRounds": "12"},
                  "low": {"CreditValue": "0.005", "NRounds": "10"}}
        for pair in record.pairs:
            with self.subTest(pair=pair.bot):
                values = config_values(bot_config.bot_config(
                    s, pair.bot, pair.subject1, pair.subject2, pair.treatment))
                for key, value in wanted[pair.treatment].items():
                    self.assertEqual(values[key], value)
                if pair.treatment == "low":
                    self.assertNotIn("MaxPayout", values)  # the session sets none
                # The session's other keys are there as before.
                for key in ("MarketNoise", "MaxChatIdle", "Service", "LogFile"):
                    self.assertEqual(values[key], s.values[key])
                self.assertEqual(values["BotUsername"], pair.bot)
                self.assertEqual(pair.rounds, int(wanted[pair.treatment]["NRounds"]))
        self.assertEqual(matching.matching_text(record).split("\n")[0],
                         "pair,bot,subject1,subject2,treatment")
        # A treatment's key overrides a session's value of the same key.
        s = parse(GOOD + "CreditValue 0.01\nTreatment a\n"
                                       "Treatment b CreditValue 0.03\nTreatments a b\n")
        self.assertEqual(config_values(bot_config.bot_config(s, "p", "x", "y", "a"))["CreditValue"],
                         "0.01")
        self.assertEqual(config_values(bot_config.bot_config(s, "p", "x", "y", "b"))["CreditValue"],
                         "0.03")

    def test_the_session_file_of_a_rehearsal(self):
        folder = tempfile.mkdtemp(prefix="wexlab-rehearsal-")
        self.addCleanup(shutil.rmtree, folder)
        given = os.path.join(folder, "given.conf")
        with open(given, "w", encoding="utf-8") as f:
            f.write(TREATED)
        args = argparse.Namespace(session=given, pairs=5, rounds=None, seed=None)
        s = session_file.read_session(play.rehearsal_session(folder, args, bot_keys()),
                                     bot_keys())
        self.assertEqual(s.subjects, [f"robot{i:02d}" for i in range(1, 11)])
        self.assertEqual((s.seed, s.rounds), (42, 10))
        self.assertEqual([(t.name, t.values) for t in s.treatments],
                         [("high", {"CreditValue": "0.02", "MaxPayout": "40", "NRounds": "12"}),
                          ("low", {"CreditValue": "0.005"})])
        self.assertTrue(s.values["Service"].startswith("xmpp:lab.wex@127.0.0.1:"))
        args = argparse.Namespace(session=None, pairs=None, rounds=None, seed=None)
        s = session_file.read_session(play.rehearsal_session(folder, args, bot_keys()),
                                     bot_keys())
        self.assertEqual((s.pair_count(), s.rounds, s.seed, s.treatments), (3, 4, 1, []))
        self.assertEqual(s.values["ConversationInterval"], "2")
        args = argparse.Namespace(session=given, pairs=None, rounds=3, seed=9)
        s = session_file.read_session(play.rehearsal_session(folder, args, bot_keys()),
                                     bot_keys())
        self.assertEqual((s.subjects, s.rounds, s.seed), (["ann", "bob", "cy", "dee"], 3, 9))
        self.assertEqual(s.values["ConversationInterval"], "5")

    def test_faults_of_treatments_name_the_line_and_its_text(self):
        head = GOOD  # lines 1 to 14
        # The texts of the values and the rules over several keys are the
        # bot's own, from its check of the treatment's configuration, at the
        # Treatment line of the key (else the treatment's first line).
        cases = [
            (head + "Treatment a CreditValue 0.01\nTreatment a Subjects x y\nTreatments a\n",
             16, "'Treatment a Subjects x y': unknown key 'Subjects' for a treatment"),
            (head + "Treatment a NRound 3\nTreatments a\n", 15, "unknown key 'NRound'"),
            (head + "Treatment a ModeratorName boss\nTreatments a\n", 15,
             "'Treatment a ModeratorName boss': a treatment may not set ModeratorName"),
            (head + "Treatment a BotUsername x\nTreatments a\n", 15,
             "a treatment may not set BotUsername"),
            (head + "Treatment a NRounds 3\nTreatments a b\n", 16,
             "'Treatments a b': treatment 'b' has no Treatment lines"),
            (head + "Treatments a b\n", 15, "treatment 'a' has no Treatment lines"),
            (head + "Treatment a NRounds 3\nTreatment b NRounds 4\nTreatments b\n", 15,
             "'Treatment a NRounds 3': treatment 'a' is not in the Treatments line (line 17)"),
            (head + "Treatment a NRounds 3\n", 15,
             "'Treatment a NRounds 3': Treatment lines need a Treatments line"),
            (head + "Treatment a NRounds 3\nTreatments a a\n", 16, "'a' appears twice"),
            (head + "Treatment a NRounds 3\nTreatments a\nTreatments a\n", 17,
             "Treatments appears twice (first on line 16)"),
            (head + "Treatments\n", 15, "Treatments needs at least one name"),
            (head + "Treatment a NRounds 3\nTreatment a NRounds 4\nTreatments a\n", 16,
             "NRounds appears twice in treatment a (first on line 15)"),
            (head + "Treatment a NRounds\nTreatments a\n", 15, "NRounds needs a value"),
            (head + "Treatment a NRounds 0\nTreatments a\n", 15,
             "'Treatment a NRounds 0': NRounds must be at least 1"),
            (head + "Treatment a/b NRounds 3\nTreatments a/b\n", 15,
             "'a/b' cannot be a treatment's name"),
            (head + "Treatment a MinPayout 30\nTreatments a\n", 15,
             "with treatment a's values MinPayout (30) must not exceed MaxPayout (25)"),
            (head + "Treatment a CreditValue 1\nTreatment a MarketBase 0\n"
             "Treatment a MarketNoise 0.5\nTreatments a\n", 17,
             "'Treatment a MarketNoise 0.5': with treatment a's values MarketNoise element 1 "
             "gives a market divisor of 0"),
            # The divisor of the session's MarketNoise with the treatment's
            # base and scale: at the treatment's first line.
            (head + "Treatment a MarketBase 0\nTreatment a MarketNoiseScale 0\nTreatments a\n",
             15, "'Treatment a MarketBase 0': with treatment a's values MarketNoise element 1 "
             "gives a market divisor of 0"),
            # Out of the bot's range: its check, at the Treatment line.
            (head + "Treatment ok NRounds 3\nTreatment a CreditValue 1\n"
             "Treatment a FloodLimit 100001\nTreatments ok a\n", 17,
             "'Treatment a FloodLimit 100001': with treatment a's values FloodLimit must be a "
             "whole number from 0 to 100000"),
            (head + "Treatment a NRounds 100001\nTreatments a\n", 15,
             "with treatment a's values NRounds must be at most 100000"),
            (head + "Treatment a TimeoutAnswer soon\nTreatments a\n", 15,
             'with treatment a\'s values TimeoutAnswer must be "last" or a whole number'),
        ]
        for text, line, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(session_file.SessionError) as caught:
                    checked(text, "lab.conf")
                self.assertTrue(str(caught.exception).startswith(f"lab.conf:{line}: "),
                                str(caught.exception))
                self.assertIn(reason, str(caught.exception))

    def test_a_treatment_may_set_the_keys_the_table_marks_and_no_other(self):
        keys = bot_keys()
        settable = set()
        for key in keys.names() + ("Subjects", "Seed", "Web", "Treatments", "NoSuchKey"):
            try:
                parse(GOOD + f"Treatment a {key} 1\nTreatments a\n", "lab.conf")
                settable.add(key)
            except session_file.SessionError as e:
                self.assertRegex(str(e), f"lab.conf:15: .*(a treatment may not set {key}|"
                                 f"unknown key '{key}' for a treatment)")
        self.assertEqual(settable, set(keys.treatment_names()))
        # The lab's rules hold the keys a treatment may set.
        self.assertLessEqual({"NRounds", "MaxChatTime", "MaxChatIdle"}, settable)

    def test_a_session_file_written_back_reads_the_same(self):
        s = parse(TREATED)
        again = parse(session_file.session_text(s.values, s.treatments))
        self.assertEqual(again.values, s.values)
        self.assertEqual([(t.name, t.values) for t in again.treatments],
                         [(t.name, t.values) for t in s.treatments])
        s = parse(GOOD + "Treatment ctl\nTreatment x FloodLimit 0\n"
                                       "Treatments ctl x\n")
        self.assertEqual([(t.name, t.values) for t in s.treatments],
                         [("ctl", {}), ("x", {"FloodLimit": "0"})])
        self.assertIn("\nTreatment ctl\n", session_file.session_text(s.values, s.treatments))


if __name__ == "__main__":
    unittest.main()
