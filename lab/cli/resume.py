"""wexlab resume: the server, the other machines' nodes, the desk and the
supervisor started again; stopped bots resume their games."""

import os

from ..model import record
from ..runtime import processes, proxy_process
from ..runtime.processes import say_line
from ..servers import server as serverlib
from ..web import lifecycle


def run(args):
    folder = os.getcwd()
    lab = record.load(folder)
    mine = processes.local(folder)
    server = serverlib.for_lab(lab, folder)
    if mine["server"] and server.start():
        say_line(f"Lab server running again on {lab.address}:{lab.port}.")
    if mine["server"]:
        server.wait_other_machines(say_line)
    if mine["server"]:
        processes.start_desk(folder, lab)
    if mine["server"] and lifecycle.runs_proxy(lab) and proxy_process.running_pid(folder) is None:
        lifecycle.start_proxy(folder, lab)
    if mine["server"] and lab.online and processes.start_room(folder, lab):
        say_line("The room runs again; it goes on from room.log.")
    if processes.supervisor_pid(folder) is not None:
        say_line("The supervisor runs already.")
        return
    processes.start_supervisor(folder, mine["pairs"])
    say_line("Supervisor running again: running bots are watched, stopped ones resume their "
             "games (see supervisor.log).")
