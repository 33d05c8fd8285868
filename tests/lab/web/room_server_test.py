#!/usr/bin/python3
"""Unit tests of the room's web server without a lab server, on a clock of
the test's: the page's paths, the config, wexlab close's guard, returns
after the room's process is started again (from room.log), the wait
timeout and the finished game told with its code."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

try:
    from aiohttp.test_utils import TestClient, TestServer
    from wexlab.model import paths, record, room_log
    from wexlab.runtime import status
    from wexlab.web import room
except ImportError as e:  # python3-aiohttp missing
    print(f"skipped: {e}")
    sys.exit(77)

TOKEN = "room-t0ken"
SESSION = "20261208-140000-beef"
LAB = {"log_file": "lab", "rounds": 3, "session_id": SESSION, "pairs": [
    {"index": 1, "bot": "pair01", "subject1": "seat1", "subject2": "seat2"},
    {"index": 2, "bot": "pair02", "subject1": "seat3", "subject2": "seat4"}],
    "accounts": {f"seat{n}": {"name": f"seat{n}", "jid": f"seat{n}@lab.wex",
                              "password": f"pw{n}"} for n in range(1, 5)},
    "online": {"max_pairs": 2, "wait_timeout": 60, "show_up_fee": "2.00",
               "completion_code": "OK1", "no_partner_code": "NP2",
               "completion_url": "https://x.test/done?c={code}", "proxy_port": 443,
               "public_host": "study.test"}}


class Clock:
    def __init__(self):
        self.now = 1000.0

    def __call__(self):
        return self.now


class RoomServerTest(unittest.IsolatedAsyncioTestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-room-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.lab = record.from_json(LAB)
        self.clock = Clock()

    async def client(self):
        server = room.RoomServer(self.folder, self.lab, TOKEN, "de", self.clock)
        client = TestClient(TestServer(server.app()))
        await client.start_server()
        self.addAsyncCleanup(client.close)
        return server, client

    async def join(self, client, label, visible=True):
        ws = await client.ws_connect("/room/ws")
        await ws.send_json({"type": "hello", "session": SESSION, "label": label,
                            "browser": "b-" + label})
        await ws.send_json({"type": "presence", "visible": visible})
        return ws

    async def test_pages_config_and_the_close_guard(self):
        _, client = await self.client()
        page = await client.get(f"/join/{SESSION}")
        self.assertEqual(page.status, 200)
        # The seat's policy: no other site may frame the page or run script in it.
        self.assertIn("frame-ancestors 'none'", page.headers["Content-Security-Policy"])
        self.assertEqual(page.headers["X-Frame-Options"], "DENY")
        self.assertEqual((await client.get("/join/another")).status, 404)
        self.assertEqual((await client.get("/room/..%2Flab.json")).status, 404)
        self.assertEqual((await client.get("/room/.hidden")).status, 404)
        self.assertEqual((await client.get("/room/instructions.md")).status, 404)
        with open(os.path.join(self.folder, "room-instructions.md"), "w") as f:
            f.write("# Willkommen\n")
        answer = await client.get("/room/instructions.md")
        self.assertEqual(await answer.text(), "# Willkommen\n")
        self.assertEqual(await (await client.get("/room/config.json")).json(),
                         {"session": SESSION, "label_parameter": "label", "wait_timeout": 60,
                          "lang": "de"})
        self.assertEqual((await client.post("/api/close")).status, 403)
        self.assertEqual((await client.post("/api/close",
                                            headers={"X-Room-Token": "nope"})).status, 403)
        self.assertNotIn("close", [e["kind"] for e in room_log.read(self.folder)])
        answer = await client.post("/api/close", headers={"X-Room-Token": TOKEN})
        self.assertEqual(answer.status, 200)
        self.assertTrue((await answer.json())["closed"])
        self.assertEqual([e["kind"] for e in room_log.read(self.folder)], ["open", "close"])

    async def test_a_wrong_first_frame_is_refused(self):
        _, client = await self.client()
        ws = await client.ws_connect("/room/ws")
        await ws.send_json({"type": "presence", "visible": True})
        self.assertEqual((await ws.receive_json())["type"], "error")
        ws = await client.ws_connect("/room/ws")
        await ws.send_json({"type": "hello", "session": "old", "label": "", "browser": "x"})
        self.assertEqual((await ws.receive_json())["type"], "error")
        self.assertEqual([e["kind"] for e in room_log.read(self.folder)], ["open"])

    async def test_a_restarted_room_knows_who_came_and_pairs_on(self):
        server, client = await self.client()
        first = await self.join(client, "A")
        self.assertEqual((await first.receive_json())["type"], "waiting")
        await first.close()
        await client.close()
        # The room's process again: room.log is read, not begun anew.
        server, client = await self.client()
        first = await self.join(client, "A")
        waiting = await first.receive_json()
        self.assertEqual((waiting["type"], waiting["since"]), ("waiting", 1000.0))
        self.clock.now += 5
        second = await self.join(client, "B")
        self.assertEqual((await second.receive_json())["type"], "waiting")
        seat = await second.receive_json()
        self.assertEqual(seat, {"type": "seat", "link": "/#n=seat2&p=pw2&c=pair01&code=OK1&"
                                "url=https%3A%2F%2Fx.test%2Fdone%3Fc%3DOK1"})
        self.assertEqual((await first.receive_json())["link"][:21], "/#n=seat1&p=pw1&c=pai")
        kinds = [e["kind"] for e in room_log.read(self.folder)]
        self.assertEqual(kinds, ["open", "arrive", "arrive", "pair"])
        # The pair's game ends (its payouts written): both are told.
        folder = os.path.join(self.folder, "pair01")
        os.makedirs(folder)
        with open(os.path.join(folder, "lab_x_payouts.csv"), "w") as f:
            f.write("subject,payout\nseat1,3.00\n")
        server.check_games()
        await server.flush()
        finished = {"type": "finished", "code": "OK1", "url": "https://x.test/done?c=OK1"}
        self.assertEqual(await first.receive_json(), finished)
        self.assertEqual(await second.receive_json(), finished)

    async def test_one_who_comes_back_after_the_game_is_told_it_is_over(self):
        server, client = await self.client()
        first, second = await self.join(client, "A"), await self.join(client, "B")
        for ws in (first, second):
            self.assertEqual((await ws.receive_json())["type"], "waiting")
            self.assertEqual((await ws.receive_json())["type"], "seat")
            await ws.close()
        folder = os.path.join(self.folder, "pair01")
        os.makedirs(folder)
        with open(os.path.join(folder, "lab_x_payouts.csv"), "w") as f:
            f.write("subject,payout\nseat1,3.00\n")
        # No page is open, so the timer looks at no pair; the hello does.
        self.assertEqual(server.room.pairs_with_pages(), set())
        again = await self.join(client, "A")
        self.assertEqual(await again.receive_json(),
                         {"type": "finished", "code": "OK1", "url": "https://x.test/done?c=OK1"})

    async def test_the_wait_timeout_sends_home_with_the_fee(self):
        server, client = await self.client()
        ws = await self.join(client, "A", visible=False)
        self.assertEqual((await ws.receive_json())["type"], "waiting")
        self.clock.now += 59
        server.room.tick(self.clock())
        await server.flush()
        self.clock.now += 1
        server.room.tick(self.clock())
        await server.flush()
        self.assertEqual(await ws.receive_json(),
                         {"type": "exit", "outcome": "waited_out", "fee": "2.00",
                          "code": "NP2", "url": "https://x.test/done?c=NP2"})
        self.assertEqual(room_log.read(self.folder)[-1]["time"], 1060.0)


class RoomStatusTest(unittest.TestCase):
    def test_status_and_the_desk_count_the_room_from_its_log(self):
        folder = tempfile.mkdtemp(prefix="wexlab-room-")
        self.addCleanup(shutil.rmtree, folder)
        lab = record.from_json(LAB)
        state = status.build(folder, lab, now=2000.0)
        self.assertEqual(state["room"]["arrived"], 0)
        room_log.append(folder, [
            {"time": 1.0, "kind": "open", "session": SESSION, "max_pairs": 2},
            *[{"time": 2.0, "kind": "arrive", "ticket": f"t{n}", "label": f"L{n}"}
              for n in range(1, 5)],
            {"time": 3.0, "kind": "pair", "pair": 1, "tickets": ["t2", "t3"], "treatment": None},
            {"time": 4.0, "kind": "exit", "ticket": "t1", "outcome": "waited_out",
             "fee": "2.00", "code": "NP2"}])
        state = status.build(folder, lab, now=2000.0)
        self.assertEqual(state["room"], {"arrived": 4, "waiting": 1, "paired": 2, "exits": 1,
                                         "pairs": 1, "closed": False, "max_pairs": 2,
                                         "link": f"https://study.test/join/{SESSION}"})
        self.assertIn(f"room: 4 arrived, 1 waiting, 2 paired in 1 of 2 pairs, 1 left with the "
                      f"fee; study link https://study.test/join/{SESSION}",
                      status.table(state))
        # Pair 1 was formed (its bot not running here); pair 2 never was.
        self.assertEqual([p["bot_state"] for p in state["pairs"]],
                         ["not running", "not paired yet"])
        offline = record.from_json(dict(LAB, online=None))
        self.assertNotIn("room", status.build(folder, offline, now=2000.0))


class CloseCommandTest(unittest.TestCase):
    def close(self, folder):
        done = subprocess.run([sys.executable, paths.launcher(), "close"], cwd=folder,
                              capture_output=True, text=True, timeout=30)
        return done.returncode, done.stderr

    def test_close_needs_an_online_session_with_its_room(self):
        folder = tempfile.mkdtemp(prefix="wexlab-room-")
        self.addCleanup(shutil.rmtree, folder)
        record.save(folder, record.from_json(dict(LAB, online=None)))
        self.assertEqual(self.close(folder),
                         (1, "wexlab: wexlab close is for an online session (Arrivals on)\n"))
        record.save(folder, record.from_json(LAB))
        self.assertEqual(self.close(folder), (1, "wexlab: the room does not run (wexlab "
                                                 "resume starts it again)\n"))


if __name__ == "__main__":
    unittest.main()
