#!/usr/bin/python3
"""Unit tests of wexlab's pieces that need no server: the session file, the
matching, the merged data files, the report page, and the modes of the
files that hold passwords."""

import argparse
import contextlib
import csv
import io
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
sys.dont_write_bytecode = True

from wexlab_lib import bots, collect, commands, lab, lab_server, report, session  # noqa: E402

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


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class SecretFileModesTest(unittest.TestCase):
    """The server's setup with its accounts and server start left out: what
    it writes is its owner's alone, files that were there before included."""

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

    def tearDown(self):
        os.umask(self.old_umask)
        shutil.rmtree(self.root)

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


if __name__ == "__main__":
    unittest.main()
