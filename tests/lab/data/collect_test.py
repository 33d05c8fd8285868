#!/usr/bin/python3
"""Unit tests of the merged data files and the report page."""

import csv
import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.data import collect, report, report_summary  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402


ROUNDS_HEADER = ("round,subject,name,expectation,investment,partner_investment,divisor,"
                 "earnings,bonus,total_credits,expectation_time,investment_time")


class CollectTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-test-")
        self.lab = lab_file.from_json({
            "log_file": "lab", "seed": 3, "rounds": 2,
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
        self.assertEqual(rows[0], ["pair", "time", "round", "from", "text"])
        self.assertEqual(rows[1], ["2", "t", "1", "cy", 'hi, "you"\nthere'])
        with open(os.path.join(self.folder, "session_payouts.csv"), encoding="utf-8") as f:
            self.assertEqual(f.read().strip(), "pair")  # no pair has reached its payouts

    def test_the_csv_keeps_chat_exact_and_the_report_shows_it_escaped(self):
        text = "photo\u202egnp.exe\n=HYPERLINK(\"x\")"
        self.write("pair01", "lab_20260101_100000_chat.csv",
                   f'time,round,from,text\r\nt,1,cy,"{text.replace(chr(34), 2 * chr(34))}"\r\n')
        tables = collect.collect(self.folder, self.lab)
        with open(os.path.join(self.folder, "session_chat.csv"), newline="",
                  encoding="utf-8") as f:
            self.assertEqual(list(csv.reader(f))[1], ["1", "t", "1", "cy", text])
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


if __name__ == "__main__":
    unittest.main()
