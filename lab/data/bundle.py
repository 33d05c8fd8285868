"""SESSION.zip, the replication bundle: the session's data files, the
codebook, the session file and each pair's configuration and journal
(without passwords), the software's version, the report, and a README
that says what was run, when and on what, and how to check the payouts
from the journals. An online session's participants are in it without
their platform labels; the bonus file, payments by label, is not."""

import csv
import datetime
import glob
import io
import os
import platform
import re
import subprocess
import tempfile
import zipfile

from ..model import paths, pair_state
from . import codebook, spreadsheet

# A configuration line whose key names a secret is left out.
SECRET_KEY = re.compile(r"(?i)^\s*[A-Za-z0-9_]*(password|passwd|secret|token)[A-Za-z0-9_]*\b")


def without_secrets(text):
    """A configuration's text without its password-like keys."""
    return "".join(line for line in text.splitlines(keepends=True)
                   if not SECRET_KEY.match(line))


def _run(args, cwd=None):
    try:
        done = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=20)
    except (OSError, subprocess.SubprocessError):
        return None
    return done.stdout.strip() if done.returncode == 0 and done.stdout.strip() else None


def without_labels(path):
    """A participants file's text with its label column emptied: a label
    identifies the subject on the recruiting platform."""
    with open(path, encoding="utf-8", newline="") as f:
        rows = list(csv.reader(f))
    column = rows[0].index("label") if rows and "label" in rows[0] else None
    if column is not None:
        for row in rows[1:]:
            if len(row) > column:
                row[column] = ""
    out = io.StringIO()
    csv.writer(out).writerows(rows)
    return out.getvalue()


def workbook_without_labels(folder, lab):
    """session.xlsx's bytes rebuilt from the data files with the
    participants' labels emptied; None without openpyxl."""
    sheets = []
    for kind in list(codebook.COLUMNS) + ["participants"]:
        path = os.path.join(folder, codebook.file_name(kind))
        if not os.path.isfile(path):
            continue
        if kind == "participants":
            text = without_labels(path)
        else:
            with open(path, encoding="utf-8", newline="") as f:
                text = f.read()
        rows = list(csv.reader(io.StringIO(text, newline="")))
        if rows:
            sheets.append((f"session_{kind}", rows[0], rows[1:], codebook.types(kind, lab)))
    with tempfile.TemporaryDirectory(prefix="wexlab-bundle-") as directory:
        out = os.path.join(directory, spreadsheet.FILE)
        if not spreadsheet.write(out, sheets):
            return None
        with open(out, "rb") as f:
            return f.read()


def software_version(home=paths.HOME):
    """The installed package's version, else the source tree's `git
    describe`, else "unknown"."""
    if not os.path.isdir(os.path.join(home, ".git")) and \
            not os.path.isfile(os.path.join(home, ".git")):
        version = _run(["dpkg-query", "-W", "-f=${Version}", "wex"])
        if version:
            return f"wex {version} (Debian package)"
    described = _run(["git", "describe", "--always", "--dirty"], cwd=home)
    return f"wex {described} (source tree)" if described else "unknown"


def os_name():
    try:
        with open("/etc/os-release", encoding="utf-8") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    return line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    return platform.system()


def _when(t):
    return datetime.datetime.fromtimestamp(t).astimezone().isoformat(timespec="seconds")


def game_times(folder, lab):
    """(first, last) journal time of the session, or None."""
    times = []
    for pair in lab.pairs:
        for path in glob.glob(os.path.join(folder, pair.bot, f"{lab.log_file}_*.journal")):
            times += [e.get("t") for e in pair_state.journal_entries(pair_state.read_lines(path))
                      if isinstance(e.get("t"), (int, float))]
    return (min(times), max(times)) if times else None


def members(folder, lab):
    """(path in the zip, path on disk or None, text or None) of every file."""
    found = []
    for name in [codebook.file_name(k) for k in codebook.COLUMNS] + \
            ["datapackage.json", "codebook.md", spreadsheet.FILE, "report.html", "matching.csv"]:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            found.append((name, path, None))
    participants = os.path.join(folder, codebook.file_name("participants"))
    if os.path.isfile(participants):
        found.append((codebook.file_name("participants"), None, without_labels(participants)))
        # The workbook holds the labels too: it goes in rebuilt without them.
        found = [item for item in found if item[0] != spreadsheet.FILE]
        book = workbook_without_labels(folder, lab)
        if book is not None:
            found.append((spreadsheet.FILE, None, book))
    if lab.session and os.path.isfile(lab.session):
        with open(lab.session, encoding="utf-8", errors="replace") as f:
            found.append(("session.conf", None, without_secrets(f.read())))
    for pair in lab.pairs:
        directory = os.path.join(folder, pair.bot)
        conf = os.path.join(directory, "wexbot.conf")
        if os.path.isfile(conf):
            with open(conf, encoding="utf-8", errors="replace") as f:
                found.append((f"{pair.bot}/wexbot.conf", None, without_secrets(f.read())))
        for path in sorted(glob.glob(os.path.join(directory, f"{lab.log_file}_*.journal"))):
            found.append((f"{pair.bot}/{os.path.basename(path)}", path, None))
    return found


FILE_NOTES = {
    "datapackage.json": "the files' descriptions as a Frictionless Data Package",
    "codebook.md": "every column of every data file, with its type, unit and allowed values",
    spreadsheet.FILE: "the data files as one workbook, a sheet each (the CSV files are exact)",
    "report.html": "the session's report: summary, incidents, charts, payouts",
    "matching.csv": "which subjects formed which pair, and each pair's treatment",
    "session.conf": "the session file the session was started from (passwords left out)",
    "VERSION.txt": "the software's version",
    "README.md": "this file",
}


def note(name):
    kind = name[len("session_"):-len(".csv")] if name.startswith("session_") and \
        name.endswith(".csv") else None
    if kind in codebook.FILE_TITLES:
        return codebook.FILE_TITLES[kind]
    if name.endswith("/wexbot.conf"):
        return "the pair's bot configuration (password file and index left out)"
    if name.endswith(".journal"):
        return "the pair's journal: every step of its game, with exact values"
    return FILE_NOTES.get(name, "")


def online_note(names):
    """The README's word on an online session's participants."""
    if codebook.file_name("participants") not in names:
        return ""
    return ("\nThe session ran online: `session_participants.csv` has every arrival, its "
            "\nlabel (the recruiting platform's identifier) left out.")


def readme(folder, lab, session_id, version, names):
    times = game_times(folder, lab)
    when = f"from {_when(times[0])} to {_when(times[1])}" if times else "(no game began)"
    treatments = ", ".join(f"{t.name} ({', '.join(f'{k} {v}' for k, v in t.values.items()) or 'the session' + chr(39) + 's values'})"
                           for t in lab.treatments) or "none (one set of values)"
    files = "\n".join(f"| `{name}` | {note(name)} |" for name in names)
    example = lab.pairs[0].bot if lab.pairs else "pair01"
    return f"""# Replication package: wex session {session_id}

## Data availability

The data were collected in a laboratory session run with wex. Every file
needed to read them is in this package. Subjects appear under their
accounts' names, those of the session file's `Subjects` line; chat texts
are exactly as the subjects wrote them. Passwords have been left out.{online_note(names)}

## What was run

- Session: {session_id}, {len(lab.pairs)} pairs of subjects, {lab.rounds} rounds
  (a treatment may set its own).
- Treatments: {treatments}.
- Played {when}.
- Software: {version}; lab server: {lab.server}.
- Machine: {platform.node() or 'unknown'}, {os_name()} ({platform.machine()}),
  Python {platform.python_version()}.

The game and the pay rule are in `session.conf` and each pair's
`wexbot.conf`; `codebook.md` describes every column of the data files.

## Files

| file | what |
|---|---|
{files}

## Reproducing the payouts from the journals

Each pair's journal (`{example}/*.journal`) records every answer, every
round's earnings and totals (`close` entries: `total_1`, `total_2`) and the
payouts made (`report`). A subject's payout is its total credits times
`CreditValue`, held between `MinPayout` and `MaxPayout` (all three in the
journal's `start` entry): check it against `session_payouts.csv`, whose
`payout_before_limits` is the product before the limits.

The bot itself can recompute a completed game's payouts from its journal.
`Resume JOURNAL` makes it replay the journal's entries to where the game
stood and then carry the game on live; it refuses a game that has ended
(the report made, or stopped by the moderator), and a game whose last
round closed without its report makes the report as it resumes. So, in an
empty folder:

1. Copy the pair's `wexbot.conf` and its journal; delete the journal's
   line of the `report` entry (`"kind":"report"`; every line carries its
   own checksum, so the others stay valid).
2. Add `PasswordFile passwords.txt` (a file of two lines of any text),
   `BotPasswordIndex 0` and `Resume JOURNAL` to `wexbot.conf`, and change
   its `Service` to `sim:replay.scenario`, a scenario file of two lines:
   `start 2026-01-01T00:00:00` and `at 5 end` (the simulated service: no
   server is needed).
3. Run `wexbot wexbot.conf`. The bot checks that the journal belongs to the
   configuration, replays it, makes the report and writes it to a new
   `*_payouts.csv` in the folder, to compare with this package's.

A game paid early (`ended` is `paid_now`) or stopped has a `stop` entry,
which the bot will not resume past: check its payouts from the last
`close` entry's totals and the pay rule as above.
"""


def write(folder, lab, session_id, path=None):
    """Writes SESSION.zip (in the folder unless path is given); returns
    its path and the names inside."""
    path = path or os.path.join(folder, f"{session_id}.zip")
    version = software_version()
    found = members(folder, lab)
    names = [name for name, _, _ in found] + ["VERSION.txt", "README.md"]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, source, text in found:
            if source:
                z.write(source, f"{session_id}/{name}")
            else:
                z.writestr(f"{session_id}/{name}", text)
        z.writestr(f"{session_id}/VERSION.txt", version + "\n")
        z.writestr(f"{session_id}/README.md", readme(folder, lab, session_id, version, names))
    return path, names
