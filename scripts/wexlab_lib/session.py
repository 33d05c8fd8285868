"""The session file and the matching of subjects into pairs.

A session file has the bot's `Key value` format: the keys a pair's bot
shares with every other pair (Service, ModeratorName, LogFile and the game
keys) plus `Subjects NAME NAME ...` and `Seed N`. Lines that are blank or
begin with # are comments. Every fault is reported with its line number.

Treatments: `Treatment NAME KEY VALUE` lines set a game key for the pairs
of one treatment (over the session's value), `Treatment NAME` alone
declares one that plays the session's values, and `Treatments NAME ...`
lists them in order. The pairs are spread over the treatments evenly and
at random from the seed."""

import math
import random
import re

from . import lab_server, nodes, seats

# The keys of the game and the lab's pay rule: every pair's by default, and
# what a treatment may set for its own pairs.
GAME_KEYS = ("NRounds", "ConversationInterval", "MarketBase", "MarketNoiseScale", "MarketNoise",
             "BonusMarketRGR", "BonusMarketGW", "MaxChatTime", "MaxChatIdle", "CreditValue",
             "MinPayout", "MaxPayout", "FloodLimit", "FloodSeconds", "MaxMessageBytes",
             "AnswerTimeout", "TimeoutAnswer")
# Keys copied into every pair's bot configuration.
BOT_KEYS = ("Service", "ModeratorName", "LogFile") + GAME_KEYS
# The bot's pay bounds when the keys are absent.
PAY_DEFAULTS = {"MinPayout": "10", "MaxPayout": "25"}
REQUIRED = ("Service", "ModeratorName", "LogFile", "NRounds", "ConversationInterval",
            "MarketBase", "MarketNoiseScale", "MarketNoise", "MaxChatTime", "MaxChatIdle",
            "Subjects", "Seed")
# Keys that wexlab writes for each pair itself.
PER_PAIR_KEYS = ("BotUsername", "Subject1Name", "Subject2Name", "PasswordFile",
                 "BotPasswordIndex", "KeyIndex", "Resume", "DeskName")
NAME = re.compile(r"[a-z0-9._-]{1,13}")
TREATMENT_NAME = re.compile(r"[A-Za-z0-9._-]{1,24}")
PAIR_NAME = re.compile(r"pair\d+")
# Accounts that wexlab makes for itself.
RESERVED_NAMES = ("wexlab", "wexdesk")
# The desk's keys: its address and the alerts' thresholds in seconds.
DESK_KEYS = ("Desk", "OfflineAlert", "StallAlert")


class SessionError(Exception):
    """A fault of the session file; the text names the line and the reason."""


class Treatment:
    """One treatment: its name, the game keys it sets and their lines."""

    def __init__(self, name, line):
        self.name = name
        self.line = line  # the first Treatment line naming it
        self.values = {}  # key -> value text, in the file's order
        self.lines = {}   # key -> line number


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


def _fault(path, number, reason):
    return SessionError(f"{path}:{number}: {reason}" if number else f"{path}: {reason}")


def _check_int(value, low, what, high=None):
    if not re.fullmatch(r"[+-]?\d+", value):
        return f"{what} must be a whole number, not '{value}'"
    if int(value) < low:
        return f"{what} must be at least {low}"
    if high is not None and int(value) > high:
        return f"{what} must be at most {high}"
    return None


def _check_amount(value, what):
    """A number of 0 or more, as the bot reads the pay rule's keys."""
    if not re.fullmatch(r"\+?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", value):
        return f"{what} must be a number of 0 or more, not '{value}'"
    if not math.isfinite(float(value)):
        return f"{what} must be a finite number"
    return None


def _check_number(value, what):
    try:
        number = float(value)
    except ValueError:
        return f"{what} must be a number, not '{value}'"
    if not math.isfinite(number):
        return f"{what} must be a finite number"
    return None


def _check_list(value, what):
    parts = value.split(",")
    for part in parts:
        fault = _check_number(part.strip(), f"each element of {what}")
        if fault:
            return fault
    return None


def _check_service(value):
    if not value.startswith("xmpp:"):
        return ("Service must be an xmpp: service on the lab server, e.g. "
                "xmpp:lab.wex@127.0.0.1:5222;trust=any")
    service = lab_server.parse_service(value)
    if not service["domain"] or not service["host"] or service["port"] is None:
        return "Service must name the server's address and port: xmpp:DOMAIN@ADDRESS:PORT;..."
    if service["tls"] != "off" and service["trust"] != "any":
        return "the lab server's certificate is self-signed: add ;trust=any to the Service"
    return None


def _check_desk(value):
    address, _, port = value.rpartition(":")
    if not re.fullmatch(r"\d{1,5}", port) or not 1 <= int(port) <= 65535:
        return "Desk takes PORT or ADDRESS:PORT, e.g. 5290 or 192.168.1.10:5290"
    if ":" in value and not address:
        return "Desk ADDRESS:PORT needs the address before the colon"
    return None


# The check of each key's value; None means any text.
VALUE_CHECKS = {
    "Service": _check_service,
    "ModeratorName": lambda v: None,  # checked with the other names
    "LogFile": lambda v: None if v and "/" not in v else
    "LogFile must be a file name (the transcript goes into each pair's folder)",
    "NRounds": lambda v: _check_int(v, 1, "NRounds"),
    "ConversationInterval": lambda v: _check_int(v, 1, "ConversationInterval"),
    "MaxChatTime": lambda v: _check_int(v, 1, "MaxChatTime"),
    "MaxChatIdle": lambda v: _check_int(v, 1, "MaxChatIdle"),
    "MarketBase": lambda v: _check_number(v, "MarketBase"),
    "MarketNoiseScale": lambda v: _check_number(v, "MarketNoiseScale"),
    "MarketNoise": lambda v: _check_list(v, "MarketNoise"),
    "BonusMarketRGR": lambda v: _check_list(v, "BonusMarketRGR"),
    "BonusMarketGW": lambda v: _check_list(v, "BonusMarketGW"),
    "CreditValue": lambda v: _check_amount(v, "CreditValue"),
    "MinPayout": lambda v: _check_amount(v, "MinPayout"),
    "MaxPayout": lambda v: _check_amount(v, "MaxPayout"),
    "FloodLimit": lambda v: _check_int(v, 0, "FloodLimit", 100000),
    "FloodSeconds": lambda v: _check_int(v, 1, "FloodSeconds", 3600),
    "MaxMessageBytes": lambda v: _check_int(v, 64, "MaxMessageBytes", 1048576),
    "AnswerTimeout": lambda v: _check_int(v, 0, "AnswerTimeout", 86400),
    "TimeoutAnswer": lambda v: None if v == "last" else _check_int(v, 0, "TimeoutAnswer", 60),
    "Treatments": lambda v: None,  # checked with the Treatment lines
    "Seed": lambda v: _check_int(v, 0, "Seed"),
    "Subjects": lambda v: None,
    "Server": lambda v: None if v in ("prosody", "ejabberd") else
    f"Server must be prosody or ejabberd, not '{v}'",
    "ServerNodes": lambda v: _check_int(v, 1, "ServerNodes", 16),
    "Nodes": nodes.check_nodes_value,
    "ClusterPort": lambda v: _check_int(v, 1, "ClusterPort", 65535),
    "Web": seats.check_web,
    "WebTls": seats.check_switch("WebTls"),
    "Certificate": lambda v: None if v else "Certificate needs the path of a PEM file",
    "CertificateKey": lambda v: None if v else "CertificateKey needs the path of a PEM file",
    "Desk": _check_desk,
    "OfflineAlert": lambda v: _check_int(v, 1, "OfflineAlert"),
    "StallAlert": lambda v: _check_int(v, 1, "StallAlert"),
}


def _check_subjects(values, lines, path):
    number = lines["Subjects"]
    names = values["Subjects"].split()
    if len(names) < 2 or len(names) % 2:
        raise _fault(path, number, f"Subjects needs an even number of names, "
                     f"at least two; it has {len(names)}")
    moderator = values["ModeratorName"]
    seen = set()
    for name in names + [moderator]:
        line = number if name in names else lines["ModeratorName"]
        if not NAME.fullmatch(name):
            raise _fault(path, line, f"'{name}' cannot be an account name: use 1 to 13 "
                         "lower-case letters, digits, '.', '_' or '-'")
        if PAIR_NAME.fullmatch(name) or name in RESERVED_NAMES:
            raise _fault(path, line, f"'{name}' is a name wexlab gives its own accounts "
                         "(pair01, pair02, ..., wexlab, wexdesk)")
        if name in seen:
            raise _fault(path, line, f"'{name}' appears twice among the subjects and the "
                         "moderator")
        seen.add(name)


def _divisor_fault(values):
    """The bot refuses a market divisor of 0; say so before any bot starts."""
    base = float(values["MarketBase"])
    scale = float(values["MarketNoiseScale"])
    for part in values["MarketNoise"].split(","):
        divisor = scale * float(part) - scale / 2 + base
        if divisor == 0 or not math.isfinite(divisor):
            return f"the noise {part.strip()} gives a market divisor of 0"
    return None


def _pay_fault(values):
    low = float(values.get("MinPayout", PAY_DEFAULTS["MinPayout"]))
    high = float(values.get("MaxPayout", PAY_DEFAULTS["MaxPayout"]))
    if low > high:
        return f"MinPayout ({low:g}) must not exceed MaxPayout ({high:g})"
    return None


def _check_values(values, lines, path):
    fault = _divisor_fault(values)
    if fault:
        raise _fault(path, lines["MarketNoise"], fault)
    fault = _pay_fault(values)
    if fault:
        raise _fault(path, lines.get("MinPayout", lines.get("MaxPayout")), fault)


def _line_fault(path, number, line, reason):
    return _fault(path, number, f"'{line.strip()}': {reason}")


def _read_treatment(treatments, value, number, line, path):
    """One `Treatment NAME [KEY VALUE]` line into treatments (name -> Treatment)."""
    found = re.match(r"([^ \t]+)(?:[ \t]+([^ \t]+))?(?:[ \t]+(.*))?$", value)
    if not found:
        raise _line_fault(path, number, line, "a treatment line is Treatment NAME KEY VALUE")
    name, key, setting = found.group(1, 2, 3)
    if not TREATMENT_NAME.fullmatch(name):
        raise _line_fault(path, number, line, f"'{name}' cannot be a treatment's name: use 1 "
                          "to 24 letters, digits, '.', '_' or '-'")
    treatment = treatments.setdefault(name, Treatment(name, number))
    if key is None:
        return  # a treatment that plays the session's values
    if key not in GAME_KEYS:
        raise _line_fault(path, number, line, f"unknown key '{key}' for a treatment; it may "
                          f"set {', '.join(GAME_KEYS)}")
    if not setting:
        raise _line_fault(path, number, line, f"{key} needs a value")
    if key in treatment.values:
        raise _line_fault(path, number, line, f"{key} appears twice in treatment {name} "
                          f"(first on line {treatment.lines[key]})")
    fault = VALUE_CHECKS[key](setting)
    if fault:
        raise _line_fault(path, number, line, fault)
    treatment.values[key], treatment.lines[key] = setting, number


def _order_treatments(treatments, values, lines, raw_lines, path):
    """The treatments in the Treatments line's order; every name there must
    have Treatment lines and every treatment must be named there."""
    if "Treatments" not in values:
        if treatments:
            first = min(t.line for t in treatments.values())
            raise _line_fault(path, first, raw_lines[first], "Treatment lines need a "
                              "Treatments line naming the treatments in order")
        return []
    number = lines["Treatments"]
    names = values["Treatments"].split()
    if not names:
        raise _line_fault(path, number, raw_lines[number], "Treatments needs at least one name")
    for name in names:
        if names.count(name) > 1:
            raise _line_fault(path, number, raw_lines[number], f"'{name}' appears twice")
        if name not in treatments:
            raise _line_fault(path, number, raw_lines[number], f"treatment '{name}' has no "
                              f"Treatment lines (Treatment {name} KEY VALUE)")
    for treatment in treatments.values():
        if treatment.name not in names:
            raise _line_fault(path, treatment.line, raw_lines[treatment.line],
                              f"treatment '{treatment.name}' is not in the Treatments line "
                              f"(line {number})")
    return [treatments[name] for name in names]


def _check_treatment(session, treatment, raw_lines):
    """The session's values with the treatment's must make a game too."""
    merged = session.game_values(treatment.name)
    fault = _divisor_fault(merged) or _pay_fault(merged)
    if fault:
        number = min(treatment.lines.values(), default=treatment.line)
        raise _line_fault(session.path, number, raw_lines[number],
                          f"with treatment {treatment.name}'s values {fault}")


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
            raise _fault(path, number, "a line must begin with its key")
        key, value = re.match(r"([^ \t]*)[ \t]*(.*)", line).group(1, 2)
        value = value.rstrip(" \t")
        if key == "Treatment":
            _read_treatment(treatments, value, number, line, path)
            continue
        if key in PER_PAIR_KEYS:
            raise _fault(path, number, f"{key} is written by wexlab for each pair; "
                         "leave it out of the session file")
        if key not in VALUE_CHECKS:
            raise _fault(path, number, f"unknown key '{key}'")
        if key in values:
            raise _fault(path, number, f"{key} appears twice (first on line {lines[key]})")
        fault = VALUE_CHECKS[key](value)
        if fault:
            raise _fault(path, number, fault)
        values[key], lines[key] = value, number
    for key in REQUIRED:
        if key not in values:
            raise _fault(path, 0, f"{key} is missing")
    _check_subjects(values, lines, path)
    _check_values(values, lines, path)
    ordered = _order_treatments(treatments, values, lines, raw_lines, path)
    session = Session(values, lines, path, ordered)
    for treatment in ordered:
        _check_treatment(session, treatment, raw_lines)
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


def pair_name(index, count):
    """pair01, pair02, ...; three digits from 100 pairs on."""
    return f"pair{index:0{max(2, len(str(count)))}d}"


def match(subjects, seed):
    """Pairs the subjects at random from the seed: a list of (subject1,
    subject2), pair 1 first. The same names in the same order and the same
    seed always give the same pairs."""
    order = list(subjects)
    random.Random(seed).shuffle(order)
    return [(order[i], order[i + 1]) for i in range(0, len(order), 2)]


def assign_treatments(names, count, seed):
    """The treatment of each of count pairs, pair 1 first: each name as
    often as any other, give or take one (the extra pairs go to the names
    listed first), in an order drawn from the seed. The matching's own
    draw is left alone, so treatments never change who plays whom."""
    if not names:
        return [None] * count
    order = [names[i % len(names)] for i in range(count)]
    random.Random(f"{seed}:treatments").shuffle(order)
    return order


def matching_csv(pairs, treatments=None):
    """pair,bot,subject1,subject2 and, in a session of treatments, treatment."""
    rows = ["pair,bot,subject1,subject2" + (",treatment" if treatments else "")]
    for index, (first, second) in enumerate(pairs, start=1):
        bot = pair_name(index, len(pairs))
        treatment = f",{treatments[index - 1]}" if treatments else ""
        rows.append(f"{index},{bot},{first},{second}{treatment}")
    return "\n".join(rows) + "\n"


def bot_config(session, bot, subject1, subject2, treatment=None):
    """The configuration of one pair's bot: the session's shared keys, with
    the treatment's over them, and the pair's own names; the password file
    sits beside it."""
    values = session.game_values(treatment)
    lines = [f"BotUsername {bot}", f"Subject1Name {subject1}", f"Subject2Name {subject2}",
             "PasswordFile passwords.txt", "BotPasswordIndex 0", "KeyIndex 1",
             "DeskName wexdesk"]
    if treatment is not None:
        lines.append(f"# treatment {treatment}")
    lines += [f"{key} {values[key]}" for key in BOT_KEYS if key in values]
    return "\n".join(lines) + "\n"


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


def parse_only(text, count):
    """The pairs named by --only: 'none', '3', '1-10', '1-5,8'; a sorted list."""
    if text is None:
        return list(range(1, count + 1))
    if text == "none":
        return []
    chosen = set()
    for part in text.split(","):
        found = re.fullmatch(r"(\d+)(?:-(\d+))?", part.strip())
        if not found:
            raise SessionError(f"--only takes pair numbers like 1-10 or 1-5,8 or none, "
                               f"not '{text}'")
        low = int(found.group(1))
        high = int(found.group(2) or low)
        if low < 1 or high > count or low > high:
            raise SessionError(f"--only {text}: the session has pairs 1 to {count}")
        chosen.update(range(low, high + 1))
    return sorted(chosen)
