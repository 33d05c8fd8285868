"""The pairs' bots as processes: starting one in its folder, telling
whether it runs, finding its journal and whether its game has ended."""

import glob
import os
import signal
import subprocess
import time

from ..model import paths

RUN_FILE = "bots.json"  # pair number -> pid of the bot this machine runs


def pair_dir(folder, pair):
    return os.path.join(folder, pair.bot)


def alive(pid, pair_folder=None):
    """True while pid runs (a zombie does not count) and, when pair_folder
    is given, is a wexbot working in that folder."""
    try:
        os.kill(pid, 0)
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[-1].split()[0] == "Z":
                return False
        if pair_folder is not None:
            return os.path.realpath(f"/proc/{pid}/cwd") == os.path.realpath(pair_folder)
        return True
    except (OSError, IndexError):
        return False


def latest(pattern):
    found = sorted(glob.glob(pattern))
    return found[-1] if found else None


def journal(folder, pair, log_file):
    return latest(os.path.join(pair_dir(folder, pair), f"{log_file}_*.journal"))


def game_ended(folder, pair, log_file):
    """The final report has been made: the payouts file has its rows (the
    bot writes the header line when the game begins)."""
    path = latest(os.path.join(pair_dir(folder, pair), f"{log_file}_*_payouts.csv"))
    if path is None:
        return False
    with open(path, encoding="utf-8", errors="replace") as f:
        return sum(1 for line in f if line.strip()) > 1


def resume_config(folder, pair, journal_path):
    """The pair's configuration with Resume naming its journal."""
    directory = pair_dir(folder, pair)
    with open(os.path.join(directory, "wexbot.conf"), encoding="utf-8") as f:
        text = f.read()
    path = os.path.join(directory, "wexbot-resume.conf")
    with open(path, "w", encoding="utf-8") as f:
        f.write(f"Resume {journal_path}\n{text}")
    return "wexbot-resume.conf"


def start(folder, pair, bot_path, config="wexbot.conf"):
    """Starts the pair's bot in its folder, its console appended to
    console.log; returns the Popen."""
    directory = pair_dir(folder, pair)
    env = dict(os.environ, WEX_SETTINGS_DIR=os.path.join(directory, "settings"),
               WEX_PO_DIR=paths.po_dir())
    with open(os.path.join(directory, "console.log"), "ab") as log:
        return subprocess.Popen([bot_path, config], cwd=directory, env=env,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True)


def proc_stats(pid):
    """(peak RSS in KiB, CPU seconds) of a running process, or None."""
    try:
        with open(f"/proc/{pid}/status") as f:
            hwm = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[-1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return hwm, (int(fields[11]) + int(fields[12])) / ticks
    except (OSError, StopIteration, IndexError, ValueError):
        return None


def wait_gone(pids, timeout):
    """Waits up to timeout seconds for the pids to end; returns those left."""
    deadline = time.monotonic() + timeout
    left = [pid for pid in pids if alive(pid)]
    while left and time.monotonic() < deadline:
        time.sleep(0.1)
        left = [pid for pid in left if alive(pid)]
    return left


def terminate(pids, timeout):
    """SIGTERM each pid, wait up to timeout seconds for them to go, then
    SIGKILL the rest; returns the pids that had to be killed."""
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except OSError:
            pass
    left = wait_gone(pids, timeout)
    for pid in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    return left
