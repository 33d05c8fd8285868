"""The session file.

A session file has the bot's `Key value` format: the keys a pair's bot
shares with every other pair (Service, ModeratorName, LogFile and the game
keys) plus `Subjects NAME NAME ...` and `Seed N`. Lines that are blank or
begin with # are comments. Every fault is reported with its line number.
Treatment lines are read by treatments.py, each key's value checked by
values.py."""

import re

from . import treatments as treatmentslib
from .errors import SessionError, file_fault
from .values import BOT_KEYS, PER_PAIR_KEYS, REQUIRED, VALUE_CHECKS, divisor_fault, pay_fault

NAME = re.compile(r"[a-z0-9._-]{1,13}")
PAIR_NAME = re.compile(r"pair\d+")
# Accounts that wexlab makes for itself.
RESERVED_NAMES = ("wexlab", "wexdesk")


class Session:
    def __init__(self, values, lines, path, treatments=()):
        self.values = values  # key -> value text
        self.lines = lines    # key -> line number
        self.path = path
        self.subjects = values["Subjects"].split()
        self.seed = int(values["Seed"])
        self.treatments = list(treatments)  # in the Treatments line's order

    def treatment(self, name):
        return next(t for t in self.treatments if t.name == name)

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

    def pair_count(self):
        return len(self.subjects) // 2

    def desk_settings(self):
        """Desk PORT or Desk ADDRESS:PORT (default 127.0.0.1:5290) and the
        alert thresholds."""
        address, _, port = self.values.get("Desk", "5290").rpartition(":")
        return {"address": address or "127.0.0.1", "port": int(port),
                "offline_alert": int(self.values.get("OfflineAlert", 60)),
                "stall_alert": int(self.values.get("StallAlert", 120))}


def check_subjects(values, lines, path):
    number = lines["Subjects"]
    names = values["Subjects"].split()
    if len(names) < 2 or len(names) % 2:
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


def check_values(values, lines, path):
    fault = divisor_fault(values)
    if fault:
        raise file_fault(path, lines["MarketNoise"], fault)
    fault = pay_fault(values)
    if fault:
        raise file_fault(path, lines.get("MinPayout", lines.get("MaxPayout")), fault)


def parse_session(text, path="session"):
    """Reads a session file's text; raises SessionError naming the line."""
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
            treatmentslib.read_treatment(treatments, value, number, line, path)
            continue
        if key in PER_PAIR_KEYS:
            raise file_fault(path, number, f"{key} is written by wexlab for each pair; "
                             "leave it out of the session file")
        if key not in VALUE_CHECKS:
            raise file_fault(path, number, f"unknown key '{key}'")
        if key in values:
            raise file_fault(path, number, f"{key} appears twice (first on line {lines[key]})")
        fault = VALUE_CHECKS[key](value)
        if fault:
            raise file_fault(path, number, fault)
        values[key], lines[key] = value, number
    for key in REQUIRED:
        if key not in values:
            raise file_fault(path, 0, f"{key} is missing")
    check_subjects(values, lines, path)
    check_values(values, lines, path)
    ordered = treatmentslib.order_treatments(treatments, values, lines, raw_lines, path)
    session = Session(values, lines, path, ordered)
    for treatment in ordered:
        treatmentslib.check_treatment(session, treatment, raw_lines)
    return session


def read_session(path):
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise SessionError(f"cannot read the session file {path}: {e.strerror}")
    except UnicodeDecodeError:
        raise SessionError(f"{path}: the session file is not UTF-8 text")
    return parse_session(text, path)


def session_text(values, treatments=()):
    """A session file of these values and treatments."""
    order = BOT_KEYS + ("Subjects", "Seed", "Server", "ServerNodes")
    # Then the session's own keys (the web seats, the desk, ...), so that none is lost.
    order += tuple(key for key in VALUE_CHECKS
                   if key not in order and key not in ("Treatment", "Treatments"))
    lines = [f"{key} {values[key]}" for key in order if key in values]
    for treatment in treatments:
        lines += [f"Treatment {treatment.name} {key} {value}"
                  for key, value in treatment.values.items()] or [f"Treatment {treatment.name}"]
    if treatments:
        lines.append("Treatments " + " ".join(t.name for t in treatments))
    return "\n".join(lines) + "\n"
