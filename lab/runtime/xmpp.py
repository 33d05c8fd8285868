"""XMPP clients of wexlab: the supervisor's notices to the moderator, and
the moderator's own account for `say` when the desk does not run (the
desk has an account of its own, see desk.py).

wexlab signs on as the moderator with a resource of its own at priority -1,
so the moderator's real client still gets every message the bots send (and
the server keeps them while that client is offline); wexlab reads the bots'
answers as carbon copies, and its own messages carry the carbons-private
hint so the moderator's client is not sent copies of them."""

import asyncio
import logging
import os
import ssl
import time

# slixmpp's notes (such as its slower stringprep) are no business of the user.
logging.getLogger("slixmpp").setLevel(logging.CRITICAL)

import slixmpp  # noqa: E402

from ..model.placement import address_of, port_of  # noqa: E402
from ..servers import server  # noqa: E402


_contexts = {}


def trusting(certificate):
    """One TLS context per certificate for all of this process's clients:
    making one reads the system's trust store (25 ms), once per robot."""
    if certificate not in _contexts:
        context = ssl.create_default_context(cafile=certificate)
        context.check_hostname = False  # the address is an IP, the name a domain
        _contexts[certificate] = context
    return _contexts[certificate]


class Client(slixmpp.ClientXMPP):
    """A client of the lab server that trusts exactly its certificate."""

    def __init__(self, lab, name, password, resource, priority=0):
        super().__init__(f"{name}@{lab.domain}/{resource}", password)
        self.lab = lab
        self.priority = priority
        self.ready = asyncio.Event()
        self.ssl_context.check_hostname = False
        self.ssl_context.verify_mode = ssl.CERT_NONE
        if lab.certificate and os.path.exists(lab.certificate):
            self.ssl_context = trusting(lab.certificate)
        self.add_event_handler("session_start", self._started)

    async def _started(self, _):
        self.send_presence(ppriority=self.priority)
        self.ready.set()

    def open(self):
        # On a cluster, each account signs on to its own node.
        name = self.boundjid.user
        self.connect((address_of(self.lab, name), port_of(self.lab, name)),
                     force_starttls=not self.lab.plain, disable_starttls=self.lab.plain)

    async def online(self, timeout=20):
        self.open()
        try:
            await asyncio.wait_for(self.ready.wait(), timeout)
        except asyncio.TimeoutError:
            name = self.boundjid.user
            raise ConnectionError(f"could not sign on to {address_of(self.lab, name)}:"
                                  f"{port_of(self.lab, name)} as {self.boundjid.bare}")
        return self

    async def close(self):
        if self.is_connected():
            self.disconnect()
            try:
                await asyncio.wait_for(self.disconnected, 5)
            except Exception:
                pass


class Notifier(Client):
    """The supervisor's account: sends notices, keeps them while offline,
    reconnects by itself."""

    def __init__(self, lab, name):
        super().__init__(lab, name, lab.accounts[name].password, "supervisor")
        self.pending = []
        self.closing = False
        self.add_event_handler("disconnected", self._lost)

    def start(self):
        self.open()

    async def _started(self, event):
        await super()._started(event)
        for to, text in self.pending:
            self.send_message(mto=to, mbody=text, mtype="chat")
        self.pending.clear()

    def _lost(self, _):
        self.ready.clear()
        if not self.closing:
            asyncio.get_event_loop().call_later(5, self.open)

    def tell(self, to, text):
        if self.ready.is_set():
            self.send_message(mto=to, mbody=text, mtype="chat")
        else:
            self.pending.append((to, text))

    async def close(self):
        self.closing = True
        await super().close()


class Moderator(Client):
    """The moderator's account under wexlab's own resource."""

    def __init__(self, lab):
        name = lab.moderator
        # Where a negative priority would keep the answers from wexlab's
        # resource (ejabberd), the server's kind says so.
        priority = server.server_class(lab).moderator_priority
        super().__init__(lab, name, lab.accounts[name].password,
                         f"wexlab-{os.getpid()}", priority=priority)
        self.register_plugin("xep_0280")
        self.answers = asyncio.Queue()
        self.add_event_handler("carbon_received", self._carbon)
        self.add_event_handler("message", self._direct)

    async def _started(self, event):
        try:
            await self.plugin["xep_0280"].enable()
        except Exception:
            pass
        await super()._started(event)

    def _carbon(self, msg):
        inner = msg["carbon_received"]
        if inner["body"]:
            self.answers.put_nowait((inner["from"].user, inner["body"], time.monotonic()))

    def _direct(self, msg):
        if msg["type"] in ("chat", "normal") and msg["body"]:
            self.answers.put_nowait((msg["from"].user, msg["body"], time.monotonic()))

    def command(self, bot, text):
        msg = self.make_message(mto=f"{bot}@{self.lab.domain}", mbody=text, mtype="chat")
        msg.enable("carbon_private")
        msg.send()


async def say(lab, bots, text):
    moderator = await Moderator(lab).online()
    for bot in bots:
        moderator.command(bot, text)
    await asyncio.sleep(0.5)  # let the stream carry them before it closes
    await moderator.close()
