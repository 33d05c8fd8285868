"""The subjects of an online session, one row per arrival (ticket), from
the room's log and each formed pair's journal: session_participants.csv,
and session_bonus.csv, the `label,amount` lines crowd platforms take for
bulk bonuses.

How subjects are paid: the show-up fee is the study's base pay on the
platform, which every subject who submits a completion code receives. The
bonus is what a subject earned above it: the whole game payout for a
paired subject whose game paid it, nothing for a subject who left the
waiting room (its payout is the fee alone)."""

import datetime
from dataclasses import dataclass, field
from decimal import Decimal, InvalidOperation
from typing import Dict, List, Optional, Tuple

from ..model.ending import dropout_entry, subject_endings

COLUMNS = ["session", "label", "ticket", "seat", "arrival_time", "seconds_waited", "pair",
           "treatment", "outcome", "payout", "show_up_fee", "code_shown"]
# Endings of a game in which the subject was paid, and the room's paid exits.
PAID_ENDS = ("completed", "paid_now", "dropout", "replaced")
ROOM_EXITS = ("waited_out", "full")
# A label goes into the bonus file only if a platform's bulk form can take
# it as it is: no separators, quotes, blanks or control characters.
SAFE_LABEL = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.@")


@dataclass
class Terms:
    """What the session pays and shows outside the game."""
    show_up_fee: str = "0"
    completion_code: str = ""
    no_partner_code: str = ""


def terms_of(online):
    """The Terms of a lab's online part (lab.online); the no-partner code
    is the completion code unless set."""
    completion = online.completion_code or ""
    return Terms(online.show_up_fee or "0", completion, online.no_partner_code or completion)


@dataclass
class PairResult:
    """A formed pair's subjects: how each ended and its payout (two
    decimals; empty when it was not paid)."""
    endings: Dict[int, str]
    payouts: Dict[int, str]


@dataclass
class Participant:
    session: str
    label: str
    ticket: str
    seat: str = ""
    arrival_time: str = ""
    seconds_waited: str = ""
    pair: str = ""
    treatment: str = ""
    outcome: str = "running"
    payout: str = ""
    show_up_fee: str = ""
    code_shown: str = ""
    # Not written: the times the row was built from.
    arrived: Optional[float] = field(default=None, repr=False)
    left: Optional[float] = field(default=None, repr=False)

    def cells(self):
        return [getattr(self, name) for name in COLUMNS]

    def record(self):
        return dict(zip(COLUMNS, self.cells()))


def money(value):
    """A sum as two decimals, or "" when it is not a number. A float is
    rounded from its exact binary value, as the bot's printf rounds it
    (1.015 is 1.01), a text from its digits."""
    if isinstance(value, bool) or value is None:
        return ""
    try:
        exact = Decimal(value) if isinstance(value, (int, float)) else Decimal(str(value))
        return f"{exact:.2f}" if exact.is_finite() else ""
    except (InvalidOperation, ValueError):
        return ""


def iso_time(t):
    return datetime.datetime.fromtimestamp(t).astimezone().isoformat(timespec="seconds")


def pair_result(entries, session_stopped=False):
    """The PairResult of a pair's journal entries: a paid subject's payout
    is the final report's; a replaced subject keeps the one of its dropout."""
    endings = subject_endings(entries, session_stopped)
    reports = [e for e in entries if e.get("kind") == "report"]
    payouts = {}
    for subject in (1, 2):
        payout = ""
        if endings[subject] == "replaced":
            payout = money((dropout_entry(entries, subject) or {}).get("payout"))
        elif endings[subject] in PAID_ENDS and reports:
            payout = money(reports[-1].get(f"payout_{subject}"))
        elif endings[subject] == "dropout":  # paid, its report not journaled yet
            payout = money((dropout_entry(entries, subject) or {}).get("payout"))
        payouts[subject] = payout
    return PairResult(endings, payouts)


def default_seats(pair):
    """A pool pair's accounts: pair k has seat(2k-1) and seat(2k)."""
    return (f"seat{2 * pair - 1}", f"seat{2 * pair}")


def participants(session, room_entries, results, terms, seats=default_seats,
                 session_stopped=False):
    """The Participant of every ticket of the room log, in arrival order.
    results: pair number -> PairResult of each formed pair whose journal
    was read (a pair formed but without one is still running); seats:
    pair number -> (subject1's account, subject2's)."""
    rows: Dict[str, Participant] = {}

    def row(ticket):
        if ticket not in rows:
            rows[ticket] = Participant(session, "", ticket)
        return rows[ticket]

    for entry in room_entries:
        kind, t = entry.get("kind"), entry.get("time")
        if kind == "arrive":
            found = row(entry.get("ticket", ""))
            found.label = entry.get("label") or ""
            if isinstance(t, (int, float)):
                found.arrived, found.arrival_time = t, iso_time(t)
        elif kind == "pair" and isinstance(entry.get("pair"), int):
            pair = entry["pair"]
            for place, ticket in enumerate(entry.get("tickets") or [], start=1):
                found = row(ticket)
                found.pair, found.treatment = str(pair), entry.get("treatment") or ""
                found.seat = seats(pair)[place - 1] if place <= 2 else ""
                found.left = t
                _ended_in_game(found, results.get(pair), place, terms, session_stopped)
        elif kind == "exit":
            found = row(entry.get("ticket", ""))
            found.outcome = entry.get("outcome", "")
            found.left = t
            fee = entry.get("fee")
            found.payout = found.show_up_fee = money(terms.show_up_fee if fee is None else fee)
            found.code_shown = entry.get("code") or terms.no_partner_code
    for found in rows.values():
        if not found.pair and found.outcome not in ROOM_EXITS and session_stopped:
            found.outcome = "stopped"
        if isinstance(found.arrived, (int, float)) and isinstance(found.left, (int, float)):
            found.seconds_waited = f"{max(found.left - found.arrived, 0):.2f}"
    return list(rows.values())


def _ended_in_game(found, result, place, terms, session_stopped):
    if result is None:
        found.outcome = "stopped" if session_stopped else "running"
        return
    found.outcome = result.endings.get(place, "running")
    if found.outcome in PAID_ENDS:
        found.payout = result.payouts.get(place, "")
        found.show_up_fee = money(terms.show_up_fee)
        found.code_shown = terms.completion_code


def bonus(row):
    """The platform bonus of a participant's row (a dict of COLUMNS): the
    game payout of a paired subject that was paid; 0 otherwise (a room
    exit's payout is the fee, paid as the base pay)."""
    payout = money(row.get("payout"))
    if row.get("outcome") in PAID_ENDS and payout:
        return Decimal(payout)
    return Decimal(0)


def bonus_lines(rows) -> Tuple[List[str], List[str]]:
    """(lines, warnings) of the participants' rows (dicts of COLUMNS):
    `label,amount` for every label with a bonus above 0 (one line a label,
    its tickets' bonuses added), in arrival order; subjects owed a bonus
    whose label is missing or unusable are left out and counted in a
    warning."""
    amounts: Dict[str, Decimal] = {}
    tickets: Dict[str, int] = {}
    unlabelled = unusable = 0
    for row in rows:
        amount, label = bonus(row), row.get("label") or ""
        if amount <= 0:
            continue
        if not label:
            unlabelled += 1
        elif not set(label) <= SAFE_LABEL:
            unusable += 1
        else:
            amounts[label] = amounts.get(label, Decimal(0)) + amount
            tickets[label] = tickets.get(label, 0) + 1
    warnings = []
    if unlabelled:
        warnings.append(f"session_bonus.csv leaves out {_subjects(unlabelled)} owed a "
                        "bonus without a label")
    if unusable:
        warnings.append(f"session_bonus.csv leaves out {_subjects(unusable)} owed a "
                        "bonus whose label has separators, quotes, blanks or control "
                        "characters")
    for label, count in tickets.items():
        if count > 1:
            warnings.append(f"label {label} arrived {count} times: its bonuses are added "
                            "on one line of session_bonus.csv")
    return [f"{label},{amount:.2f}" for label, amount in amounts.items()], warnings


def _subjects(count):
    return "1 subject" if count == 1 else f"{count} subjects"
