#!/usr/bin/python3
"""The replication bundle of a real collected session: what it holds,
and that no password of the session is in any file inside."""

import csv
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import fixtures  # noqa: E402
import played  # noqa: E402
import wexlab_loader  # noqa: E402
from codebook_test import PlayedSessionTest  # noqa: E402
from wexlab.data import bundle  # noqa: E402
from wexlab.model import record  # noqa: E402


def session_passwords(folder):
    """Every password of the session: lab.json's accounts, the login
    cards and each pair's password file."""
    lab = record.load(folder)
    found = {account.password for account in lab.accounts.values()}
    with open(os.path.join(folder, "logins.txt"), encoding="utf-8") as f:
        found |= set(re.findall(r"(?im)password:?\s+(\S+)", f.read()))
    for pair in lab.pairs:
        with open(os.path.join(folder, pair.bot, "passwords.txt"), encoding="utf-8") as f:
            found |= {line.strip() for line in f if line.strip()}
    return found


class BundleTest(PlayedSessionTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.path, cls.names = bundle.write(cls.folder, record.load(cls.folder),
                                           cls.lab.session_id)

    def test_the_bundle_holds_the_data_codebook_configurations_and_readme(self):
        self.assertEqual(os.path.basename(self.path), f"{self.lab.session_id}.zip")
        with zipfile.ZipFile(self.path) as z:
            inside = [n.split("/", 1)[1] for n in z.namelist()]
            prefix = {n.split("/", 1)[0] for n in z.namelist()}
            readme = z.read(f"{self.lab.session_id}/README.md").decode()
            version = z.read(f"{self.lab.session_id}/VERSION.txt").decode()
            conf = z.read(f"{self.lab.session_id}/pair01/wexbot.conf").decode()
        self.assertEqual(prefix, {self.lab.session_id})
        for name in ("session_rounds.csv", "session_chat.csv", "session_payouts.csv",
                     "session_decisions.csv", "datapackage.json", "codebook.md",
                     "session.xlsx", "report.html", "session.conf", "VERSION.txt",
                     "README.md", "pair01/wexbot.conf", "pair02/wexbot.conf",
                     "pair03/wexbot.conf"):
            self.assertIn(name, inside)
        self.assertEqual(len([n for n in inside if n.endswith(".journal")]), 3)
        self.assertEqual(sorted(inside), sorted(self.names))
        self.assertRegex(version, r"^(wex \S+ \((Debian package|source tree)\)|unknown)\n$")
        self.assertNotRegex(conf, r"(?im)^\w*password")
        self.assertIn("Subject1Name", conf)
        for part in ("## Data availability", "## What was run", "## Files",
                     "Resume JOURNAL", self.lab.session_id, "| `session_decisions.csv` |"):
            self.assertIn(part, readme)

    def test_no_password_inside_any_file(self):
        passwords = session_passwords(self.folder)
        self.assertGreater(len(passwords), 6)
        with zipfile.ZipFile(self.path) as z:
            for name in z.namelist():
                data = z.read(name)
                for password in passwords:
                    self.assertNotIn(password.encode(), data, f"{password} in {name}")

    def test_the_readme_steps_recompute_a_completed_games_payouts(self):
        session = self.lab.session_id
        folder = tempfile.mkdtemp(prefix="wexlab-replay-")
        self.addCleanup(shutil.rmtree, folder)
        with zipfile.ZipFile(self.path) as z:
            payouts = list(csv.DictReader(
                z.read(f"{session}/session_payouts.csv").decode().splitlines()))
            completed = next(r for r in payouts if r["ended"] == "completed")["pair"]
            bot = f"pair{int(completed):02d}"
            [journal] = [n for n in z.namelist() if n.startswith(f"{session}/{bot}/")
                         and n.endswith(".journal")]
            lines = z.read(journal).decode().splitlines(keepends=True)
            conf = z.read(f"{session}/{bot}/wexbot.conf").decode()
        name = os.path.basename(journal)
        kept = [line for line in lines if '"kind":"report"' not in line]
        self.assertEqual(len(kept), len(lines) - 1)
        with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
            f.write("".join(kept))
        conf = re.sub(r"(?m)^Service .*$", "Service sim:replay.scenario", conf)
        conf += f"PasswordFile passwords.txt\nBotPasswordIndex 0\nResume {name}\n"
        for file_name, text in (("wexbot.conf", conf), ("passwords.txt", "any\ntext\n"),
                                ("replay.scenario", "start 2026-01-01T00:00:00\nat 5 end\n")):
            with open(os.path.join(folder, file_name), "w", encoding="utf-8") as f:
                f.write(text)
        done = subprocess.run([fixtures.wexbot(), "wexbot.conf"], cwd=folder,
                              capture_output=True, timeout=60,
                              env=dict(os.environ, TZ=played.TZ, WEX_SETTINGS_DIR=folder))
        self.assertEqual(done.returncode, 0, done.stderr)
        [made] = glob.glob(os.path.join(folder, "*_payouts.csv"))
        with open(made, encoding="utf-8", newline="") as f:
            again = [(r["name"], r["payout"]) for r in csv.DictReader(f)]
        self.assertEqual(again, [(r["name"], r["payout"]) for r in payouts
                                 if r["pair"] == completed])

    def test_wexlab_collect_bundle_writes_it_in_the_session_folder(self):
        os.remove(self.path)
        done = subprocess.run([sys.executable, wexlab_loader.LAUNCHER, "collect", "--bundle"],
                              cwd=self.folder, capture_output=True, text=True, timeout=60,
                              env=dict(os.environ, TZ=played.TZ))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(f"The replication bundle is {self.path}", done.stdout)
        self.assertIn("6 payout rows", done.stdout)
        with zipfile.ZipFile(self.path) as z:
            self.assertIn(f"{self.lab.session_id}/README.md", z.namelist())

    def test_secret_keys_are_left_out_of_a_configuration(self):
        text = ("BotUsername pair01\nPasswordFile passwords.txt\nBotPasswordIndex 0\n"
                "KeyIndex 1\nadmin_secret x\nNRounds 3\n")
        self.assertEqual(bundle.without_secrets(text),
                         "BotUsername pair01\nKeyIndex 1\nNRounds 3\n")


if __name__ == "__main__":
    unittest.main()
