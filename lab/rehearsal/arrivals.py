"""Robot subjects that arrive through the room, as people do online: each
opens the room's websocket with its label, says its page is visible, waits
for a seat, then signs in over XMPP on the websocket with the seat link's
name and password and plays as the other robots do. Some drop out mid-game
(they close their connection and stay away longer than DropoutAfter, then
come back to see how their game ended); some arrive after the cap.

What each robot saw is kept in its Visit, so the rehearsal can hold it
against what the session's files say (outcomes.py)."""

import asyncio
import json
import random
import time
import urllib.parse
from dataclasses import dataclass, field
from typing import Dict, List, Optional

import aiohttp

from ..model import bot_texts, record
from ..runtime import ws_xmpp
from . import robots

ROOM_PATH = "/room/ws"
STEP = 30.0  # seconds a step (a seat, a sign-in) may take at most
RETURN_MARGIN = 4.0  # a dropout stays away DropoutAfter and this long
ASKS_FIRST = robots.ASKS_EXPECTATION


@dataclass
class Plan:
    """One arrival: its label, when it comes (seconds after the start) and
    what it does."""
    label: str
    at: float
    dropout: bool = False  # leaves mid-game and stays away
    late: bool = False     # arrives once the cap is reached
    browser: bool = False  # in headless Chromium, through the pages
    hidden: bool = False   # its page stays hidden: it must never be paired
    returns: bool = False  # opens the room again once seated: the same seat


@dataclass
class Visit:
    """What one arriving robot saw."""
    plan: Plan
    arrived: Optional[float] = None    # hello sent (epoch s)
    answer: str = ""                   # seat, exit, finished, error; exit_page in a browser
    page_text: str = ""                # the exit page's text, in a browser
    exit: Dict[str, str] = field(default_factory=dict)  # the exit frame
    seat: str = ""                     # the account it was given
    bot: str = ""
    code: str = ""                     # code carried by the seat link
    url: str = ""
    same_seat_again: Optional[bool] = None  # for a plan that returns
    seated: Optional[float] = None     # the room's seat answer came (epoch s)
    signed_in: Optional[float] = None  # signed in on the seat, hello to be sent
    bot_online: Optional[float] = None  # the bot's presence first seen
    first_reply: Optional[float] = None  # the bot's first message with a text
    first_question: Optional[float] = None
    game: Dict[str, str] = field(default_factory=dict)  # the last game element
    ended: str = ""                    # the game element's ended
    payout: str = ""
    dropped_at: Optional[float] = None
    replaced_seen: Optional[Dict[str, str]] = None  # the element after coming back
    faults: List[str] = field(default_factory=list)


def plan_arrivals(count, over, dropouts, late, seed, max_pairs):
    """The arrivals of a rehearsal: count robots, the last `late` of them
    after the cap, the others at seeded random times over `over` seconds;
    `dropouts` of the pairs that will form lose their second subject. The
    first opens the room again once seated, as a reload would."""
    rng = random.Random(f"arrivals:{seed}")
    early = count - late
    times = sorted(rng.uniform(0, over) for _ in range(early))
    plans = [Plan(f"R{seed}-{i + 1:03d}", t) for i, t in enumerate(times)]
    if plans:
        plans[0].returns = True
    pairs = min(max_pairs, early // 2)
    for index in rng.sample(range(pairs), min(dropouts, pairs)):
        plans[2 * index + 1].dropout = True
    plans += [Plan(f"R{seed}-{early + i + 1:03d}", over, late=True) for i in range(late)]
    return plans


def seat_of(link):
    """The seat link's fragment as a dict: n, p, c and maybe code, url."""
    fragment = urllib.parse.urlsplit(link).fragment
    return {key: values[0] for key, values in urllib.parse.parse_qs(fragment).items()}


def ws_url(base, path):
    """The websocket address of path on an http(s) origin."""
    scheme, rest = base.split("://", 1)
    return ("wss" if scheme == "https" else "ws") + "://" + rest.rstrip("/") + path


class LoosePair(robots.Pair):
    """A pair of arriving robots: they answer as soon as they are asked,
    since a dropout leaves the counts of the lock-step pacing wrong; a send
    that finds its robot offline is dropped (it left on purpose)."""

    def __init__(self, lab_pair, rounds):
        super().__init__(lab_pair, rounds)
        self.go.set()

    async def act(self, send, expected):
        expected()
        try:
            done = send()
            if asyncio.iscoroutine(done):
                await done
        except ConnectionError:
            pass


@dataclass
class Endpoints:
    """Where the robots go: the room's origin and the seats' origin (one
    and the same behind the proxy)."""
    room: str
    seats: str
    session: str
    certificate: Optional[str] = None


class Run:
    """What the robots of one rehearsal share: where to go, the pairs by
    bot, and the moment the late ones come: the cap reached, or every
    robot on time seated or sent home (then the cap cannot be reached)."""

    def __init__(self, lab, endpoints, seed, dropout_after, max_pairs):
        self.lab = lab
        self.endpoints = endpoints
        self.seed = seed
        self.dropout_after = dropout_after
        self.max_pairs = max_pairs
        self.pairs = {}
        self.seated = 0
        self.on_time = 0   # robots not late
        self.settled = 0   # of those, seated or sent home
        self.capped = asyncio.Event()
        self.config = None  # seat.json, read once as a page does

    def pair(self, bot):
        if bot not in self.pairs:
            lab_pair = next(p for p in self.lab.pairs if p.bot == bot)
            self.pairs[bot] = LoosePair(lab_pair, record.pair_rounds(self.lab, lab_pair))
        return self.pairs[bot]

    def subject_number(self, bot, name):
        """1 or 2: where the account sits in the bot's pair."""
        lab_pair = next(p for p in self.lab.pairs if p.bot == bot)
        return lab_pair.subjects().index(name) + 1

    def took_seat(self):
        self.seated += 1
        if self.seated >= 2 * self.max_pairs:
            self.capped.set()

    def settle(self, plan):
        """A robot had its answer from the room."""
        if not plan.late:
            self.settled += 1
            if self.settled >= self.on_time:
                self.capped.set()

    async def seat_config(self, http):
        if self.config is None:
            async with http.get(self.endpoints.seats.rstrip("/") + "/seat.json",
                                ssl=ws_xmpp.client_ssl(self.endpoints.certificate)) as answer:
                answer.raise_for_status()
                self.config = await answer.json(content_type=None)
        return self.config


class Arriving(robots.Player):
    """One robot that arrives through the room and, when seated, plays."""

    def __init__(self, run, plan, browser_token=None):
        self.run = run
        self.plan = plan
        self.visit = Visit(plan)
        self.token = browser_token or f"robot-{plan.label}"
        self.xmpp = None
        self.bot_address = ""
        self.over = asyncio.Event()
        self.replaced = asyncio.Event()
        self.away = False

    async def room(self, http, visible=True):
        """Opens the room, says hello, and returns the first answer that
        settles this visit (seat, exit, finished or error)."""
        ends = self.run.endpoints
        url = ws_url(ends.room, ROOM_PATH)
        async with http.ws_connect(url, ssl=ws_xmpp.client_ssl(ends.certificate)) as ws:
            await ws.send_json({"type": "hello", "session": ends.session,
                                "label": self.plan.label, "browser": self.token})
            await ws.send_json({"type": "presence", "visible": visible})
            async for frame in ws:
                if frame.type != aiohttp.WSMsgType.TEXT:
                    break
                data = json.loads(frame.data)
                if data.get("type") in ("seat", "exit", "finished", "error"):
                    return data
        return {"type": "error", "text": "the room closed the websocket without an answer"}

    async def arrive(self, http, deadline):
        """The whole visit: the room, then the game, until deadline."""
        if self.plan.late:
            try:
                await asyncio.wait_for(self.run.capped.wait(), max(1, deadline - time.time()))
            except asyncio.TimeoutError:
                pass
            if self.run.seated < 2 * self.run.max_pairs:
                self.visit.faults.append("the cap was never reached; arrived anyway")
        self.visit.arrived = time.time()
        answer = await asyncio.wait_for(self.room(http, not self.plan.hidden),
                                        max(1, deadline - time.time()))
        self.visit.answer = answer["type"]
        if answer["type"] == "seat":
            self.visit.seated = time.time()
            self.run.took_seat()
        self.run.settle(self.plan)
        if answer["type"] == "exit" or answer["type"] == "finished":
            self.visit.exit = {k: str(v) for k, v in answer.items()}
            return
        if answer["type"] == "error":
            self.visit.faults.append(f"room error: {answer.get('text')}")
            return
        seat = seat_of(answer["link"])
        self.visit.seat, self.visit.bot = seat.get("n", ""), seat.get("c", "")
        self.visit.code, self.visit.url = seat.get("code", ""), seat.get("url", "")
        if self.plan.returns:
            again = await asyncio.wait_for(self.room(http), STEP)
            self.visit.same_seat_again = (again.get("type") == "seat" and
                                          seat_of(again["link"]) == seat)
        await self.play(http, seat, deadline)

    async def play(self, http, seat, deadline):
        config = await self.run.seat_config(http)
        domain = config["domain"]
        self.bot_address = f"{seat['c']}@{domain}"
        self._init_player(self.run.subject_number(seat["c"], seat["n"]),
                          self.run.pair(seat["c"]), self.run.seed)
        self.xmpp = ws_xmpp.WsClient(ws_url(self.run.endpoints.seats, config["websocket"]),
                                     domain, seat["n"], seat["p"], f"web-{self.plan.label}",
                                     self._message, self.run.endpoints.certificate)
        self.xmpp.on_presence = self._presence
        await self.xmpp.open(STEP)
        self.visit.signed_in = time.time()
        self.connections += 1
        self.live = True
        await self.say("hello")
        try:
            await asyncio.wait_for(self.over.wait(), max(1, deadline - time.time()))
        except asyncio.TimeoutError:
            self.visit.faults.append("the game did not end in time")
        await self.xmpp.close()

    async def say(self, text):
        if self.away:
            raise ConnectionError("away")
        await self.xmpp.send(self.bot_address, text)

    def _presence(self, sender, kind):
        if sender == self.bot_address and kind == "available" and \
                self.visit.bot_online is None:
            self.visit.bot_online = time.time()

    def _message(self, message):
        if message.sender != self.bot_address:
            return
        if message.game:
            self.visit.game = message.game
            if message.game.get("ended"):
                self.visit.ended = message.game["ended"]
                self.visit.payout = message.game.get("payout", "")
                if self.visit.ended == "replaced":
                    self.visit.replaced_seen = dict(message.game)
                    self.replaced.set()
                if not self.plan.dropout or self.visit.ended == "replaced" or not self.away:
                    self.over.set()
        if not message.body or self.away or self.visit.dropped_at is not None:
            return
        if self.visit.first_reply is None:
            self.visit.first_reply = message.received
        if self.visit.first_question is None and bot_texts.search(ASKS_FIRST, message.body):
            self.visit.first_question = message.received
        self.heard(message.body)

    def heard(self, text):
        # A dropout leaves as round 2 begins, before it answers anything more.
        if self.plan.dropout and self.visit.dropped_at is None:
            rounds = [int(found.group(1)) for pattern in robots.ROUND
                      for found in pattern.finditer(text)]
            if rounds and max(rounds) >= 2:
                self.visit.dropped_at = time.time()
                self.away = True
                asyncio.ensure_future(self._drop_out())
                return
        super().heard(text)

    async def _drop_out(self):
        """Closes the connection and stays away DropoutAfter and a margin,
        then comes back to see how the game ended for it."""
        await self.xmpp.close()
        await asyncio.sleep(self.run.dropout_after + RETURN_MARGIN)
        self.away = False
        await self.xmpp.open(STEP)
        try:
            await asyncio.wait_for(self.replaced.wait(), STEP)
        except asyncio.TimeoutError:
            self.visit.faults.append("came back after its dropout and was not told it was "
                                     "replaced")
        self.over.set()


async def arrive_all(run, plans, start, deadline, make=None):
    """Every planned robot arrives at its time; returns their Visits.
    make(run, plan) makes each robot (default an Arriving)."""
    arrivals = [(make or Arriving)(run, plan) for plan in plans]
    run.on_time = sum(1 for plan in plans if not plan.late)
    async with aiohttp.ClientSession() as http:
        async def one(robot):
            await asyncio.sleep(max(0.0, start + robot.plan.at - time.time()))
            try:
                await robot.arrive(http, deadline)
            except (ConnectionError, asyncio.TimeoutError, aiohttp.ClientError, OSError,
                    KeyError, ValueError) as e:
                robot.visit.faults.append(f"{type(e).__name__}: {e}")
                robot.over.set()
                if robot.xmpp is not None:
                    await robot.xmpp.close()
        await asyncio.gather(*(one(robot) for robot in arrivals))
    return [robot.visit for robot in arrivals]


def percentile(values, fraction):
    return robots.percentile(values, fraction)


def seated_pairs(visits):
    """bot -> the two Visits of each pair whose robots both arrived."""
    by_bot = {}
    for visit in visits:
        if visit.bot and visit.arrived is not None:
            by_bot.setdefault(visit.bot, []).append(visit)
    return {bot: pair for bot, pair in by_bot.items() if len(pair) == 2}


def first_question_delays(visits):
    """Per pair: seconds from the later arrival of its two subjects to the
    first question either of them heard."""
    return {bot: delays["question"]
            for bot, delays in stage_delays(visits).items() if "question" in delays}


# The steps from a partner's arrival to the first question, as the robots
# saw them: both seated, both signed in, the bot's presence seen by either
# (at its sign-on, or at the robot's when the bot came first), the bot's
# first text to either (its reply to the first hello) and the first
# question to either.
STAGES = (("seated", max), ("signed_in", max), ("bot_online", min), ("first_reply", min),
          ("first_question", min))


def stage_delays(visits):
    """Per pair: seconds from the later arrival to each step of STAGES that
    the robots saw, by the step's short name (seated, signed_in,
    bot_online, reply, question)."""
    delays = {}
    for bot, pair in seated_pairs(visits).items():
        start = max(v.arrived for v in pair)
        steps = {}
        for name, pick in STAGES:
            times = [getattr(v, name) for v in pair if getattr(v, name) is not None]
            if times and (pick is min or len(times) == len(pair)):
                steps[name.replace("first_", "")] = pick(times) - start
        delays[bot] = steps
    return delays
