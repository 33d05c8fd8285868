"""The session's state from its folder, for the desk and `wexlab status`:
pair_state's and summary's pure functions over the files the bots and the supervisor
write, the run file's pids, and the desk's last ? answers
(desk_answers.json). Reading it never sends anything."""

import json
import os
import secrets
import time

from ..model import online as onlinelib, pair_state, pairing, room_log, summary
from ..model.record import pair_json
from . import bots

ANSWERS_FILE = "desk_answers.json"
DESK_FILE = "desk.json"  # pid, address, port and token of the running desk
ROOM_FILE = "room.json"  # pid, port and token of an online session's room


def new_token():
    return secrets.token_urlsafe(24)


def desk_url(info):
    host = info["address"]
    if host in ("0.0.0.0", "::", ""):
        host = "127.0.0.1"
    return f"http://{host}:{info['port']}/?token={info['token']}"


def read_desk_info(folder):
    return _read_json(os.path.join(folder, DESK_FILE), None)


def read_room_info(folder):
    return _read_json(os.path.join(folder, ROOM_FILE), None)


def _read_json(path, default):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return default


def read_answers(folder):
    return _read_json(os.path.join(folder, ANSWERS_FILE), {})


def bot_info(folder, lab, pair, run, mine, formed=None):
    index = pair.index
    pid = run.get("bots", {}).get(str(index))
    running = bool(pid) and bots.alive(pid, bots.pair_dir(folder, pair))
    return {"running": running, "given_up": index in run.get("given_up", []),
            "elsewhere": mine is not None and index not in mine,
            "ended": bots.game_ended(folder, pair, lab.log_file),
            "unpaired": formed is not None and index not in formed}


def formed_pairs(folder, lab):
    """The pairs an online session's room has formed (None offline)."""
    if lab.online is None:
        return None
    return {e["pair"] for e in room_log.read(folder) if e.get("kind") == "pair"}


def build(folder, lab, answers=None, now=None, server_up=True, dismissed=()):
    """{"session": ..., "pairs": [...], "alerts": [...]} as of now."""
    now = time.time() if now is None else now
    answers = read_answers(folder) if answers is None else answers
    run = _read_json(os.path.join(folder, bots.RUN_FILE), {})
    local = _read_json(os.path.join(folder, "local.json"), None)
    mine = set(local["pairs"]) if local else None
    supervisor = pair_state.read_lines(os.path.join(folder, "supervisor.log"))
    formed = formed_pairs(folder, lab)
    pairs = []
    for pair in lab.pairs:
        entries, events = pair_state.read_pair(folder, pair, lab.log_file)
        record = dict(pair_json(pair), nrounds=lab.rounds)
        pairs.append(pair_state.pair_state(
            record, entries, events, pair_state.supervisor_events(supervisor, pair.bot),
            bot_info(folder, lab, pair, run, mine, formed), answers.get(pair.bot), now))
    found = summary.alerts(pairs, now, lab.desk.offline_alert, lab.desk.stall_alert,
                           server_up)
    state = {"now": now,
             "session": summary.session_line(pairs, pair_state.first_start(folder), now),
             "pairs": pairs, "alerts": [a for a in found if a["id"] not in dismissed]}
    if lab.online is not None:
        state["room"] = room_state(folder, lab)
    return state


def room_state(folder, lab):
    """An online session's room from room.log: the study link and the
    counts of those waiting, paired and sent home with the fee."""
    counts = pairing.counts_of(room_log.read(folder))
    counts["max_pairs"] = lab.online.max_pairs
    counts["link"] = onlinelib.study_link(lab)
    return counts


def room_line(room):
    closed = ", closed" if room["closed"] else ""
    return (f"room: {room['arrived']} arrived, {room['waiting']} waiting, {room['paired']} "
            f"paired in {room['pairs']} of {room['max_pairs']} pairs, {room['exits']} left "
            f"with the fee{closed}; study link {room['link']}")


def _subject_cell(s):
    online = {True: "on", False: "OFF", None: "?"}[s["online"]]
    owes = "+".join(w[:3] for w in s["owes"]) or "-"
    last = "-" if s["last_message_s"] is None else f"{s['last_message_s']}s"
    return f"{s['name']} {online} owes:{owes} last:{last}"


def phase_text(p):
    if p["phase"] == "break" and p["break_left_s"] is not None:
        return f"break {p['break_left_s']}s left"
    if p.get("ended") in ("paid_now", "completed"):
        return p["ended"].replace("_", " ")
    return {"ended": "stopped, no pay"}.get(p["phase"], p["phase"])


def bot_text(p):
    text = p["bot_state"]
    return text + (f", restarted {p['restarts']}x" if p["restarts"] else "")


def table(state):
    """The state as a terminal table, one line per pair; the treatment
    column shows - in a session without treatments."""
    width = max([len("treatment")] + [len(p.get("treatment") or "") for p in state["pairs"]])
    s = state["session"]
    elapsed = "-" if s["elapsed_s"] is None else f"{s['elapsed_s'] // 60}m{s['elapsed_s'] % 60:02d}s"
    lines = [f"{s['finished']} of {s['pairs']} pairs finished, {s['rounds_closed']} of "
             f"{s['rounds_all']} rounds closed, {elapsed} since the start",
             *([room_line(state["room"])] if state.get("room") else []),
             f"{'pair':<7} {'treatment':<{width}} {'round':<6} {'phase':<16} {'bot':<22} "
             "subjects"]
    for p in state["pairs"]:
        subjects = " | ".join(_subject_cell(x) for x in p["subjects"])
        lines.append(f"{p['bot']:<7} {p.get('treatment') or '-':<{width}} "
                     f"{p['round']}/{p['nrounds']:<4} {phase_text(p):<16} "
                     f"{bot_text(p):<22} {subjects}")
    for a in state["alerts"]:
        lines.append("ALERT " + time.strftime("%H:%M:%S ", time.localtime(a["t"])) + a["text"])
    return lines
