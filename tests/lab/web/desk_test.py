#!/usr/bin/python3
"""Unit tests of the desk's web server without a lab server: the token
guard on every path, the refusal of posts from other sites, the headers,
the page's assets, /api/pairs from a session folder, /api/say's checks and
what it sends, and the server-sent events."""

import asyncio
import json
import os
import shutil
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

try:
    from aiohttp.test_utils import TestClient, TestServer
    from wexlab.model import record
    from wexlab.runtime import status
    from wexlab.web import desk
except ImportError as e:  # python3-aiohttp missing
    print(f"skipped: {e}")
    sys.exit(77)

TOKEN = "t0ken-of-the-test"


def journal_line(kind, t, **keys):
    text = json.dumps(dict({"kind": kind, "t": t}, **keys), separators=(",", ":"))
    return f"{zlib.crc32(text.encode()):08x} {text}\n"


JSON = {"Content-Type": "application/json"}
LAB = {"log_file": "lab", "rounds": 3, "address": "127.0.0.1", "port": 1, "pairs": [
    {"index": 1, "bot": "pair01", "subject1": "ann", "subject2": "bob"},
    {"index": 2, "bot": "pair02", "subject1": "cy", "subject2": "dee"}]}


class FakeClient:
    """Stands in for the desk's XMPP account: records the commands and
    answers each at once as a bot would."""

    def __init__(self, desk_object):
        self.desk = desk_object
        self.sent = []
        self.ready = asyncio.Event()
        self.ready.set()

    def command(self, bot, text):
        self.sent.append((bot, text))
        if text == "s":
            asyncio.get_running_loop().call_soon(self.desk.answer, bot,
                                                 "okay, sent speed up message.")


class DeskServerTest(unittest.IsolatedAsyncioTestCase):
    async def asyncSetUp(self):
        self.folder = tempfile.mkdtemp(prefix="desk-server-")
        self.addCleanup(shutil.rmtree, self.folder)
        for pair in LAB["pairs"]:
            os.makedirs(os.path.join(self.folder, pair["bot"]))
        self.desk = desk.Desk(self.folder, record.from_json(LAB), TOKEN)
        self.client = TestClient(TestServer(self.desk.app()))
        await self.client.start_server()
        self.addAsyncCleanup(self.client.close)
        self.addAsyncCleanup(self.desk.shut)  # before the server stops

    async def test_every_path_needs_the_token(self):
        for path in ("/", "/desk.js", "/desk.css", "/api/pairs", "/api/events", "/nothing",
                     "/api/pairs?token=wrong", f"/api/pairs?token={TOKEN}x"):
            response = await self.client.get(path)
            self.assertEqual(response.status, 403, path)
            self.assertIn("default-src 'self'", response.headers["Content-Security-Policy"])
        response = await self.client.post("/api/say", data=json.dumps({"pairs": "all",
                                                                       "text": "e"}))
        self.assertEqual(response.status, 403)
        self.assertEqual(self.desk.client, None)

    async def test_the_page_and_its_assets_carry_the_token_and_the_headers(self):
        response = await self.client.get(f"/?token={TOKEN}")
        self.assertEqual(response.status, 200)
        page = await response.text()
        self.assertIn(f'src="desk.js?token={TOKEN}"', page)
        self.assertNotIn("__TOKEN__", page)
        self.assertNotIn("http", page.replace("http-equiv", ""))
        self.assertEqual(response.headers["Referrer-Policy"], "no-referrer")
        for asset, kind in (("desk.js", "text/javascript"), ("desk.css", "text/css")):
            response = await self.client.get(f"/{asset}?token={TOKEN}")
            self.assertEqual((response.status, response.content_type), (200, kind))

    async def test_pairs_come_from_the_folder(self):
        response = await self.client.get(f"/api/pairs?token={TOKEN}")
        body = await response.json()
        self.assertEqual([(p["pair"], p["bot"], p["round"], p["nrounds"], p["phase"])
                          for p in body["pairs"]],
                         [(1, "pair01", 0, 3, "joining"), (2, "pair02", 0, 3, "joining")])
        self.assertEqual([s["name"] for s in body["pairs"][1]["subjects"]], ["cy", "dee"])
        self.assertEqual(body["session"]["rounds_all"], 6)

    async def test_say_checks_its_body_and_returns_what_was_sent(self):
        say = f"/api/say?token={TOKEN}"
        response = await self.client.post(say, data=json.dumps({"pairs": [2], "text": "s"}),
                                          headers=JSON)
        self.assertEqual(response.status, 503)  # not signed on
        self.desk.client = FakeClient(self.desk)
        for body in ("not json", json.dumps({"pairs": [2], "text": " "}),
                     json.dumps({"pairs": [3], "text": "s"}),
                     json.dumps({"pairs": 2, "text": "s"}), json.dumps([1, 2])):
            response = await self.client.post(say, data=body, headers=JSON)
            self.assertEqual(response.status, 400, body)
        self.assertEqual(self.desk.client.sent, [])
        response = await self.client.post(say, data=json.dumps({"pairs": [2], "text": "s"}),
                                          headers=JSON)
        self.assertEqual(await response.json(), {"sent": [
            {"pair": 2, "bot": "pair02", "text": "s", "answer": "okay, sent speed up message."}]})
        response = await self.client.post(say, data=json.dumps({"pairs": "all", "text": "n"}),
                                          headers=JSON)
        self.assertEqual([s["bot"] for s in (await response.json())["sent"]],
                         ["pair01", "pair02"])
        self.assertEqual(self.desk.client.sent, [("pair02", "s"), ("pair01", "n"),
                                                 ("pair02", "n")])
        with open(os.path.join(self.folder, "desk.log"), encoding="utf-8") as f:
            log = f.read()
        self.assertIn("sent to pair02: s", log)
        self.assertIn("pair02 answered: okay, sent speed up message.", log)
        # n has no answer: nothing is left waiting for one.
        self.assertEqual(sum(len(w) for w in self.desk.waiters.values()), 0)

    async def test_pay_now_for_all_goes_only_to_unfinished_games(self):
        """"unfinished" names every pair whose game has not ended: pair 1
        was stopped without pay, so only pair 2 is sent the p; the same
        token and content-type rules hold."""
        self.desk.client = FakeClient(self.desk)
        with open(os.path.join(self.folder, "pair01", "lab_20260101_100000.journal"), "w") as f:
            f.write(journal_line("start", 1, Subject1Name="ann", Subject2Name="bob") +
                    journal_line("stop", 2, round=1))
        say = f"/api/say?token={TOKEN}"
        body = json.dumps({"pairs": "unfinished", "text": "p"})
        response = await self.client.post(say, data=body, headers={"Content-Type": "text/plain"})
        self.assertEqual(response.status, 415)
        response = await self.client.post(f"/api/say?token={TOKEN}x", data=body, headers=JSON)
        self.assertEqual(response.status, 403)
        self.assertEqual(self.desk.client.sent, [])
        response = await self.client.post(say, data=body, headers=JSON)
        self.assertEqual([s["bot"] for s in (await response.json())["sent"]], ["pair02"])
        self.assertEqual(self.desk.client.sent, [("pair02", "p")])
        # The stopped pair raises its alert; nothing is left to pay once
        # pair 2 reported too.
        self.assertIn("stopped:1", [a["id"] for a in self.desk.state["alerts"]])
        with open(os.path.join(self.folder, "pair02", "lab_20260101_100000.journal"), "w") as f:
            f.write(journal_line("start", 1) + journal_line("stop", 3, round=1) +
                    journal_line("report", 3, payout_1=10, payout_2=10))
        response = await self.client.post(say, data=body, headers=JSON)
        self.assertEqual(await response.json(), {"sent": []})
        response = await self.client.post(say, data=json.dumps({"pairs": "some", "text": "p"}),
                                          headers=JSON)
        self.assertEqual(response.status, 400)

    async def test_a_post_from_another_site_is_refused_and_logged(self):
        """A cross-site form (text/plain or urlencoded), a no-cors fetch
        and any request naming another origin are refused before anything
        is sent, even with the token; the desk's own page still works."""
        self.desk.client = FakeClient(self.desk)
        own = f"http://{self.client.host}:{self.client.port}"
        body = json.dumps({"pairs": [2], "text": "s"})
        for path in ("/api/say", "/api/dismiss"):
            for headers, refused_with in (
                    ({"Content-Type": "text/plain"}, 415),
                    ({"Content-Type": "application/x-www-form-urlencoded",
                      "Origin": own}, 415),
                    ({"Content-Type": "multipart/form-data; boundary=x"}, 415),
                    ({}, 415),
                    (dict(JSON, Origin="http://127.0.0.1:9"), 403),
                    (dict(JSON, Origin="null"), 403),
                    ({"Content-Type": "text/plain", "Origin": "http://evil.example"}, 403),
                    (dict(JSON, Origin="http://x\u202e.example"), 403)):
                response = await self.client.post(f"{path}?token={TOKEN}", data=body,
                                                  headers=headers)
                self.assertEqual(response.status, refused_with, (path, headers))
                self.assertIn("refused", (await response.json())["error"])
                self.assertIn("frame-ancestors 'none'",
                              response.headers["Content-Security-Policy"])
        self.assertEqual(self.desk.client.sent, [])
        self.assertEqual(self.desk.dismissed, set())
        with open(os.path.join(self.folder, "desk.log"), encoding="utf-8") as f:
            log = f.read()
        self.assertEqual(log.count("refused POST /api/say"), 8)
        self.assertIn("another origin (http://x\\u{202E}.example)", log)
        self.assertIn("another origin (http://127.0.0.1:9)", log)
        self.assertIn("text/plain, not application/json", log)
        for headers in (dict(JSON, Origin=own), JSON,
                        {"Content-Type": "application/json; charset=utf-8"}):
            response = await self.client.post(f"/api/say?token={TOKEN}", data=body,
                                              headers=headers)
            self.assertEqual(response.status, 200, headers)
        self.assertEqual(self.desk.client.sent, [("pair02", "s")] * 3)

    async def test_a_reloaded_page_without_its_token_finds_the_tabs_copy(self):
        response = await self.client.get("/")
        self.assertEqual(response.status, 403)
        page = await response.text()
        self.assertIn('<script src="/restore.js">', page)
        self.assertNotIn(TOKEN, page)
        response = await self.client.get("/restore.js")
        self.assertEqual((response.status, response.content_type), (200, "text/javascript"))
        script = await response.text()
        self.assertIn('sessionStorage.getItem("wexDeskToken")', script)
        self.assertIn("default-src 'self'", response.headers["Content-Security-Policy"])
        # The page's script keeps the token for the tab and takes it out of
        # the address.
        response = await self.client.get(f"/desk.js?token={TOKEN}")
        script = await response.text()
        self.assertIn('sessionStorage.setItem("wexDeskToken"', script)
        self.assertIn("history.replaceState(", script)

    async def test_an_alert_once_dismissed_stays_away(self):
        dismiss = f"/api/dismiss?token={TOKEN}"
        self.assertEqual((await self.client.post(dismiss, data="[]", headers=JSON)).status, 400)
        response = await self.client.post(dismiss, data=json.dumps({"id": "server"}),
                                          headers=JSON)
        self.assertEqual(await response.json(), {"dismissed": "server"})
        self.desk.server_up = False
        self.desk.rebuild()
        self.assertEqual(self.desk.state["alerts"], [])
        self.desk.dismissed.clear()
        self.desk.rebuild()
        self.assertEqual([a["id"] for a in self.desk.state["alerts"]], ["server"])

    async def test_a_status_answer_is_kept_for_the_row_and_for_wexlab_status(self):
        self.desk.answer("pair01", "Status: round 1 of 3.")
        self.desk.answer("stranger", "Status: nothing")
        kept = status.read_answers(self.folder)
        self.assertEqual(list(kept), ["pair01"])
        self.desk.rebuild()
        self.assertEqual(self.desk.state["pairs"][0]["answer"]["text"], "Status: round 1 of 3.")

    async def test_pairs_on_another_machine_are_asked_and_shown_from_the_answer(self):
        with open(os.path.join(self.folder, "local.json"), "w") as f:
            json.dump({"pairs": [1], "server": True}, f)
        self.assertFalse(self.desk.ask_elsewhere())  # not signed on yet
        self.desk.client = FakeClient(self.desk)
        self.assertTrue(self.desk.ask_elsewhere())
        self.assertEqual(self.desk.client.sent, [("pair02", "?")])
        self.desk.answer("pair02", "Status: round 2 of 3.\nBreak: none.\nEnded by e: no.")
        self.desk.rebuild()
        two = self.desk.state["pairs"][1]
        self.assertEqual((two["round"], two["phase"], two["bot_state"], two["ended"]),
                         (2, "asking", "elsewhere", "running"))
        self.desk.answer("pair02", "Status: round 2 of 3.\nBreak: none.\nEnded by e: yes.")
        self.desk.rebuild()
        two = self.desk.state["pairs"][1]
        self.assertEqual((two["phase"], two["ended"]), ("ended", "stopped"))
        self.assertIn("stopped:2", [a["id"] for a in self.desk.state["alerts"]])
        self.assertEqual(self.desk.state["pairs"][0]["phase"], "joining")

    async def test_events_push_the_state(self):
        refresher = asyncio.ensure_future(self.desk.refresh_loop())
        self.addCleanup(refresher.cancel)
        response = await self.client.get(f"/api/events?token={TOKEN}")
        self.assertEqual(response.headers["Content-Type"], "text/event-stream")
        line = await asyncio.wait_for(response.content.readline(), 20)
        self.assertTrue(line.startswith(b"data: "), line)
        self.assertEqual(len(json.loads(line[6:])["pairs"]), 2)
        # The stream ends when the desk shuts, so the server can stop.
        await self.desk.shut()
        await asyncio.wait_for(response.content.read(), 20)
        self.assertTrue(response.content.at_eof())


if __name__ == "__main__":
    unittest.main()
