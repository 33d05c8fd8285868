"""What the session's files say became of each arrival, held against what
its robot saw: the room's log for tickets, pairs and paid exits, each
formed pair's journal for how its game ended and what it paid, and
session_participants.csv when the session wrote one."""

import collections
import csv
import json
import os
from dataclasses import dataclass
from decimal import Decimal, InvalidOperation
from typing import List, Optional

from ..data.collect import pair_journals
from ..data.participants import pair_result

ROOM_LOG = "room.log"
PARTICIPANTS = "session_participants.csv"


@dataclass
class Outcome:
    """One arrival as the files have it."""
    label: str
    ticket: str
    outcome: str = "waiting"
    pair: Optional[int] = None
    subject: Optional[int] = None
    payout: str = ""
    fee: str = ""
    code: str = ""


def read_json_lines(path):
    entries = []
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                try:
                    entry = json.loads(line)
                except ValueError:
                    continue
                if isinstance(entry, dict):
                    entries.append(entry)
    except FileNotFoundError:
        pass
    return entries


def same_money(a, b):
    try:
        return Decimal(str(a)) == Decimal(str(b))
    except (InvalidOperation, ValueError):
        return False


def game_endings(entries):
    """{subject: (outcome, payout)} of a pair's journal entries, as the
    participants file reads them."""
    result = pair_result(entries)
    return {subject: (result.endings[subject], result.payouts[subject]) for subject in (1, 2)}


def outcomes_of(room_entries, journals):
    """{label: Outcome} from room.log's entries and {pair: journal entries}."""
    by_ticket = {}
    for entry in room_entries:
        kind = entry.get("kind")
        if kind == "arrive":
            by_ticket[entry["ticket"]] = Outcome(entry.get("label", ""), entry["ticket"])
        elif kind == "pair":
            for number, ticket in enumerate(entry.get("tickets", []), 1):
                if ticket in by_ticket:
                    by_ticket[ticket].pair, by_ticket[ticket].subject = entry["pair"], number
                    by_ticket[ticket].outcome = "running"
        elif kind == "exit" and entry.get("ticket") in by_ticket:
            found = by_ticket[entry["ticket"]]
            found.outcome = entry.get("outcome", "")
            found.fee, found.code = str(entry.get("fee", "")), str(entry.get("code", ""))
    for found in by_ticket.values():
        if found.pair is not None:
            found.outcome, found.payout = game_endings(journals.get(found.pair, []))[
                found.subject]
    return {found.label: found for found in by_ticket.values()}


def read_participants(folder):
    path = os.path.join(folder, PARTICIPANTS)
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8", newline="") as f:
        return {row["label"]: row for row in csv.DictReader(f)}


def check(visits, truth, online, participants=None):
    """The faults found between what the robots saw (their Visits), the
    files (truth: outcomes_of) and, when given, session_participants.csv
    rows by label; and every outcome counted."""
    faults: List[str] = []
    for visit in visits:
        plan = visit.plan
        said = truth.get(plan.label)
        faults += [f"{plan.label}: {fault}" for fault in visit.faults]
        if said is None:
            faults.append(f"{plan.label}: not in room.log")
            continue
        if visit.answer == "exit":
            for key, mine in (("outcome", said.outcome), ("fee", said.fee), ("code", said.code)):
                if key == "fee" and same_money(visit.exit.get(key), mine):
                    continue
                if visit.exit.get(key) != mine:
                    faults.append(f"{plan.label}: shown {key} {visit.exit.get(key)!r}, "
                                  f"room.log has {mine!r}")
            if said.outcome == "waited_out" and said.code != (online.no_partner_code or ""):
                faults.append(f"{plan.label}: waited out with code {said.code!r}, not the "
                              "no-partner code")
            if not same_money(said.fee or "0", online.show_up_fee or "0"):
                faults.append(f"{plan.label}: exit paid {said.fee}, the fee is "
                              f"{online.show_up_fee}")
        elif visit.answer == "exit_page":
            if said.outcome not in ("waited_out", "full"):
                faults.append(f"{plan.label}: its page showed an exit, the files say "
                              f"{said.outcome}")
            if said.code and said.code not in visit.page_text:
                faults.append(f"{plan.label}: its exit page did not show the code "
                              f"{said.code!r}")
        elif visit.answer == "seat":
            wanted = "replaced" if visit.dropped_at is not None else "completed"
            if said.outcome != wanted:
                faults.append(f"{plan.label}: {said.outcome} in the files, its robot "
                              f"{wanted}")
            if visit.payout and not same_money(visit.payout, said.payout):
                faults.append(f"{plan.label}: shown payout {visit.payout}, the journal "
                              f"has {said.payout}")
            if not visit.payout:
                faults.append(f"{plan.label}: was never shown a payout")
            if visit.code != (online.completion_code or ""):
                faults.append(f"{plan.label}: seat link code {visit.code!r}")
        if plan.late and said.outcome != "full":
            faults.append(f"{plan.label}: arrived after the cap but {said.outcome}")
        if plan.hidden and said.pair is not None:
            faults.append(f"{plan.label}: its page was hidden, yet it was paired")
        if plan.returns and visit.answer == "seat" and not visit.same_seat_again:
            faults.append(f"{plan.label}: came back with its label and got another seat")
        if participants is not None:
            faults += row_faults(plan.label, said, participants.get(plan.label))
    counts = collections.Counter(found.outcome for found in truth.values())
    return faults, counts


def row_faults(label, said, row):
    """session_participants.csv's row of a label against the files."""
    if row is None:
        return [f"{label}: no row in {PARTICIPANTS}"]
    faults = []
    if row.get("outcome") != said.outcome:
        faults.append(f"{label}: {PARTICIPANTS} says {row.get('outcome')}, the files "
                      f"{said.outcome}")
    if said.payout and not same_money(row.get("payout"), said.payout):
        faults.append(f"{label}: {PARTICIPANTS} payout {row.get('payout')}, the files "
                      f"{said.payout}")
    if said.code and row.get("code_shown") != said.code:
        faults.append(f"{label}: {PARTICIPANTS} code {row.get('code_shown')!r}, shown "
                      f"{said.code!r}")
    return faults


def read_truth(folder, lab):
    """outcomes_of the session folder's room.log and the pairs' journals."""
    journals = {}
    for pair in lab.pairs:
        found = pair_journals(os.path.join(folder, pair.bot), lab.log_file)
        journals[pair.index] = [e for entries in found for e in entries]
    return outcomes_of(read_json_lines(os.path.join(folder, ROOM_LOG)), journals)
