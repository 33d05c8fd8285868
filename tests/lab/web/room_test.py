#!/usr/bin/python3
"""An online session started for real on a Prosody of its own, without
the proxy (Proxy off): two participants connect to the room directly,
are paired with the two seats of pair 1 and that pair's bot starts while
pair 2's does not; the room started again by wexlab resume goes on from
room.log; wexlab close sends the next arrival home."""

import asyncio
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
try:
    import aiohttp
except ImportError as e:  # python3-aiohttp missing
    print(f"skipped: {e}")
    sys.exit(77)
from wexlab.model import paths, record, room_log  # noqa: E402
from wexlab.runtime import processes  # noqa: E402
from wexlab.servers.net import free_port  # noqa: E402
from fixtures import replaced, wexbot  # noqa: E402


def wait_for(predicate, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.2)
    return False


def read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError:
        return ""


class OnlineSessionTest(unittest.TestCase):
    def setUp(self):
        if not shutil.which("prosody"):
            self.skipTest("no prosody")
        self.bot = wexbot()
        self.root = tempfile.mkdtemp(prefix="wexlab-room-")
        self.folder = os.path.join(self.root, "session")
        os.makedirs(self.folder)
        self.room_port = free_port()
        text = replaced("Service", f"Service xmpp:lab.wex@127.0.0.1:{free_port()};trust=any")
        text = text.replace("Subjects ann bob cy dee", "Arrivals on")
        text += (f"Web {free_port()}\nDesk {free_port()}\nRoom {self.room_port}\nProxy off\n"
                 "MaxPairs 2\nWaitTimeout 60\nShowUpFee 1.5\nCompletionCode DONE\n")
        with open(os.path.join(self.root, "lab.conf"), "w", encoding="utf-8") as f:
            f.write(text)
        self.started = False

    def tearDown(self):
        if self.started:
            self.wexlab("stop")
        shutil.rmtree(self.root, ignore_errors=True)

    def wexlab(self, *args):
        done = subprocess.run([sys.executable, paths.launcher(), *args, "--bot", self.bot]
                              if args[0] == "start" else
                              [sys.executable, paths.launcher(), *args],
                              cwd=self.folder, capture_output=True, text=True, timeout=120)
        return done.returncode, done.stdout + done.stderr

    async def join(self, http, label, session):
        ws = await http.ws_connect(f"http://127.0.0.1:{self.room_port}/room/ws")
        await ws.send_json({"type": "hello", "session": session, "label": label,
                            "browser": f"b-{label}"})
        await ws.send_json({"type": "presence", "visible": True})
        return ws

    async def frame(self, ws, kind):
        while True:
            message = await asyncio.wait_for(ws.receive_json(), 10)
            if message["type"] == kind:
                return message

    async def participants(self, session):
        base = f"http://127.0.0.1:{self.room_port}"
        async with aiohttp.ClientSession() as http:
            async with http.get(f"{base}/room/config.json") as answer:
                config = await answer.json()
            async with http.get(f"{base}/join/{session}") as answer:
                join_status = answer.status
            async with http.get(f"{base}/join/not-this-one") as answer:
                wrong_status = answer.status
            async with http.get(f"{base}/room/instructions.md") as answer:
                instructions = await answer.text()
            first = await self.join(http, "P1", session)
            waiting = await self.frame(first, "waiting")
            second = await self.join(http, "P2", session)
            seats = [await self.frame(first, "seat"), await self.frame(second, "seat")]
            wrong = await http.ws_connect(f"{base}/room/ws")
            await wrong.send_json({"type": "hello", "session": "x", "label": "", "browser": ""})
            error = await self.frame(wrong, "error")
            for ws in (first, second, wrong):
                await ws.close()
        return config, (join_status, wrong_status), instructions, waiting, seats, error

    async def returning(self, session):
        async with aiohttp.ClientSession() as http:
            ws = await self.join(http, "P1", session)
            message = await self.frame(ws, "seat")
            await ws.close()
        return message

    async def late_arrival(self, session):
        async with aiohttp.ClientSession() as http:
            ws = await self.join(http, "P3", session)
            message = await self.frame(ws, "exit")
            await ws.close()
        return message

    def test_two_arrivals_are_paired_and_their_bot_starts(self):
        code, out = self.wexlab("start", os.path.join(self.root, "lab.conf"))
        self.started = True
        self.assertEqual(code, 0, out)
        lab = record.load(self.folder)
        session = lab.session_id
        self.assertIn(f"The study link: https://127.0.0.1:8443/join/{session}", out)
        self.assertNotIn("seat1", out)  # the pool's login cards are no one's to print
        self.assertEqual([p.subjects() for p in lab.pairs], [("seat1", "seat2"),
                                                             ("seat3", "seat4")])
        config, statuses, instructions, waiting, seats, error = asyncio.run(
            self.participants(session))
        self.assertEqual(config, {"session": session, "label_parameter": "label",
                                  "wait_timeout": 60, "lang": "en"})
        self.assertEqual(statuses, (200, 404))
        self.assertIn("10", instructions)  # the session's NRounds, filled in
        self.assertEqual((waiting["wait_timeout"], waiting["since"] <= waiting["now"]),
                         (60, True))
        fields = [dict(urllib.parse.parse_qsl(s["link"].split("#", 1)[1])) for s in seats]
        self.assertEqual([(f["n"], f["c"], f["code"]) for f in fields],
                         [("seat1", "pair01", "DONE"), ("seat2", "pair01", "DONE")])
        self.assertEqual([f["p"] for f in fields],
                         [lab.accounts["seat1"].password, lab.accounts["seat2"].password])
        self.assertEqual(error["type"], "error")
        supervisor_log = os.path.join(self.folder, "supervisor.log")
        self.assertTrue(wait_for(lambda: "pair01: bot started" in read(supervisor_log)),
                        read(supervisor_log))
        self.assertTrue(wait_for(lambda: "wexbot online and ready." in
                                 read(os.path.join(self.folder, "pair01", "console.log"))),
                        read(os.path.join(self.folder, "pair01", "console.log")))
        self.assertNotIn("pair02", read(supervisor_log))
        # An online pair's bot counts a subject gone 120 s a dropout.
        self.assertIn("\nDropoutAfter 120\n",
                      read(os.path.join(self.folder, "pair01", "wexbot.conf")))
        entries = room_log.read(self.folder)
        self.assertEqual([e["kind"] for e in entries], ["open", "arrive", "arrive", "pair"])
        self.assertEqual(entries[3]["tickets"], ["t1", "t2"])
        # The room's process stopped and started again by wexlab resume: it
        # goes on from room.log, and P1 returning is sent its seat again.
        processes.stop_room(self.folder)
        self.assertIsNone(processes.room_pid(self.folder))
        code, out = self.wexlab("status")
        self.assertIn("The room is not running: wexlab resume starts it again.", out)
        code, out = self.wexlab("resume")
        self.assertEqual(code, 0, out)
        self.assertIn("The room runs again", out)
        again = asyncio.run(self.returning(session))
        self.assertEqual(again["link"], seats[0]["link"])
        self.assertEqual([e["kind"] for e in room_log.read(self.folder)],
                         ["open", "arrive", "arrive", "pair"])
        # wexlab close: the next arrival leaves at once with the fee.
        code, out = self.wexlab("close")
        self.assertEqual(code, 0, out)
        self.assertIn("1 pairs formed", out)
        message = asyncio.run(self.late_arrival(session))
        self.assertEqual((message["outcome"], message["fee"]), ("full", "1.50"))
        self.assertEqual([e["kind"] for e in room_log.read(self.folder)][4:],
                         ["close", "arrive", "exit"])
        code, out = self.wexlab("status")
        self.assertEqual(code, 0, out)
        self.assertNotIn("The room is not running", out)
        self.assertIn(f"room: 3 arrived, 0 waiting, 2 paired in 1 of 2 pairs, 1 left with the "
                      f"fee, closed; study link https://127.0.0.1:8443/join/{session}", out)
        code, out = self.wexlab("seats")
        self.assertEqual(out.split("\n")[1].split(),
                         ["study", "link", "link", f"https://127.0.0.1:8443/join/{session}"])
        code, out = self.wexlab("stop")
        self.started = False
        self.assertEqual(code, 0, out)
        pid = json.loads(read(os.path.join(self.folder, "room.json")))["pid"]
        self.assertTrue(pid)
        self.assertIsNone(processes.room_pid(self.folder), out)


if __name__ == "__main__":
    unittest.main()
