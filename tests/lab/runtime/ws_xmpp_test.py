#!/usr/bin/python3
"""Unit tests of the XMPP client over a websocket against a small fake
server in this process: the sign-in steps in order, a refused password,
messages both ways with the game element read, pings answered, the
server's close and the client's."""

import asyncio
import base64
import os
import sys
import unittest
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

try:
    from aiohttp import web
except ImportError:
    sys.exit(77)

from wexlab.runtime import ws_xmpp  # noqa: E402

DOMAIN = "lab.wex"
FEATURES_SASL = ('<stream:features xmlns:stream="http://etherx.jabber.org/streams">'
                 '<mechanisms xmlns="urn:ietf:params:xml:ns:xmpp-sasl">'
                 '<mechanism>SCRAM-SHA-1</mechanism><mechanism>PLAIN</mechanism>'
                 '</mechanisms></stream:features>')
FEATURES_BIND = ('<stream:features xmlns:stream="http://etherx.jabber.org/streams">'
                 '<bind xmlns="urn:ietf:params:xml:ns:xmpp-bind"/>'
                 '<session xmlns="urn:ietf:params:xml:ns:xmpp-session">{optional}</session>'
                 '</stream:features>')
OPEN = ('<open xmlns="urn:ietf:params:xml:ns:xmpp-framing" from="lab.wex" id="s1" '
        'version="1.0"/>')
GAME_MESSAGE = ('<message xmlns="jabber:client" from="bot1@lab.wex/wexbot" to="seat1@lab.wex" '
                'type="chat"><body>How much do you think your partner will invest?</body>'
                '<game xmlns="urn:wex:game:1" round="1" rounds="4" phase="expectation" '
                'owed="expectation" credits="0.00"/></message>')
ELEMENT_ONLY = ('<message xmlns="jabber:client" from="bot1@lab.wex/wexbot" type="chat">'
                '<game xmlns="urn:wex:game:1" phase="over" ended="replaced" payout="4.20"/>'
                '<store xmlns="urn:xmpp:hints"/></message>')

BOT_ONLINE = '<presence xmlns="jabber:client" from="bot1@lab.wex/wexbot"/>'
BOT_OFFLINE = ('<presence xmlns="jabber:client" from="bot1@lab.wex/wexbot" '
               'type="unavailable"/>')


def local(element):
    return element.tag.split("}", 1)[-1]


class FakeServer:
    """A websocket XMPP server that knows one account. It records every
    element it was sent, in order; after the presence it sends the
    stanzas of `greeting` (the bot's presence and messages) and echoes each chat message back."""

    def __init__(self, password="secret", session_required=False, protocol="xmpp"):
        self.password = password
        self.session_required = session_required
        self.protocol = protocol
        self.received = []  # (local name, element)
        self.greeting = [BOT_ONLINE, GAME_MESSAGE, BOT_OFFLINE, ELEMENT_ONLY]
        self.socket = None
        self.runner = None
        self.url = None

    async def start(self):
        app = web.Application()
        app.router.add_get("/xmpp-websocket", self.handle)
        self.runner = web.AppRunner(app)
        await self.runner.setup()
        site = web.TCPSite(self.runner, "127.0.0.1", 0)
        await site.start()
        port = site._server.sockets[0].getsockname()[1]
        self.url = f"ws://127.0.0.1:{port}/xmpp-websocket"
        return self

    async def stop(self):
        await self.runner.cleanup()

    def names(self):
        return [name for name, _ in self.received]

    async def handle(self, request):
        ws = web.WebSocketResponse(protocols=(self.protocol,))
        await ws.prepare(request)
        self.socket = ws
        authed = False
        async for frame in ws:
            element = ET.fromstring(frame.data)
            name = local(element)
            self.received.append((name, element))
            if name == "open":
                await ws.send_str(OPEN)
                optional = "" if self.session_required else "<optional/>"
                await ws.send_str(FEATURES_BIND.format(optional=optional) if authed
                                  else FEATURES_SASL)
            elif name == "auth":
                _, user, password = base64.b64decode(element.text).decode().split("\0")
                if user == "seat1" and password == self.password:
                    authed = True
                    await ws.send_str('<success xmlns="urn:ietf:params:xml:ns:xmpp-sasl"/>')
                else:
                    await ws.send_str('<failure xmlns="urn:ietf:params:xml:ns:xmpp-sasl">'
                                      '<not-authorized/></failure>')
                    await ws.send_str('<close xmlns="urn:ietf:params:xml:ns:xmpp-framing"/>')
                    await ws.close()
            elif name == "iq" and element.find("{urn:ietf:params:xml:ns:xmpp-bind}bind"):
                resource = element.find(".//{urn:ietf:params:xml:ns:xmpp-bind}resource").text
                await ws.send_str(f'<iq xmlns="jabber:client" type="result" '
                                  f'id="{element.get("id")}"><bind xmlns="urn:ietf:params:'
                                  f'xml:ns:xmpp-bind"><jid>seat1@lab.wex/{resource}</jid>'
                                  f'</bind></iq>')
            elif name == "iq" and element.get("type") == "set":
                await ws.send_str(f'<iq xmlns="jabber:client" type="result" '
                                  f'id="{element.get("id")}"/>')
            elif name == "presence":
                for text in self.greeting:
                    await ws.send_str(text)
            elif name == "message":
                body = escape(element.find("{jabber:client}body").text)
                await ws.send_str(f'<message xmlns="jabber:client" from="{element.get("to")}/x" '
                                  f'type="chat"><body>echo {body}</body></message>')
            elif name == "close":
                await ws.send_str('<close xmlns="urn:ietf:params:xml:ns:xmpp-framing"/>')
                await ws.close()
        return ws


def run(test):
    return asyncio.run(asyncio.wait_for(test(), 20))


async def received_count(messages, count):
    while len(messages) < count:
        await asyncio.sleep(0.01)


class SignInTest(unittest.TestCase):
    def test_signs_in_binds_and_reads_the_game_element(self):
        async def scenario():
            server = await FakeServer().start()
            messages = []
            client = ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret", "web-abc",
                                      on_message=messages.append)
            presences = []
            client.on_presence = lambda sender, kind: presences.append((sender, kind))
            await client.open()
            await received_count(messages, 2)
            await client.close()
            await server.stop()
            return server, client, messages, presences

        server, client, messages, presences = run(scenario)
        # Each presence reaches on_presence, by bare address; none is a message.
        self.assertEqual(presences, [("bot1@lab.wex", "available"),
                                     ("bot1@lab.wex", "unavailable")])
        # open, PLAIN, open again, bind, presence: no session request when
        # the server says it is optional.
        self.assertEqual(server.names()[:5], ["open", "auth", "open", "iq", "presence"])
        self.assertEqual(server.received[1][1].get("mechanism"), "PLAIN")
        self.assertEqual(server.received[0][1].get("to"), DOMAIN)
        self.assertEqual(client.jid, "seat1@lab.wex/web-abc")
        first, second = messages
        self.assertEqual(first.sender, "bot1@lab.wex")
        self.assertEqual(first.body, "How much do you think your partner will invest?")
        self.assertEqual(first.game["owed"], "expectation")
        self.assertEqual(first.game["rounds"], "4")
        self.assertEqual(second.body, "")
        self.assertEqual((second.game["ended"], second.game["payout"]), ("replaced", "4.20"))
        self.assertEqual(server.names()[-1], "close")
        self.assertFalse(client.connected)

    def test_required_session_is_established(self):
        async def scenario():
            server = await FakeServer(session_required=True).start()
            server.greeting = []
            client = await ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret").open()
            await client.close()
            await server.stop()
            return server

        server = run(scenario)
        session = server.received[4][1]
        self.assertEqual(server.names()[:6], ["open", "auth", "open", "iq", "iq", "presence"])
        self.assertIsNotNone(session.find("{urn:ietf:params:xml:ns:xmpp-session}session"))

    def test_wrong_password_raises_auth_error(self):
        async def scenario():
            server = await FakeServer(password="other").start()
            client = ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret")
            with self.assertRaises(ws_xmpp.AuthError) as caught:
                await client.open()
            await server.stop()
            return client, caught.exception

        client, error = run(scenario)
        self.assertIn("not-authorized", str(error))
        self.assertFalse(client.connected)

    def test_server_without_the_subprotocol_is_refused(self):
        async def scenario():
            server = await FakeServer(protocol="chat").start()
            client = ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret")
            with self.assertRaises(ConnectionError) as caught:
                await client.open()
            await server.stop()
            return caught.exception

        self.assertIn("xmpp subprotocol", str(run(scenario)))

    def test_nothing_listening_is_a_connection_error(self):
        async def scenario():
            server = await FakeServer().start()
            url = server.url
            await server.stop()
            with self.assertRaises(ConnectionError):
                await ws_xmpp.WsClient(url, DOMAIN, "seat1", "secret").open(timeout=5)

        run(scenario)


class ExchangeTest(unittest.TestCase):
    def test_messages_out_are_chat_with_escaped_text_and_pings_answered(self):
        async def scenario():
            server = await FakeServer().start()
            server.greeting = []
            messages = []
            client = await ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret",
                                            on_message=messages.append).open()
            await client.send("bot1", "a < b & c")
            await received_count(messages, 1)
            await server.socket.send_str('<iq xmlns="jabber:client" type="get" id="p1" '
                                         'from="lab.wex"><ping xmlns="urn:xmpp:ping"/></iq>')
            await server.socket.send_str('<iq xmlns="jabber:client" type="get" id="v1">'
                                         '<query xmlns="jabber:iq:version"/></iq>')
            while server.names().count("iq") < 3:
                await asyncio.sleep(0.01)
            await client.close()
            await server.stop()
            return server, messages

        server, messages = run(scenario)
        sent = [e for name, e in server.received if name == "message"][0]
        self.assertEqual((sent.get("to"), sent.get("type")), ("bot1@lab.wex", "chat"))
        self.assertEqual(sent.find("{jabber:client}body").text, "a < b & c")
        self.assertEqual(messages[0].body, "echo a < b & c")
        self.assertIsNone(messages[0].game)
        answers = [e for name, e in server.received if name == "iq"][1:]
        self.assertEqual([(a.get("id"), a.get("type")) for a in answers],
                         [("p1", "result"), ("v1", "error")])
        self.assertEqual(answers[0].get("to"), "lab.wex")

    def test_server_close_ends_the_connection(self):
        async def scenario():
            server = await FakeServer().start()
            server.greeting = []
            client = await ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret").open()
            await server.socket.send_str('<stream:error xmlns:stream="http://etherx.jabber.org/'
                                         'streams"><conflict xmlns="urn:ietf:params:xml:ns:'
                                         'xmpp-streams"/></stream:error>')
            await asyncio.wait_for(client.lost.wait(), 5)
            with self.assertRaises(ConnectionError):
                await client.send("bot1", "hello")
            await client.close()
            await server.stop()
            return client

        client = run(scenario)
        self.assertEqual(client.stream_error, "conflict")
        self.assertFalse(client.connected)

    def test_opens_again_after_a_close(self):
        async def scenario():
            server = await FakeServer().start()
            server.greeting = []
            client = ws_xmpp.WsClient(server.url, DOMAIN, "seat1", "secret")
            await client.open()
            await client.close()
            await client.open()
            await client.send("bot1", "back")
            await client.close()
            await server.stop()
            return server

        server = run(scenario)
        self.assertEqual(server.names().count("presence"), 2)
        self.assertEqual(server.names().count("message"), 1)


if __name__ == "__main__":
    unittest.main()
