#!/usr/bin/python3
"""session.xlsx read back: a sheet per data file, numbers as numbers and
every text a text cell, a chat line beginning with "=" included."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.data import spreadsheet  # noqa: E402

try:
    import openpyxl
except ImportError:
    openpyxl = None


@unittest.skipIf(openpyxl is None, "needs python3-openpyxl")
class SpreadsheetTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-xlsx-")
        self.addCleanup(shutil.rmtree, self.folder)

    def test_texts_stay_text_and_numbers_are_numbers(self):
        path = os.path.join(self.folder, "session.xlsx")
        chat = ["session", "pair", "time", "round", "from", "text"]
        texts = ["=1+1", "=HYPERLINK(\"http://x\",\"y\")", "+49 30 1234", "@SUM(A1)", "007"]
        rows = [["20261208-110000-ab12", "1", "2026-12-08T11:00:30+01:00", "3", "ann", text]
                for text in texts]
        rounds = [["20261208-110000-ab12", "1", "1", "103.33", ""]]
        types = {"pair": "integer", "round": "integer", "time": "datetime", "text": "string",
                 "earnings": "number", "bonus": "number", "session": "string",
                 "from": "string"}
        self.assertTrue(spreadsheet.write(path, [
            ("session_chat", chat, rows, types),
            ("session_rounds", ["session", "pair", "round", "earnings", "bonus"], rounds,
             types)]))
        book = openpyxl.load_workbook(path)
        self.assertEqual(book.sheetnames, ["session_chat", "session_rounds"])
        sheet = book["session_chat"]
        self.assertEqual([c.value for c in sheet[1]], chat)
        for r, text in enumerate(texts, start=2):
            cell = sheet.cell(row=r, column=6)
            self.assertEqual((cell.value, cell.data_type), (text, "s"))
            self.assertEqual(sheet.cell(row=r, column=2).value, 1)
            self.assertEqual(sheet.cell(row=r, column=3).data_type, "s")
        row = [c.value for c in book["session_rounds"][2]]
        self.assertEqual(row, ["20261208-110000-ab12", 1, 1, 103.33, None])
        # Nothing in the file is a formula.
        for ws in book.worksheets:
            for line in ws.iter_rows():
                self.assertFalse([c.coordinate for c in line if c.data_type == "f"])


if __name__ == "__main__":
    unittest.main()
