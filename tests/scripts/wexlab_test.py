#!/usr/bin/python3
"""Unit tests of wexlab's pieces that need no server: the session file, the
matching, the merged data files, the report page, and the modes of the
files that hold passwords."""

import argparse
import contextlib
import csv
import io
import json
import os
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
sys.dont_write_bytecode = True

from wexlab_lib import bots, collect, commands, ejabberd, lab, lab_server, report  # noqa: E402
from wexlab_lib import nodes, session  # noqa: E402

try:
    import yaml  # the nodes' configuration is YAML
except ImportError:
    yaml = None

GOOD = """# a lab session
Service xmpp:lab.wex@10.0.0.5:5222;trust=any
ModeratorName mod
LogFile lab
NRounds 10
ConversationInterval 5
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60

Subjects ann bob cy dee
Seed 42
"""


def replaced(key, line):
    """GOOD with the line of key replaced (None removes it)."""
    lines = [line if l.startswith(key + " ") else l for l in GOOD.split("\n")]
    return "\n".join(l for l in lines if l is not None)


class SessionFileTest(unittest.TestCase):
    def test_good_file_gives_subjects_seed_and_bot_keys(self):
        s = session.parse_session(GOOD, "lab.conf")
        self.assertEqual(s.subjects, ["ann", "bob", "cy", "dee"])
        self.assertEqual((s.seed, s.rounds, s.moderator, s.pair_count()), (42, 10, "mod", 2))
        conf = session.bot_config(s, "pair01", "cy", "ann")
        self.assertIn("BotUsername pair01\nSubject1Name cy\nSubject2Name ann\n", conf)
        self.assertIn("\nMarketNoise 0.25,0.75\n", conf)
        self.assertNotIn("Subjects", conf)
        self.assertNotIn("Seed", conf)
        self.assertEqual(lab.service_parts(s), ("lab.wex", "10.0.0.5", 5222, False))

    def test_a_plain_service_needs_no_trust(self):
        plain = "Service xmpp:lab.wex@127.0.0.1:5333;tls=off"
        s = session.parse_session(replaced("Service", plain))
        self.assertEqual(lab.service_parts(s), ("lab.wex", "127.0.0.1", 5333, True))

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
                with self.assertRaises(session.SessionError) as caught:
                    session.parse_session(text, "lab.conf")
                where = f"lab.conf:{line}: " if line else "lab.conf: "
                self.assertTrue(str(caught.exception).startswith(where), str(caught.exception))
                self.assertIn(reason, str(caught.exception))

    def test_crlf_and_trailing_blanks_are_accepted(self):
        s = session.parse_session(GOOD.replace("Seed 42", "Seed 42  \t").replace("\n", "\r\n"))
        self.assertEqual(s.seed, 42)
        self.assertEqual(s.values["LogFile"], "lab")


class MatchingTest(unittest.TestCase):
    NAMES = [f"s{i:02d}" for i in range(1, 21)]

    def test_same_seed_same_pairs_every_subject_once(self):
        first = session.match(self.NAMES, 7)
        self.assertEqual(first, session.match(list(self.NAMES), 7))
        self.assertEqual(len(first), 10)
        self.assertEqual(sorted(n for pair in first for n in pair), self.NAMES)

    def test_other_seeds_give_other_matchings(self):
        matchings = {tuple(session.match(self.NAMES, seed)) for seed in range(20)}
        self.assertEqual(len(matchings), 20)

    def test_matching_file_and_pair_names(self):
        text = session.matching_csv([("cy", "ann"), ("dee", "bob")])
        self.assertEqual(text, "pair,bot,subject1,subject2\n1,pair01,cy,ann\n2,pair02,dee,bob\n")
        self.assertEqual(session.pair_name(7, 99), "pair07")
        self.assertEqual(session.pair_name(7, 100), "pair007")

    def test_only_names_a_subset_of_pairs(self):
        self.assertEqual(session.parse_only("1-3,5", 6), [1, 2, 3, 5])
        self.assertEqual(session.parse_only("2,2-3", 6), [2, 3])
        self.assertEqual(session.parse_only(None, 3), [1, 2, 3])
        self.assertEqual(session.parse_only("none", 3), [])
        for bad in ("0-2", "3-7", "4-2", "x", "1,,2"):
            with self.subTest(bad=bad), self.assertRaises(session.SessionError):
                session.parse_only(bad, 6)


# GOOD with two treatments; lines 15 to 19.
TREATED = GOOD + """Treatment low CreditValue 0.005
Treatment high CreditValue 0.02
Treatment high MaxPayout 40
Treatment high NRounds 12
Treatments high low
"""


def config_values(text):
    """A bot configuration's keys as the bot reads them: the first entry counts."""
    values = {}
    for line in text.splitlines():
        key, _, value = line.partition(" ")
        values.setdefault(key, value)
    return values


class TreatmentTest(unittest.TestCase):
    def test_assignment_is_balanced_and_reproducible_from_the_seed(self):
        for pairs, names, wanted in ((5, ["a", "b"], [3, 2]), (1, ["a", "b"], [1, 0]),
                                     (4, ["a", "b"], [2, 2]), (7, ["a", "b", "c"], [3, 2, 2]),
                                     (9, ["a", "b", "c"], [3, 3, 3]), (3, ["a"], [3]),
                                     (11, ["a", "b", "c", "d"], [3, 3, 3, 2])):
            for seed in range(25):
                with self.subTest(pairs=pairs, names=names, seed=seed):
                    given = session.assign_treatments(names, pairs, seed)
                    self.assertEqual([given.count(n) for n in names], wanted)
                    self.assertEqual(given, session.assign_treatments(list(names), pairs, seed))
        self.assertEqual(session.assign_treatments([], 3, 1), [None, None, None])

    def test_the_seed_draws_the_assignment(self):
        drawn = {tuple(session.assign_treatments(["a", "b"], 5, seed)) for seed in range(40)}
        # 5 pairs, 3 a and 2 b: ten orders, and forty seeds meet most of them.
        self.assertGreaterEqual(len(drawn), 8)
        first = session.assign_treatments(["a", "b"], 5, 0)
        other = next(seed for seed in range(1, 40)
                     if session.assign_treatments(["a", "b"], 5, seed) != first)
        self.assertNotEqual(session.assign_treatments(["a", "b"], 5, other), first)

    def test_treatments_leave_the_matching_alone(self):
        plain = lab.new_lab(session.parse_session(GOOD), "wexbot")
        treated = lab.new_lab(session.parse_session(TREATED), "wexbot")
        self.assertEqual([(p["subject1"], p["subject2"]) for p in plain["pairs"]],
                         [(p["subject1"], p["subject2"]) for p in treated["pairs"]])
        self.assertNotIn("treatments", plain)
        self.assertTrue(all("treatment" not in p for p in plain["pairs"]))
        self.assertEqual(lab.matching_text(plain).split("\n")[0], "pair,bot,subject1,subject2")

    def test_each_pair_configuration_carries_its_treatment(self):
        s = session.parse_session(TREATED, "lab.conf")
        self.assertEqual([t.name for t in s.treatments], ["high", "low"])
        record = lab.new_lab(s, "wexbot")
        self.assertEqual(sorted(p["treatment"] for p in record["pairs"]), ["high", "low"])
        wanted = {"high": {"CreditValue": "0.02", "MaxPayout": "40", "NRounds": "12"},
                  "low": {"CreditValue": "0.005", "NRounds": "10"}}
        for pair in record["pairs"]:
            with self.subTest(pair=pair["bot"]):
                values = config_values(session.bot_config(
                    s, pair["bot"], pair["subject1"], pair["subject2"], pair["treatment"]))
                for key, value in wanted[pair["treatment"]].items():
                    self.assertEqual(values[key], value)
                if pair["treatment"] == "low":
                    self.assertNotIn("MaxPayout", values)  # the session sets none
                # The session's other keys are there as before.
                for key in ("MarketNoise", "MaxChatIdle", "Service", "LogFile"):
                    self.assertEqual(values[key], s.values[key])
                self.assertEqual(values["BotUsername"], pair["bot"])
                self.assertEqual(pair["rounds"], int(wanted[pair["treatment"]]["NRounds"]))
        self.assertEqual(lab.matching_text(record).split("\n")[0],
                         "pair,bot,subject1,subject2,treatment")
        # A treatment's key overrides a session's value of the same key.
        s = session.parse_session(GOOD + "CreditValue 0.01\nTreatment a\n"
                                  "Treatment b CreditValue 0.03\nTreatments a b\n")
        self.assertEqual(config_values(session.bot_config(s, "p", "x", "y", "a"))["CreditValue"],
                         "0.01")
        self.assertEqual(config_values(session.bot_config(s, "p", "x", "y", "b"))["CreditValue"],
                         "0.03")

    def test_the_session_file_of_a_rehearsal(self):
        folder = tempfile.mkdtemp(prefix="wexlab-rehearsal-")
        self.addCleanup(shutil.rmtree, folder)
        given = os.path.join(folder, "given.conf")
        with open(given, "w", encoding="utf-8") as f:
            f.write(TREATED)
        args = argparse.Namespace(session=given, pairs=5, rounds=None, seed=None)
        s = session.read_session(commands.rehearsal_session(folder, args))
        self.assertEqual(s.subjects, [f"robot{i:02d}" for i in range(1, 11)])
        self.assertEqual((s.seed, s.rounds), (42, 10))
        self.assertEqual([(t.name, t.values) for t in s.treatments],
                         [("high", {"CreditValue": "0.02", "MaxPayout": "40", "NRounds": "12"}),
                          ("low", {"CreditValue": "0.005"})])
        self.assertTrue(s.values["Service"].startswith("xmpp:lab.wex@127.0.0.1:"))
        args = argparse.Namespace(session=None, pairs=None, rounds=None, seed=None)
        s = session.read_session(commands.rehearsal_session(folder, args))
        self.assertEqual((s.pair_count(), s.rounds, s.seed, s.treatments), (3, 4, 1, []))
        self.assertEqual(s.values["ConversationInterval"], "2")
        args = argparse.Namespace(session=given, pairs=None, rounds=3, seed=9)
        s = session.read_session(commands.rehearsal_session(folder, args))
        self.assertEqual((s.subjects, s.rounds, s.seed), (["ann", "bob", "cy", "dee"], 3, 9))
        self.assertEqual(s.values["ConversationInterval"], "5")

    def test_faults_of_treatments_name_the_line_and_its_text(self):
        head = GOOD  # lines 1 to 14
        cases = [
            (head + "Treatment a CreditValue 0.01\nTreatment a Subjects x y\nTreatments a\n",
             16, "'Treatment a Subjects x y': unknown key 'Subjects' for a treatment"),
            (head + "Treatment a NRound 3\nTreatments a\n", 15, "unknown key 'NRound'"),
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
             "Treatment a MarketNoise 0.5\nTreatments a\n", 15,
             "with treatment a's values the noise 0.5 gives a market divisor of 0"),
        ]
        for text, line, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(session.SessionError) as caught:
                    session.parse_session(text, "lab.conf")
                self.assertTrue(str(caught.exception).startswith(f"lab.conf:{line}: "),
                                str(caught.exception))
                self.assertIn(reason, str(caught.exception))

    def test_a_session_file_written_back_reads_the_same(self):
        s = session.parse_session(TREATED)
        again = session.parse_session(session.session_text(s.values, s.treatments))
        self.assertEqual(again.values, s.values)
        self.assertEqual([(t.name, t.values) for t in again.treatments],
                         [(t.name, t.values) for t in s.treatments])
        s = session.parse_session(GOOD + "Treatment ctl\nTreatment x FloodLimit 0\n"
                                  "Treatments ctl x\n")
        self.assertEqual([(t.name, t.values) for t in s.treatments],
                         [("ctl", {}), ("x", {"FloodLimit": "0"})])
        self.assertIn("\nTreatment ctl\n", session.session_text(s.values, s.treatments))


ROUNDS_HEADER = ("round,subject,name,expectation,investment,partner_investment,divisor,"
                 "earnings,bonus,total_credits,expectation_time,investment_time")


class CollectTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-test-")
        self.lab = {"log_file": "lab", "seed": 3, "rounds": 2,
                    "pairs": [{"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "ann"},
                              {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "bob"}]}
        for pair in ("pair01", "pair02"):
            os.makedirs(os.path.join(self.folder, pair))

    def tearDown(self):
        import shutil
        shutil.rmtree(self.folder)

    def write(self, pair, name, text):
        with open(os.path.join(self.folder, pair, name), "w", encoding="utf-8",
                  newline="") as f:
            f.write(text)

    def rounds(self, pair, names, rows):
        lines = [ROUNDS_HEADER]
        for r, s, e, i, total in rows:
            lines.append(f"{r},{s},{names[s - 1]},{e},{i},0,1,50,,{total},t,t")
        self.write(pair, "lab_20260101_100000_rounds.csv", "\r\n".join(lines) + "\r\n")

    def test_rows_of_every_pair_with_a_leading_pair_column(self):
        self.rounds("pair01", ["cy", "ann"], [(1, 1, 10, 20, 90), (1, 2, 30, 40, 80),
                                              (2, 1, 10, 20, 190), (2, 2, 30, 40, 160)])
        self.rounds("pair02", ["dee", "bob"], [(1, 1, 5, 6, 70), (1, 2, 7, 8, 75)])
        chat = 'time,round,from,text\r\nt,1,cy,"hi, ""you""\nthere"\r\nt,1,ann,done\r\n'
        self.write("pair02", "lab_20260101_100000_chat.csv", chat)
        tables = collect.collect(self.folder, self.lab)
        self.assertEqual(len(tables["rounds"]), 6)
        self.assertEqual([r["pair"] for r in tables["rounds"]], ["1"] * 4 + ["2"] * 2)
        with open(os.path.join(self.folder, "session_chat.csv"), newline="",
                  encoding="utf-8") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["pair", "time", "round", "from", "text"])
        self.assertEqual(rows[1], ["2", "t", "1", "cy", 'hi, "you"\nthere'])
        with open(os.path.join(self.folder, "session_payouts.csv"), encoding="utf-8") as f:
            self.assertEqual(f.read().strip(), "pair")  # no pair has reached its payouts

    def test_files_with_other_columns_are_refused(self):
        self.rounds("pair01", ["cy", "ann"], [(1, 1, 10, 20, 90)])
        self.write("pair02", "lab_20260101_100000_rounds.csv", "round,subject\r\n1,1\r\n")
        with self.assertRaises(ValueError):
            collect.collect(self.folder, self.lab)

    def test_report_has_a_chart_per_pair_and_the_payouts(self):
        self.rounds("pair01", ["cy", "ann"], [(1, 1, 10, 20, 90), (1, 2, 30, 40, 80),
                                              (2, 1, 10, 20, 190), (2, 2, 30, 40, 160)])
        self.write("pair01", "lab_20260101_100000_payouts.csv",
                   "subject,name,total_credits,payout,rounds\r\n1,cy,190,10.00,2\r\n"
                   "2,ann,160,12.50,2\r\n")
        page = report.render(self.lab, collect.collect(self.folder, self.lab), 2)
        self.assertEqual(page.count('<svg class="pair-chart"'), 2)
        self.assertEqual(page.count("no closed rounds"), 1)  # pair 2 has none yet
        # Pair 1: four lines on the left and two on the right, two points each.
        chart = page.split('data-pair="1"')[1].split("</svg>")[0]
        self.assertEqual(chart.count("<polyline"), 6)
        self.assertEqual(chart.count("<circle"), 12)
        self.assertIn("<b>22.50</b>", page)
        self.assertNotIn("http", page.replace('xmlns="http://www.w3.org/2000/svg"', ""))
        for part in ("data-treatment", "<th>treatment</th>", "Treatments"):
            self.assertNotIn(part, page)

    def treated(self):
        """Three pairs: pairs 1 and 3 in treatment a, pair 2 in b; rows of
        pairs 1 and 2 and the payouts of pair 1."""
        self.lab["pairs"][0]["treatment"] = "a"
        self.lab["pairs"][1].update(treatment="b", rounds=3)
        self.lab["pairs"].append({"index": 3, "bot": "pair03", "subject1": "eve",
                                  "subject2": "fay", "treatment": "a"})
        os.makedirs(os.path.join(self.folder, "pair03"))
        self.lab["treatments"] = [{"name": "a", "values": {}},
                                  {"name": "b", "values": {"CreditValue": "0.01",
                                                           "NRounds": "3"}}]
        self.rounds("pair01", ["cy", "ann"], [(1, 1, 10, 20, 90), (1, 2, 30, 41, 80),
                                              (2, 1, 10, 0, 190), (2, 2, 30, 60, 160)])
        self.rounds("pair02", ["dee", "bob"], [(1, 1, 5, 6, 70), (1, 2, 7, 8, 75)])
        self.write("pair01", "lab_20260101_100000_payouts.csv",
                   "subject,name,total_credits,payout,rounds\r\n1,cy,190,10.00,2\r\n"
                   "2,ann,160,12.50,2\r\n")
        return collect.collect(self.folder, self.lab)

    def test_session_files_name_each_row_treatment_after_its_pair(self):
        tables = self.treated()
        for kind, columns in (("rounds", ROUNDS_HEADER.split(",")),
                              ("payouts", ["subject", "name", "total_credits", "payout",
                                           "rounds"]),
                              ("chat", [])):
            with open(os.path.join(self.folder, f"session_{kind}.csv"), newline="",
                      encoding="utf-8") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows[0], ["pair", "treatment"] + columns, kind)
        self.assertEqual([(r["pair"], r["treatment"]) for r in tables["rounds"]],
                         [("1", "a")] * 4 + [("2", "b")] * 2)
        self.assertEqual(tables["rounds"][0]["round"], "1")
        self.assertEqual(tables["payouts"][1]["name"], "ann")
        self.assertEqual(tables["payouts"][1]["treatment"], "a")

    def test_report_groups_the_pairs_by_treatment_with_mean_investments(self):
        page = report.render(self.lab, self.treated(), 2)
        groups = re.findall(r'<section class="treatment" data-treatment="(\w)">(.*?)</section>',
                            page, re.S)
        self.assertEqual([(name, re.findall(r'data-pair="(\d)"', body)) for name, body in groups],
                         [("a", ["1", "3"]), ("b", ["2"])])
        self.assertIn("Treatment b (CreditValue 0.01, NRounds 3): 1 pairs", page)
        self.assertIn("Treatment a (the session&#x27;s values): 2 pairs", page)
        table = page.split('<table id="treatments">')[1].split("</table>")[0]
        cells = {name: re.findall(r"<td[^>]*>([^<]*)</td>", row)
                 for name, row in re.findall(r'<tr data-treatment="(\w)">(.*?)</tr>', table)}
        # a: round 1 (20 + 41) / 2, round 2 (0 + 60) / 2 (pair 3 has no rows);
        # b: round 1 (6 + 8) / 2, no round 2 yet; three round columns (b has 3).
        self.assertEqual(cells["a"][2:], ["1, 3", "30.5", "30.0", ""])
        self.assertEqual(cells["b"][2:], ["2", "7.0", "", ""])
        payouts = page.split('<table id="payouts">')[1].split("</table>")[0]
        self.assertIn("<th>pair</th><th>treatment</th><th>subject</th>", payouts)
        self.assertIn("<td>1</td><td>a</td><td>2</td><td>ann</td>", payouts)
        self.assertIn('<td colspan="5"><b>total</b></td><td class="n"><b>22.50</b>', payouts)
        # Pair 2's chart spans its treatment's three rounds.
        chart = page.split('data-pair="2"')[1].split("</svg>")[0]
        self.assertIn('text-anchor="middle">3</text>', chart)
        self.assertNotIn("http", page.replace('xmlns="http://www.w3.org/2000/svg"', ""))


def fake_accounts(lab_record, cfg):
    """Stands in for prosodyctl: every account gets a known password."""
    lab_record["accounts"] = {role: {"name": name, "jid": f"{name}@{lab_record['domain']}",
                                     "password": f"pw-{name}"}
                              for role, name in lab_record["names"].items()}


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def shared_file(path, text):
    """A file that anybody may read, as an editor or a copy leaves it."""
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, 0o644)


class FakeServerTest(unittest.TestCase):
    """The server's setup with its accounts and server start left out."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="wexlab-modes-")
        self.old_umask = os.umask(0o022)
        # No Prosody: the accounts are made up and the server never starts.
        for name, fake in (("create_accounts", fake_accounts),
                           ("start_prosody", lambda folder, lab_record: None),
                           ("port_open", lambda address, port: False)):
            patcher = mock.patch.object(lab_server, name, fake)
            patcher.start()
            self.addCleanup(patcher.stop)
        # No desk either: its process would wait for a server that never runs.
        patcher = mock.patch.object(commands, "start_desk", lambda folder, lab: True)
        patcher.start()
        self.addCleanup(patcher.stop)

    def tearDown(self):
        os.umask(self.old_umask)
        shutil.rmtree(self.root)

    def start(self, text):
        """start_session of a session file of this text, without bots."""
        folder = os.path.join(self.root, "session")
        path = os.path.join(self.root, "lab.conf")
        shared_file(path, text)
        with mock.patch.object(commands, "start_supervisor", lambda folder, indexes: None), \
                contextlib.redirect_stdout(io.StringIO()):
            return folder, commands.start_session(folder, path, sys.executable, "none",
                                                  quiet=True)


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class TreatmentFolderTest(FakeServerTest):
    def test_matching_and_pair_configurations_of_a_session_of_treatments(self):
        names = " ".join(f"s{i:02d}" for i in range(1, 11))
        folder, started = self.start(TREATED.replace("Subjects ann bob cy dee",
                                                     f"Subjects {names}"))
        with open(os.path.join(folder, "matching.csv"), encoding="utf-8") as f:
            matching = list(csv.DictReader(f))
        self.assertEqual([r["treatment"] for r in matching],
                         [p["treatment"] for p in started["pairs"]])
        self.assertEqual(sorted(r["treatment"] for r in matching), ["high"] * 3 + ["low"] * 2)
        self.assertEqual(started["treatments"][0], {"name": "high", "values": {
            "CreditValue": "0.02", "MaxPayout": "40", "NRounds": "12"}})
        for row in matching:
            with self.subTest(pair=row["bot"]):
                with open(os.path.join(folder, row["bot"], "wexbot.conf"),
                          encoding="utf-8") as f:
                    values = config_values(f.read())
                credit = "0.02" if row["treatment"] == "high" else "0.005"
                self.assertEqual((values["CreditValue"], values["Subject1Name"],
                                  values["Subject2Name"]),
                                 (credit, row["subject1"], row["subject2"]))
        # The same file and seed give the same matching.
        shutil.rmtree(folder)
        again, _ = self.start(TREATED.replace("Subjects ann bob cy dee", f"Subjects {names}"))
        with open(os.path.join(again, "matching.csv"), encoding="utf-8") as f:
            self.assertEqual([r for r in csv.DictReader(f)], matching)

    def test_a_session_without_treatments_writes_what_it_did(self):
        folder, started = self.start(GOOD)
        with open(os.path.join(folder, "matching.csv"), encoding="utf-8") as f:
            self.assertEqual(f.read(), session.matching_csv(session.match(
                ["ann", "bob", "cy", "dee"], 42)))
        with open(os.path.join(folder, "pair01", "wexbot.conf"), encoding="utf-8") as f:
            text = f.read()
        self.assertNotIn("treatment", text)
        self.assertNotIn("treatments", started)


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class ClusterSetupTest(FakeServerTest):
    """A session on three ejabberd nodes, the nodes never started."""

    CLUSTER = GOOD.replace("Subjects ann bob cy dee", "Subjects ann bob cy dee eve fay\n"
                           "Server ejabberd\nServerNodes 3")

    def setUp(self):
        super().setUp()
        # The seat page's files, as web/ and npm would hold them.
        web = os.path.join(self.root, "web")
        for name in ("seat/index.html", "seat/seat.css", "seat/seat.js",
                     "node_modules/strophe.js/dist/strophe.umd.min.js"):
            os.makedirs(os.path.dirname(os.path.join(web, name)), exist_ok=True)
            shared_file(os.path.join(web, name), f"/* {name} */\n")
        patcher = mock.patch.dict(os.environ, {"WEX_WEB_DIR": web})
        patcher.start()
        self.addCleanup(patcher.stop)

    def start_cluster(self, text):
        """The session set up with the nodes never started and the lab's
        module not built (EjabberdModuleTest builds it)."""
        calls = []
        with mock.patch.object(ejabberd, "start", lambda *a, **k: calls.append(k) or True), \
                mock.patch.object(ejabberd, "build_module", lambda ebin: calls.append(ebin)):
            folder, started = self.start(text)
        return folder, started, calls

    def test_pairs_span_two_nodes_and_each_bot_uses_its_own(self):
        folder, started, calls = self.start_cluster(self.CLUSTER)
        self.assertEqual(calls[0], os.path.join(folder, "server", "ebin"))
        self.assertTrue(calls[1]["fresh"])
        ports = [node["port"] for node in started["nodes"]]
        self.assertEqual(ports, [5222, 5223, 5224])
        placement = started["placement"]
        self.assertEqual(sorted({placement[p["bot"]] for p in started["pairs"]}), [0, 1, 2])
        with open(os.path.join(folder, "logins.txt"), encoding="utf-8") as f:
            cards = f.read()
        for pair in started["pairs"]:
            with self.subTest(pair=pair["bot"]):
                home = placement[pair["bot"]]
                self.assertEqual(placement[pair["subject1"]], home)
                self.assertEqual(placement[pair["subject2"]], (home + 1) % 3)
                with open(os.path.join(folder, pair["bot"], "wexbot.conf"),
                          encoding="utf-8") as f:
                    values = config_values(f.read())
                self.assertEqual(values["Service"],
                                 f"xmpp:lab.wex@10.0.0.5:{ports[home]};trust=any")
                card = cards.split(f"{pair['subject2']}: subject 2")[1].split("\n\n")[0]
                self.assertIn(f"port {ports[(home + 1) % 3]}", card)

    def test_node_folders_configuration_and_secrets(self):
        folder, started, _ = self.start_cluster(self.CLUSTER)
        cookie = os.path.join(folder, "server", "home", ".erlang.cookie")
        self.assertEqual(mode(cookie), 0o600)
        self.assertGreater(started["epmd_port"], 0)
        for index, node in enumerate(started["nodes"]):
            d = os.path.join(folder, "server", f"node{index + 1}")
            with open(os.path.join(d, "ejabberd.yml"), encoding="utf-8") as f:
                config = f.read()
            self.assertIn(f"port: {node['port']}\n", config)
            self.assertIn('ip: "10.0.0.5"', config)
            self.assertIn("starttls_required: true", config)
            self.assertNotIn("ejabberd_s2s_in", config)
            self.assertNotIn("mod_register", config)
            self.assertIn(started["certificate"], config)
            with open(os.path.join(d, "ejabberdctl.cfg"), encoding="utf-8") as f:
                control = f.read()
            self.assertNotIn("inet_dist_listen", control)  # ejabberdctl would inherit it
            self.assertIn(f" -pa {os.path.join(folder, 'server', 'ebin')}\"", control)
            self.assertEqual(mode(os.path.join(d, "ejabberd.yml")), 0o600)
        self.assertEqual(len({n["name"] for n in started["nodes"]}), 3)
        self.assertEqual(sorted(started["accounts"]), sorted(started["names"]))

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_every_node_loads_the_policy(self):
        folder, started, _ = self.start_cluster(self.CLUSTER)
        server = os.path.join(folder, "server")
        for index in range(3):
            with open(os.path.join(server, f"node{index + 1}", "ejabberd.yml"),
                      encoding="utf-8") as f:
                config = yaml.safe_load(f)
            options = config["modules"]["mod_wex_lab_policy"]
            wanted = {"policy_file": os.path.join(server, "allowed.txt"),
                      "refused_log": os.path.join(server, "refused.log")}
            self.assertEqual(options, wanted, f"node {index + 1}")
            # No registration of any kind, no server-to-server.
            self.assertEqual(config["s2s_access"], "none")
            self.assertFalse({"mod_register", "mod_register_web"} & set(config["modules"]))
        with open(os.path.join(server, "allowed.txt"), encoding="utf-8") as f:
            pairs = {frozenset(line.split()) for line in f if not line.startswith("#")}
        self.assertEqual(pairs, {frozenset(p) for p in lab.policy_pairs(started)})
        self.assertEqual(mode(os.path.join(server, "allowed.txt")), 0o600)

    def test_a_folder_ejabberdctl_cannot_take_is_refused(self):
        with mock.patch.object(ejabberd, "build_module", lambda ebin: None):
            for name in ("with space", "dollar$x", 'quote"d'):
                with self.subTest(name=name):
                    root = os.path.join(self.root, name)
                    with self.assertRaisesRegex(lab.LabError, "without spaces or shell"):
                        ejabberd.set_up({"nodes": []}, root, "c.crt", "c.key")
                    self.assertFalse(os.path.exists(root))

    def node_config(self, folder, index):
        with open(os.path.join(folder, "server", f"node{index + 1}", "ejabberd.yml"),
                  encoding="utf-8") as f:
            return yaml.safe_load(f)

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_each_node_serves_the_seats_page_and_websocket(self):
        for tls in (False, True):
            with self.subTest(tls=tls):
                shutil.rmtree(os.path.join(self.root, "session"), ignore_errors=True)
                folder, started, _ = self.start_cluster(self.CLUSTER +
                                                        ("WebTls on\n" if tls else ""))
                scheme = "https" if tls else "http"
                origins = [f"{scheme}://10.0.0.5:{port}" for port in (5280, 5281, 5282)]
                www = os.path.join(folder, "server", "www")
                for name in ("index.html", "seat.css", "seat.js", "strophe.min.js", "seat.json"):
                    self.assertTrue(os.path.exists(os.path.join(www, name)), name)
                for index, node in enumerate(started["nodes"]):
                    config = self.node_config(folder, index)
                    self.assertEqual(node["web_port"], 5280 + index)
                    # The address is a host of its own with the file server
                    # alone: the browser names it as Host.
                    self.assertEqual(config["hosts"], ["lab.wex", "10.0.0.5"])
                    only = config["host_config"]["10.0.0.5"]["modules"]
                    self.assertEqual(list(only), ["mod_http_fileserver"])
                    self.assertEqual(only["mod_http_fileserver"]["docroot"], www)
                    self.assertNotIn("mod_http_fileserver", config["modules"])
                    self.assertEqual(config["modules"]["mod_mam"], {"default": "always"})
                    self.assertEqual(config["websocket_origin"], origins)
                    c2s, http = config["listen"]
                    self.assertEqual((c2s["module"], c2s["port"]), ("ejabberd_c2s", node["port"]))
                    self.assertEqual(http, {
                        "port": 5280 + index, "ip": "10.0.0.5", "module": "ejabberd_http",
                        "tls": tls, "request_handlers": {
                            "/xmpp-websocket": "ejabberd_http_ws", "/": "mod_http_fileserver"}})
                with open(os.path.join(www, "seat.json"), encoding="utf-8") as f:
                    self.assertIn('"websocket": "/xmpp-websocket"', f.read())
                # Each seat's link is its node's page.
                with open(os.path.join(folder, "seats.csv"), encoding="utf-8") as f:
                    links = {row["name"]: row["link"] for row in csv.DictReader(f)}
                for name, link in links.items():
                    node = started["placement"].get(name, 0)
                    self.assertTrue(link.startswith(origins[node] + "/#n=" + name), link)
                self.assertEqual(len({link.split("/#")[0] for link in links.values()}), 3)

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_without_web_seats_no_web_listener_and_no_archive(self):
        folder, started, _ = self.start_cluster(self.CLUSTER + "Web off\n")
        self.assertNotIn("web_port", started["nodes"][0])
        config = self.node_config(folder, 1)
        self.assertEqual(config["hosts"], ["lab.wex"])
        self.assertEqual([c["module"] for c in config["listen"]], ["ejabberd_c2s"])
        for key in ("host_config", "websocket_origin"):
            self.assertNotIn(key, config)
        self.assertNotIn("mod_mam", config["modules"])
        with open(os.path.join(folder, "seats.csv"), encoding="utf-8") as f:
            self.assertTrue(all(not row["link"] for row in csv.DictReader(f)))

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_a_lab_named_by_its_domain_serves_the_files_on_that_host(self):
        record = {"domain": "lab.example.org", "address": "lab.example.org", "port": 5222,
                  "web": {"port": 5280, "tls": True}, "pairs": []}
        ejabberd.plan_nodes(record, 1)
        config = yaml.safe_load(ejabberd.config_text(record, record["nodes"][0], "/c.crt",
                                                     "/c.key", "", "/www"))
        self.assertEqual(config["hosts"], ["lab.example.org"])
        self.assertNotIn("host_config", config)
        self.assertEqual(config["modules"]["mod_http_fileserver"]["docroot"], "/www")
        self.assertEqual(config["websocket_origin"], ["https://lab.example.org:5280"])

    def test_web_ports_must_not_meet_the_client_ports(self):
        with self.assertRaisesRegex(lab.LabError, "Web ports of the nodes and their client "
                                    "ports overlap"):
            self.start_cluster(self.CLUSTER + "Web 5224\n")

    def test_accounts_and_contacts_are_one_import(self):
        """As Prosody's shared rosters: each subject has its pair's bot, each
        bot its subjects and the moderator's group (the moderator, the other
        bots, wexlab and the desk), both ways subscribed."""
        _, started, calls = self.start_cluster(self.CLUSTER)
        started["accounts"]["ann"]["password"] = "a\"<&'b"
        root = ElementTree.fromstring(ejabberd.accounts_xml(started, calls[1]["groups"]))
        users = {u.get("name"): u for u in root.iter("{urn:xmpp:pie:0}user")}
        self.assertEqual(sorted(users), sorted(started["accounts"]))
        for name, user in users.items():
            self.assertEqual(user.get("password"), started["accounts"][name]["password"])
        items = {name: [i for i in user.iter("{jabber:iq:roster}item")]
                 for name, user in users.items()}
        self.assertEqual({i.get("subscription") for found in items.values() for i in found},
                         {"both"})

        def roster(name):
            return sorted(i.get("jid") for i in items[name])

        bots = [p["bot"] for p in started["pairs"]]
        moderator_side = [started["moderator"], lab.NOTIFIER, lab.DESK]
        for pair in started["pairs"]:
            bot = pair["bot"]
            with self.subTest(pair=bot):
                for subject in (pair["subject1"], pair["subject2"]):
                    self.assertEqual(roster(subject), [f"{bot}@lab.wex"])
                others = [b for b in bots if b != bot]
                self.assertEqual(roster(bot), sorted(
                    f"{n}@lab.wex"
                    for n in [pair["subject1"], pair["subject2"]] + moderator_side + others))
        self.assertEqual(roster(lab.NOTIFIER), sorted(
            f"{n}@lab.wex" for n in [p["bot"] for p in started["pairs"]] +
            [started["moderator"], lab.DESK]))

    def test_server_keys_are_checked(self):
        for text, fault in (
                (GOOD + "Server openfire\n", "Server must be prosody or ejabberd"),
                (GOOD + "Server ejabberd\nServerNodes 0\n", "ServerNodes must be at least 1"),
                (GOOD + "Server ejabberd\nServerNodes 17\n", "ServerNodes must be at most 16")):
            with self.subTest(fault=fault):
                path = os.path.join(self.root, "bad.conf")
                shared_file(path, text)
                with self.assertRaisesRegex(session.SessionError, fault):
                    session.read_session(path)
        with self.assertRaisesRegex(lab.LabError, "ServerNodes needs Server ejabberd"):
            self.start(GOOD + "ServerNodes 2\n")

    def test_a_prosody_session_has_no_nodes(self):
        folder, started = self.start(GOOD + "Web off\n")
        self.assertEqual(started["server"], "prosody")
        self.assertNotIn("nodes", started)
        self.assertEqual(ejabberd.port_of(started, "ann"), 5222)


class ClusterStartTest(unittest.TestCase):
    """The order of a fresh cluster's start, the nodes faked: the nodes
    start, the others join node 1, then one import makes every account from
    a file of its owner's alone that is gone afterwards."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-cluster-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.makedirs(os.path.join(self.folder, "server"))
        self.lab = {"domain": "lab.wex", "nodes": [{"name": "a"}, {"name": "b"}, {"name": "c"}],
                    "accounts": {"ann": {"name": "ann", "password": "pw-ann"},
                                 "pair01": {"name": "pair01", "password": "pw-pair01"}}}
        self.events = []
        self.returncode = 0

    def fake_ctl(self, lab_record, folder, index, *args, timeout=60):
        path = args[-1]
        with open(path, encoding="utf-8") as f:
            self.events.append((args[0], index, mode(path), "pw-pair01" in f.read()))
        return subprocess.CompletedProcess(args, self.returncode, "", "")

    def run_start(self, fresh):
        with mock.patch.object(ejabberd, "node_pid", lambda folder, index: None), \
                mock.patch.object(ejabberd, "launch_node", lambda lab_record, folder, index:
                                  self.events.append(("start", index))), \
                mock.patch.object(ejabberd, "_wait_port", lambda lab_record, folder, index:
                                  self.events.append(("up", index))), \
                mock.patch.object(ejabberd, "join", lambda lab_record, folder, index:
                                  self.events.append(("join", index))), \
                mock.patch.object(ejabberd, "ctl", self.fake_ctl), \
                mock.patch.object(ejabberd, "stop", lambda lab_record, folder:
                                  self.events.append(("stop",))):
            return ejabberd.start(self.lab, self.folder, fresh,
                                  groups=[("pair01-ann", ["pair01", "ann"])])

    def test_a_fresh_cluster_joins_then_imports_the_accounts(self):
        self.assertTrue(self.run_start(fresh=True))
        self.assertEqual(self.events, [
            ("start", 0), ("start", 1), ("start", 2), ("up", 0), ("up", 1), ("up", 2),
            ("join", 1), ("join", 2), ("import_piefxis", 0, 0o600, True)])
        self.assertEqual(os.listdir(os.path.join(self.folder, "server")), [])

    def test_a_restarted_cluster_starts_every_node_before_waiting_and_makes_no_accounts(self):
        # A node waits for the tables of the node that stopped after it:
        # waiting for node 1 before node 2 is launched could wait for ever.
        self.assertTrue(self.run_start(fresh=False))
        self.assertEqual(self.events, [("start", 0), ("start", 1), ("start", 2),
                                       ("up", 0), ("up", 1), ("up", 2)])

    def test_a_failed_import_stops_the_cluster_and_leaves_no_passwords(self):
        self.returncode = 1
        with self.assertRaisesRegex(lab.LabError, "import_piefxis failed"):
            self.run_start(fresh=True)
        self.assertEqual(self.events[-1], ("stop",))
        self.assertEqual(os.listdir(os.path.join(self.folder, "server")), [])


@unittest.skipIf(shutil.which("erlc") is None, "erlc is not installed")
class EjabberdModuleTest(unittest.TestCase):
    """The lab's ejabberd module, built as a session builds it, its rules
    run in an Erlang VM of their own (no ejabberd running)."""

    @classmethod
    def setUpClass(cls):
        cls.ebin = tempfile.mkdtemp(prefix="wexlab-ebin-")
        done = subprocess.run(["erlc", "-Werror", "-o", cls.ebin, ejabberd.SOURCE],
                              capture_output=True, text=True, timeout=120)
        cls.built = done.stdout + done.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.ebin)

    def evaluate(self, expression):
        """The printed value of an Erlang expression over the module."""
        self.assertTrue(os.path.exists(os.path.join(self.ebin, "mod_wex_lab_policy.beam")),
                        self.built)
        # Names are compared in stringprep's form: its NIF comes with its
        # application.
        done = subprocess.run(["erl", "-noshell", "-pa", self.ebin, "-eval",
                               "{ok, _} = application:ensure_all_started(stringprep), "
                               f"io:format(\"~p~n\", [{expression}]), halt()."],
                              capture_output=True, text=True, timeout=60, cwd=self.ebin,
                              env=dict(os.environ, ERL_CRASH_DUMP_BYTES="0"))
        self.assertEqual(done.returncode, 0, done.stderr + done.stdout)
        return done.stdout.strip()

    def test_builds_without_a_warning(self):
        self.assertEqual(self.built.strip(), "")
        ejabberd.build_module(self.ebin)  # as a session builds it

    def test_the_policy_file_is_read_as_on_prosody(self):
        text = ("# Accounts that may talk\\npair01 ann\\n  pair01\\tBob  # a comment\\n"
                "\\npair01 ann cy\\nlonely\\n")
        got = self.evaluate(f'mod_wex_lab_policy:parse_policy(<<"{text}">>)')
        self.assertEqual(re.sub(r"\s+", "", got),
                         '{#{{<<"ann">>,<<"pair01">>}=>true,{<<"bob">>,<<"pair01">>}=>true,'
                         '{<<"pair01">>,<<"ann">>}=>true,{<<"pair01">>,<<"bob">>}=>true},'
                         '[<<"lonely">>,<<"pair01anncy">>]}')

    def test_subjects_reach_their_own_bot_and_nobody_else(self):
        # pair01: ann and bob; pair02: cy and dee; the moderator with both bots.
        cases = [
            ("message", "chat", "ann", ("pair01", "lab.wex"), "allow"),
            ("message", "chat", "pair01", ("bob", "lab.wex"), "allow"),
            ("message", "chat", "mod", ("pair02", "lab.wex"), "allow"),
            ("iq", "get", "ann", ("ann", "lab.wex"), "allow"),  # its own account
            ("iq", "get", "ann", ("", "lab.wex"), "allow"),  # the server
            ("message", "chat", "ann", ("nobody", "lab.wex"), "allow"),  # the server answers
            ("message", "chat", "ann", ("bob", "lab.wex"), "refuse"),  # the partner
            ("message", "chat", "ann", ("cy", "lab.wex"), "refuse"),  # another pair's subject
            ("message", "chat", "ann", ("pair02", "lab.wex"), "refuse"),  # another pair's bot
            ("message", "chat", "ann", ("mod", "lab.wex"), "refuse"),
            ("message", "chat", "pair01", ("pair02", "lab.wex"), "refuse"),
            ("message", "chat", "ann", ("pair01", "elsewhere.org"), "refuse"),
            ("iq", "get", "ann", ("cy", "lab.wex"), "refuse"),
            ("iq", "result", "ann", ("cy", "lab.wex"), "refuse"),
            ("presence", "subscribe", "ann", ("bob", "lab.wex"), "refuse"),
            ("presence", "unsubscribed", "ann", ("bob", "lab.wex"), "refuse"),
            ("presence", "available", "ann", ("bob", "lab.wex"), "drop"),
            ("presence", "probe", "ann", ("cy", "lab.wex"), "drop"),
            ("presence", "available", "ann", ("pair01", "lab.wex"), "allow"),
        ]
        allowed = ("#{{<<\"ann\">>,<<\"pair01\">>}=>t,{<<\"pair01\">>,<<\"ann\">>}=>t,"
                   "{<<\"bob\">>,<<\"pair01\">>}=>t,{<<\"pair01\">>,<<\"bob\">>}=>t,"
                   "{<<\"mod\">>,<<\"pair02\">>}=>t,{<<\"pair02\">>,<<\"mod\">>}=>t}")
        known = "fun(U) -> U /= <<\"nobody\">> end"
        calls = ", ".join(
            f'mod_wex_lab_policy:verdict({kind}, {kind_type}, {{<<"{sender}">>, <<"lab.wex">>}}, '
            f'{{<<"{user}">>, <<"{server}">>}}, {allowed}, {known})'
            for kind, kind_type, sender, (user, server), _ in cases)
        got = self.evaluate(f"[{calls}]").strip("[]").replace("\n", "").split(",")
        self.assertEqual([g.strip() for g in got], [wanted for *_, wanted in cases])
        # A stanza sent to its own server or account passes whatever the policy.
        self.assertEqual(self.evaluate(
            'mod_wex_lab_policy:verdict(message, chat, {<<"ann">>, <<"lab.wex">>}, '
            '{<<"">>, <<"lab.wex">>}, #{}, fun(_) -> true end)'), "allow")


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class SecretFileModesTest(FakeServerTest):
    """What the server's setup writes is its owner's alone, files that were
    there before included."""

    def assertPrivate(self, *parts, wanted=0o600):
        path = os.path.join(self.root, *parts)
        self.assertEqual(oct(mode(path)), oct(wanted), path)

    def test_lab_server_start_over_readable_files(self):
        config = os.path.join(self.root, "bot.conf")
        shared_file(config, "Service xmpp:lab.wex@127.0.0.1:5299;trust=any\nBotUsername bot\n"
                    "Subject1Name ann\nSubject2Name ben\nModeratorName mod\n"
                    "PasswordFile passwords.txt\nBotPasswordIndex 0\nKeyIndex 1\n")
        shared_file(os.path.join(self.root, "passwords.txt"), "old\nKEY-TEXT\n")
        server = os.path.join(self.root, "server")
        os.makedirs(os.path.join(server, "certs"), mode=0o755)
        os.chmod(server, 0o755)
        shared_file(os.path.join(server, "certs", "lab.wex.key"), "an old key")
        args = argparse.Namespace(config=config, address=None, port=None, dir=server,
                                  allow_plain=False)
        cwd = os.getcwd()
        os.chdir(self.root)  # the configuration names its password file relative to here
        try:
            with contextlib.redirect_stdout(io.StringIO()):
                lab_server.command_start(args)
        finally:
            os.chdir(cwd)
        self.assertPrivate("passwords.txt")
        with open(os.path.join(self.root, "passwords.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), "pw-bot\nKEY-TEXT\n")
        for name in ("accounts.json", "prosody.cfg.lua", "allowed.txt",
                     os.path.join("certs", "lab.wex.key")):
            self.assertPrivate("server", name)
        for folder in ("server", os.path.join("server", "certs")):
            self.assertPrivate(folder, wanted=0o700)
        with open(os.path.join(server, "allowed.txt"), encoding="utf-8") as f:
            allowed = [line for line in f.read().splitlines() if not line.startswith("#")]
        self.assertEqual(allowed, ["bot ann", "bot ben", "bot mod"])

    def test_wexlab_session_over_a_readable_folder(self):
        folder = os.path.join(self.root, "session")
        os.makedirs(folder, mode=0o755)
        os.chmod(folder, 0o755)
        shared_file(os.path.join(folder, "logins.txt"), "left from before\n")
        shared_file(os.path.join(folder, "lab.json.tmp"), "{}")
        path = os.path.join(self.root, "lab.conf")
        shared_file(path, GOOD)
        with mock.patch.object(commands, "start_supervisor", lambda folder, indexes: None), \
                contextlib.redirect_stdout(io.StringIO()):
            started = commands.start_session(folder, path, sys.executable, "none", quiet=True)
        self.assertPrivate("session", wanted=0o700)
        for name in ("lab.json", "logins.txt"):
            self.assertPrivate("session", name)
        with open(os.path.join(folder, "logins.txt"), encoding="utf-8") as f:
            self.assertIn("password  pw-ann", f.read())
        for name in ("prosody.cfg.lua", "groups.txt", "allowed.txt",
                     os.path.join("certs", "lab.wex.key")):
            self.assertPrivate("session", "server", name)
        self.assertPrivate("session", "server", wanted=0o700)
        for pair in started["pairs"]:
            self.assertPrivate("session", pair["bot"], wanted=0o700)
            self.assertPrivate("session", pair["bot"], "passwords.txt")


class PolicyTest(unittest.TestCase):
    def test_refusals_are_counted_for_the_experimenter(self):
        folder = tempfile.mkdtemp(prefix="wexlab-refused-")
        self.addCleanup(shutil.rmtree, folder)
        self.assertIsNone(lab.refusals_note(folder))
        os.makedirs(os.path.join(folder, "server"))
        log = os.path.join(folder, "server", "refused.log")
        with open(log, "w", encoding="utf-8") as f:
            f.write("2026-01-01T10:00:00Z\tmessage\tann@lab.wex/phone\tbob@lab.wex\n"
                    "2026-01-01T10:00:01Z\tpresence\tann@lab.wex/phone\tbob@lab.wex\n")
        self.assertIn("refused 2 message(s)", lab.refusals_note(folder))
        self.assertIn(log, lab.refusals_note(folder))

    def test_subjects_meet_only_their_own_bot(self):
        record = {"moderator": "mod", "pairs": [
            {"bot": "pair01", "subject1": "cy", "subject2": "ann"},
            {"bot": "pair02", "subject1": "dee", "subject2": "bob"}]}
        allowed = {frozenset(pair) for pair in lab.policy_pairs(record)}
        self.assertEqual(allowed, {frozenset(p) for p in (
            ("pair01", "cy"), ("pair01", "ann"), ("pair01", "mod"), ("pair01", "wexlab"),
            ("pair01", "wexdesk"),
            ("pair02", "dee"), ("pair02", "bob"), ("pair02", "mod"), ("pair02", "wexlab"),
            ("pair02", "wexdesk"),
            ("mod", "wexlab"))})


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class RemoteNodesTest(FakeServerTest):
    """A session whose cluster spans other machines, the nodes never started."""

    REMOTE = GOOD.replace("Subjects ann bob cy dee", "Subjects ann bob cy dee eve fay\n"
                          "Server ejabberd\nNodes 10.0.0.6 lab-b:5300\nClusterPort 4400")

    def setUp(self):
        super().setUp()
        self.waits = []
        real = socket.gethostbyname
        for target, name, fake in (
                (ejabberd, "start", lambda *a, **k: True),
                (nodes, "wait_joined", lambda *a, **k: self.waits.append((a, k))),
                (nodes.socket, "gethostbyname",
                 lambda host: "10.0.0.7" if host == "lab-b" else real(host))):
            patcher = mock.patch.object(target, name, fake)
            patcher.start()
            self.addCleanup(patcher.stop)

    def read(self, *parts):
        with open(os.path.join(*parts), encoding="utf-8") as f:
            return f.read()

    def test_nodes_and_cluster_port_are_checked(self):
        for text, fault in (
                (GOOD + "Nodes\n", "Nodes needs at least one"),
                (GOOD + "Nodes 10.0.0.6:0\n", "'10.0.0.6:0' is not a node"),
                (GOOD + "Nodes 10.0.0.6 lab_b\n", "'lab_b' is not a node"),
                (GOOD + "Nodes 10.0.0.6:52x\n", "is not a node"),
                (GOOD + "Nodes [::1]:5222\n", "is not a node"),
                (GOOD + "ClusterPort 0\n", "ClusterPort must be at least 1"),
                (GOOD + "ClusterPort 65536\n", "ClusterPort must be at most 65535")):
            with self.subTest(fault=fault):
                path = os.path.join(self.root, "bad.conf")
                shared_file(path, text)
                with self.assertRaisesRegex(session.SessionError, fault):
                    session.read_session(path)
        loopback = GOOD.replace("10.0.0.5", "127.0.0.1")
        for text, fault in (
                (GOOD + "Nodes 10.0.0.6\n", "Nodes and ClusterPort need Server ejabberd"),
                (GOOD + "Server ejabberd\nServerNodes 2\nNodes 10.0.0.6\n", "ServerNodes counts"),
                (loopback + "Server ejabberd\nNodes 10.0.0.6\n", "name this machine's lab"),
                (GOOD + "Server ejabberd\nNodes 10.0.0.6 10.0.0.6:5300\n", "has node 2 already"),
                (GOOD + "Server ejabberd\nNodes 10.0.0.5:5300\n", "has node 1 already"),
                (GOOD + "Server ejabberd\nNodes 10.0.0.6\nWeb 5280\n",
                 "web seats do not work with nodes of other machines")):
            with self.subTest(fault=fault):
                with self.assertRaisesRegex(lab.LabError, fault):
                    self.start(text)
                shutil.rmtree(os.path.join(self.root, "session"), ignore_errors=True)
        # On this machine, a second loopback address may stand for another machine.
        _, started = self.start(loopback + "Server ejabberd\nNodes 127.0.0.2\n")
        self.assertEqual([n["name"] for n in started["nodes"]],
                         ["wex5222@127.0.0.1", "wex5222@127.0.0.2"])
        self.assertEqual(started["cluster_port"], nodes.CLUSTER_PORT)
        # No Web key: such a session has no seats rather than half of them.
        self.assertIsNone(started["web"])
        self.assertFalse(any("web_port" in n for n in started["nodes"]))

    def test_kits_carry_the_cluster_and_stay_private(self):
        folder, started = self.start(self.REMOTE)
        self.assertEqual([(n["name"], n["address"], n["port"], n.get("remote", False))
                          for n in started["nodes"]],
                         [("wex5222@10.0.0.5", "10.0.0.5", 5222, False),
                          ("wex5222@10.0.0.6", "10.0.0.6", 5222, True),
                          ("wex5300@10.0.0.7", "10.0.0.7", 5300, True)])
        self.assertEqual((started["cluster_port"], started["epmd_port"]), (4400, None))
        self.assertEqual(len(self.waits), 1)  # before any bot starts
        self.assertEqual(mode(os.path.join(folder, "nodes")), 0o700)
        cookie = self.read(folder, "server", "home", ".erlang.cookie")
        for index, name in ((1, "node2-10.0.0.6.kit"), (2, "node3-10.0.0.7.kit")):
            with self.subTest(kit=name):
                path = os.path.join(folder, "nodes", name)
                self.assertEqual(mode(path), 0o600)
                kit = json.loads(self.read(path))
                node = started["nodes"][index]
                self.assertEqual(kit["node"], {k: node[k] for k in ("name", "address", "port")})
                self.assertEqual((kit["join"], kit["cluster_port"], kit["domain"], kit["index"]),
                                 ("wex5222@10.0.0.5", 4400, "lab.wex", index + 1))
                self.assertEqual(kit["cookie"], cookie)
                self.assertEqual(kit["certificate"], self.read(started["certificate"]))
                self.assertIn("PRIVATE KEY", kit["key"])
        # This machine's node talks on the cluster port of its address, with no
        # epmd; its ejabberdctl reaches the others through their folders here.
        for index, interface in ((0, "{10,0,0,5}"), (2, "{10,0,0,7}")):
            ctl_cfg = self.read(folder, "server", f"node{index + 1}", "ejabberdctl.cfg")
            self.assertIn("ERL_DIST_PORT=4400\n", ctl_cfg)
            self.assertIn(f"inet_dist_use_interface {interface}", ctl_cfg)
            self.assertNotIn("inet_dist_listen", ctl_cfg)
        env = ejabberd._env(started, folder)
        self.assertNotIn("ERL_EPMD_PORT", env)

    def test_participants_are_placed_across_the_machines(self):
        folder, started = self.start(self.REMOTE)
        placement, at = started["placement"], started["nodes"]
        self.assertEqual(sorted({placement[p["bot"]] for p in started["pairs"]}), [0, 1, 2])
        cards = self.read(folder, "logins.txt")
        for pair in started["pairs"]:
            with self.subTest(pair=pair["bot"]):
                home, other = placement[pair["bot"]], placement[pair["subject2"]]
                self.assertNotEqual(home, other)
                values = config_values(self.read(folder, pair["bot"], "wexbot.conf"))
                self.assertEqual(values["Service"], f"xmpp:lab.wex@{at[home]['address']}:"
                                 f"{at[home]['port']};trust=any")
                card = cards.split(f"{pair['subject2']}: subject 2")[1].split("\n\n")[0]
                self.assertIn(f"server    {at[other]['address']}   port {at[other]['port']}",
                              card)
        moderator = cards.split("mod: the moderator")[1]
        self.assertIn("server    10.0.0.5   port 5222", moderator)

    def test_the_other_machine_writes_its_node_from_the_kit(self):
        folder, _ = self.start(self.REMOTE)
        kit_file = os.path.join(folder, "nodes", "node2-10.0.0.6.kit")
        copied = os.path.join(self.root, "copied.kit")
        shared_file(copied, self.read(kit_file))  # as a careless copy leaves it
        said = []
        kit = nodes.read_kit(copied, said.append)
        self.assertEqual(mode(copied), 0o600)
        self.assertIn("now its owner's alone", said[0])
        there = os.path.join(self.root, "there")
        served = nodes.prepare(kit, there)
        self.assertEqual(served["nodes"], [kit["node"]])
        self.assertEqual(self.read(there, "server", "home", ".erlang.cookie"), kit["cookie"])
        for name in (os.path.join("home", ".erlang.cookie"), os.path.join("certs", "lab.wex.key"),
                     os.path.join("node1", "ejabberd.yml")):
            self.assertEqual(mode(os.path.join(there, "server", name)), 0o600, name)
        config = self.read(there, "server", "node1", "ejabberd.yml")
        self.assertIn('ip: "10.0.0.6"', config)
        self.assertIn("port: 5222\n", config)
        self.assertIn(os.path.join(there, "server", "certs", "lab.wex.crt"), config)
        ctl_cfg = self.read(there, "server", "node1", "ejabberdctl.cfg")
        self.assertIn("ERL_DIST_PORT=4400\n", ctl_cfg)
        self.assertIn("inet_dist_use_interface {10,0,0,6}", ctl_cfg)
        nodes.prepare(kit, there)  # serving again from the same folder
        with self.assertRaisesRegex(lab.LabError, "a node of another session"):
            nodes.prepare(dict(kit, cookie="OTHER"), there)
        with self.assertRaisesRegex(lab.LabError, "this machine has no address 192.0.2.1"):
            nodes.own_address(dict(kit, node=dict(kit["node"], address="192.0.2.1")))
        shared_file(copied, '{"kit": "something else"}')
        with self.assertRaisesRegex(lab.LabError, "is not a node kit"):
            nodes.read_kit(copied, said.append)

    def test_node_add_joins_once_and_needs_an_open_cluster(self):
        folder, _ = self.start(GOOD.replace("Subjects", "Server ejabberd\nClusterPort 4400\n"
                                            "Subjects"))
        cwd = os.getcwd()
        os.chdir(folder)
        self.addCleanup(os.chdir, cwd)
        args = argparse.Namespace(node_command="add", host="10.0.0.8:5400")
        for _ in range(2):
            with contextlib.redirect_stdout(io.StringIO()) as out:
                commands.command_node(args)
        record = lab.load(folder)
        self.assertEqual([n["name"] for n in record["nodes"]],
                         ["wex5222@10.0.0.5", "wex5400@10.0.0.8"])
        self.assertTrue(os.path.exists(os.path.join(folder, "nodes", "node2-10.0.0.8.kit")))
        self.assertIn("ERL_DIST_PORT=4400",
                      self.read(folder, "server", "node2", "ejabberdctl.cfg"))
        self.assertEqual([k["again"] for _, k in self.waits[1:]],
                         ["wexlab node add 10.0.0.8:5400"] * 2)
        self.assertNotIn("no participant", out.getvalue())  # the second time: known already
        self.assertEqual(set(record["placement"].values()), {0})  # nobody moves
        with self.assertRaisesRegex(lab.LabError, "this machine's node"):
            commands.command_node(argparse.Namespace(node_command="add", host="10.0.0.5"))
        os.chdir(cwd)
        shutil.rmtree(folder)
        self.start(GOOD + "Server ejabberd\n")
        os.chdir(folder)
        with self.assertRaisesRegex(lab.LabError, "not open to other machines"):
            commands.command_node(args)

    def test_stop_asks_each_remote_node_and_says_what_is_left(self):
        folder, started = self.start(self.REMOTE)
        asked = []

        def ctl(lab_record, where, index, *args, timeout=60):
            asked.append((index, args))
            return subprocess.CompletedProcess([], 0 if index == 1 else 3, "", "")

        with mock.patch.object(ejabberd, "ctl", ctl):
            lines = nodes.stop_remote(started, folder)
        self.assertEqual(asked, [(1, ("stop",)), (2, ("stop",))])
        self.assertEqual(lines[0], "ejabberd node 2 on 10.0.0.6 stopped.")
        self.assertIn("if wexlab node serve still runs on lab-b, Ctrl-C there", lines[1])

    def test_status_names_a_node_that_does_not_answer(self):
        folder, started = self.start(self.REMOTE)
        with mock.patch.object(lab_server, "port_open",
                               lambda address, port: address != "10.0.0.7"):
            lines = commands.status_lines(folder, started)
        self.assertIn("ejabberd node 3 on lab-b does not answer on 10.0.0.7:5300: run wexlab "
                      "node serve there again.", lines)
        self.assertFalse([line for line in lines if "node 2" in line], lines)

    def test_a_busy_cluster_port_is_named_before_the_node_starts(self):
        _, started = self.start(self.REMOTE)
        with mock.patch.object(lab_server, "port_open", lambda address, port: port == 4400), \
                mock.patch.object(ejabberd, "ctl", lambda *a, **k: self.fail("started")):
            with self.assertRaisesRegex(lab.LabError, "10.0.0.5:4400, the cluster's port"):
                ejabberd.start_node(started, self.root, 0)

    def test_a_node_counts_as_joined_when_node_1_runs_it(self):
        _, started = self.start(self.REMOTE)
        cluster = "wex5222@10.0.0.5\nwex5222@10.0.0.6\n"
        with mock.patch.object(ejabberd, "ctl", lambda *a, **k: subprocess.CompletedProcess(
                [], 0, cluster, "")), mock.patch.object(lab_server, "port_open",
                                                        lambda address, port: True):
            self.assertTrue(nodes.joined(started, self.root, 1))
            self.assertFalse(nodes.joined(started, self.root, 2))
        with mock.patch.object(ejabberd, "ctl", lambda *a, **k: self.fail("asked node 1")):
            self.assertFalse(nodes.joined(started, self.root, 1))  # its port is closed


class WaitJoinedTest(unittest.TestCase):
    LAB = {"nodes": [{"name": "wex5222@10.0.0.5", "address": "10.0.0.5", "port": 5222},
                     {"name": "wex5222@10.0.0.6", "address": "10.0.0.6", "port": 5222,
                      "remote": True, "host": "lab-a"}],
           "cluster_port": 4400}

    def test_says_where_to_serve_then_waits_for_the_join(self):
        answers = iter([False, False, True])
        said = []
        with mock.patch.object(nodes, "joined", lambda *a: next(answers)), \
                mock.patch.object(nodes.time, "sleep", lambda s: None):
            nodes.wait_joined(self.LAB, "/s", said.append)
        text = "\n".join(said)
        self.assertIn("Copy its kit /s/nodes/node2-10.0.0.6.kit there", text)
        self.assertIn("wexlab node serve node2-10.0.0.6.kit", text)
        self.assertIn("accept TCP 5222 (participants and bots) and 4400", text)
        self.assertEqual(said[-1], "ejabberd node 2 (wex5222@10.0.0.6) joined the cluster.")

    def test_gives_up_in_time_and_says_how_to_wait_again(self):
        with mock.patch.object(nodes, "joined", lambda *a: False), \
                mock.patch.object(nodes.time, "sleep", lambda s: None), \
                self.assertRaisesRegex(lab.LabError, "lab-a did not join.*wexlab resume waits"):
            nodes.wait_joined(self.LAB, "/s", lambda line: None, seconds=0)

    def test_nothing_to_wait_for(self):
        with mock.patch.object(nodes, "joined", lambda *a: True):
            nodes.wait_joined(self.LAB, "/s", self.fail)
        nodes.wait_joined({"nodes": [self.LAB["nodes"][0]]}, "/s", self.fail)


class TerminateTest(unittest.TestCase):
    def test_a_process_that_ignores_sigterm_is_killed_and_named(self):
        polite = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
        stubborn = subprocess.Popen(
            [sys.executable, "-c", "import signal, time; signal.signal(signal.SIGTERM, "
             "signal.SIG_IGN); print('ready', flush=True); time.sleep(60)"],
            stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(stubborn.stdout.readline(), "ready\n")
            killed = bots.terminate([polite.pid, stubborn.pid], 1)
            self.assertEqual(killed, [stubborn.pid])
            self.assertEqual(polite.wait(5), -15)
            self.assertEqual(stubborn.wait(5), -9)
        finally:
            for proc in (polite, stubborn):
                proc.kill()
                proc.wait()
            stubborn.stdout.close()


class InstalledLayoutTest(unittest.TestCase):
    """wexlab as the package installs it: PREFIX/bin/wexlab a link to
    PREFIX/lib/wex/wexlab, beside its package, lab-server.py and wexbot."""

    def setUp(self):
        scripts = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                               "scripts")
        self.prefix = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.prefix)
        lib = os.path.join(self.prefix, "lib", "wex")
        os.makedirs(os.path.join(self.prefix, "bin"))
        shutil.copytree(scripts, lib, ignore=shutil.ignore_patterns("__pycache__"))
        os.symlink("../lib/wex/wexlab", os.path.join(self.prefix, "bin", "wexlab"))
        self.bot = os.path.join(self.prefix, "bin", "wexbot")
        with open(self.bot, "w") as f:
            f.write("#!/bin/sh\n")
        os.chmod(self.bot, 0o755)
        # Neither $WEXBOT nor a wexbot on the PATH may answer for the
        # installed one.
        self.env = {k: v for k, v in os.environ.items() if k != "WEXBOT"}
        self.env["PATH"] = "/nonexistent"

    def run_python(self, code, *args):
        return subprocess.run([sys.executable, "-c", code, *args], env=self.env,
                              capture_output=True, text=True, timeout=30)

    def test_the_link_runs_wexlab_with_its_package(self):
        done = subprocess.run([sys.executable, os.path.join(self.prefix, "bin", "wexlab"),
                               "rehearse", "--help"], env=self.env, capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("--pairs", done.stdout)

    def test_installed_wexbot_and_lab_server_are_found_with_no_option(self):
        done = self.run_python(
            "import sys; sys.path.insert(0, sys.argv[1]); sys.dont_write_bytecode = True\n"
            "from wexlab_lib import SCRIPTS, commands, ejabberd, lab_server\n"
            "print(commands.find_bot(None)); print(SCRIPTS); print(lab_server.PLUGINS)\n"
            "print(ejabberd.SOURCE)",
            os.path.join(self.prefix, "lib", "wex"))
        self.assertEqual(done.returncode, 0, done.stderr)
        lib = os.path.join(self.prefix, "lib", "wex")
        self.assertEqual(done.stdout.split("\n")[:4],
                         [self.bot, lib, os.path.join(lib, "prosody"),
                          os.path.join(lib, "ejabberd", "mod_wex_lab_policy.erl")])

    def test_without_an_installed_wexbot_the_fault_is_named(self):
        os.remove(self.bot)
        done = self.run_python(
            "import sys; sys.path.insert(0, sys.argv[1]); sys.dont_write_bytecode = True\n"
            "from wexlab_lib import commands, lab\n"
            "try:\n    commands.find_bot(None)\nexcept lab.LabError as e:\n    print(e)",
            os.path.join(self.prefix, "lib", "wex"))
        self.assertIn("wexbot not found", done.stdout)


if __name__ == "__main__":
    unittest.main()
