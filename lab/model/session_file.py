"""The session file.

A session file has the bot's `Key value` format: the keys of the bot's
key table (bot_keys.py) that a pair's bot shares with every other pair
(Service, ModeratorName, LogFile and the game keys) plus wexlab's own
(`Subjects NAME NAME ...`, `Seed N`, the server, seats and desk). Lines
that are blank or begin with # are comments. Every fault is reported with
its line number. Treatment lines are read by treatments.py; values.py
checks wexlab's own keys and its rules over the bot's. The bot's checks of
its keys' values are runtime/bot_check.py's, on each pair's configuration."""

import re

from . import treatments as treatmentslib
from .errors import SessionError, file_fault
from .values import LAB_KEYS, LAB_REQUIRED, ONLINE_KEYS, PER_PAIR_KEYS, lab_fault

NAME = re.compile(r"[a-z0-9._-]{1,13}")
PAIR_NAME = re.compile(r"pair\d+")
# The pool's accounts of an online session: pair k's are seat{2k-1}, seat{2k}.
SEAT_NAME = re.compile(r"seat\d+")
DEFAULT_MAX_PAIRS = 10
# Accounts that wexlab makes for itself.
RESERVED_NAMES = ("wexlab", "wexdesk")


class Session:
    def __init__(self, values, lines, path, keys, treatments=(), raw_lines=None):
        self.values = values  # key -> value text
        self.lines = lines    # key -> line number
        self.path = path
        self.keys = keys      # the bot's key table
        self.raw_lines = raw_lines or {}  # line number -> the line's text
        self.subjects = pool_names(values) if online(values) else values["Subjects"].split()
        self.seed = int(values["Seed"])
        self.treatments = list(treatments)  # in the Treatments line's order

    def treatment(self, name):
        return next(t for t in self.treatments if t.name == name)

    def bot_values(self, treatment=None):
        """The bot keys every pair's configuration gets, with the
        treatment's over the session's, in the table's order."""
        values = self.game_values(treatment)
        return [(key, values[key]) for key in self.keys.names() if key in values]

    def game_values(self, treatment=None):
        """The session's values with the treatment's over them."""
        values = dict(self.values)
        if treatment is not None:
            values.update(self.treatment(treatment).values)
        return values

    @property
    def moderator(self):
        return self.values["ModeratorName"]

    @property
    def rounds(self):
        return int(self.values["NRounds"])

    @property
    def online(self):
        """Arrivals on: people come through the study link and are paired
        in the room as they arrive."""
        return online(self.values)

    def pair_count(self):
        return len(self.subjects) // 2

    def desk_settings(self):
        """Desk PORT or Desk ADDRESS:PORT (default 127.0.0.1:5290) and the
        alert thresholds."""
        address, _, port = self.values.get("Desk", "5290").rpartition(":")
        return {"address": address or "127.0.0.1", "port": int(port),
                "offline_alert": int(self.values.get("OfflineAlert", 60)),
                "stall_alert": int(self.values.get("StallAlert", 120))}


def online(values):
    return values.get("Arrivals", "off") == "on"


def pool_names(values):
    """The subject accounts of an online session's pool of pairs."""
    count = int(values.get("MaxPairs", DEFAULT_MAX_PAIRS))
    return [f"seat{n}" for n in range(1, 2 * count + 1)]


def check_online(values, lines, path):
    """An online session's keys go with Arrivals on, and Arrivals on with
    web seats on Prosody."""
    if not online(values):
        for key in ONLINE_KEYS:
            if key in values:
                raise file_fault(path, lines[key], f"{key} is a key of an online session: "
                                 "it needs Arrivals on")
        return
    line = lines["Arrivals"]
    if "Subjects" in values:
        raise file_fault(path, lines["Subjects"], "Subjects is not used with Arrivals on: "
                         "the pool's accounts (seat1, seat2, ...) are made for the pairs")
    if values.get("Web") == "off":
        raise file_fault(path, lines["Web"], "Arrivals on needs the web seats: leave out "
                         "Web off")
    if values.get("Server", "prosody") != "prosody":
        raise file_fault(path, line, "Arrivals on needs Server prosody (an online session "
                         "on ejabberd is not supported)")
    moderator = values.get("ModeratorName", "")
    if SEAT_NAME.fullmatch(moderator):
        raise file_fault(path, lines["ModeratorName"], f"'{moderator}' is a name wexlab "
                         "gives the pool's accounts (seat1, seat2, ...)")


def check_subjects(values, lines, path):
    # An online session's subjects are its pool (seat1, ...): only the
    # moderator's name is the session file's.
    number = lines.get("Subjects")
    names = [] if online(values) else values["Subjects"].split()
    if not online(values) and (len(names) < 2 or len(names) % 2):
        raise file_fault(path, number, f"Subjects needs an even number of names, "
                         f"at least two; it has {len(names)}")
    moderator = values["ModeratorName"]
    seen = set()
    for name in names + [moderator]:
        line = number if name in names else lines["ModeratorName"]
        if not NAME.fullmatch(name):
            raise file_fault(path, line, f"'{name}' cannot be an account name: use 1 to 13 "
                             "lower-case letters, digits, '.', '_' or '-'")
        if PAIR_NAME.fullmatch(name) or name in RESERVED_NAMES:
            raise file_fault(path, line, f"'{name}' is a name wexlab gives its own accounts "
                             "(pair01, pair02, ..., wexlab, wexdesk)")
        if name in seen:
            raise file_fault(path, line, f"'{name}' appears twice among the subjects and the "
                             "moderator")
        seen.add(name)


def required_keys(keys, values=None):
    """The bot's required keys that the session gives, then wexlab's own
    (an online session's subjects are its pool, so no Subjects)."""
    lab = LAB_REQUIRED
    if values is not None and online(values):
        lab = tuple(k for k in LAB_REQUIRED if k != "Subjects")
    return tuple(k for k in keys.required_names() if k not in PER_PAIR_KEYS) + lab


def parse_session(text, path, keys):
    """Reads a session file's text with the bot's key table keys; raises
    SessionError naming the line. The bot's own checks of the values are
    left to runtime/bot_check.py."""
    values, lines, treatments, raw_lines = {}, {}, {}, {}
    for number, raw in enumerate(text.replace("\r\n", "\n").split("\n"), start=1):
        line = raw.rstrip("\r")
        raw_lines[number] = line
        stripped = line.strip(" \t")
        if not stripped or stripped.startswith("#"):
            continue
        if line[0] in " \t":
            raise file_fault(path, number, "a line must begin with its key")
        key, value = re.match(r"([^ \t]*)[ \t]*(.*)", line).group(1, 2)
        value = value.rstrip(" \t")
        if key == "Treatment":
            treatmentslib.read_treatment(treatments, keys, value, number, line, path)
            continue
        if key in PER_PAIR_KEYS:
            raise file_fault(path, number, f"{key} is written by wexlab for each pair; "
                             "leave it out of the session file")
        if key not in keys and key not in LAB_KEYS:
            raise file_fault(path, number, f"unknown key '{key}'")
        if key in values:
            raise file_fault(path, number, f"{key} appears twice (first on line {lines[key]})")
        fault = lab_fault(key, value)
        if fault:
            raise file_fault(path, number, fault)
        values[key], lines[key] = value, number
    for key in required_keys(keys, values):
        if key not in values:
            raise file_fault(path, 0, f"{key} is missing")
    check_online(values, lines, path)
    check_subjects(values, lines, path)
    ordered = treatmentslib.order_treatments(treatments, values, lines, raw_lines, path)
    return Session(values, lines, path, keys, ordered, raw_lines)


def read_session(path, keys):
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise SessionError(f"cannot read the session file {path}: {e.strerror}")
    except UnicodeDecodeError:
        raise SessionError(f"{path}: the session file is not UTF-8 text")
    return parse_session(text, path, keys)


def session_text(values, treatments=()):
    """A session file of these values (in their order) and treatments."""
    lines = [f"{key} {value}" for key, value in values.items() if key != "Treatments"]
    for treatment in treatments:
        lines += [f"Treatment {treatment.name} {key} {value}"
                  for key, value in treatment.values.items()] or [f"Treatment {treatment.name}"]
    if treatments:
        lines.append("Treatments " + " ".join(t.name for t in treatments))
    return "\n".join(lines) + "\n"
