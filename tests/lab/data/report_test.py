#!/usr/bin/python3
"""Unit tests of report.html's treatments and attrition: the treatments
table counts pairs, headings say "1 pair" and "2 pairs", one mean
investment chart per treatment, the attrition table per treatment (a
completed, a paid-now and a stopped pair), the stopped pair's line, and
the incidents from the journals, desk.log and server/refused.log."""

import json
import os
import re
import shutil
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.data import report, report_summary  # noqa: E402
from wexlab.data.numbers import count  # noqa: E402
from wexlab.model import record  # noqa: E402

T0 = 1_800_000_000
LAB = {"log_file": "lab", "rounds": 2, "seed": 5, "address": "127.0.0.1", "port": 1,
       "treatments": [{"name": "base", "values": {}},
                      {"name": "rich", "values": {"CreditValue": "0.01"}}],
       "pairs": [{"index": 1, "bot": "pair01", "subject1": "ann", "subject2": "bob",
                  "treatment": "base"},
                 {"index": 2, "bot": "pair02", "subject1": "cy", "subject2": "dee",
                  "treatment": "base"},
                 {"index": 3, "bot": "pair03", "subject1": "eve", "subject2": "fay",
                  "treatment": "rich"}]}


def journal_line(kind, t, **keys):
    text = json.dumps(dict({"kind": kind, "t": t}, **keys), separators=(",", ":"))
    return f"{zlib.crc32(text.encode()):08x} {text}\n"


def local(t):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(t))


def played(bot, names, rounds, timeout_in=None):
    """A journal's lines: both joined, `rounds` rounds closed; subject 2's
    investment in round `timeout_in` taken by timeout."""
    lines = [journal_line("start", T0, BotUsername=bot, Subject1Name=names[0],
                          Subject2Name=names[1], NRounds=2),
             journal_line("join", T0 + 1, subject=1, round=0),
             journal_line("join", T0 + 1, subject=2, round=1)]
    for r in range(1, rounds + 1):
        for subject in (1, 2):
            extra = {"source": "timeout"} if subject == 2 and r == timeout_in else {}
            lines.append(journal_line("answer", T0 + 10 * r, subject=subject,
                                      what="investment", value=10 * subject, round=r, **extra))
        lines.append(journal_line("close", T0 + 10 * r + 1, round=r, **{"break": False}))
    return lines


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="report-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.lab = record.from_json(LAB)
        for pair in self.lab.pairs:
            os.makedirs(os.path.join(self.folder, pair.bot))
        os.makedirs(os.path.join(self.folder, "server"))
        # Pair 1 completes; pair 2 is paid now in round 2; pair 3 is stopped.
        self.write("pair01", played("pair01", ("ann", "bob"), 2, timeout_in=2) + [
            journal_line("report", T0 + 30, payout_1=10, payout_2=12)])
        self.write("pair02", played("pair02", ("cy", "dee"), 1) + [
            journal_line("stop", T0 + 25, round=2),
            journal_line("report", T0 + 25, payout_1=11, payout_2=11)])
        self.write("pair03", played("pair03", ("eve", "fay"), 1) + [
            journal_line("stop", T0 + 26, round=2)])
        with open(os.path.join(self.folder, "desk.log"), "w", encoding="utf-8") as f:
            f.write(f"{local(T0 + 5)} sent to pair01: s\n"
                    f"{local(T0 + 6)} sent to pair03: b please hurry\u202e\n"
                    f"{local(T0 + 7)} sent to pair03: ?\n"
                    f"{local(T0 + 8)} pair01 answered: okay, sent speed up message.\n"
                    f"{local(T0 + 24)} sent to pair02: p\n")
        with open(os.path.join(self.folder, "server", "refused.log"), "w") as f:
            stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(T0 + 9))
            f.write(f"{stamp}\tmessage\tfay@lab.wex/seat\tann@lab.wex\n")
        self.tables = {
            "rounds": [{"pair": str(p), "round": str(r), "investment": str(v)}
                       for p, r, v in ((1, 1, 10), (1, 1, 20), (1, 2, 30), (1, 2, 30),
                                       (2, 1, 40), (2, 1, 40), (3, 1, 50), (3, 1, 60))],
            "chat": [],
            "payouts": [{"pair": "1", "treatment": "base", "name": "ann", "payout": "10.00"},
                        {"pair": "1", "treatment": "base", "name": "bob", "payout": "12.00"},
                        {"pair": "2", "treatment": "base", "name": "cy", "payout": "11.00"},
                        {"pair": "2", "treatment": "base", "name": "dee", "payout": "11.00"}]}

    def write(self, bot, lines):
        with open(os.path.join(self.folder, bot, "lab_20270115_080000.journal"), "w",
                  encoding="utf-8") as f:
            f.writelines(lines)

    def page(self):
        top = report_summary.render_top(self.folder, self.lab, self.tables)
        return report.render(self.lab, self.tables, 2, top,
                             report_summary.render_bottom(self.lab, self.tables))

    def test_counts_and_plurals(self):
        self.assertEqual([count(n, "pair") for n in (0, 1, 2)], ["0 pairs", "1 pair", "2 pairs"])
        page = self.page()
        self.assertIn("<h1>wex lab session: 3 pairs, seed 5</h1>", page)
        self.assertIn("0.01): 1 pair</h2>", page)
        self.assertIn("session&#x27;s values): 2 pairs</h2>", page)
        self.assertNotIn("1 pairs", page)
        # Still one file: nothing fetched, no script.
        self.assertNotIn("<script", page)
        self.assertNotIn("http", page.replace('xmlns="http://www.w3.org/2000/svg"', ""))
        # The pairs column counts them; their numbers are beside it.
        rows = re.findall(r'<tr data-treatment="(\w+)"><td>\w+</td><td>[^<]*</td>'
                          r'<td class="n">(\d+)</td><td>([\d, ]+)</td>', page)
        self.assertEqual(rows, [("base", "2", "1, 2"), ("rich", "1", "3")])

    def test_one_mean_investment_chart_per_treatment(self):
        page = self.page()
        self.assertEqual(re.findall(r'<svg id="mean-investment-(\w+)"', page), ["base", "rich"])
        self.assertNotIn('id="mean-investment"', page)
        base = page.split('id="mean-investment-base"')[1].split("</svg>")[0]
        self.assertIn("treatment base (2 pairs)", base)
        # base's round 1 mean is (10+20+40+40)/4 = 27.5, round 2 is 30: the top.
        self.assertIn('text-anchor="end">30</text>', base)
        rich = page.split('id="mean-investment-rich"')[1].split("</svg>")[0]
        self.assertIn('text-anchor="end">55</text>', rich)

    def test_attrition_per_treatment(self):
        page = self.page()
        table = page.split('<table id="attrition">')[1].split("</table>")[0]
        head = re.findall(r"<th>([^<]+)</th>", table)
        self.assertEqual(head, ["treatment", "pairs", "completed", "paid now",
                                "stopped without payouts", "dropped out", "subjects paid",
                                "mean payout"])
        cells = {name: re.findall(r'<td class="n">([^<]+)</td>', row) for name, row in
                 re.findall(r'<tr data-treatment="(\w+)">(.*?)</tr>', table)}
        self.assertEqual(cells, {"base": ["2", "1", "1", "0", "0", "4", "$11.00"],
                                 "rich": ["1", "0", "0", "1", "0", "0", "-"]})
        # The payouts file's own ending wins where it has one: a subject
        # replaced by the stand-in leaves the pair's ending to its partner's
        # row, a dropout paid at once makes the pair dropped out.
        self.tables["payouts"][0]["ended"] = "replaced"
        self.tables["payouts"][1]["ended"] = "completed"
        self.tables["payouts"][2]["ended"] = "paid_now"
        self.tables["payouts"][3]["ended"] = "dropout"
        table = self.page().split('<table id="attrition">')[1].split("</table>")[0]
        self.assertIn('<tr data-treatment="base"><td>base</td><td class="n">2</td>'
                      '<td class="n">1</td><td class="n">0</td><td class="n">0</td>'
                      '<td class="n">1</td>', table)

    def test_a_stopped_pair_has_its_line(self):
        page = self.page()
        stopped = page.split('<ul id="stopped">')[1].split("</ul>")[0]
        self.assertEqual(stopped, '<li data-pair="3">Pair 3 (pair03, treatment rich) was '
                         'stopped without payouts after 1 round: nobody in it (eve and fay) '
                         'was paid.</li>')
        self.assertIn('<td class="flag">paid now by the moderator</td>', page)

    def test_incidents(self):
        page = self.page()
        table = page.split('<table id="incidents">')[1].split("</table>")[0]
        found = re.findall(r"<td>(pair0\d)</td><td>([^<]+)</td>", table)
        self.assertEqual(found, [
            ("pair01", "the desk hurried both subjects (s)"),
            ("pair03", "the desk broadcast: please hurry\\u{202E}"),
            ("pair03", "the server refused a message from fay to ann"),
            ("pair01", "no answer in time: bob&#x27;s investment in round 2 taken as 20"),
            ("pair02", "the desk asked to pay now (p)"),
            ("pair02", "the moderator paid now in round 2"),
            ("pair03", "the moderator stopped the game in round 2: no payouts")])
        self.assertNotIn("\u202e", page)


if __name__ == "__main__":
    unittest.main()
