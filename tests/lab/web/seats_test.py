#!/usr/bin/python3
"""Unit tests of the seats in a browser: the session keys, the server's
web settings, seats.csv, cards.html (one card a page, each QR code decodes
back to its link) and the lab certificate kept across sessions."""

import csv
import html
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.model import errors, plan, record, session_file  # noqa: E402
from wexlab.servers import certificate, web_page  # noqa: E402
from wexlab.servers.prosody import config as prosody_config  # noqa: E402
from wexlab.web import cards, seats  # noqa: E402
from fixtures import parse  # noqa: E402

SESSION = """Service xmpp:lab.wex@10.0.0.5:5222;trust=any
ModeratorName mod
LogFile transcript
NRounds 3
ConversationInterval 2
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
Subjects ann ben cy dee
Seed 2
"""


def fake_lab(web=None):
    names = ["ann", "ben", "cy", "dee", "mod"]
    return record.from_json({
        "domain": "lab.wex", "address": "10.0.0.5", "port": 5222, "moderator": "mod",
        "web": web if web is not None else {"port": 5280, "tls": False},
        "pairs": [{"index": 1, "bot": "pair01", "subject1": "ben", "subject2": "ann"},
                  {"index": 2, "bot": "pair02", "subject1": "dee", "subject2": "cy"}],
        "accounts": {name: {"name": name, "jid": f"{name}@lab.wex", "password": f"pw-{name}-x&y"}
                     for name in names},
        "fingerprints": {"sha256": "AA:" * 31 + "AA", "sha1": "BB:" * 19 + "BB"}})


class SessionKeysTest(unittest.TestCase):
    def test_web_keys_and_their_faults(self):
        parsed = parse(SESSION)
        self.assertEqual(plan.web_settings(parsed.values), {"port": 5280, "tls": False})
        parsed = parse(SESSION + "Web 8080\nWebTls on\n")
        self.assertEqual(plan.web_settings(parsed.values), {"port": 8080, "tls": True})
        self.assertIsNone(plan.web_settings(
            parse(SESSION + "Web off\n").values))
        for extra, line, reason in (("Web 0\n", 13, "port number"), ("Web 70000\n", 13, "port"),
                                    ("Web yes\n", 13, "or off"), ("WebTls 1\n", 13, "on or off"),
                                    ("Certificate\n", 13, "path")):
            with self.assertRaises(session_file.SessionError) as caught:
                parse(SESSION + extra, "s.conf")
            self.assertIn(f"s.conf:{line}:", str(caught.exception))
            self.assertIn(reason, str(caught.exception))


class ServerSettingsTest(unittest.TestCase):
    def config(self, web):
        lab = fake_lab(web)
        modules, lines = prosody_config.web_settings(lab, "/srv/s")
        return modules, prosody_config.prosody_config(lab.domain, lab.address, lab.port, "/srv/s",
                                                      False, modules, lines)

    def options(self, text):
        return [line.split(" = ")[0] for line in text.splitlines()
                if " = " in line and not line.startswith(" ")]

    def test_plain_tls_and_off(self):
        modules, text = self.config({"port": 5280, "tls": False})
        self.assertEqual(set(modules), {"http_files", "websocket", "mam", "wex_lab_archive"})
        # The bots never read an archive: only the subjects' is kept.
        self.assertIn('wex_lab_unarchived = { "pair01"; "pair02"; "wexlab"; "wexdesk"; }', text)
        self.assertIn("http_ports = { 5280 }", text)
        self.assertIn('http_interfaces = { "10.0.0.5" }', text)
        self.assertIn("consider_websocket_secure = true", text)
        self.assertIn('"websocket"; "mam"; "wex_lab_archive"; }', text)
        _, text = self.config({"port": 5281, "tls": True})
        self.assertIn("https_ports = { 5281 }", text)
        self.assertIn('https_ssl = { key = "/srv/s/certs/lab.wex.key"', text)
        self.assertNotIn("consider_websocket_secure", text)
        modules, text = self.config(False)
        self.assertEqual(modules, ())
        self.assertNotIn("http_files", text)
        for web in ({"port": 5280, "tls": False}, {"port": 5281, "tls": True}, False):
            names = self.options(self.config(web)[1])
            self.assertEqual(len(names), len(set(names)), f"an option set twice: {names}")


class SeatsCsvTest(unittest.TestCase):
    def test_rows_links_and_table(self):
        lab = fake_lab()
        rows = list(csv.DictReader(io.StringIO(seats.seats_csv(lab))))
        self.assertEqual([(r["name"], r["role"], r["pair"]) for r in rows],
                         [("ben", "subject", "1"), ("ann", "subject", "1"),
                          ("dee", "subject", "2"), ("cy", "subject", "2"),
                          ("mod", "moderator", "")])
        for row in rows:
            url = urllib.parse.urlsplit(row["link"])
            self.assertEqual((url.scheme, url.netloc, url.path), ("http", "10.0.0.5:5280", "/"))
            fields = dict(urllib.parse.parse_qsl(url.fragment))
            self.assertEqual(fields["n"], row["name"])
            self.assertEqual(fields["p"], f"pw-{row['name']}-x&y")
            self.assertEqual(fields.get("c"), {"1": "pair01", "2": "pair02"}.get(row["pair"]))
        lab.web = record.Web(443, True)
        self.assertTrue(seats.link(lab, "ann").startswith("https://10.0.0.5:443/#n=ann&"))
        lines = seats.table(seats.rows(lab)).splitlines()
        self.assertEqual(len(lines), 6)
        self.assertEqual(lines[0].split(), ["name", "role", "pair", "link"])
        self.assertEqual(lines[5].split()[:2], ["mod", "moderator"])
        self.assertEqual(len({line.index("http") for line in lines[1:]}), 1, "not aligned")
        lab.web = None
        self.assertEqual({r["link"] for r in seats.rows(lab)}, {""})


class SeatJsonTest(unittest.TestCase):
    def test_each_links_contact_is_its_own_bot_and_no_password(self):
        lab = fake_lab()
        seat = web_page.seat_json(lab)
        self.assertEqual(seat["contacts"], {"ben": "pair01", "ann": "pair01",
                                            "dee": "pair02", "cy": "pair02"})
        self.assertEqual((seat["moderator"], seat["bots"]), ("mod", ["pair01", "pair02"]))
        # The page checks a link's c against seat.json: every printed link
        # passes, the moderator's has none.
        for row in seats.rows(lab):
            fields = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(row["link"]).fragment))
            self.assertEqual(fields.get("c"), seat["contacts"].get(row["name"]), row["name"])
        self.assertNotIn("pw-", repr(seat))

    def test_the_language_and_each_pairs_instructions_beside_the_page(self):
        from wexlab.model.seat_texts import SeatTexts
        server = tempfile.mkdtemp(prefix="wexlab-www-")
        self.addCleanup(shutil.rmtree, server)
        os.makedirs(os.path.join(server, "www"))
        web_page.install_texts(server, SeatTexts("de", {"Send": "Senden"},
                                                 {"pair01": "# Eins", "pair02": "# Zwei"}))
        www = os.path.join(server, "www")
        with open(os.path.join(www, "lang.json"), encoding="utf-8") as f:
            self.assertEqual(json.load(f), {"lang": "de", "texts": {"Send": "Senden"}})
        for bot, text in (("pair01", "# Eins"), ("pair02", "# Zwei")):
            with open(os.path.join(www, "instructions", f"{bot}.md"), encoding="utf-8") as f:
                self.assertEqual(f.read(), text)
        # The page reads lang.json afresh each time, like seat.json.
        self.assertIn("/lang.json", web_page.NO_STORE)


def qr_matrix(svg):
    """The dark modules of python3-qrcode's SVG path, and its side."""
    side = int(re.search(r'viewBox="0 0 (\d+) \d+"', svg).group(1))
    dark = {(int(x), int(y)) for x, y in re.findall(r"M(\d+),(\d+)H", svg)}
    return side, dark


def decode(svg, folder):
    """The text zbarimg reads from the SVG's modules drawn 6 pixels each."""
    side, dark = qr_matrix(svg)
    scale = 6
    rows = []
    for y in range(side * scale):
        rows.append(" ".join("1" if (x // scale, y // scale) in dark else "0"
                             for x in range(side * scale)))
    path = os.path.join(folder, "qr.pbm")
    with open(path, "w") as f:
        f.write(f"P1\n{side * scale} {side * scale}\n" + "\n".join(rows) + "\n")
    done = subprocess.run(["zbarimg", "--raw", "-q", path], capture_output=True, text=True,
                          timeout=30)
    return done.stdout.rstrip("\n")


class CardsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-cards-")
        self.addCleanup(shutil.rmtree, self.folder)

    def test_one_card_a_page_with_what_a_seat_needs(self):
        lab = fake_lab()
        text = cards.render(lab)
        found = re.findall(r'<section class="card">(.*?)</section>', text, re.S)
        self.assertEqual(len(found), 5)
        self.assertIn(".card { break-after: page; page-break-after: always;", text)
        for card, row in zip(found, seats.rows(lab)):
            self.assertIn(f"<h1>{row['name']}</h1>", card)
            self.assertIn(row["link"].replace("&", "&amp;"), card)
            self.assertIn(lab.fingerprints["sha256"], card)
            self.assertIn(lab.fingerprints["sha1"], card)
            self.assertIn("accept it permanently", card)
            self.assertEqual(len(re.findall("<svg", card)), 1)
            instructions = re.findall(r"<li>(.*?)</li>", card)
            self.assertEqual(len(instructions), 3)
            if row["role"] == "subject":
                self.assertEqual(instructions, list(cards.PLAY))
        self.assertNotIn("<script", text)
        self.assertIn('<html lang="en">', text)
        self.assertIn("password <code>pw-ann-x&amp;y</code>", text)

    def test_cards_in_the_sessions_language(self):
        from wexlab.model import catalogue, paths, seat_texts
        german = seat_texts.Translation("de", catalogue.read_catalogue(paths.seat_po_dir(), "de"))
        text = cards.render(fake_lab(), german)
        self.assertIn('<html lang="de">', text)
        found = re.findall(r'<section class="card">(.*?)</section>', text, re.S)
        for card, row in zip(found, seats.rows(fake_lab())):
            lines = re.findall(r"<li>(.*?)</li>", card)
            english = cards.PLAY if row["role"] == "subject" else cards.MODERATOR
            self.assertEqual(lines, [html.escape(german.t(line)) for line in english])
            self.assertTrue(all(line not in english for line in lines), lines)
            self.assertIn("Öffnen Sie diesen Link", card)
            # The values go into the translated sentence, escaped.
            self.assertRegex(card, r"statt des Links: Adresse <code>\w+@lab\.wex</code>, "
                             r"Passwort <code>pw-\w+-x&amp;y</code>, Server <code>10\.0\.0\.5"
                             r"</code>, Port <code>5222</code>\.")
        self.assertIn("Teilnehmende Person, Paar 1", text)

    def test_qr_code_is_the_link(self):
        link = seats.link(fake_lab(), "ann")
        svg, modules = cards.qr_svg(link)
        side, dark = qr_matrix(svg)
        self.assertEqual(side, modules + 8)  # a quiet zone of 4 modules each side
        self.assertGreaterEqual(modules, 21)
        self.assertIn((4, 4), dark)  # a finder pattern's corner
        self.assertNotIn((3, 3), dark)
        if shutil.which("zbarimg") is None:
            self.skipTest("zbarimg is not installed: the matrix was checked, not decoded")
        self.assertEqual(decode(svg, self.folder), link)


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class CertificateTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="wexlab-cert-")
        self.addCleanup(shutil.rmtree, self.root)
        patcher = mock.patch.dict(os.environ, {"WEX_DATA_DIR": os.path.join(self.root, "data")})
        patcher.start()
        self.addCleanup(patcher.stop)

    def test_one_certificate_for_every_session_of_the_machine(self):
        lab = fake_lab()
        lab.certificate_files = None
        first = certificate.install(lab, os.path.join(self.root, "s1"))
        second = certificate.install(lab, os.path.join(self.root, "s2"))
        self.assertEqual(first["sha256"], second["sha256"])
        self.assertRegex(first["sha256"], r"^([0-9A-F]{2}:){31}[0-9A-F]{2}$")
        self.assertRegex(first["sha1"], r"^([0-9A-F]{2}:){19}[0-9A-F]{2}$")
        kept = os.path.join(self.root, "data", "certs")
        self.assertEqual(sorted(os.listdir(kept)), [".lock", "lab.wex.crt", "lab.wex.key"])
        self.assertEqual(os.stat(os.path.join(kept, "lab.wex.key")).st_mode & 0o777, 0o600)
        self.assertEqual(os.stat(kept).st_mode & 0o777, 0o700)
        key = os.path.join(self.root, "s2", "certs", "lab.wex.key")
        self.assertEqual(os.stat(key).st_mode & 0o777, 0o600)
        with open(second["path"]) as a, open(os.path.join(kept, "lab.wex.crt")) as b:
            self.assertEqual(a.read(), b.read())
        names = subprocess.run(["openssl", "x509", "-noout", "-ext", "subjectAltName", "-in",
                                second["path"]], capture_output=True, text=True).stdout
        self.assertIn("DNS:lab.wex", names)
        self.assertIn("IP Address:10.0.0.5", names)

    def test_the_labs_own_certificate(self):
        own = os.path.join(self.root, "own")
        os.makedirs(own)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-keyout", os.path.join(own, "k.pem"), "-out",
                        os.path.join(own, "c.pem"), "-subj", "/CN=lab.wex"],
                       check=True, capture_output=True)
        values = {"Certificate": "own/c.pem", "CertificateKey": "own/k.pem"}
        lab = fake_lab()
        lab.certificate_files = plan.session_files(
            values, os.path.join(self.root, "session.conf"))
        installed = certificate.install(lab, os.path.join(self.root, "s1"))
        self.assertEqual(installed, {"path": installed["path"],
                                     **certificate.fingerprints(os.path.join(own, "c.pem"))})
        self.assertFalse(os.path.exists(os.path.join(self.root, "data")),
                         "the machine's own certificate was made anyway")
        with self.assertRaises(errors.LabError):
            plan.session_files({"Certificate": "c.pem"}, "session.conf")
        lab.certificate_files = [os.path.join(own, "c.pem"), os.path.join(own, "none.pem")]
        with self.assertRaises(errors.LabError) as caught:
            certificate.install(lab, os.path.join(self.root, "s2"))
        self.assertIn("none.pem", str(caught.exception))

    def test_data_folder(self):
        with mock.patch.dict(os.environ, {"XDG_DATA_HOME": "/x/share"}):
            del os.environ["WEX_DATA_DIR"]
            self.assertEqual(certificate.data_dir(), "/x/share/wex")


if __name__ == "__main__":
    unittest.main()
