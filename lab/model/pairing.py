"""The room of an online session: who has arrived, who is present, who is
paired with whom and who has left with the show-up fee.

Pure: no I/O and no clock; every event is given its time. Each event
leaves the room.log entries it makes and the messages for the
participants (by ticket) to be taken with take(); the room server writes
the one and sends the other. The room is rebuilt from room.log's entries
(replay) when its process starts again.

A participant is present while a page of theirs is connected and either
visible or active within the last ACTIVE_SECONDS: only present waiting
participants are paired, two at a time in the order they arrived, so a
hidden tab or a closed one never gets a partner who would wait for
nobody. A page that opens hidden (a tab in the background) is not present
until it is shown or used."""

from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional

from . import online as onlinelib
from .record import Online

ACTIVE_SECONDS = 30.0

WAITING, PAIRED, EXITED = "waiting", "paired", "exited"
WAITED_OUT, FULL = "waited_out", "full"


@dataclass
class Arrival:
    """One participant in the room, known by ticket."""
    ticket: str
    label: str
    browser: str
    since: float                 # when they arrived
    state: str = WAITING
    connections: int = 0         # their open pages
    visible: bool = False
    last_active: Optional[float] = None
    pair: Optional[int] = None
    subject: Optional[int] = None  # 1 or 2 in their pair
    outcome: Optional[str] = None  # waited_out or full
    finished: bool = False         # their pair's game has ended

    def present(self, now):
        if self.connections <= 0:
            return False
        recent = self.last_active is not None and now - self.last_active <= ACTIVE_SECONDS
        return self.visible or recent


@dataclass
class Room:
    session: str
    settings: Online
    treatments: List[Optional[str]]  # of pair 1, 2, ...
    # (pair, subject 1|2, label) -> the seat's link for that participant.
    seat_link: Callable[[int, int, str], str]
    arrivals: Dict[str, Arrival] = field(default_factory=dict)  # in arrival order
    next_pair: int = 1
    closed: bool = False
    entries: list = field(default_factory=list)   # room.log entries to write
    messages: list = field(default_factory=list)  # (ticket, message) to send

    # What the room hands out.

    def take(self):
        """The entries and messages made since the last take."""
        entries, messages = self.entries, self.messages
        self.entries, self.messages = [], []
        return entries, messages

    def log(self, now, kind, **fields):
        entry = {"time": now, "kind": kind}
        entry.update(fields)
        self.entries.append(entry)
        return entry

    def send(self, arrival, message):
        self.messages.append((arrival.ticket, message))

    def full(self):
        return self.closed or self.next_pair > self.settings.max_pairs

    # Events.

    def open(self, now):
        """A new room: room.log's first entry."""
        self.log(now, "open", session=self.session, max_pairs=self.settings.max_pairs)

    def hello(self, now, label, browser):
        """A page says hello: a return (the same label, or with no label the
        same browser) or a new arrival. Returns the ticket; its current
        state is sent to it."""
        arrival = self.find(label, browser)
        if arrival is None:
            ticket = f"t{len(self.arrivals) + 1}"
            arrival = Arrival(ticket, label, browser, now)
            self.arrivals[ticket] = arrival
            self.log(now, "arrive", ticket=ticket, label=label, browser=browser)
            if self.full():
                self.exit(now, arrival, FULL)
        arrival.connections += 1
        self.send_state(now, arrival)
        self.pair_present(now)
        return arrival.ticket

    def find(self, label, browser):
        for arrival in self.arrivals.values():
            if label and arrival.label == label:
                return arrival
            if not label and browser and arrival.browser == browser:
                return arrival
        return None

    def presence(self, now, ticket, visible):
        arrival = self.arrivals[ticket]
        arrival.visible = visible
        self.pair_present(now)

    def active(self, now, ticket):
        self.arrivals[ticket].last_active = now
        self.pair_present(now)

    def leave(self, now, ticket):
        """One of the ticket's pages closed."""
        arrival = self.arrivals[ticket]
        arrival.connections = max(0, arrival.connections - 1)
        if arrival.connections == 0:
            arrival.visible = False

    def tick(self, now):
        """Each second: those who waited WaitTimeout leave with the fee,
        then the present are paired."""
        for arrival in list(self.arrivals.values()):
            if arrival.state == WAITING and now - arrival.since >= self.settings.wait_timeout:
                self.exit(now, arrival, WAITED_OUT)
        self.pair_present(now)

    def close(self, now):
        """wexlab close: no more pairs; whoever waits leaves with the fee."""
        if self.closed:
            return
        self.closed = True
        self.log(now, "close")
        self.exit_waiting(now)

    def pairs_with_pages(self):
        """The pairs of which someone still has a page open in the room."""
        return {a.pair for a in self.arrivals.values()
                if a.pair is not None and a.connections and not a.finished}

    def game_over(self, pair):
        """The pair's game has ended: its two are told so with their code."""
        for arrival in self.arrivals.values():
            if arrival.pair == pair and not arrival.finished:
                arrival.finished = True
                if arrival.connections:
                    self.send(arrival, self.finished_message(arrival))

    # The rules.

    def pair_present(self, now):
        if self.full():
            self.exit_waiting(now)
            return
        ready = [a for a in self.arrivals.values() if a.state == WAITING and a.present(now)]
        while len(ready) >= 2 and not self.full():
            first, second = ready.pop(0), ready.pop(0)
            self.make_pair(now, first, second)
        if self.full():
            self.exit_waiting(now)

    def make_pair(self, now, first, second):
        index = self.next_pair
        self.next_pair += 1
        treatment = self.treatments[index - 1] if index <= len(self.treatments) else None
        self.log(now, "pair", pair=index, tickets=[first.ticket, second.ticket],
                 treatment=treatment)
        for subject, arrival in ((1, first), (2, second)):
            arrival.state, arrival.pair, arrival.subject = PAIRED, index, subject
            self.send(arrival, self.seat_message(arrival))

    def exit_waiting(self, now):
        for arrival in list(self.arrivals.values()):
            if arrival.state == WAITING:
                self.exit(now, arrival, FULL)

    def exit(self, now, arrival, outcome):
        arrival.state, arrival.outcome = EXITED, outcome
        self.log(now, "exit", ticket=arrival.ticket, outcome=outcome,
                 fee=self.settings.show_up_fee, code=self.settings.no_partner_code)
        if arrival.connections:
            self.send(arrival, self.exit_message(arrival))

    # The messages.

    def send_state(self, now, arrival):
        if arrival.finished:
            message = self.finished_message(arrival)
        elif arrival.state == PAIRED:
            message = self.seat_message(arrival)
        elif arrival.state == EXITED:
            message = self.exit_message(arrival)
        else:
            message = {"type": "waiting", "since": arrival.since,
                       "wait_timeout": self.settings.wait_timeout, "now": now}
        self.send(arrival, message)

    def seat_message(self, arrival):
        return {"type": "seat",
                "link": self.seat_link(arrival.pair, arrival.subject, arrival.label)}

    def with_code(self, message, code, label):
        if code:
            message["code"] = code
        url = onlinelib.completion_url(self.settings, code, label)
        if url:
            message["url"] = url
        return message

    def exit_message(self, arrival):
        message = {"type": "exit", "outcome": arrival.outcome, "fee": self.settings.show_up_fee}
        return self.with_code(message, self.settings.no_partner_code, arrival.label)

    def finished_message(self, arrival):
        return self.with_code({"type": "finished"}, self.settings.completion_code, arrival.label)

    # Counts for the desk and wexlab status.

    def counts(self):
        states = [a.state for a in self.arrivals.values()]
        return {"arrived": len(states), "waiting": states.count(WAITING),
                "paired": states.count(PAIRED), "exits": states.count(EXITED),
                "pairs": self.next_pair - 1, "closed": self.closed}


def replay(room, entries):
    """The room as room.log's entries left it (no one connected): what the
    room process knew before it was started again."""
    for entry in entries:
        kind, now = entry.get("kind"), entry.get("time", 0.0)
        if kind == "arrive":
            ticket = entry["ticket"]
            room.arrivals[ticket] = Arrival(ticket, entry.get("label", ""),
                                            entry.get("browser", ""), now)
        elif kind == "pair":
            room.next_pair = max(room.next_pair, entry["pair"] + 1)
            for subject, ticket in enumerate(entry["tickets"], start=1):
                arrival = room.arrivals[ticket]
                arrival.state, arrival.pair, arrival.subject = PAIRED, entry["pair"], subject
        elif kind == "exit":
            arrival = room.arrivals[entry["ticket"]]
            arrival.state, arrival.outcome = EXITED, entry["outcome"]
        elif kind == "close":
            room.closed = True
    return room


def counts_of(entries):
    """The room's counts from room.log's entries alone."""
    room = Room("", Online(max_pairs=max([e.get("max_pairs", 0) for e in entries] or [0])),
                [], lambda pair, subject, label: "")
    return replay(room, entries).counts()
