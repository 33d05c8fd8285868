"""Prosody's accounts and process: prosodyctl makes each account (its
password through standard input), prosody -D starts the server in its
folder, its pid file tells whether it runs."""

import os
import signal
import time

from ...model.accounts import new_password
from ...model.errors import LabError
from ..command import run
from .. import net


def create_accounts(names, domain, cfg):
    """Makes the account of each name (role -> name) with a new password;
    returns role -> {"name", "jid", "password"}."""
    accounts = {}
    for role, name in names.items():
        password = new_password()
        jid = f"{name}@{domain}"
        # The password goes through standard input, not the command line.
        run(["prosodyctl", "--config", cfg, "adduser", jid], f"{password}\n{password}\n")
        accounts[role] = {"name": name, "jid": jid, "password": password}
    return accounts


def running_pid(folder):
    """The pid of the folder's Prosody while it runs (an exited process that
    nobody has reaped yet does not count)."""
    try:
        with open(os.path.join(folder, "prosody.pid")) as f:
            pid = int(f.read().strip())
        os.kill(pid, 0)
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[-1].split()[0] == "Z":
                return None
        return pid
    except (OSError, ValueError, IndexError):
        return None


def start_prosody(folder, address, port):
    if net.port_open(address, port):
        raise LabError(f"something already listens on {address}:{port} "
                       "(another XMPP server?); choose another --port")
    cfg = os.path.join(folder, "prosody.cfg.lua")
    run(["prosody", "--config", cfg, "-D"])
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        if net.port_open(address, port):
            return
        time.sleep(0.1)
    stop_prosody(folder)
    raise LabError(f"Prosody did not start; see {folder}/prosody.err and prosody.log")


def stop_prosody(folder):
    pid = running_pid(folder)
    if pid is None:
        return False
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and running_pid(folder) == pid:
        time.sleep(0.1)
    if running_pid(folder) == pid:
        os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(folder, "prosody.pid"))
    except OSError:
        pass
    return True
