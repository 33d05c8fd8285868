#!/usr/bin/python3
"""The codebook against a real collected session: every column of every
written file is described and every described column is written; the
Data Package and codebook.md agree with the files."""

import csv
import json
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import fixtures  # noqa: E402
import played  # noqa: E402
from wexlab.data import codebook  # noqa: E402
from wexlab.model import record  # noqa: E402


class PlayedSessionTest(unittest.TestCase):
    """One played session shared by the tests of a class."""

    @classmethod
    def setUpClass(cls):
        fixtures.wexbot()  # skips without a built bot
        cls.root = tempfile.mkdtemp(prefix="wexlab-played-")
        cls.folder, cls.lab, cls.start_output = played.play(cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def rows(self, name):
        with open(os.path.join(self.folder, name), newline="", encoding="utf-8") as f:
            return list(csv.reader(f))


class CodebookTest(PlayedSessionTest):
    def test_every_column_described_and_every_description_written(self):
        lab = record.load(self.folder)
        for kind in codebook.COLUMNS:
            with self.subTest(kind=kind):
                header = self.rows(codebook.file_name(kind))[0]
                extra, absent = codebook.undescribed(kind, header, lab)
                self.assertEqual((extra, absent), ([], []))
                self.assertGreater(len(self.rows(codebook.file_name(kind))), 1)

    def test_the_package_names_each_file_and_its_columns(self):
        with open(os.path.join(self.folder, "datapackage.json"), encoding="utf-8") as f:
            package = json.load(f)
        self.assertEqual(package["session"], self.lab.session_id)
        self.assertEqual([t["name"] for t in package["treatments"]], ["low", "high"])
        self.assertEqual(package["treatments"][1]["keys"],
                         {"CreditValue": "0.02", "MinPayout": "4"})
        for resource in package["resources"]:
            header = self.rows(resource["path"])[0]
            fields = resource["schema"]["fields"]
            self.assertEqual([f["name"] for f in fields], header, resource["path"])
            for f in fields:
                self.assertTrue(f["description"] and f["type"], f)
        payouts = next(r for r in package["resources"] if r["path"] == "session_payouts.csv")
        units = {f["name"]: f.get("unit") for f in payouts["schema"]["fields"]}
        self.assertEqual((units["payout"], units["total_credits"]), ("USD", "credits"))
        with open(os.path.join(self.folder, "codebook.md"), encoding="utf-8") as f:
            page = f.read()
        for resource in package["resources"]:
            section = page.split(f"## {resource['path']}")[1].split("\n## ")[0]
            for name in self.rows(resource["path"])[0]:
                self.assertIn(f"| `{name}` |", section)

    def test_a_column_without_description_is_refused(self):
        with self.assertRaisesRegex(ValueError, "no description of mood"):
            codebook.datapackage(self.lab, "x", {"chat": ["session", "pair", "treatment",
                                                          "mood"]})


class PlayedDataTest(PlayedSessionTest):
    """The session's files of the three ways its games ended."""

    def test_payouts_say_how_each_game_ended(self):
        rows = self.rows("session_payouts.csv")
        header = rows[0]
        got = {(row[header.index("pair")], row[header.index("ended")]) for row in rows[1:]}
        self.assertEqual(got, {("1", "completed"), ("2", "paid_now"), ("3", "stopped")})
        self.assertEqual(len(rows) - 1, 6)  # every subject
        for row in rows[1:]:
            cells = dict(zip(header, row))
            self.assertEqual(cells["session"], self.lab.session_id)
            paid = cells["ended"] != "stopped"
            self.assertEqual(cells["payout"] != "", paid, cells)
            self.assertEqual(cells["credit_value"],
                             {"low": "0.005", "high": "0.02"}[cells["treatment"]])
            if paid:
                before = float(cells["total_credits"]) * float(cells["credit_value"])
                self.assertAlmostEqual(float(cells["payout_before_limits"]), before, delta=0.01)
                self.assertRegex(cells["payout"], r"^\d+\.\d\d$")

    def test_decisions_hold_the_stopped_round(self):
        rows = self.rows("session_decisions.csv")
        header = rows[0]
        stopped = [dict(zip(header, row)) for row in rows[1:] if row[1] == "3"]
        last = stopped[-1]
        self.assertEqual((last["round"], last["stage"], last["value"], last["closed_round"]),
                         ("2", "expectation", "44", "0"))
        self.assertEqual([r["closed_round"] for r in stopped], ["0", "0", "0", "1", "0"])
        self.assertRegex(last["time"], r"^2026-12-08T11:00:20\+01:00$")

    def test_the_workbook_keeps_the_formula_like_chat_line_as_text(self):
        try:
            import openpyxl
        except ImportError:
            self.skipTest("needs python3-openpyxl")
        book = openpyxl.load_workbook(os.path.join(self.folder, "session.xlsx"))
        self.assertEqual(book.sheetnames, ["session_rounds", "session_chat", "session_payouts",
                                           "session_decisions"])
        chat = book["session_chat"]
        cells = [row[-1] for row in chat.iter_rows(min_row=2)]
        line = next(c for c in cells if c.value == played.FORMULA)
        self.assertEqual(line.data_type, "s")
        payouts = book["session_payouts"]
        header = [c.value for c in payouts[1]]
        payout = payouts.cell(row=2, column=header.index("payout") + 1)
        self.assertEqual(payout.data_type, "n")
        self.assertEqual(payout.value, float(self.rows("session_payouts.csv")[1][header.index(
            "payout")]))


if __name__ == "__main__":
    unittest.main()
