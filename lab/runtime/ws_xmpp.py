"""A small XMPP client over a websocket (RFC 7395), the way the seat page
signs in: the `xmpp` subprotocol, one XML element a text frame, SASL PLAIN,
resource binding and the session's presence; chat messages out, messages
in with their game element's attributes. aiohttp's websocket client.

It serves the robots that arrive through the room as a browser would, and
the benches that load the server's websocket path. TLS is not verified
unless a certificate is named: the lab's own is self-signed."""

import asyncio
import base64
import ssl
import time
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from typing import Callable, Dict, Optional

import aiohttp

FRAMING = "urn:ietf:params:xml:ns:xmpp-framing"
STREAMS = "http://etherx.jabber.org/streams"
CLIENT = "jabber:client"
SASL = "urn:ietf:params:xml:ns:xmpp-sasl"
BIND = "urn:ietf:params:xml:ns:xmpp-bind"
SESSION = "urn:ietf:params:xml:ns:xmpp-session"
STANZAS = "urn:ietf:params:xml:ns:xmpp-stanzas"
PING = "urn:xmpp:ping"
GAME = "urn:wex:game:1"
STEP_TIMEOUT = 20.0  # seconds one step of the sign-in may take


class AuthError(ConnectionError):
    """The server refused the name or the password."""


class StreamError(ConnectionError):
    """The server ended the stream or answered out of turn."""


@dataclass
class Message:
    """A message as the robots read it: the sender's bare address, the
    text ("" for an element-only message) and the game element's
    attributes (None when it carried none)."""
    sender: str
    body: str
    kind: str = "chat"
    game: Optional[Dict[str, str]] = None
    received: float = field(default_factory=time.time)


def tag(namespace, name):
    return f"{{{namespace}}}{name}"


def split_tag(element):
    """(namespace, local name) of a parsed element."""
    if element.tag.startswith("{"):
        namespace, name = element.tag[1:].split("}", 1)
        return namespace, name
    return "", element.tag


def parse_message(element):
    """A Message from a <message/> element, or None when it is not one."""
    if split_tag(element) != (CLIENT, "message"):
        return None
    body = element.find(tag(CLIENT, "body"))
    game = element.find(tag(GAME, "game"))
    return Message(sender=element.get("from", "").split("/", 1)[0],
                   body=(body.text or "") if body is not None else "",
                   kind=element.get("type", "normal"),
                   game=dict(game.attrib) if game is not None else None)


def to_text(element):
    return ET.tostring(element, encoding="unicode")


def element(name, namespace=None, attributes=None, text=None):
    """An element written with a plain xmlns attribute (no ns0: prefixes,
    which some servers take badly); its children inherit it."""
    made = ET.Element(name, attributes or {})
    if namespace:
        made.set("xmlns", namespace)
    made.text = text
    return made


def child(parent, name, namespace=None, text=None):
    made = element(name, namespace, None, text)
    parent.append(made)
    return made


def open_frame(domain):
    return to_text(element("open", FRAMING, {"to": domain, "version": "1.0"}))


def close_frame():
    return to_text(element("close", FRAMING))


def auth_frame(name, password):
    token = base64.b64encode(f"\0{name}\0{password}".encode("utf-8")).decode("ascii")
    return to_text(element("auth", SASL, {"mechanism": "PLAIN"}, token))


def bind_frame(resource, stanza_id):
    iq = element("iq", CLIENT, {"type": "set", "id": stanza_id})
    child(child(iq, "bind", BIND), "resource", text=resource)
    return to_text(iq)


def session_frame(stanza_id):
    iq = element("iq", CLIENT, {"type": "set", "id": stanza_id})
    child(iq, "session", SESSION)
    return to_text(iq)


def message_frame(to, body):
    message = element("message", CLIENT, {"to": to, "type": "chat"})
    child(message, "body", text=body)
    return to_text(message)


def presence_frame(priority=0):
    presence = element("presence", CLIENT)
    if priority:
        child(presence, "priority", text=str(priority))
    return to_text(presence)


def iq_answer(iq):
    """The answer to an iq get or set: a pong to a ping, else
    service-unavailable (this client offers nothing)."""
    reply = element("iq", CLIENT, {"id": iq.get("id", "")})
    if iq.get("from"):
        reply.set("to", iq.get("from"))
    if iq.find(tag(PING, "ping")) is not None:
        reply.set("type", "result")
    else:
        reply.set("type", "error")
        error = child(reply, "error")
        error.set("type", "cancel")
        child(error, "service-unavailable", STANZAS)
    return to_text(reply)


def client_ssl(certificate=None):
    """Trusts exactly the lab's certificate when one is named, else nothing
    is verified (the lab's certificate is self-signed, its name a domain
    while the address is an IP)."""
    if certificate:
        context = ssl.create_default_context(cafile=certificate)
        context.check_hostname = False
        return context
    return False


class WsClient:
    """One account signed in over the websocket at url (ws:// or wss://).
    on_message(Message) is called for each message that arrives, and
    on_presence(sender's bare address, type) when set, for each presence
    (type "available" when it has none); lost is set when the connection
    ends, for whatever reason."""

    def __init__(self, url, domain, name, password, resource="robot",
                 on_message: Optional[Callable[[Message], None]] = None, certificate=None,
                 priority=0):
        self.url = url
        self.domain = domain
        self.name = name
        self.password = password
        self.resource = resource
        self.on_message = on_message
        self.on_presence: Optional[Callable[[str, str], None]] = None
        self.certificate = certificate
        self.priority = priority
        self.jid = None  # the full address the server bound
        self.http = None
        self.ws = None
        self.reader = None
        self.lost = asyncio.Event()
        self.closing = False
        self.stream_error = None  # the condition of a stream error, if any
        self.counter = 0

    @property
    def connected(self):
        return self.ws is not None and not self.ws.closed and not self.lost.is_set()

    @property
    def bare(self):
        return f"{self.name}@{self.domain}"

    async def open(self, timeout=STEP_TIMEOUT):
        """Signs in and sends the initial presence; raises AuthError when the
        password is refused, ConnectionError on any other failure."""
        self.lost.clear()
        self.closing = False
        self.stream_error = None
        self.http = aiohttp.ClientSession()
        try:
            self.ws = await asyncio.wait_for(self.http.ws_connect(
                self.url, protocols=("xmpp",), ssl=client_ssl(self.certificate),
                autoping=True), timeout)
            if self.ws.protocol != "xmpp":
                raise StreamError(f"{self.url} did not take the xmpp subprotocol")
            features = await self._restart(timeout)
            if not any(m.text == "PLAIN" for m in features.iter(tag(SASL, "mechanism"))):
                raise StreamError("the server offers no PLAIN sign-in")
            await self.ws.send_str(auth_frame(self.name, self.password))
            answer = await self._next(timeout)
            if split_tag(answer) == (SASL, "failure"):
                conditions = [split_tag(child)[1] for child in answer]
                raise AuthError(f"{self.bare} was refused: {', '.join(conditions) or 'failure'}")
            if split_tag(answer) != (SASL, "success"):
                raise StreamError(f"unexpected answer to the sign-in: {split_tag(answer)[1]}")
            features = await self._restart(timeout)
            await self._bind(timeout)
            session = features.find(tag(SESSION, "session"))
            if session is not None and session.find(tag(SESSION, "optional")) is None:
                await self._iq(session_frame(self._id()), timeout)
            await self.ws.send_str(presence_frame(self.priority))
        except (AuthError, StreamError):
            await self._shut()
            raise
        except (aiohttp.ClientError, asyncio.TimeoutError, OSError) as e:
            await self._shut()
            raise ConnectionError(f"could not sign in as {self.bare} at {self.url}: "
                                  f"{e or type(e).__name__}")
        except BaseException:
            await self._shut()
            raise
        self.reader = asyncio.ensure_future(self._read())
        return self

    def _id(self):
        self.counter += 1
        return f"ws{self.counter}"

    async def _restart(self, timeout):
        """Opens (or opens again) the stream; returns its features."""
        await self.ws.send_str(open_frame(self.domain))
        opened = await self._next(timeout)
        if split_tag(opened) != (FRAMING, "open"):
            raise StreamError(f"the server answered the stream's open with "
                              f"{split_tag(opened)[1]}")
        features = await self._next(timeout)
        if split_tag(features) != (STREAMS, "features"):
            raise StreamError(f"expected the stream's features, got {split_tag(features)[1]}")
        return features

    async def _bind(self, timeout):
        answer = await self._iq(bind_frame(self.resource, self._id()), timeout)
        bound = answer.find(f"{tag(BIND, 'bind')}/{tag(BIND, 'jid')}")
        self.jid = bound.text if bound is not None else f"{self.bare}/{self.resource}"

    async def _iq(self, frame, timeout):
        await self.ws.send_str(frame)
        answer = await self._next(timeout)
        if split_tag(answer) != (CLIENT, "iq") or answer.get("type") != "result":
            raise StreamError(f"the server refused the request {ET.fromstring(frame).get('id')}")
        return answer

    async def _next(self, timeout):
        """The next element the server sends during the sign-in."""
        while True:
            frame = await asyncio.wait_for(self.ws.receive(), timeout)
            if frame.type != aiohttp.WSMsgType.TEXT:
                raise StreamError(f"the websocket ended during the sign-in ({frame.type.name})")
            element = ET.fromstring(frame.data)
            if split_tag(element) == (STREAMS, "error"):
                raise StreamError(f"stream error: {self._condition(element)}")
            if split_tag(element) == (FRAMING, "close"):
                raise StreamError("the server closed the stream during the sign-in")
            return element

    @staticmethod
    def _condition(error):
        return next((split_tag(child)[1] for child in error), "undefined-condition")

    async def _read(self):
        """Takes every frame after the sign-in until the connection ends."""
        try:
            async for frame in self.ws:
                if frame.type != aiohttp.WSMsgType.TEXT:
                    break
                try:
                    element = ET.fromstring(frame.data)
                except ET.ParseError:
                    continue  # not ours to judge: the next stanza may be fine
                if not await self._take(element):
                    break
        except (aiohttp.ClientError, OSError, asyncio.CancelledError):
            pass
        finally:
            self.lost.set()
            if not self.closing:
                await self._shut()

    async def _take(self, element):
        """Handles one element; False when the stream is over."""
        kind = split_tag(element)
        if kind == (CLIENT, "message"):
            if self.on_message:
                self.on_message(parse_message(element))
        elif kind == (CLIENT, "presence"):
            if self.on_presence:
                self.on_presence(element.get("from", "").split("/", 1)[0],
                                 element.get("type", "available"))
        elif kind == (CLIENT, "iq") and element.get("type") in ("get", "set"):
            await self.ws.send_str(iq_answer(element))
        elif kind == (STREAMS, "error"):
            self.stream_error = self._condition(element)
            return False
        elif kind == (FRAMING, "close"):
            if not self.closing:
                await self.ws.send_str(close_frame())
            return False
        return True

    async def send(self, to, body):
        """Sends a chat message; to is a local name on the domain or an
        address."""
        if not self.connected:
            raise ConnectionError(f"{self.bare} is not signed in")
        address = to if "@" in to else f"{to}@{self.domain}"
        await self.ws.send_str(message_frame(address, body))

    async def close(self, timeout=5.0):
        """Closes the stream as RFC 7395 says (our <close/>, the server's
        answer, then the websocket)."""
        if self.ws is None:
            return
        self.closing = True
        if self.connected:
            try:
                await self.ws.send_str(close_frame())
                await asyncio.wait_for(self.lost.wait(), timeout)
            except (asyncio.TimeoutError, aiohttp.ClientError, ConnectionError, OSError):
                pass
        if self.reader is not None:
            self.reader.cancel()
            try:
                await self.reader
            except asyncio.CancelledError:
                pass
            self.reader = None
        await self._shut()

    async def _shut(self):
        if self.ws is not None and not self.ws.closed:
            await self.ws.close()
        if self.http is not None:
            await self.http.close()
        self.lost.set()
