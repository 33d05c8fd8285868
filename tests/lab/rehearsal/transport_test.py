#!/usr/bin/python3
"""Unit tests of the robots' transports: a robot subject over the
websocket says the same as one over plain XMPP for the same messages of
its bot (and ignores the same others), and the pair measures the same
number of latencies; the transport chosen by name; the websocket's
address; and a bench session over the websocket with TLS on."""

import argparse
import asyncio
import os
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "runtime"))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

try:
    import ws_xmpp_test  # the fake websocket server; exits 77 without aiohttp
    import slixmpp
except ImportError:
    sys.exit(77)

from wexlab.model import record  # noqa: E402
from wexlab.model.errors import LabError  # noqa: E402
from wexlab.rehearsal import play, robots  # noqa: E402

SEED = 7
QUESTION = "How much do you think your partner will invest?"
INVEST = "Now please tell me, how much would you like to invest?"


def make_lab(tls=True, port=4430):
    return record.Lab(domain="lab.wex", address="127.0.0.1", port=5222,
                      accounts={"seat1": record.Account("seat1", "seat1@lab.wex", "secret")},
                      web=record.Web(port, tls))


def make_pair():
    pair = robots.Pair(record.Pair(1, "bot1", "seat1", "seat2"), 1)
    pair.go.set()
    return pair


def chat(sender, body):
    return (f'<message xmlns="jabber:client" from="{sender}/wexbot" to="seat1@lab.wex" '
            f'type="chat"><body>{body}</body></message>')


# What the bot sends once the greeting is echoed: a question the robot
# answers, the same question from someone else (not its bot: ignored) and
# a message with no text.
LATER = [chat("bot1@lab.wex", QUESTION), chat("someone@lab.wex", INVEST),
         ws_xmpp_test.ELEMENT_ONLY]


async def until(check, timeout=5):
    async def wait():
        while not check():
            await asyncio.sleep(0.01)
    await asyncio.wait_for(wait(), timeout)


async def play_websocket():
    server = await ws_xmpp_test.FakeServer().start()
    server.greeting = []
    pair = make_pair()
    subject = await robots.WsSubject(make_lab(), "seat1", 1, pair, SEED, url=server.url).online()
    await until(lambda: server.names().count("message") == 1)
    await until(lambda: pair.pending == 0)
    for frame in LATER:
        await server.socket.send_str(frame)
    await until(lambda: server.names().count("message") == 2)
    await until(lambda: pair.pending == 0)
    await asyncio.sleep(0.1)  # anything more it would wrongly say
    await subject.close()
    await server.stop()
    sent = [e.find("{jabber:client}body").text for name, e in server.received
            if name == "message"]
    return sent, [e.get("to") for name, e in server.received if name == "message"], pair


async def play_xmpp():
    """A slixmpp robot fed the same stanzas; its bot echoes as the fake
    server does."""
    pair = make_pair()
    lab = make_lab()
    subject = robots.Subject(lab, "seat1", 1, pair, SEED)
    sent = []
    loop = asyncio.get_event_loop()

    def feed(text):
        element = ET.fromstring(text)
        stanza = slixmpp.Message()
        stanza["from"] = element.get("from")
        body = element.find("{jabber:client}body")
        if body is not None:
            stanza["body"] = body.text
        subject._message(stanza)

    def send_message(mto, mbody, mtype):
        sent.append((mto, mbody, mtype))
        loop.call_soon(feed, chat(mto, f"echo {mbody}"))

    subject.send_message = send_message
    subject.send_presence = lambda **_: None
    await subject._started(None)
    await until(lambda: len(sent) == 1)
    await until(lambda: pair.pending == 0)
    for frame in LATER:
        feed(frame)
    await until(lambda: len(sent) == 2)
    await until(lambda: pair.pending == 0)
    await asyncio.sleep(0.1)
    return [s[1] for s in sent], [s[0] for s in sent], {s[2] for s in sent}, pair


class SameGameTest(unittest.TestCase):
    def test_websocket_robot_says_what_an_xmpp_robot_says(self):
        ws_sent, ws_to, ws_pair = asyncio.run(asyncio.wait_for(play_websocket(), 20))
        xmpp_sent, xmpp_to, kinds, xmpp_pair = asyncio.run(asyncio.wait_for(play_xmpp(), 20))
        expected = ["hello", str(robots.answer(SEED, 1, 1, 1, "expectation"))]
        self.assertEqual(xmpp_sent, expected)
        self.assertEqual(ws_sent, expected)
        self.assertEqual(ws_to, ["bot1@lab.wex"] * 2)
        self.assertEqual(xmpp_to, ["bot1@lab.wex"] * 2)
        self.assertEqual(kinds, {"chat"})
        # The echoes of hello and of the answer are the two measured.
        self.assertEqual(len(ws_pair.latencies), 2)
        self.assertEqual(len(xmpp_pair.latencies), 2)
        self.assertEqual((ws_pair.timeouts, xmpp_pair.timeouts), (0, 0))


class ChoiceTest(unittest.TestCase):
    def test_transport_by_name(self):
        self.assertIs(robots.subject_kind("websocket"), robots.WsSubject)
        self.assertIs(robots.subject_kind("xmpp"), robots.Subject)
        with self.assertRaises(LabError):
            robots.subject_kind("bosh")

    def test_websocket_address_follows_the_web_seats(self):
        self.assertEqual(robots.websocket_url(make_lab(True, 4430), "seat1"),
                         "wss://127.0.0.1:4430/xmpp-websocket")
        self.assertEqual(robots.websocket_url(make_lab(False, 8080), "seat1"),
                         "ws://127.0.0.1:8080/xmpp-websocket")


def session_text(**given):
    args = argparse.Namespace(session=None, pairs=2, rounds=2, seed=None, nodes=None,
                              server=None)
    for key, value in given.items():
        setattr(args, key, value)
    with tempfile.TemporaryDirectory() as folder:
        with open(play.rehearsal_session(folder, args, {}), encoding="utf-8") as f:
            return f.read()


class SessionTest(unittest.TestCase):
    def test_websocket_bench_turns_tls_on_and_xmpp_leaves_it(self):
        self.assertIn("WebTls", session_text(via="websocket"))
        self.assertNotIn("WebTls", session_text(via="xmpp"))
        self.assertNotIn("WebTls", session_text())  # rehearse: as before


if __name__ == "__main__":
    unittest.main()
