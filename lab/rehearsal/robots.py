"""Robot subjects and a robot moderator that play whole games over XMPP:
the subjects over plain XMPP (slixmpp) or over the server's websocket, as
the web seats do (via); the moderator over plain XMPP.

Each robot answers what the bot's texts ask for: an expectation or an
investment drawn from the seed (the same seed, pair, subject and round
always give the same answer, so a resumed game ends as an uninterrupted one
would), a line of chat and "done" in a break. A question heard again is
answered again only when the first answer may have been lost. Within a pair one message is
in flight at a time: a robot speaks only once the pair's bot has sent all
that the previous message called for, so each bot message has one cause and
its latency can be measured."""

import asyncio
import os
import random
import re
import signal
import time

from ..model import bot_texts, placement
from ..model.accounts import NOTIFIER, jid
from ..model.errors import LabError
from ..model.files import read_json
from ..model.record import pair_rounds
from ..runtime import bots, ws_xmpp
from ..runtime.xmpp import Client
from ..servers.ejabberd import cluster
from ..servers.web_page import WEBSOCKET_PATH

VIAS = ("websocket", "xmpp")  # how the robot subjects reach the server
SEND_WAIT = 1.0  # the bot's deliberate wait before each message to a subject
QUIET = 8.0      # a pair that stays silent this long is taken as settled
# A question heard again this soon after its answer left, on the same
# connection, crossed the answer on its way (the bot asks again when a
# client signs on anew); one heard later, or after this robot's connection
# was lost, means the answer may have been lost and is given again.
CROSSING = 5.0
# The bot's texts in English and in each of its catalogues' languages.
TEXTS = bot_texts.bot_texts()
ROUND = TEXTS.patterns("This is round %i.") + TEXTS.patterns("Current round: %i")
ASKS_EXPECTATION = [re.compile(r"how much (?:do )?you think (?:your partner|the other player) "
                               r"will invest", re.I)] + [
    pattern for msgid in (
        "How much do you think your partner will invest?",
        "When you are ready, please tell me how much you think your partner will invest:",
        "%d-minute break time is up. The game will now resume.\nCurrent round: %i\nWhen you "
        "are ready, please tell me how much you think the other player will invest?",
        "%d-second break time is up. The game will now resume.\nCurrent round: %i\nWhen you "
        "are ready, please tell me how much you think the other player will invest?")
    for pattern in TEXTS.patterns(msgid)]
ASKS_INVESTMENT = [re.compile(r"how much would you like to invest", re.I)] + TEXTS.patterns(
    "Now please tell me, how much would you like to invest?")
_ANNOUNCEMENT = ("We will now take a short break.  You will have up to %d {} for negotiations "
                 "with the other person.  You can discuss what happened in prior rounds or plan "
                 "your strategies for coming rounds.  Remember, please keep your conversation "
                 "focused on this activity and refrain from discussing other topics.")
BREAK = [re.compile(re.escape("We will now take a short break."))] + [
    pattern for unit in ("minute", "second")
    for pattern in TEXTS.patterns(_ANNOUNCEMENT.format(unit), _ANNOUNCEMENT.format(unit + "s"))]
CLOSED = [re.compile(re.escape("The investment market has closed"))] + TEXTS.patterns(
    "The investment market has closed for the day, and we will now stop the game. Thank you "
    "for taking part!")
PRESENCE = TEXTS.patterns("%s went offline") + TEXTS.patterns("%s is back")
PAYOUT = TEXTS.patterns("%s total credits earned: %3.2f, Total payout: $%3.2f")
# How the answers to ? begin ("Status").
STATUS = tuple({text.split(":")[0] for msgid in (
    "Status: waiting for both subjects to join.", "Status: round %i of %i.",
    "Status: game over after round %i; payouts sent.") for text in TEXTS.variants(msgid)})


def answer(seed, pair, subject, round_number, kind):
    return random.Random(f"{seed}:{pair}:{subject}:{round_number}:{kind}").randint(0, 60)


class Pair:
    """The robots' side of one pair: whose turn it is and what was measured."""

    def __init__(self, lab_pair, rounds, on_close_round=None):
        self.index = lab_pair.index
        self.bot = lab_pair.bot
        self.rounds = rounds
        self.lock = asyncio.Lock()
        self.pending = 0
        self.settled = asyncio.Event()
        self.settled.set()
        self.last_event = time.monotonic()
        self.latencies = []
        self.joined = 0
        self.invested = {}  # round -> investments sent
        self.done = {}      # round -> "done"s sent
        self.finished = set()
        self.payouts = {}
        self.status = None
        self.timeouts = 0
        self.on_close_round = on_close_round
        self.moderator_asked = False
        self.presence = []  # the bot's notices of a subject offline or back
        # Set once every robot is online: a robot's sign-on (SCRAM in Python,
        # tens of ms) would otherwise hold up pairs that already play.
        self.go = asyncio.Event()
        self.stagger = 0.0  # seconds between one pair's start and the next

    async def act(self, send, expected):
        """Waits for the pair to settle, then sends; expected() says how many
        bot messages the send calls for. send may return a coroutine, which
        is awaited with the pair still held."""
        async with self.lock:
            while self.pending > 0:
                try:
                    await asyncio.wait_for(self.settled.wait(), QUIET)
                except asyncio.TimeoutError:
                    if time.monotonic() - self.last_event >= QUIET:
                        self.timeouts += 1
                        self.pending = 0
                        self.settled.set()
            count = expected()
            self.last_event = time.monotonic()
            self.pending = count
            if count:
                self.settled.clear()
            done = send()
            if asyncio.iscoroutine(done):
                await done

    async def greet(self, send, expected):
        await self.go.wait()
        await asyncio.sleep((self.index - 1) * self.stagger)
        await self.act(send, expected)

    def bot_message(self, to_subject):
        now = time.monotonic()
        if self.pending > 0:
            if to_subject:
                self.latencies.append(now - self.last_event - SEND_WAIT)
            self.pending -= 1
            if self.pending == 0:
                self.settled.set()
        self.last_event = now

    def complete(self):
        return len(self.finished) == 2 and len(self.payouts) == 2


class Robot(Client):
    """A robot's client that signs on again whenever its server drops it
    (a cluster node killed and started again), until it is closed."""

    def __init__(self, lab, name, password):
        super().__init__(lab, name, password, "robot")
        self.staying_off = False  # offline on purpose
        self.add_event_handler("disconnected", self._dropped)

    def _dropped(self, _):
        if not self.staying_off:
            asyncio.ensure_future(self._sign_on_again())

    async def _sign_on_again(self):
        await asyncio.sleep(1)
        if self.staying_off or self.is_connected():
            return
        self.ready.clear()
        self.open()  # a failed attempt ends in another disconnected event

    async def close(self):
        self.staying_off = True
        await super().close()


class Player:
    """What a robot subject says in the game, whatever carries its messages:
    it answers the bot's texts as heard() reads them, through say(), paced
    by its Pair. A player that blips goes offline with _go_offline() and
    comes back with _come_back()."""

    def _init_player(self, number, pair, seed, blip=False):
        self.greeted = False
        self.blip = blip  # goes offline and comes back at the first break
        self.number = number
        self.pair = pair
        self.seed = seed
        self.round = 0
        # (round, kind) -> (when its answer left, on which connection); None
        # while it waits to leave
        self.answers = {}
        self.connections = 0  # sign-ons so far
        self.live = False  # signed on now

    def _join_expects(self):
        self.pair.joined += 1
        return 1 if self.pair.joined == 1 else 2

    def heard(self, text):
        """Answers one message of the pair's bot."""
        self.pair.bot_message(to_subject=True)
        rounds = [found for pattern in ROUND for found in pattern.finditer(text)]
        if rounds:
            self.round = int(max(rounds, key=lambda found: found.start()).group(1))
        if bot_texts.search(BREAK, text):
            if self.blip:
                self.blip = False
                asyncio.ensure_future(self.pair.act(self._go_offline, lambda: 1))
                asyncio.ensure_future(self.pair.act(self._come_back, lambda: 1))
            plan = answer(self.seed, self.pair.index, self.number, self.round, "plan")
            self._schedule(f"I will put in {plan} next round", lambda: 2)
            self._schedule("done", self._done_expects)
        if bot_texts.search(ASKS_EXPECTATION, text):
            self._answer("expectation", lambda: 1)
        elif bot_texts.search(ASKS_INVESTMENT, text):
            self._answer("investment", self._investment_expects)
        if bot_texts.search(CLOSED, text):
            self.pair.finished.add(self.number)

    def _schedule(self, text, expected):
        asyncio.ensure_future(self.pair.act(lambda: self.say(text), expected))

    def _answer(self, kind, expected):
        """Answers a question once, as a person would: the same question
        again (a copy the server kept while this robot was offline, and the
        bot asking again as it came back) is answered only when the answer
        that left for it may have been lost."""
        round_number = max(self.round, 1)
        key = (round_number, kind)
        if key in self.answers:
            left = self.answers[key]
            if left is None or (left[1] == self.connections and
                                time.monotonic() - left[0] < CROSSING):
                return
        self.answers[key] = None
        value = answer(self.seed, self.pair.index, self.number, round_number, kind)
        if kind == "expectation" and round_number == 1 and self.number == 1:
            self.pair.moderator_asked = True  # the moderator's b and ? follow

        def send():
            # Sent while signed off, it waits for the next connection.
            connection = self.connections if self.live else self.connections + 1
            self.answers[key] = (time.monotonic(), connection)
            return self.say(str(value))  # a browser seat's is a coroutine
        asyncio.ensure_future(self.pair.act(send, expected))

    def _done_expects(self):
        round_number = self.round
        self.pair.done[round_number] = self.pair.done.get(round_number, 0) + 1
        return 2 if self.pair.done[round_number] == 2 else 0

    def _investment_expects(self):
        round_number = max(self.round, 1)
        self.pair.invested[round_number] = self.pair.invested.get(round_number, 0) + 1
        if self.pair.invested[round_number] < 2:
            return 1
        if self.pair.on_close_round:
            self.pair.on_close_round(self.pair, round_number)
        return 2 + (3 if round_number >= self.pair.rounds else 0)


class Subject(Player, Robot):
    """A robot subject signed on with slixmpp."""

    def __init__(self, lab, name, number, pair, seed, blip=False):
        super().__init__(lab, name, lab.accounts[name].password)
        self._init_player(number, pair, seed, blip)
        self.add_event_handler("disconnected", self._gone)
        self.bot_jid = jid(lab, pair.bot)
        self.add_event_handler("message", self._message)

    async def _started(self, event):
        self.connections += 1
        self.live = True
        await super()._started(event)
        if not self.greeted:  # not again when signed on again
            self.greeted = True
            asyncio.ensure_future(self.pair.greet(lambda: self.say("hello"), self._join_expects))

    def _gone(self, _):
        self.live = False

    def say(self, text):
        self.send_message(mto=self.bot_jid, mbody=text, mtype="chat")

    def _message(self, msg):
        if msg["from"].bare != self.bot_jid or not msg["body"]:
            return
        self.heard(msg["body"])

    async def _go_offline(self):
        gone = self.disconnected
        self.staying_off = True
        self.disconnect()
        await asyncio.wait_for(gone, 10)

    async def _come_back(self):
        self.staying_off = False
        self.ready.clear()
        self.open()
        await asyncio.wait_for(self.ready.wait(), 20)


class WsSubject(Player):
    """A robot subject signed in over the server's websocket, as a web seat
    is: the same answers as a Subject's, carried by ws_xmpp."""

    def __init__(self, lab, name, number, pair, seed, blip=False, url=None):
        self._init_player(number, pair, seed, blip)
        self.lab = lab
        self.bot_jid = jid(lab, pair.bot)
        self.url = url or websocket_url(lab, name)
        self.xmpp = ws_xmpp.WsClient(self.url, lab.domain, name, lab.accounts[name].password,
                                     "robot", self._message)

    async def online(self, timeout=20):
        await self.xmpp.open(timeout)
        self._signed_on()
        if not self.greeted:
            self.greeted = True
            asyncio.ensure_future(self.pair.greet(lambda: self.say("hello"), self._join_expects))
        return self

    def _signed_on(self):
        self.connections += 1
        self.live = True
        asyncio.ensure_future(self._watch(self.xmpp.lost))

    async def _watch(self, lost):
        await lost.wait()
        self.live = False

    def say(self, text):
        return self.xmpp.send(self.bot_jid, text)

    def _message(self, message):
        if message.sender != self.bot_jid or not message.body:
            return
        self.heard(message.body)

    async def _go_offline(self):
        await self.xmpp.close()

    async def _come_back(self):
        await self.xmpp.open(20)
        self._signed_on()

    async def close(self):
        await self.xmpp.close()


def websocket_url(lab, name):
    """The websocket the web seat of name signs in through: its node's
    origin (https when the session's WebTls is on)."""
    origin = placement.origin(lab, name)
    return ("wss" if origin.startswith("https") else "ws") + origin[origin.index(":"):] + \
        WEBSOCKET_PATH


class Moderator(Robot):
    """Sends each pair's bot b once and ? once; collects the payouts, the
    status answers and wexlab's notices."""

    def __init__(self, lab, pairs):
        super().__init__(lab, lab.moderator, lab.accounts[lab.moderator].password)
        self.pairs = {pair.bot: pair for pair in pairs}
        self.notices = []
        self.add_event_handler("message", self._message)

    def _message(self, msg):
        if not msg["body"]:
            return
        sender = msg["from"].user
        if sender == NOTIFIER:
            self.notices.append(msg["body"])
            return
        pair = self.pairs.get(sender)
        if pair is None:
            return
        pair.bot_message(to_subject=False)
        found = bot_texts.fullmatch(PAYOUT, msg["body"])
        if found:
            pair.payouts[found.group(1)] = (found.group(2), found.group(3))
        elif msg["body"].startswith(STATUS):
            pair.status = msg["body"]
        elif bot_texts.fullmatch(PRESENCE, msg["body"]):
            pair.presence.append(msg["body"])

    def command(self, pair, text, expected):
        to = jid(self.lab, pair.bot)
        asyncio.ensure_future(pair.act(
            lambda: self.send_message(mto=to, mbody=text, mtype="chat"), lambda: expected))


async def watch_loop(lag, tick=0.01):
    """Records how late each tick of the robots' own event loop comes: the
    time a message that reached the robots waits before they see it."""
    while True:
        start = time.monotonic()
        await asyncio.sleep(tick)
        lag.append(time.monotonic() - start - tick)


async def play(lab, folder, seed, deadline, kill_pair=None, blip_pair=None, browser=False,
               kill_node=None, lag=None, stagger=0.0, via="xmpp"):
    """Plays every pair's game; returns (pairs, moderator's notices). The
    subjects sign on over plain XMPP or, with via "websocket", over the
    web seats' websocket. Pair
    blip_pair's subject 2 goes offline and comes back at the first break.
    With browser, pair 1's subjects play through the web page. With
    kill_node, that cluster node is SIGKILLed as the first round closes
    and started again."""
    killed = []
    node_killed = []

    def close_round(pair, round_number):
        if pair.index == kill_pair and round_number == 1 and not killed:
            killed.append(pair.index)
            asyncio.get_event_loop().call_later(0.3, kill_bot, folder, pair.index)
        if kill_node is not None and round_number == 1 and not node_killed:
            node_killed.append(asyncio.ensure_future(crash_node(lab, folder, kill_node)))

    pairs = [Pair(p, pair_rounds(lab, p), close_round) for p in lab.pairs]
    watch = None
    moderator = await Moderator(lab, pairs).online()
    clients = [moderator]
    try:
        for pair, lab_pair in zip(pairs, lab.pairs):
            for number in (1, 2):
                name = lab_pair.subjects()[number - 1]
                blip = pair.index == blip_pair and number == 2
                kind = subject_kind(via)
                if browser and pair.index == 1:
                    from .seat_robots import BrowserSubject as kind
                clients.append(await kind(lab, name, number, pair, seed, blip).online())
        if lag is not None:
            watch = asyncio.ensure_future(watch_loop(lag))
        for pair in pairs:
            pair.stagger = stagger
            pair.go.set()
        asked = set()
        while time.monotonic() < deadline and not all(p.complete() for p in pairs):
            for pair in pairs:
                if pair.moderator_asked and pair.index not in asked:
                    asked.add(pair.index)
                    moderator.command(pair, "b Hello from the moderator", 3)
                    moderator.command(pair, "?", 1)
            await asyncio.sleep(0.2)
        await asyncio.sleep(1.0)  # the last notices
        if node_killed:
            await node_killed[0]  # its faults, and the node running again
    finally:
        if watch is not None:
            watch.cancel()
        for client in clients:
            await client.close()
    return pairs, moderator.notices


def subject_kind(via):
    """The robot subject's class for a transport of VIAS."""
    if via not in VIAS:
        raise LabError(f"--via is one of {', '.join(VIAS)}")
    return WsSubject if via == "websocket" else Subject


async def crash_node(lab, folder, index):
    """SIGKILLs a cluster node, then starts it again: it rejoins the
    cluster from its spool."""
    await asyncio.sleep(0.3)
    pid = cluster.node_pid(folder, index)
    if pid is None:
        raise LabError(f"node {index + 1} is not running")
    os.kill(pid, signal.SIGKILL)
    while cluster.node_pid(folder, index) is not None:
        await asyncio.sleep(0.1)
    await asyncio.sleep(2)
    await asyncio.get_event_loop().run_in_executor(None, cluster.start_node, lab, folder,
                                                   index)


def kill_bot(folder, index):
    run = read_json(os.path.join(folder, bots.RUN_FILE))
    pid = run["bots"].get(str(index))
    if pid:
        os.kill(pid, signal.SIGKILL)


def percentile(values, fraction):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]
