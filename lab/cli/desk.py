"""wexlab desk: the address of the running desk."""

import os

from ..model import record
from ..runtime import processes, status as statuslib
from ..runtime.processes import say_line


def run(args):
    folder = os.getcwd()
    record.load(folder)
    info = statuslib.read_desk_info(folder)
    if info is None or processes.desk_pid(folder) is None:
        say_line("The desk is not running: wexlab resume starts it again.")
        return 1
    say_line(statuslib.desk_url(info))
