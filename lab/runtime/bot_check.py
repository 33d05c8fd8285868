"""The session file checked by the wexbot that will play it: its key table
(`wexbot --keys=json`, asked once per wexbot and command) for the keys
there are, and `wexbot --check-config` on the configuration each
treatment's pairs get, so that wexlab refuses what a bot would refuse,
in the bot's own words, before any server or bot starts."""

import os
import re
import subprocess
import tempfile

from ..model import bot_keys, matching, paths, session_file
from ..model.bot_config import bot_config
from ..model.errors import LabError, SessionError, file_fault, line_fault

# Long enough for a loaded machine; the bot reads a file and prints.
TIMEOUT = 30
_tables = {}  # the wexbot's real path -> its key table


def run_bot(bot, args):
    """The wexbot's (exit status, stdout, stderr); LabError names the
    program when it cannot be run."""
    try:
        # The catalogues the bots will get, so a Language is judged by them.
        done = subprocess.run([bot, *args], capture_output=True, text=True, errors="replace",
                              stdin=subprocess.DEVNULL, timeout=TIMEOUT,
                              env=dict(os.environ, WEX_PO_DIR=paths.po_dir()))
    except OSError as e:
        raise LabError(f"cannot run the wexbot program {bot}: {e.strerror}")
    except subprocess.TimeoutExpired:
        raise LabError(f"{bot} {' '.join(args)} gave no answer in {TIMEOUT} s")
    return done.returncode, done.stdout, done.stderr


def failed(bot, args, code, stderr):
    said = stderr.strip().splitlines()
    return LabError(f"{bot} {' '.join(args)} failed (exit status {code})" +
                    (f": {said[-1]}" if said else "") +
                    "; is it a wexbot of this wexlab's version?")


def key_table(bot):
    """The bot's key table, from `BOT --keys=json`."""
    real = os.path.realpath(bot)
    if real not in _tables:
        args = ["--keys=json"]
        code, out, err = run_bot(bot, args)
        if code != 0:
            raise failed(bot, args, code, err)
        try:
            _tables[real] = bot_keys.parse_keys(out)
        except ValueError as e:
            raise LabError(f"{bot} --keys=json printed no key table wexlab can read: {e}")
    return _tables[real]


def config_faults(bot, path):
    """The faults `BOT --check-config PATH` finds: (line, reason) pairs,
    line 0 for those of the whole file."""
    args = ["--check-config", path]
    code, out, err = run_bot(bot, args)
    if code == 0:
        return []
    faults = []
    for text in err.splitlines():
        if not text.startswith(path + ":"):
            continue  # not one of its fault lines
        found = re.match(r"(\d+): (.*)", text[len(path) + 1:])
        faults.append((int(found.group(1)), found.group(2)) if found else
                      (0, text[len(path) + 1:].strip()))
    if code != 1 or not faults:
        raise failed(bot, args, code, err)
    return faults


def line_keys(text):
    """line number -> the key of that line of a bot configuration."""
    keys = {}
    for number, line in enumerate(text.split("\n"), start=1):
        if line and not line.startswith("#"):
            keys[number] = line.split(" ", 1)[0]
    return keys


def session_fault(session, treatment, key, reason):
    """A fault the bot found at key's line, as the session file's fault:
    (its line, its text), at the key's line of the session file or, for a
    treatment, at its Treatment line of that key (else its first), naming
    the treatment."""
    path = session.path
    if treatment is None:
        number = session.lines.get(key, 0)
        return number, str(file_fault(path, number, reason))
    lines = treatment.lines
    number = lines.get(key) or min(lines.values(), default=treatment.line)
    return number, str(line_fault(path, number, session.raw_lines.get(number, ""),
                                  f"with treatment {treatment.name}'s values {reason}"))


def check_session(session, bot):
    """Runs `BOT --check-config` on the configuration a pair would get
    with the session's own values and with each treatment's (the first
    pair's names); raises SessionError with every fault of the first
    configuration that has any, each at its line of the session file, in
    the file's order."""
    first = matching.match(session.subjects, session.seed)[0]
    name = matching.pair_name(1, session.pair_count())
    # A treatment that sets nothing plays the session's own configuration.
    played = [None] + [t for t in session.treatments if t.values]
    with tempfile.TemporaryDirectory(prefix="wexlab-check-") as folder:
        path = os.path.join(folder, "wexbot.conf")
        for treatment in played:
            text = bot_config(session, name, first[0], first[1],
                              treatment and treatment.name)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            faults = config_faults(bot, path)
            if faults:
                keys = line_keys(text)
                found = sorted((session_fault(session, treatment, keys.get(line), reason)
                                for line, reason in faults),
                               key=lambda fault: fault[0] or float("inf"))
                raise SessionError("\n".join(fault for _, fault in found))


def read_session(path, bot):
    """The session file at path, read with bot's key table and checked by
    it; SessionError names the line and the reason of a fault."""
    session = session_file.read_session(path, key_table(bot))
    check_session(session, bot)
    return session
