"""Where every pair stands, built only from what the bots and the
supervisor write: each pair's journal, its transcripts (PRES, ERR, DROP,
RECV lines), supervisor.log and bots.json, plus the bots' last answers to
`?`. Nothing here keeps game state of its own: the same files always give
the same state. The functions that build it are pure; read_* gather the
lines from the session folder.

A pair's state is a dict (the JSON of /api/pairs):
  pair, bot, round, nrounds, rounds_closed, phase (joining, asking, break,
  ended, reported), break_left_s, subjects [{name, online, since, owes,
  owes_since, last_message_s, investments}], bot_state (running, stopped,
  given up, not running, elsewhere, not paired yet), restarts, chat (the break's last
  lines, each text escaped as the transcript shows it), errors [{t, text}],
  reopened [{t, text}] (a subject's seat opened in another window), answer
  {t, text} (the last ? answer, dropped once a round closed after it),
  treatment (the pair's, or null), ended (ending.how_ended: completed,
  paid_now, stopped or running), stopped_at (the time of the journal's stop
  entry, or null)."""

import glob
import json
import os
import re
import time
import zlib

from . import bot_texts
from .ending import how_ended
from .visible import visible_line

CHAT_LINES = 6
TRANSCRIPT_LINE = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) (.{13}) ([A-Z ]{4}) ?(.*)")
SUPERVISOR_LINE = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) (.*)")


def local_seconds(stamp):
    """A transcript's or supervisor.log's local time as seconds since 1970."""
    return time.mktime(time.strptime(stamp, "%Y-%m-%d %H:%M:%S"))


def journal_entries(lines):
    """The intact entries of a journal's lines (CRC32, a blank, JSON); a
    torn or damaged line is left out."""
    entries = []
    for line in lines:
        crc, _, text = line.rstrip("\n").partition(" ")
        try:
            if int(crc, 16) != zlib.crc32(text.encode("utf-8")):
                continue
            entries.append(json.loads(text))
        except (ValueError, json.JSONDecodeError):
            continue
    return entries


def transcript_events(lines):
    """(t, name, tag, text) of each transcript line."""
    events = []
    for line in lines:
        found = TRANSCRIPT_LINE.match(line.rstrip("\n"))
        if found:
            stamp, name, tag, text = found.groups()
            events.append((local_seconds(stamp), name.strip(), tag.strip(), text))
    return events


def supervisor_events(lines, bot):
    """(t, text) of supervisor.log's lines about bot's restarts and end,
    and about its subjects (a seat opened again)."""
    events = []
    for line in lines:
        found = SUPERVISOR_LINE.match(line.rstrip("\n"))
        if found and found.group(2).startswith((f"{bot}'s bot ", f"{bot}'s subject ")):
            events.append((local_seconds(found.group(1)), found.group(2)))
    return events


def _new_subject(name):
    return {"name": name, "online": None, "since": None, "owes": [], "owes_since": None,
            "last_message_s": None, "last_message_t": None, "joined": False,
            "investments": [], "answers": {}, "presence_changes": 0}


def _heard(subject, t):
    if t and (subject["last_message_t"] is None or t > subject["last_message_t"]):
        subject["last_message_t"] = t


class _Game:
    """The game as a journal's entries build it up."""

    def __init__(self, pair):
        self.nrounds = pair.get("nrounds", 0)
        self.max_chat = 0
        self.round = 0
        self.closed = 0
        self.break_since = None
        self.stopped = self.reported = False
        self.stopped_at = None
        self.round_since = None
        self.last_close = None
        self.subjects = [_new_subject(pair["subject1"]), _new_subject(pair["subject2"])]
        self.chat = []

    def apply(self, e):
        kind, t = e.get("kind"), e.get("t")
        who = self.subjects[1 if e.get("subject") == 2 else 0]
        if kind == "start":
            self.nrounds = e.get("NRounds", self.nrounds)
            self.max_chat = e.get("MaxChatTime", 0)
            for subject, key in zip(self.subjects, ("Subject1Name", "Subject2Name")):
                subject["name"] = e.get(key, subject["name"])
        elif kind == "join":
            who["joined"] = True
            _heard(who, t)
            if e.get("round", 0) >= 1 and self.round < 1:
                self.round, self.round_since = e["round"], t
        elif kind == "answer":
            _heard(who, t)
            who["answers"][(e.get("round"), e.get("what"))] = t
            if e.get("what") == "investment":
                who["investments"].append(e.get("value"))
        elif kind == "close":
            self.closed = max(self.closed, e.get("round", 0))
            self.round = self.closed + 1
            self.round_since = self.last_close = t
            self.break_since = t if e.get("break") else None
            self.chat = []
        elif kind == "chat":
            _heard(who, t)
            self.chat = (self.chat + [{"t": t, "name": who["name"],
                                       "text": visible_line(e.get("text", ""))}])
            self.chat = self.chat[-CHAT_LINES:]
        elif kind == "break_end":
            self.break_since = None
            self.round_since = t
        elif kind == "stop":
            self.stopped = True
            self.stopped_at = t
        elif kind == "report":
            self.reported = True

    def phase(self):
        if self.reported:
            return "reported"
        if self.stopped:
            return "ended"
        if self.round < 1:
            return "joining"
        if self.break_since is not None:
            return "break"
        return "asking"

    def owes(self, subject):
        """What the subject still owes this round, and since when."""
        if self.phase() != "asking" or self.round > self.nrounds:
            return [], None
        owed = [what for what in ("expectation", "investment")
                if (self.round, what) not in subject["answers"]]
        if not owed:
            return [], None
        given = [t for (r, _), t in subject["answers"].items() if r == self.round]
        return owed, max(given + [self.round_since or 0]) or None


def _apply_transcript(game, events, now):
    errors = []
    names = {s["name"]: s for s in game.subjects}
    for t, name, tag, text in events:
        subject = names.get(name)
        if tag == "ERR":
            errors.append({"t": t, "text": f"{name}: {text}"})
        if subject is None:
            continue
        burst = PRESENCE_BURST.match(text) if tag == "PRES" else None
        if burst:
            # A burst within one window; a change it made has its own line.
            subject["presence_changes"] += int(burst.group(1))
        elif tag == "PRES":
            # "is back", or "signed on again" (asked again on its return)
            subject["online"] = text != "went offline"
            subject["since"] = t
        elif tag in ("RECV", "DROP"):
            _heard(subject, t)
            if subject["online"] is None:
                subject["online"] = True
    return errors


PRESENCE_BURST = re.compile(r"presence changed (\d+) times in \d+ s$")


class StatusTexts:
    """The patterns of the bot's ? answer in one language."""

    def __init__(self, texts, language):
        def tr(msgid):
            return texts.tr(language, msgid)
        self.round = re.compile(bot_texts.format_pattern(tr("Status: round %i of %i.")))
        self.over = re.compile(bot_texts.format_pattern(
            tr("Status: game over after round %i; payouts sent.")))
        self.left = re.compile(bot_texts.format_pattern(tr("Break: %lld s left.")))
        self.ended = tr("Ended by e: yes.")
        self.presence = {tr("online"): True, tr("offline"): False, tr("presence not known"): None}
        self.owes = {tr("owes the expectation and the investment"): ["expectation", "investment"],
                     tr("owes the investment"): ["investment"]}
        last = "(?:{}|{})".format(bot_texts.format_pattern(tr("last message %lld s ago")),
                                  re.escape(tr("no message yet")))
        presence = "(" + "|".join(re.escape(word) for word in self.presence) + ")"
        self.subject = re.compile(bot_texts.format_pattern(
            tr("%s: %s; %s; %s."), [r"(.+?)", r"([^;]+)", presence, last]))


def _status_texts(text):
    """The patterns of the language text is in: the first whose round,
    game over or subject line it has, else English's."""
    texts = bot_texts.bot_texts()
    languages = [StatusTexts(texts, language) for language in texts.languages]
    for language in languages:
        if language.round.search(text) or language.over.search(text) or \
                language.subject.search(text):
            return language
    return languages[0]


def from_answer(pair, answer, now):
    """A pair's state from its bot's last ? answer alone: for a pair whose
    files are on another machine. The answer's age is added to the
    seconds it gives."""
    text, age = answer["text"], max(0, int(now - answer["t"]))
    state = {"round": 0, "closed": 0, "phase": "joining", "left": None, "subjects": []}
    status = _status_texts(text)
    found = status.round.search(text)
    if found:
        state.update(round=int(found.group(1)), closed=int(found.group(1)) - 1, phase="asking")
    over = status.over.search(text)
    if over:
        state.update(round=int(over.group(1)), closed=int(over.group(1)), phase="reported")
    left = status.left.search(text)
    if left and state["phase"] == "asking":
        state.update(phase="break", left=max(0, int(left.group(1)) - age))
    if status.ended in text and state["phase"] != "reported":
        state["phase"] = "ended"
    for line in text.split("\n")[1:]:
        subject = status.subject.fullmatch(line.strip())
        if not subject:
            continue
        name, owes, presence, last = subject.groups()
        state["subjects"].append({
            "name": name, "online": status.presence.get(presence),
            "since": None, "owes": status.owes.get(owes, []),
            "owes_since": None, "last_message_s": None if last is None else int(last) + age,
            "investments": []})
    return state


def _bot_state(bot_info, restarts):
    if bot_info.get("given_up"):
        return "given up"
    if bot_info.get("elsewhere"):
        return "elsewhere"
    if bot_info.get("running"):
        return "running"
    if bot_info.get("unpaired"):
        return "not paired yet"  # an online pool pair the room has not formed
    return "stopped" if bot_info.get("ended") else "not running"


def pair_state(pair, entries, events, supervisor, bot_info, answer, now):
    """One pair's state. pair: its lab.json record (index, bot, subject1,
    subject2, nrounds); entries: its journal's entries; events: its
    transcripts' (t, name, tag, text); supervisor: its supervisor.log
    (t, text); bot_info: {running, given_up, ended, elsewhere}; answer:
    {t, text} of its last ? answer or None; now: seconds since 1970."""
    game = _Game(pair)
    for entry in entries:
        game.apply(entry)
    errors = _apply_transcript(game, events, now)
    restarts = [t for t, text in supervisor if "restarted" in text]
    reopened = [{"t": t, "text": text} for t, text in supervisor
                if text.startswith(f"{pair['bot']}'s subject ")]
    subjects = []
    for subject in game.subjects:
        owes, since = game.owes(subject)
        last = subject["last_message_t"]
        subjects.append({"name": subject["name"], "online": subject["online"],
                         "since": subject["since"], "owes": owes, "owes_since": since,
                         "last_message_s": None if last is None else max(0, int(now - last)),
                         "investments": subject["investments"],
                         "presence_changes": subject["presence_changes"]})
    left = None
    if game.break_since is not None and game.max_chat:
        left = max(0, int(game.break_since + game.max_chat - now))
    round_, closed, phase = game.round, game.closed, game.phase()
    ended = how_ended(entries)
    if game.nrounds:
        round_ = min(round_, game.nrounds)
    if answer and game.last_close is not None and answer["t"] < game.last_close:
        answer = None  # it told of a round that has closed since
    if not entries and answer and bot_info.get("elsewhere"):
        told = from_answer(pair, answer, now)
        round_, closed, phase, left = told["round"], told["closed"], told["phase"], told["left"]
        subjects = told["subjects"] or subjects
        # A ? answer cannot tell a pay-now from a game played to its end.
        ended = {"ended": "stopped", "reported": "completed"}.get(phase, "running")
    return {"pair": pair["index"], "bot": pair["bot"], "round": round_, "nrounds": game.nrounds,
            "rounds_closed": closed, "phase": phase, "break_left_s": left,
            "subjects": subjects, "bot_state": _bot_state(bot_info, restarts),
            "restarts": len(restarts), "restart_times": restarts,
            "given_up": bool(bot_info.get("given_up")), "reopened": reopened,
            "chat": game.chat if phase == "break" else [],
            "errors": errors, "answer": answer, "treatment": pair.get("treatment"),
            "ended": ended, "stopped_at": game.stopped_at}


# What the state is built from, read from the session folder.

def read_lines(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.readlines()
    except OSError:
        return []


# path -> ((size, mtime), parsed): a file is parsed again only when it
# changed, so the desk's rebuilds stay cheap in a long session.
_parsed = {}


def _read_parsed(path, parse):
    try:
        info = os.stat(path)
    except OSError:
        return []
    key = (info.st_size, info.st_mtime_ns)
    cached = _parsed.get((path, parse))
    if cached is None or cached[0] != key:
        cached = (key, parse(read_lines(path)))
        _parsed[(path, parse)] = cached
    return cached[1]


def read_pair(folder, pair, log_file):
    """(journal entries, transcript events) of a pair's folder."""
    directory = os.path.join(folder, pair.bot)
    journals = sorted(glob.glob(os.path.join(directory, f"{log_file}_*.journal")))
    entries = _read_parsed(journals[-1], journal_entries) if journals else []
    events = []
    for path in sorted(glob.glob(os.path.join(directory, f"{log_file}_*.log"))):
        events += _read_parsed(path, transcript_events)
    return entries, events


def first_start(folder):
    """When the session began: supervisor.log's first line."""
    for line in read_lines(os.path.join(folder, "supervisor.log")):
        found = SUPERVISOR_LINE.match(line)
        if found:
            return local_seconds(found.group(1))
    return None
