"""wexlab status [--watch]: one line per pair, read from the session's
files, and what is down with what to run."""

import os
import sys
import time

from ..model import placement, record
from ..runtime import processes, proxy_process, status as statuslib
from ..runtime.processes import say_line
from ..servers import net, policy, server as serverlib


def status_lines(folder, lab):
    """The table of `wexlab status`, and what is down with what to run."""
    server_up = serverlib.for_lab(lab, folder).answers()
    state = statuslib.build(folder, lab, server_up=server_up)
    lines = statuslib.table(state)
    mine = processes.local(folder)
    if not server_up:
        lines.append(f"The lab server at {lab.address}:{lab.port} is not running: "
                     "wexlab resume starts it again.")
    if processes.supervisor_pid(folder) is None and mine["pairs"]:
        lines.append("The supervisor is not running: wexlab resume starts it again.")
    for index in placement.remote_nodes(lab) if mine["server"] else ():
        node = lab.nodes[index]
        if not net.port_open(node.address, node.port):
            lines.append(f"ejabberd node {index + 1} on {node.host} does not answer on "
                         f"{node.address}:{node.port}: run wexlab node serve there again.")
    if mine["server"] and processes.desk_pid(folder) is None:
        lines.append("The desk is not running: wexlab resume starts it again.")
    if mine["server"] and lab.online and processes.room_pid(folder) is None:
        lines.append("The room is not running: wexlab resume starts it again.")
    if mine["server"] and lab.online and lab.online.proxy and \
            proxy_process.running_pid(folder) is None:
        lines.append("The proxy (nginx) is not running: wexlab resume starts it again.")
    note = policy.refusals_note(folder)
    if note:
        lines.append(note)
    return lines


def run(args):
    """Reads the files only: nothing reaches the moderator's chat."""
    folder = os.getcwd()
    lab = record.load(folder)
    if not args.watch:
        for line in status_lines(folder, lab):
            say_line(line)
        return
    while True:
        lines = status_lines(folder, lab)
        sys.stdout.write("\033[H\033[J" + time.strftime("%H:%M:%S  (Ctrl-C ends)\n") +
                         "\n".join(lines) + "\n")
        sys.stdout.flush()
        time.sleep(1)
