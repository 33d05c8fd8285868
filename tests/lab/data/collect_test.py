#!/usr/bin/python3
"""Unit tests of the merged data files and the report page."""

import csv
import json
import os
import re
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.data import collect, report, report_summary  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402


SESSION = "20260101-100000-ab12"
ROUNDS_HEADER = ("round,subject,name,expectation,investment,partner_investment,divisor,"
                 "earnings,bonus,total_credits,expectation_time,investment_time")


class CollectTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-test-")
        self.lab = lab_file.from_json({
            "log_file": "lab", "seed": 3, "rounds": 2, "session_id": SESSION,
            "pairs": [{"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "ann"},
                      {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "bob"}]})
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
        self.assertEqual(rows[0], ["session", "pair", "time", "round", "from", "text"])
        self.assertEqual(rows[1], [SESSION, "2", "t", "1", "cy", 'hi, "you"\nthere'])
        # No pair has reached its payouts: each subject has a row, unpaid.
        self.assertEqual([(r["name"], r["payout"], r["ended"]) for r in tables["payouts"]],
                         [("cy", "", "running"), ("ann", "", "running"),
                          ("dee", "", "running"), ("bob", "", "running")])

    def test_the_csv_keeps_chat_exact_and_the_report_shows_it_escaped(self):
        text = "photo\u202egnp.exe\n=HYPERLINK(\"x\")"
        self.write("pair01", "lab_20260101_100000_chat.csv",
                   f'time,round,from,text\r\nt,1,cy,"{text.replace(chr(34), 2 * chr(34))}"\r\n')
        tables = collect.collect(self.folder, self.lab)
        with open(os.path.join(self.folder, "session_chat.csv"), newline="",
                  encoding="utf-8") as f:
            self.assertEqual(list(csv.reader(f))[1], [SESSION, "1", "t", "1", "cy", text])
        page = report_summary.render_bottom(self.lab, tables)
        self.assertNotIn("\u202e", page)
        self.assertIn("<bdi>photo\\u{202E}gnp.exe\\n=HYPERLINK(&quot;x&quot;)</bdi>", page)

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
        self.lab.pairs[0].treatment = "a"
        self.lab.pairs[1].treatment, self.lab.pairs[1].rounds = "b", 3
        self.lab.pairs.append(lab_file.Pair(3, "pair03", "eve", "fay", treatment="a"))
        os.makedirs(os.path.join(self.folder, "pair03"))
        self.lab.treatments = [lab_file.Treatment("a", {}),
                               lab_file.Treatment("b", {"CreditValue": "0.01", "NRounds": "3"})]
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
                                           "rounds", "credit_value", "min_payout", "max_payout",
                                           "payout_before_limits", "ended"]),
                              ("chat", [])):
            with open(os.path.join(self.folder, f"session_{kind}.csv"), newline="",
                      encoding="utf-8") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows[0], ["session", "pair", "treatment"] + columns, kind)
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
        self.assertIn("Treatment b (CreditValue 0.01, NRounds 3): 1 pair", page)
        self.assertIn("Treatment a (the session&#x27;s values): 2 pairs", page)
        table = page.split('<table id="treatments">')[1].split("</table>")[0]
        cells = {name: re.findall(r"<td[^>]*>([^<]*)</td>", row)
                 for name, row in re.findall(r'<tr data-treatment="(\w)">(.*?)</tr>', table)}
        # a: round 1 (20 + 41) / 2, round 2 (0 + 60) / 2 (pair 3 has no rows);
        # b: round 1 (6 + 8) / 2, no round 2 yet; three round columns (b has 3).
        self.assertEqual(cells["a"][2:], ["2", "1, 3", "30.5", "30.0", ""])
        self.assertEqual(cells["b"][2:], ["1", "2", "7.0", "", ""])
        payouts = page.split('<table id="payouts">')[1].split("</table>")[0]
        self.assertIn("<th>pair</th><th>treatment</th><th>subject</th>", payouts)
        self.assertIn("<td>1</td><td>a</td><td>2</td><td>ann</td>", payouts)
        self.assertIn('<td colspan="5"><b>total</b></td><td class="n"><b>22.50</b>', payouts)
        # Pair 2's chart spans its treatment's three rounds.
        chart = page.split('data-pair="2"')[1].split("</svg>")[0]
        self.assertIn('text-anchor="middle">3</text>', chart)
        self.assertNotIn("http", page.replace('xmlns="http://www.w3.org/2000/svg"', ""))


def journal_text(entries):
    """A journal's lines: the CRC-32 of each entry's JSON, a blank, the JSON."""
    lines = []
    for entry in entries:
        text = json.dumps(entry, separators=(",", ":"))
        lines.append(f"{zlib.crc32(text.encode('utf-8')):08x} {text}\n")
    return "".join(lines)


T0 = 1767258000  # 2026-01-01T10:00:00+01:00
START = {"kind": "start", "t": T0, "Subject1Name": "cy", "Subject2Name": "ann",
         "NRounds": 2, "CreditValue": 0.01, "MinPayout": 5, "MaxPayout": 30}


def answer(t, subject, round_, what, value, **more):
    return dict({"kind": "answer", "t": T0 + t, "subject": subject, "round": round_,
                 "what": what, "value": value}, **more)


class CompleteDataTest(unittest.TestCase):
    """The session's files from journals and bot files: the session column,
    times with their offset, money in two decimals, the payouts' pay rule
    and ending, and every answer in the decisions file."""

    def setUp(self):
        self.old_tz = os.environ.get("TZ")
        os.environ["TZ"] = "Europe/Berlin"
        time.tzset()
        self.folder = tempfile.mkdtemp(prefix="wexlab-test-")
        self.lab = lab_file.from_json({
            "log_file": "lab", "seed": 3, "rounds": 2, "session_id": SESSION,
            "pairs": [{"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "ann"},
                      {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "bob"}]})
        for pair in ("pair01", "pair02"):
            os.makedirs(os.path.join(self.folder, pair))

    def tearDown(self):
        import shutil
        shutil.rmtree(self.folder)
        if self.old_tz is None:
            os.environ.pop("TZ")
        else:
            os.environ["TZ"] = self.old_tz
        time.tzset()

    def write(self, pair, name, text):
        with open(os.path.join(self.folder, pair, name), "w", encoding="utf-8",
                  newline="") as f:
            f.write(text)

    def stopped_mid_round(self):
        """Pair 1: round 1 closed, then in round 2 cy's expectation (taken
        by the timeout) and ann's (her time extended first), then `e`."""
        self.write("pair01", "lab_20260101_100000.journal", journal_text([
            START, {"kind": "join", "t": T0 + 1, "subject": 1, "round": 0},
            {"kind": "join", "t": T0 + 2, "subject": 2, "round": 1},
            answer(5, 1, 1, "expectation", 30), answer(6, 2, 1, "expectation", 20),
            answer(7, 1, 1, "investment", 40), {"kind": "sent", "t": T0 + 8, "slot": 1},
            answer(8, 2, 1, "investment", 35),
            {"kind": "close", "t": T0 + 8, "round": 1, "divisor": 0.9,
             "earnings_1": 103.33333333333333, "earnings_2": 108.33333333333333,
             "total_1": 103.33333333333333, "total_2": 108.33333333333333, "break": False},
            answer(20, 1, 2, "expectation", 44, source="timeout"),
            {"kind": "extend", "t": T0 + 21, "subject": 2, "round": 2, "what": "expectation",
             "seconds": 30},
            answer(40, 2, 2, "expectation", 46),
            {"kind": "stop", "t": T0 + 50, "round": 2}]))
        self.write("pair01", "lab_20260101_100000_rounds.csv", "\r\n".join([
            ROUNDS_HEADER + ",expectation_source,investment_source",
            "1,1,cy,30,40,35,0.9,103.33333333333333,,103.33333333333333,"
            "2026-01-01T10:00:05,2026-01-01T10:00:07,subject,subject",
            "1,2,ann,20,35,40,0.9,108.33333333333333,,108.33333333333333,"
            "2026-01-01T10:00:06,2026-01-01T10:00:08,subject,subject"]) + "\r\n")

    def paid(self):
        """Pair 2: paid by the bot's report, its pay rule in the journal."""
        self.write("pair02", "lab_20260101_100000.journal", journal_text([
            dict(START, Subject1Name="dee", Subject2Name="bob", CreditValue=0.0075,
                 MinPayout=10, MaxPayout=25),
            {"kind": "close", "t": T0 + 9, "round": 2, "total_1": 1500, "total_2": 2000.5},
            {"kind": "report", "t": T0 + 10, "payout_1": 11.25, "payout_2": 15.00375}]))
        self.write("pair02", "lab_20260101_100000_payouts.csv",
                   "subject,name,total_credits,payout,rounds\r\n1,dee,1500,11.25,2\r\n"
                   "2,bob,2000.5,15.00,2\r\n")

    def test_session_times_and_money_in_every_row(self):
        self.stopped_mid_round()
        tables = collect.collect(self.folder, self.lab)
        first = tables["rounds"][0]
        self.assertEqual(first["session"], SESSION)
        self.assertEqual(first["expectation_time"], "2026-01-01T10:00:05+01:00")
        self.assertEqual(first["earnings"], "103.33")
        self.assertEqual(first["total_credits"], "103.33")
        self.assertEqual(first["divisor"], "0.9")  # not money: exact
        self.assertEqual(first["bonus"], "")
        # The pair's own file keeps the bot's exact values.
        with open(os.path.join(self.folder, "pair01", "lab_20260101_100000_rounds.csv"),
                  encoding="utf-8") as f:
            self.assertIn("103.33333333333333", f.read())

    def test_decisions_of_a_game_stopped_mid_round(self):
        self.stopped_mid_round()
        tables = collect.collect(self.folder, self.lab)
        rows = [(r["round"], r["stage"], r["subject"], r["value"], r["source"],
                 r["closed_round"], r["extended"]) for r in tables["decisions"]]
        self.assertEqual(rows, [
            ("1", "expectation", "cy", "30", "subject", "0", "0"),
            ("1", "expectation", "ann", "20", "subject", "0", "0"),
            ("1", "investment", "cy", "40", "subject", "0", "0"),
            ("1", "investment", "ann", "35", "subject", "1", "0"),
            ("2", "expectation", "cy", "44", "timeout", "0", "0"),
            ("2", "expectation", "ann", "46", "subject", "0", "1")])
        self.assertEqual(tables["decisions"][-1]["time"], "2026-01-01T10:00:40+01:00")
        self.assertEqual({r["session"] for r in tables["decisions"]}, {SESSION})
        with open(os.path.join(self.folder, "session_decisions.csv"), newline="",
                  encoding="utf-8") as f:
            self.assertEqual(next(csv.reader(f)),
                             ["session", "pair", "time", "round", "stage", "subject", "value",
                              "source", "closed_round", "extended"])

    def test_decisions_keep_the_stand_ins_answers_as_robot(self):
        """Pair 2: bob drops out in round 1 after his expectation; the
        stand-in gives his investment and dee closes the round."""
        self.write("pair02", "lab_20260101_100000.journal", journal_text([
            dict(START, Subject1Name="dee", Subject2Name="bob"),
            answer(5, 2, 1, "expectation", 25), answer(6, 1, 1, "expectation", 30),
            {"kind": "dropout", "t": T0 + 40, "subject": 2, "round": 1, "mode": "robot",
             "credits": 0, "payout": 5},
            answer(40, 2, 1, "investment", 30, source="robot"),
            answer(50, 1, 1, "investment", 10),
            {"kind": "close", "t": T0 + 50, "round": 1, "divisor": 1, "earnings_1": 90,
             "earnings_2": 70, "total_1": 90, "total_2": 70, "break": False}]))
        tables = collect.collect(self.folder, self.lab)
        rows = [(r["pair"], r["subject"], r["stage"], r["value"], r["source"], r["closed_round"])
                for r in tables["decisions"]]
        self.assertEqual(rows, [
            ("2", "bob", "expectation", "25", "subject", "0"),
            ("2", "dee", "expectation", "30", "subject", "0"),
            ("2", "bob", "investment", "30", "robot", "0"),
            ("2", "dee", "investment", "10", "subject", "1")])

    def test_payouts_carry_the_rule_and_every_subject(self):
        self.stopped_mid_round()
        self.paid()
        tables = collect.collect(self.folder, self.lab)
        got = [(r["pair"], r["name"], r["total_credits"], r["payout"], r["rounds"],
                r["credit_value"], r["min_payout"], r["max_payout"],
                r["payout_before_limits"], r["ended"]) for r in tables["payouts"]]
        self.assertEqual(got, [
            ("1", "cy", "103.33", "", "1", "0.01", "5.00", "30.00", "", "stopped"),
            ("1", "ann", "108.33", "", "1", "0.01", "5.00", "30.00", "", "stopped"),
            ("2", "dee", "1500.00", "11.25", "2", "0.0075", "10.00", "25.00", "11.25",
             "completed"),
            ("2", "bob", "2000.50", "15.00", "2", "0.0075", "10.00", "25.00", "15.00",
             "completed")])

    def test_a_running_game_counts_as_stopped_once_the_session_stopped(self):
        self.paid()
        self.write("pair01", "lab_20260101_100000.journal", journal_text([START]))
        self.assertEqual([r["ended"] for r in collect.collect(self.folder, self.lab)["payouts"]],
                         ["running"] * 2 + ["completed"] * 2)
        with open(os.path.join(self.folder, "stopping"), "w") as f:
            f.write("wexlab stop\n")
        self.assertEqual([r["ended"] for r in collect.collect(self.folder, self.lab)["payouts"]],
                         ["stopped"] * 2 + ["completed"] * 2)

    def test_a_lab_without_a_session_id_is_dated_by_its_supervisor(self):
        self.lab.session_id = None
        with open(os.path.join(self.folder, "supervisor.log"), "w") as f:
            f.write("2026-01-01 09:59:58 supervisor started\n")
        first = collect.session_id(self.folder, self.lab)
        self.assertRegex(first, r"^20260101-095958-[0-9a-f]{4}$")
        self.assertEqual(collect.session_id(self.folder, self.lab), first)


if __name__ == "__main__":
    unittest.main()
