#!/usr/bin/python3
"""End-to-end tests of the lab server's policy: subjects reach their own
pair's bot and nobody else, and a subject's account holds one session at a
time (the newest sign-in takes it). Slixmpp clients sign on as every
account (the bots' accounts too) of a Prosody or an ejabberd set up as
wexlab sets it up for two pairs, or of a Prosody as lab-server.py sets it
up for one."""

import asyncio
import os
import shutil
import sys
import tempfile
import time

from harness import Failure, Peer, Scene, _LabBase, check, free_port, load_wexlab, run_case

REFUSAL_TEXT = "Messages to this account are not allowed in this session."
SESSION = """Service xmpp:lab.wex@127.0.0.1:{port};tls=off
ModeratorName moderator
LogFile transcript
NRounds 2
ConversationInterval 1
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
Subjects ann ben cat dan
Seed 3
Web off
"""


def wexlab_modules(args):
    """wexlab's modules that set a session's server up, loaded by the
    wexlab launcher beside the lab script."""
    load_wexlab(os.path.join(os.path.dirname(os.path.abspath(args.lab_script)), "wexlab"))
    from wexlab.model import accounts, plan
    from wexlab.runtime import bot_check
    from wexlab.servers import server
    return accounts, plan, bot_check, server


class WexlabLab(_LabBase):
    """A server of a two-pair wexlab session, set up by wexlab's own code,
    with no bots running: the tests sign on as the bots' accounts. Roles
    are account names."""

    def __init__(self, args, ejabberd=False):
        self.accountslib, self.plan, self.bot_check, self.server = wexlab_modules(args)
        self.bot = args.bot
        self.root = tempfile.mkdtemp(prefix="wex-e2e-policy-")
        self.dir = os.path.join(self.root, "server")
        self.port = free_port()
        # ejabberd requires STARTTLS; Peer takes any certificate.
        self.plain = not ejabberd
        self.session = SESSION
        if ejabberd:
            self.session = (SESSION.replace(";tls=off", ";trust=any") +
                            "Server ejabberd\n")
        self.accounts = {}
        self.lab = None

    def start(self):
        from wexlab.model import record
        path = os.path.join(self.root, "session.conf")
        with open(path, "w", encoding="utf-8") as f:
            f.write(self.session.format(port=self.port))
        # Read and checked with the wexbot's key table, as wexlab start does.
        session = self.bot_check.read_session(path, self.bot)
        self.lab = self.plan.new_lab(session, None)
        server = self.server.for_lab(self.lab, self.root)
        server.set_up(self.lab.plain)
        record.save(self.root, self.lab)  # stop_folder reads the server's kind there
        server.start()
        self.accounts = {name: {"jid": self.accountslib.jid(self.lab, name),
                                "password": account.password}
                         for name, account in self.lab.accounts.items()}

    def pair(self, index):
        return self.lab.pairs[index - 1]

    def log_tail(self):
        if self.lab is not None and self.lab.server == "ejabberd":
            return read(os.path.join(self.dir, "node1", "logs", "ejabberd.log"))[-3000:]
        return read(os.path.join(self.dir, "prosody.log"))[-int(os.environ.get("WEX_LOG_TAIL", 3000)):]

    def close(self):
        self.server.stop_folder(self.root)
        shutil.rmtree(self.root, ignore_errors=True)


def read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError:
        return ""


async def watched(scene, role):
    """role's client, signed on, with its refusals in queues of their own."""
    peer = await scene.peer(role)
    peer.errors = asyncio.Queue()
    peer.add_event_handler("message_error", peer.errors.put_nowait)
    peer.add_event_handler("presence_error", peer.errors.put_nowait)
    return peer


async def refused(peer, to, kind="message"):
    """Sends to `to` and returns the error the server answers with."""
    if kind == "message":
        peer.say(to, f"psst from {peer.boundjid.user}")
    else:
        peer.send_presence_subscription(pto=to)
    try:
        error = await asyncio.wait_for(peer.errors.get(), 10)
    except asyncio.TimeoutError:
        raise Failure(f"{peer.boundjid.bare} got no error for its {kind} to {to}")
    check(error["from"].bare == to, f"the error comes from {error['from']}, not {to}")
    check(error["error"]["condition"] == "not-allowed",
          f"{kind} to {to}: condition {error['error']['condition']!r}")
    return error


async def delivered(sender, receiver, text):
    sender.say(receiver.boundjid.bare, text)
    msg = await receiver.message(timeout=10, sender=sender.boundjid.bare)
    check(msg["body"] == text, f"{receiver.boundjid.bare} got {msg['body']!r}, not {text!r}")


def refusal_lines(lab):
    lines = read(os.path.join(lab.dir, "refused.log")).splitlines()
    return [line.split("\t") for line in lines]


def check_logged(lines, kind, sender, to):
    found = [line for line in lines if len(line) == 4 and line[1] == kind and
             line[2].split("/")[0] == sender.boundjid.bare and line[3] == to]
    check(len(found) == 1, f"refused.log should have one {kind} line from "
          f"{sender.boundjid.bare} to {to}: {lines}")
    check(found[0][0].endswith("Z") and "T" in found[0][0], f"the time: {found[0][0]!r}")


async def nothing_from(peer, refused_senders, marker_sender):
    """Waits for a marker message from marker_sender, which the server
    routes after every refused one; none of those may have arrived."""
    await delivered(marker_sender, peer, "marker")
    senders = {p.boundjid.bare for p in refused_senders}
    check(not any(sender in senders for sender, _ in peer.received),
          f"{peer.boundjid.bare} received {peer.received}")


async def wexlab_pairs(args):
    """Two pairs: subjects reach only their own bot; the moderator and
    wexlab's account reach the bots; everything else is refused, answered
    and logged."""
    lab = WexlabLab(args)
    async with Scene(args, lab=lab) as scene:
        one, two = lab.pair(1), lab.pair(2)
        s1 = await watched(scene, one.subject1)
        s2 = await watched(scene, one.subject2)
        other = await watched(scene, two.subject1)
        bot1 = await watched(scene, one.bot)
        bot2 = await watched(scene, two.bot)
        moderator = await watched(scene, lab.lab.moderator)
        wexlab = await watched(scene, "wexlab")

        # A subject to its partner: refused with a text the client shows.
        error = await refused(s1, s2.boundjid.bare)
        check(error["error"]["text"] == REFUSAL_TEXT, f"the error's text: {error['error']['text']!r}")
        await refused(s1, bot2.boundjid.bare)       # another pair's bot
        await refused(s1, other.boundjid.bare)      # another pair's subject
        await refused(s1, moderator.boundjid.bare)  # the moderator
        await refused(bot1, bot2.boundjid.bare)     # bots do not talk to each other
        await refused(s1, s2.boundjid.bare, "presence")  # nor see each other's presence

        await delivered(s1, bot1, "hello own bot")
        await delivered(bot1, s1, "hello subject")
        await delivered(moderator, bot2, "b Hello from the moderator")
        await delivered(bot2, moderator, "Status: round 1 of 2.")
        await delivered(wexlab, moderator, "wexlab: pair02's bot has been restarted")

        lines = refusal_lines(lab)
        check(len(lines) == 6, f"refused.log should have 6 lines: {lines}")
        check_logged(lines, "message", s1, s2.boundjid.bare)
        check_logged(lines, "message", s1, bot2.boundjid.bare)
        check_logged(lines, "presence", s1, s2.boundjid.bare)
        # Nothing refused reached anyone.
        await nothing_from(s2, [s1], bot1)
        await nothing_from(other, [s1], bot2)
        await nothing_from(moderator, [s1], bot1)
        await nothing_from(bot2, [s1, bot1], moderator)


async def single_pair(args):
    """lab-server.py without wexlab: the bot with each subject and the
    moderator, nothing else."""
    async with Scene(args) as scene:
        alice = await watched(scene, "subject1")
        bob = await watched(scene, "subject2")
        bot = await watched(scene, "bot")
        moderator = await watched(scene, "moderator")
        await refused(alice, bob.boundjid.bare)
        await refused(moderator, alice.boundjid.bare)
        await delivered(alice, bot, "hello bot")
        await delivered(bot, bob, "hello bob")
        await delivered(moderator, bot, "?")
        lines = refusal_lines(scene.lab)
        check(len(lines) == 2, f"refused.log should have 2 lines: {lines}")
        check_logged(lines, "message", alice, bob.boundjid.bare)
        check_logged(lines, "message", moderator, alice.boundjid.bare)
        await nothing_from(bob, [alice], bot)
        await nothing_from(alice, [moderator], bot)


class Watched(Peer):
    """A client that records the stream error that ends its session."""

    def __init__(self, *args):
        super().__init__(*args)
        self.stream_errors = []
        self.gone = asyncio.Event()
        self.add_event_handler("stream_error", lambda e: self.stream_errors.append(
            e["condition"]))
        self.add_event_handler("disconnected", lambda _: self.gone.set())


async def settled(peer, timeout=60):
    """Connects peer and waits until it is signed on or cut (a sign-in
    closed by a newer one may never get as far as its session)."""
    peer.connect(("127.0.0.1", peer.port), force_starttls=not peer.plain,
                 disable_starttls=peer.plain)
    ready = asyncio.ensure_future(peer.ready.wait())
    gone = asyncio.ensure_future(peer.gone.wait())
    done, pending = await asyncio.wait({ready, gone}, timeout=timeout,
                                       return_when=asyncio.FIRST_COMPLETED)
    for task in pending:
        task.cancel()
    check(done, f"{peer.boundjid.bare}: neither signed on nor cut within {timeout} s")


async def signed_on(lab, name, timeout=30):
    account = lab.accounts[name]
    peer = Watched(account["jid"], account["password"], lab.port, lab.plain)
    return await peer.online(timeout)


async def cut(peer, why):
    """Waits until the server has closed peer's session with a conflict."""
    try:
        await asyncio.wait_for(peer.gone.wait(), 15)
    except asyncio.TimeoutError:
        raise Failure(f"{why}: {peer.boundjid.full} is still signed in")
    check(peer.stream_errors == ["conflict"],
          f"{why}: {peer.boundjid.full} ended with {peer.stream_errors}, not a conflict")


def replaced_lines(lab):
    lines = read(os.path.join(lab.dir, "replaced.log")).splitlines()
    return [line.split("\t") for line in lines]


async def one_session(lab):
    """A subject's second sign-in closes the first with a conflict and
    works; 40 at once leave one, the newest; the moderator's account keeps
    two sessions; the server logs each closed session."""
    peers = []
    try:
        one = lab.pair(1)
        bot = await signed_on(lab, one.bot)
        peers.append(bot)
        first = await signed_on(lab, one.subject1)
        second = await signed_on(lab, one.subject1)
        peers += [first, second]
        await cut(first, "a second sign-in")
        check(second.is_connected() and not second.gone.is_set(), "the newer session was cut")
        await delivered(second, bot, "the newer window answers")
        await delivered(bot, second, "and hears the bot")
        lines = replaced_lines(lab)
        check(len(lines) == 1 and lines[0][1:] == [one.subject1, first.boundjid.resource,
                                                   second.boundjid.resource],
              f"replaced.log: {lines}")

        # 40 sign-ins of one account at once: one stays, the newest.
        many = [Watched(lab.accounts[one.subject2]["jid"],
                        lab.accounts[one.subject2]["password"], lab.port, lab.plain)
                for _ in range(40)]
        peers += many
        started = time.monotonic()
        await asyncio.gather(*(settled(p) for p in many))
        await asyncio.sleep(3)  # the last closes reach their clients
        left = [p for p in many if not p.gone.is_set()]
        print(f"40 parallel sign-ins: {len(left)} left after "
              f"{time.monotonic() - started:.1f} s")
        check(len(left) == 1, f"{len(left)} sessions of {one.subject2} left of 40")
        check(left[0].ready.is_set(), "the session left never signed on")
        # A client cut while it still negotiates may lose the error with
        # the connection; none ends with another one.
        ended = [p.stream_errors for p in many if p not in left]
        check(all(errors in ([], ["conflict"]) for errors in ended) and
              ended.count(["conflict"]) >= 30, f"the closed sessions' errors: {ended}")
        await delivered(left[0], bot, "the one left answers")
        newest = [line for line in replaced_lines(lab) if line[1] == one.subject2]
        check(len({line[2] for line in newest}) == 39, f"{len(newest)} lines for 39 closed")
        check(left[0].boundjid.resource not in {line[2] for line in newest},
              "the one left is logged as closed")

        # The moderator's account keeps wexlab's resource beside the human's.
        moderator = lab.lab.moderator
        human = await signed_on(lab, moderator)
        wexlab_side = await signed_on(lab, moderator)
        peers += [human, wexlab_side]
        await delivered(bot, human, "b still there")
        check(not human.gone.is_set() and not wexlab_side.gone.is_set(),
              "the moderator's second session cut the first")
        check(not [line for line in replaced_lines(lab) if line[1] == moderator],
              "the moderator's sessions were logged as replaced")
    finally:
        for peer in peers:
            await peer.close()


async def one_session_prosody(args):
    lab = WexlabLab(args)
    async with Scene(args, lab=lab):
        await one_session(lab)


async def one_session_ejabberd(args):
    lab = WexlabLab(args, ejabberd=True)
    async with Scene(args, lab=lab):
        lab.port = lab.lab.nodes[0].port
        await one_session(lab)


one_session_ejabberd.needs = ("ejabberdctl", "erlc")

CASES = {f.__name__: f for f in (wexlab_pairs, single_pair, one_session_prosody,
                                   one_session_ejabberd)}

if __name__ == "__main__":
    sys.exit(run_case(CASES, sys.argv[1:]))
