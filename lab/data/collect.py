"""Merges the pairs' data files into the session's: each pair's rows with
leading session and pair columns (and its treatment, when the session has
treatments), pair 1 first. Times become ISO 8601 with the offset, money
and earnings two decimals as the subjects saw them; the pairs' own files
and journals keep the exact values. The payouts gain the pay rule and how
each game ended, with rows for the subjects of games that paid nothing;
session_decisions.csv is every answer of every journal. An online
session's data cover the pool pairs that were formed, and add
session_participants.csv and session_bonus.csv (participants.py)."""

import copy
import csv
import datetime
import glob
import os

from ..model import pair_state, record, room_log
from ..model.ending import how_ended
from ..model.errors import LabError
from ..runtime import bot_check
from . import codebook, participants, spreadsheet

KINDS = ("rounds", "chat", "payouts", "decisions")
BOT_KINDS = ("rounds", "chat", "payouts")

# The bot's payouts columns, for a session none of whose pairs wrote them.
PAYOUT_COLUMNS = ["subject", "name", "total_credits", "payout", "rounds"]
PAYOUT_ADDED = ["credit_value", "min_payout", "max_payout", "payout_before_limits", "ended"]
DECISION_COLUMNS = ["time", "round", "stage", "subject", "value", "source", "closed_round",
                    "extended"]
# The bot's columns that hold local times or money, per kind.
TIME_COLUMNS = {"rounds": ("expectation_time", "investment_time"), "chat": ("time",)}
MONEY_COLUMNS = {"rounds": ("earnings", "bonus", "total_credits"),
                 "payouts": ("total_credits", "payout")}
PAY_KEYS = ("CreditValue", "MinPayout", "MaxPayout")


def pair_files(pair_folder, log_file, kind):
    """A pair's data files of one kind, oldest first (a bot started afresh
    writes new ones; a resumed bot appends to its old ones)."""
    return sorted(glob.glob(os.path.join(pair_folder, f"{log_file}_*_{kind}.csv")))


def pair_journals(pair_folder, log_file):
    """A pair's journals' entries, oldest journal first."""
    return [pair_state.journal_entries(pair_state.read_lines(path)) for path in
            sorted(glob.glob(os.path.join(pair_folder, f"{log_file}_*.journal")))]


def read_rows(path):
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f))
    return (rows[0], rows[1:]) if rows else (None, [])


def iso_local(text):
    """A bot's local time (YYYY-MM-DDTHH:MM:SS) with this machine's offset
    at that time; any other text is left as it is."""
    try:
        stamp = datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S")
    except (TypeError, ValueError):
        return text
    return stamp.astimezone().isoformat(timespec="seconds")


def iso_time(t):
    """Seconds since 1970 as local ISO 8601 with the offset."""
    return datetime.datetime.fromtimestamp(t).astimezone().isoformat(timespec="seconds")


def money(text):
    """A number as two decimals; empty or other text left as it is."""
    try:
        return f"{float(text):.2f}"
    except (TypeError, ValueError):
        return text


def shortest(value):
    """A real number in its shortest form (0.0075, 10)."""
    return format(value, "g") if value == int(value) else repr(value)


def tidy(kind, header, row):
    """A bot's row with its times in ISO 8601 and its money in two decimals."""
    times, sums = TIME_COLUMNS.get(kind, ()), MONEY_COLUMNS.get(kind, ())
    out = []
    for name, cell in zip(header, row):
        if name in times:
            cell = iso_local(cell)
        elif name in sums:
            cell = money(cell)
        out.append(cell)
    return out + row[len(header):]


class PairData:
    """What the merge needs of one pair: its rows of each kind and its
    journals."""

    def __init__(self, folder, lab, pair):
        directory = os.path.join(folder, pair.bot)
        self.pair = pair
        self.headers, self.rows, self.exact = {}, {}, {}
        for kind in BOT_KINDS:
            self.rows[kind], self.exact[kind] = [], []
            for path in pair_files(directory, lab.log_file, kind):
                header, rows = read_rows(path)
                if header is None:
                    continue
                if self.headers.setdefault(kind, header) != header:
                    raise ValueError(f"{path} has the columns {header}, "
                                     f"not {self.headers[kind]}")
                self.rows[kind] += [tidy(kind, header, row) for row in rows]
                self.exact[kind] += rows
        self.journals = pair_journals(directory, lab.log_file)
        self.entries = self.journals[-1] if self.journals else []
        self.start = next((e for e in self.entries if e.get("kind") == "start"), {})

    def name(self, subject):
        return self.start.get(f"Subject{subject}Name") or self.pair.subjects()[subject - 1]


def _bot_defaults(lab):
    """The bot's default pay rule, for a journal of a bot that did not
    record its own; {} when the bot cannot tell."""
    if not lab.bot_path:
        return {}
    try:
        keys = bot_check.key_table(lab.bot_path)
    except (LabError, OSError):  # no bot here: the cells stay empty
        return {}
    return {key.name: key.default for key in keys.keys if key.name in PAY_KEYS}


class Merger:
    def __init__(self, folder, lab):
        self.folder, self.lab = folder, lab
        self.session_id = session_id(folder, lab)
        self.session_stopped = os.path.exists(os.path.join(folder, "stopping"))
        self.pairs = [PairData(folder, lab, pair) for pair in lab.pairs]
        self._defaults = None

    def lead(self):
        return ["session", "pair"] + (["treatment"] if self.lab.treatments else [])

    def given(self, pair):
        return [self.session_id, str(pair.index)] + \
            ([pair.treatment or ""] if self.lab.treatments else [])

    def header(self, kind, fallback):
        headers = [p.headers[kind] for p in self.pairs if kind in p.headers]
        for header in headers[1:]:
            if header != headers[0]:
                raise ValueError(f"pairs' {kind} files have the columns {header}, "
                                 f"not {headers[0]}")
        return headers[0] if headers else fallback

    def pay_rule(self, data):
        """credit_value, min_payout, max_payout of the pair's game, as the
        journal's start recorded them."""
        values = {}
        for key in PAY_KEYS:
            if key in data.start:
                values[key] = float(data.start[key])
            elif data.start:
                if self._defaults is None:
                    self._defaults = _bot_defaults(self.lab)
                default = self._defaults.get(key)
                values[key] = float(default) if default is not None else None
            else:
                values[key] = None
        return values

    def bot_kind(self, kind):
        header = self.header(kind, [])
        rows = [self.given(p.pair) + row for p in self.pairs for row in p.rows[kind]]
        return self.lead() + header, rows

    def payouts(self):
        header = self.header("payouts", PAYOUT_COLUMNS)
        column = {name: i for i, name in enumerate(header)}
        rows = []
        for data in self.pairs:
            rule = self.pay_rule(data)
            ended = how_ended(data.entries, self.session_stopped)
            cells = [shortest(rule["CreditValue"]) if rule["CreditValue"] is not None else "",
                     money(rule["MinPayout"]) if rule["MinPayout"] is not None else "",
                     money(rule["MaxPayout"]) if rule["MaxPayout"] is not None else ""]
            paid = data.rows["payouts"] or self.unpaid_rows(data, header)
            exact = data.exact["payouts"] or paid
            for row, exact_row in zip(paid, exact):
                before = ""
                if row[column["payout"]] != "" and rule["CreditValue"] is not None:
                    # From the exact credits, as the bot computed the payout.
                    before = money(float(exact_row[column["total_credits"]]) *
                                   rule["CreditValue"])
                rows.append(self.given(data.pair) + row + cells + [before, ended])
        return self.lead() + header + PAYOUT_ADDED, rows

    def unpaid_rows(self, data, header):
        """The rows of a game that made no payouts: its subjects with their
        credits so far and the rounds closed, the payout empty."""
        closes = [e for e in data.entries if e.get("kind") == "close"]
        last = closes[-1] if closes else {}
        rows = []
        for subject in (1, 2):
            known = {"subject": str(subject), "name": data.name(subject),
                     "total_credits": money(last.get(f"total_{subject}", 0)),
                     "payout": "", "rounds": str(last.get("round", 0))}
            rows.append([known.get(name, "") for name in header])
        return rows

    def participants(self):
        """The participants of an online session (room.log and the formed
        pairs' journals)."""
        log = room_log.read(self.folder)
        results = {data.pair.index: participants.pair_result(data.entries, self.session_stopped)
                   for data in self.pairs if data.journals}
        accounts = {p.index: p.subjects() for p in self.lab.pairs}

        def seats(number):
            return accounts.get(number) or participants.default_seats(number)
        return participants.participants(self.session_id, log, results,
                                         participants.terms_of(self.lab.online), seats,
                                         self.session_stopped)

    def decisions(self):
        rows = []
        for data in self.pairs:
            for entries in data.journals:
                rows += [self.given(data.pair) + row for row in decision_rows(entries, data)]
        return self.lead() + DECISION_COLUMNS, rows


def decision_rows(entries, data):
    """One row per answer of one journal: an answer the round's close
    follows closed it; an `extend` entry for its subject, round and stage
    before it marks it extended."""
    rows, open_rows, extended = [], {}, set()
    for entry in entries:
        kind = entry.get("kind")
        if kind == "extend":
            extended.add((entry.get("subject"), entry.get("round"), entry.get("what")))
        elif kind == "answer":
            subject, round_, stage = entry.get("subject"), entry.get("round"), entry.get("what")
            row = [iso_time(entry.get("t", 0)), str(round_), stage or "",
                   data.name(2 if subject == 2 else 1), str(entry.get("value", "")),
                   entry.get("source", "subject"), "0",
                   "1" if (subject, round_, stage) in extended else "0"]
            rows.append(row)
            open_rows[round_] = row
        elif kind == "close":
            row = open_rows.pop(entry.get("round"), None)
            if row is not None:
                row[DECISION_COLUMNS.index("closed_round")] = "1"
    return rows


def write_csv(path, header, rows):
    with open(path, "w", encoding="utf-8", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(header)
        writer.writerows(rows)


def session_id(folder, lab):
    """The session's identifier, as its data files give it; a session of
    an earlier wexlab is dated by its supervisor's first line, else by
    lab.json."""
    started = pair_state.first_start(folder)
    if started is None and os.path.exists(record.path(folder)):
        started = os.path.getmtime(record.path(folder))
    return record.session_id_of(lab, started)


def played_lab(folder, lab):
    """The lab as its data see it: of an online session's pool, only the
    pairs that were formed (room.log) or have a journal; the others never
    played and are in no file."""
    if lab.online is None:
        return lab
    log = room_log.read(folder)
    formed = {e.get("pair") for e in log if e.get("kind") == "pair"}
    shown = copy.copy(lab)
    shown.pairs = [p for p in lab.pairs if p.index in formed or
                   pair_journals(os.path.join(folder, p.bot), lab.log_file)]
    return shown


def merged(folder, lab):
    """(session id, {kind: (header, rows)}) of the session's files, not
    yet written; lab as played_lab gives it."""
    merger = Merger(folder, lab)
    found = {kind: merger.bot_kind(kind) for kind in ("rounds", "chat")}
    found["payouts"] = merger.payouts()
    found["decisions"] = merger.decisions()
    if lab.online is not None:
        found["participants"] = (participants.COLUMNS,
                                 [p.cells() for p in merger.participants()])
    return merger.session_id, found


def write_bonus(folder, table):
    """session_bonus.csv from the participants' rows (dicts); returns the
    warnings about subjects left out."""
    lines, warnings = participants.bonus_lines(table)
    with open(os.path.join(folder, codebook.file_name("bonus")), "w", encoding="utf-8",
              newline="") as f:
        f.write("".join(line + "\n" for line in lines))
    return warnings


def collect(folder, lab, warnings=None):
    """Writes the session_KIND.csv files, datapackage.json, codebook.md and
    (with openpyxl) session.xlsx, and for an online session the bonus file;
    returns {kind: list of dicts}. Lines the researcher should read are
    added to warnings (a list) when given."""
    lab = played_lab(folder, lab)
    session_id, found = merged(folder, lab)
    tables = {}
    for kind, (header, rows) in found.items():
        write_csv(os.path.join(folder, codebook.file_name(kind)), header, rows)
        tables[kind] = [dict(zip(header, row)) for row in rows]
    headers = {kind: header for kind, (header, _) in found.items()}
    if "participants" in tables:
        said = write_bonus(folder, tables["participants"])
        if warnings is not None:
            warnings += said
        headers["bonus"] = [c.name for c in codebook.ONLINE_COLUMNS["bonus"]]
    codebook.write(folder, lab, session_id, headers)
    spreadsheet.write(os.path.join(folder, spreadsheet.FILE),
                      [(f"session_{kind}", header, rows, codebook.types(kind, lab))
                       for kind, (header, rows) in found.items()])
    return tables
