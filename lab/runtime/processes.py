"""The session's processes on this machine and their files: the wexbot to
run, the supervisor (wexlab _supervise) and the desk (wexlab _desk), each
a process of its own found by its pid in bots.json or desk.json, and
local.json, which says which pairs' bots and whether the server run here."""

import os
import shutil
import subprocess
import sys
import time

from ..model import paths
from ..model.errors import LabError
from ..model.files import read_json, write_json
from ..servers import net
from . import bots, status as statuslib

ONLINE = "wexbot online and ready."


def say_line(text):
    print(text, flush=True)


def executable(path):
    return bool(path) and os.path.isfile(path) and os.access(path, os.X_OK)


def find_bot(given):
    # The wexbot named by --bot, and no other; else $WEXBOT, from the
    # source tree its release build, installed (paths.HOME is
    # PREFIX/lib/wex) the wexbot of the same PREFIX/bin.
    if given:
        if not executable(given):
            raise LabError(f"no wexbot program at {given}")
        return os.path.abspath(given)
    candidates = [os.environ.get("WEXBOT"),
                  os.path.join(paths.HOME, "out", "release", "bot", "wexbot"),
                  os.path.join(os.path.dirname(os.path.dirname(paths.HOME)), "bin", "wexbot"),
                  shutil.which("wexbot")]
    for path in candidates:
        if executable(path):
            return os.path.abspath(path)
    raise LabError("wexbot not found: build it (scripts/build.sh release) or name it "
                   "with --bot PATH")


def run_file(folder):
    path = os.path.join(folder, bots.RUN_FILE)
    return read_json(path) if os.path.exists(path) else {"bots": {}}


def supervisor_pid(folder):
    pid = run_file(folder).get("supervisor")
    if not pid or not bots.alive(pid):
        return None
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return pid if b"_supervise" in f.read() else None
    except OSError:
        return None


def local(folder):
    path = os.path.join(folder, "local.json")
    return read_json(path) if os.path.exists(path) else {"pairs": [], "server": False}


def start_supervisor(folder, indexes):
    try:
        os.remove(os.path.join(folder, "stopping"))
    except OSError:
        pass
    with open(os.path.join(folder, "supervisor.log"), "ab") as log:
        subprocess.Popen([sys.executable, paths.launcher(), "_supervise", "--dir", folder,
                          "--pairs", ",".join(map(str, indexes)) or "none"],
                         cwd=folder, stdin=subprocess.DEVNULL, stdout=log,
                         stderr=subprocess.STDOUT, start_new_session=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and supervisor_pid(folder) is None:
        time.sleep(0.1)
    if supervisor_pid(folder) is None:
        raise LabError(f"the supervisor did not start; see {folder}/supervisor.log")


def desk_pid(folder):
    info = statuslib.read_desk_info(folder)
    pid = info and info.get("pid")
    if not pid or not bots.alive(pid):
        return None
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return pid if b"_desk" in f.read() else None
    except OSError:
        return None


def start_desk(folder, lab):
    """Starts the desk beside the session (a process of its own, like the
    supervisor) with a new token; says where it is, or why not."""
    if desk_pid(folder) is not None:
        return True
    settings = lab.desk
    if net.port_open(settings.address, settings.port):
        say_line(f"The desk did not start: something already listens on {settings.address}:"
                 f"{settings.port} (choose another port with the session key Desk).")
        return False
    info = {"address": settings.address, "port": settings.port, "token": statuslib.new_token()}
    write_json(os.path.join(folder, statuslib.DESK_FILE), info, private=True)
    with open(os.path.join(folder, "desk-console.log"), "ab") as log:
        subprocess.Popen([sys.executable, paths.launcher(), "_desk", "--dir", folder], cwd=folder,
                         stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                         start_new_session=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and not net.port_open(info["address"], info["port"]):
        time.sleep(0.1)
    if desk_pid(folder) is None:
        say_line(f"The desk did not start; see {folder}/desk-console.log")
        return False
    say_line(f"The desk: {statuslib.desk_url(info)}")
    return True


def stop_desk(folder):
    pid = desk_pid(folder)
    if pid is not None:
        bots.terminate([pid], 10)


def room_pid(folder):
    info = statuslib.read_room_info(folder)
    pid = info and info.get("pid")
    if not pid or not bots.alive(pid):
        return None
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return pid if b"_room" in f.read() else None
    except OSError:
        return None


def start_room(folder, lab):
    """Starts an online session's room (a process of its own, like the
    desk) on 127.0.0.1; a new token unless room.json has one already,
    so a room started again keeps what wexlab close uses."""
    if room_pid(folder) is not None:
        return True
    port = lab.online.room_port
    if net.port_open("127.0.0.1", port):
        say_line(f"The room did not start: something already listens on 127.0.0.1:{port} "
                 "(choose another port with the session key Room).")
        return False
    old = statuslib.read_room_info(folder) or {}
    info = {"port": port, "token": old.get("token") or statuslib.new_token()}
    write_json(os.path.join(folder, statuslib.ROOM_FILE), info, private=True)
    with open(os.path.join(folder, "room-console.log"), "ab") as log:
        subprocess.Popen([sys.executable, paths.launcher(), "_room", "--dir", folder], cwd=folder,
                         stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                         start_new_session=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and not net.port_open("127.0.0.1", port):
        time.sleep(0.1)
    if room_pid(folder) is None:
        say_line(f"The room did not start; see {folder}/room-console.log")
        return False
    return True


def stop_room(folder):
    pid = room_pid(folder)
    if pid is not None:
        bots.terminate([pid], 10)


def last_line(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = [line.rstrip("\n") for line in f if line.strip()]
        return lines[-1] if lines else "(nothing)"
    except OSError:
        return "(no console.log)"


def wait_online(folder, lab, indexes, timeout=30):
    """Waits until each of these pairs' bots has signed on; says which did not."""
    waiting = {i for i in indexes}
    deadline = time.monotonic() + timeout
    pairs = {p.index: p for p in lab.pairs}
    while waiting and time.monotonic() < deadline:
        for index in list(waiting):
            path = os.path.join(folder, pairs[index].bot, "console.log")
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    if ONLINE in f.read():
                        waiting.discard(index)
            except OSError:
                pass
        time.sleep(0.2)
    for index in sorted(waiting):
        bot = pairs[index].bot
        say_line(f"{bot}: bot not online yet; its console says: "
                 f"{last_line(os.path.join(folder, bot, 'console.log'))}")
    return not waiting


def running_bots(folder, lab):
    """pair number -> pid of the bots running on this machine."""
    pids = {}
    for index, pid in run_file(folder)["bots"].items():
        pair = lab.pairs[int(index) - 1]
        if bots.alive(pid, bots.pair_dir(folder, pair)):
            pids[int(index)] = pid
    return pids
