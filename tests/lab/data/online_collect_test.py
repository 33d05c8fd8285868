#!/usr/bin/python3
"""Collecting an online session's folder: only the formed pool pairs in
the data, session_participants.csv and session_bonus.csv written and
described, the subjects left out of the bonus file said; and a lab
session gets neither file."""

import csv
import json
import os
import re
import shutil
import sys
import tempfile
import unittest
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.data import bundle, collect, report_online, report_summary  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402

SESSION = "20261208-100000-ab12"
T0 = 1_800_000_000.0


def journal_text(entries):
    lines = []
    for entry in entries:
        text = json.dumps(entry, separators=(",", ":"))
        lines.append(f"{zlib.crc32(text.encode('utf-8')):08x} {text}\n")
    return "".join(lines)


def start(t):
    return {"kind": "start", "t": t, "NRounds": 2, "CreditValue": 0.01, "MinPayout": 0,
            "MaxPayout": 30}


ROOM = [{"kind": "open", "session": SESSION, "max_pairs": 3},
        {"kind": "arrive", "ticket": "t1", "label": "PIDann"},
        {"kind": "arrive", "ticket": "t2", "label": ""},
        {"kind": "pair", "pair": 1, "tickets": ["t1", "t2"], "treatment": "a"},
        {"kind": "arrive", "ticket": "t3", "label": "PIDbob"},
        {"kind": "arrive", "ticket": "t4", "label": "PIDcy"},
        {"kind": "pair", "pair": 2, "tickets": ["t4", "t3"], "treatment": "b"},
        {"kind": "arrive", "ticket": "t5", "label": "PIDdee"},
        {"kind": "exit", "ticket": "t5", "outcome": "waited_out", "fee": "1.00",
         "code": "NOPE"}]


class OnlineCollectTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-test-")
        pool = [{"index": k, "bot": f"pair0{k}", "subject1": f"seat{2 * k - 1}",
                 "subject2": f"seat{2 * k}", "treatment": "ab"[(k - 1) % 2]}
                for k in (1, 2, 3)]
        self.lab = lab_file.from_json({"log_file": "lab", "seed": 3, "rounds": 2,
                                       "session_id": SESSION, "pairs": pool,
                                       "treatments": [{"name": "a", "values": {}},
                                                      {"name": "b", "values": {}}]})
        self.lab.online = lab_file.Online(max_pairs=3, show_up_fee="1.00",
                                          completion_code="DONE", no_partner_code="NOPE")
        for pair in ("pair01", "pair02", "pair03"):
            os.makedirs(os.path.join(self.folder, pair))
        with open(os.path.join(self.folder, "room.log"), "w", encoding="utf-8") as f:
            for i, entry in enumerate(ROOM):
                f.write(json.dumps(dict(entry, time=T0 + 10 * i)) + "\n")
        self.journal("pair01", [start(T0 + 30), {"kind": "dropout", "subject": 2, "round": 1,
                                                 "mode": "robot", "credits": 60,
                                                 "payout": 0.6},
                                {"kind": "answer", "t": T0 + 50, "subject": 2, "round": 2,
                                 "what": "expectation", "value": 7, "source": "robot"},
                                {"kind": "report", "payout_1": 1.5, "payout_2": 0.9}])
        self.journal("pair02", [start(T0 + 60), {"kind": "report", "payout_1": 2.25,
                                                 "payout_2": 3}])

    def tearDown(self):
        shutil.rmtree(self.folder)

    def journal(self, pair, entries):
        with open(os.path.join(self.folder, pair, "lab_20261208_100000.journal"), "w",
                  encoding="utf-8") as f:
            f.write(journal_text(entries))

    def read(self, name):
        with open(os.path.join(self.folder, name), encoding="utf-8", newline="") as f:
            return f.read()

    def test_participants_bonus_and_their_descriptions_are_written(self):
        warnings = []
        tables = collect.collect(self.folder, self.lab, warnings)
        rows = list(csv.DictReader(self.read("session_participants.csv").splitlines()))
        self.assertEqual(rows, tables["participants"])
        got = [(r["ticket"], r["seat"], r["pair"], r["treatment"], r["outcome"], r["payout"],
                r["code_shown"]) for r in rows]
        self.assertEqual(got, [("t1", "seat1", "1", "a", "completed", "1.50", "DONE"),
                               ("t2", "seat2", "1", "a", "replaced", "0.60", "DONE"),
                               ("t3", "seat4", "2", "b", "completed", "3.00", "DONE"),
                               ("t4", "seat3", "2", "b", "completed", "2.25", "DONE"),
                               ("t5", "", "", "", "waited_out", "1.00", "NOPE")])
        self.assertEqual({r["session"] for r in rows}, {SESSION})
        self.assertEqual([r["seconds_waited"] for r in rows],
                         ["20.00", "10.00", "20.00", "10.00", "10.00"])
        # No header; the unlabelled replaced subject is said, not written.
        self.assertEqual(self.read("session_bonus.csv"), "PIDann,1.50\nPIDbob,3.00\nPIDcy,2.25\n")
        self.assertEqual(warnings, ["session_bonus.csv leaves out 1 subject owed a bonus "
                                    "without a label"])
        package = json.loads(self.read("datapackage.json"))
        resources = {r["path"]: r for r in package["resources"]}
        self.assertEqual([f["name"] for f in resources["session_participants.csv"]["schema"]
                          ["fields"]], list(rows[0]))
        self.assertEqual(resources["session_bonus.csv"]["dialect"], {"header": False})
        page = self.read("codebook.md")
        for name in ("session_participants.csv", "session_bonus.csv", "`code_shown`",
                     "`amount`"):
            self.assertIn(name, page)

    def test_only_formed_pairs_are_in_the_games_data(self):
        tables = collect.collect(self.folder, self.lab)
        # The stand-in's answer is in the decisions, said to be the robot's.
        self.assertEqual([(d["pair"], d["value"], d["source"]) for d in tables["decisions"]],
                         [("1", "7", "robot")])
        self.assertEqual(sorted({r["pair"] for r in tables["payouts"]}), ["1", "2"])
        self.assertEqual(len(tables["payouts"]), 4)
        self.assertEqual(len(collect.played_lab(self.folder, self.lab).pairs), 2)
        self.assertEqual(len(self.lab.pairs), 3)  # the caller's lab is left whole

    def test_a_lab_session_writes_no_online_files(self):
        self.lab.online = None
        tables = collect.collect(self.folder, self.lab)
        self.assertNotIn("participants", tables)
        self.assertEqual(len({r["pair"] for r in tables["payouts"]}), 3)
        for name in ("session_participants.csv", "session_bonus.csv"):
            self.assertFalse(os.path.exists(os.path.join(self.folder, name)))

    def test_the_report_shows_arrivals_waits_attrition_and_exits(self):
        tables = collect.collect(self.folder, self.lab)
        lab = collect.played_lab(self.folder, self.lab)
        page = report_summary.render_top(self.folder, lab, tables)
        self.assertIn("Online session: 5 arrivals", page)
        chart = page.split('<svg id="arrivals"')[1].split("</svg>")[0]
        arrived = chart.split('class="arrived"')[1].split('points="')[1].split('"')[0]
        paired = chart.split('class="paired"')[1].split('points="')[1].split('"')[0]
        # A step up per arrival (5) and per pair (2), from the origin.
        self.assertEqual((len(arrived.split()), len(paired.split())), (11, 5))
        self.assertIn(">70</text>", chart)  # the last arrival, 70 s after the room opened
        self.assertIn("seconds since the room opened", chart)
        longer = report_online.arrivals_chart([10.0, 600.0], [])
        self.assertIn(">10.0</text>", longer)
        self.assertIn("minutes since the room opened", longer)
        waits = dict(re.findall(r"<tr><th>([^<]+)</th><td class=n>([^<]+)</td>",
                                page.split('id="waiting"')[1].split("</table>")[0]))
        self.assertEqual((waits["arrivals"], waits["paired"], waits["median wait"],
                          waits["longest wait"], waits["waited out (no partner in time)"]),
                         ("5", "4", "10.0 s", "20.0 s", "1"))
        table = page.split('id="online-attrition"')[1].split("</table>")[0]
        cells = {name: re.findall(r'<td class="n">(\d+)</td>', row)
                 for name, row in re.findall(r'data-treatment="(\w*)">(.*?)</tr>', table)}
        # pairs formed, completed, paid now, replaced, dropped out, stopped, running
        self.assertEqual(cells, {"a": ["1", "1", "0", "1", "0", "0", "0"],
                                 "b": ["1", "2", "0", "0", "0", "0", "0"]})
        exits = page.split('id="room-exits"')[1].split("</table>")[0]
        self.assertEqual(exits.count("<tr><td>"), 1)
        self.assertIn("<td>t5</td>", exits)
        for label in ("PIDann", "PIDbob", "PIDcy", "PIDdee"):  # shareable: no platform ids
            self.assertNotIn(label, page)

    def test_the_bundle_has_the_participants_without_labels_and_no_bonus_file(self):
        tables = collect.collect(self.folder, self.lab)
        path, names = bundle.write(self.folder, self.lab, SESSION)
        self.assertIn("session_participants.csv", names)
        self.assertNotIn("session_bonus.csv", names)
        with zipfile.ZipFile(path) as z:
            inside = z.read(f"{SESSION}/session_participants.csv").decode()
            every = b"".join(z.read(name) for name in z.namelist())
            readme = z.read(f"{SESSION}/README.md").decode()
        rows = list(csv.DictReader(inside.splitlines()))
        self.assertEqual({r["label"] for r in rows}, {""})
        # Everything else is as collected.
        self.assertEqual([dict(r, label="") for r in tables["participants"]], rows)
        for label in (b"PIDann", b"PIDbob", b"PIDcy", b"PIDdee"):
            self.assertNotIn(label, every)
        self.assertIn("label (the recruiting platform's identifier) left out", readme)
        try:
            import openpyxl
        except ImportError:
            return  # no workbook was written, in the folder or the bundle
        with zipfile.ZipFile(path) as z:
            z.extract(f"{SESSION}/session.xlsx", self.folder)
        book = openpyxl.load_workbook(os.path.join(self.folder, SESSION, "session.xlsx"))
        self.assertEqual(book.sheetnames[-1], "session_participants")
        sheet = book["session_participants"]
        self.assertEqual([c.value for c in sheet[1]], list(rows[0]))
        self.assertEqual({row[1].value for row in sheet.iter_rows(min_row=2)}, {None})
        self.assertEqual([row[2].value for row in sheet.iter_rows(min_row=2)],
                         ["t1", "t2", "t3", "t4", "t5"])
        # The folder's own workbook keeps them, for the researcher.
        own = openpyxl.load_workbook(os.path.join(self.folder, "session.xlsx"))
        self.assertEqual(own["session_participants"]["B2"].value, "PIDann")

    def test_an_empty_room_and_the_time_line(self):
        self.assertEqual(report_online.timeline([]), ([], []))
        self.assertIn("Nobody arrived", report_online.arrivals_chart([], []))
        entries = [{"time": 100.0, "kind": "open"}, {"time": 130.0, "kind": "arrive"},
                   {"time": 103.0, "kind": "arrive"}, {"time": 131.0, "kind": "pair"}]
        self.assertEqual(report_online.timeline(entries), ([3.0, 30.0], [31.0]))

    def test_waiting_counts_who_still_waits_apart_from_the_stopped(self):
        rows = [{"outcome": "running", "seconds_waited": ""},
                {"outcome": "stopped", "seconds_waited": ""},
                {"outcome": "full", "seconds_waited": "0.00"},
                {"outcome": "running", "pair": "1", "seconds_waited": "3.50"}]
        table = report_online.waiting(rows)
        got = dict(re.findall(r"<tr><th>([^<]+)</th><td class=n>([^<]+)</td>", table))
        self.assertEqual((got["still waiting"], got["turned away (full or closed)"],
                          got["median wait"], got["paired"]), ("1", "1", "1.8 s", "1"))


if __name__ == "__main__":
    unittest.main()
