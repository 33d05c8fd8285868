#!/usr/bin/python3
"""Unit tests of a session's start without a server: the pairs' folders of a
session of treatments, and the modes of the files that hold passwords."""

import argparse
import contextlib
import csv
import io
import os
import shutil
import sys
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import record as lab_file  # noqa: E402
from wexlab.model import matching  # noqa: E402
from wexlab.runtime import processes  # noqa: E402
from wexlab.servers.prosody import one_pair  # noqa: E402
from wexlab.web import lifecycle  # noqa: E402
from fixtures import GOOD, TREATED, FakeServerTest, config_values, mode, shared_file, wexbot


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class TreatmentFolderTest(FakeServerTest):
    def test_matching_and_pair_configurations_of_a_session_of_treatments(self):
        names = " ".join(f"s{i:02d}" for i in range(1, 11))
        folder, started = self.start(TREATED.replace("Subjects ann bob cy dee",
                                                     f"Subjects {names}"))
        with open(os.path.join(folder, "matching.csv"), encoding="utf-8") as f:
            matching = list(csv.DictReader(f))
        self.assertEqual([r["treatment"] for r in matching],
                         [p.treatment for p in started.pairs])
        self.assertEqual(sorted(r["treatment"] for r in matching), ["high"] * 3 + ["low"] * 2)
        self.assertEqual(lab_file.to_json(started)["treatments"][0], {"name": "high", "values": {
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
            self.assertEqual(f.read(), matching.matching_csv(matching.match(
                ["ann", "bob", "cy", "dee"], 42)))
        with open(os.path.join(folder, "pair01", "wexbot.conf"), encoding="utf-8") as f:
            text = f.read()
        self.assertNotIn("treatment", text)
        self.assertNotIn("treatments", lab_file.to_json(started))


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
                one_pair.command_start(args)
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
        with mock.patch.object(processes, "start_supervisor", lambda folder, indexes: None), \
                contextlib.redirect_stdout(io.StringIO()):
            started = lifecycle.start_session(folder, path, wexbot(), "none", quiet=True)
        self.assertPrivate("session", wanted=0o700)
        for name in ("lab.json", "logins.txt"):
            self.assertPrivate("session", name)
        with open(os.path.join(folder, "logins.txt"), encoding="utf-8") as f:
            self.assertIn("password  pw-ann", f.read())
        for name in ("prosody.cfg.lua", "groups.txt", "allowed.txt",
                     os.path.join("certs", "lab.wex.key")):
            self.assertPrivate("session", "server", name)
        self.assertPrivate("session", "server", wanted=0o700)
        for pair in started.pairs:
            self.assertPrivate("session", pair.bot, wanted=0o700)
            self.assertPrivate("session", pair.bot, "passwords.txt")


if __name__ == "__main__":
    unittest.main()
