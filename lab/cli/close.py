"""wexlab close: an online session's room admits no one more and sends
whoever waits home with the show-up fee; pairs already formed play on."""

import json
import os
import urllib.error
import urllib.request

from ..model import record
from ..model.errors import LabError
from ..runtime import processes, status
from ..runtime.processes import say_line


def run(args):
    folder = os.getcwd()
    lab = record.load(folder)
    if lab.online is None:
        raise LabError("wexlab close is for an online session (Arrivals on)")
    info = status.read_room_info(folder)
    if not info or processes.room_pid(folder) is None:
        raise LabError("the room does not run (wexlab resume starts it again)")
    request = urllib.request.Request(f"http://127.0.0.1:{info['port']}/api/close", data=b"",
                                     method="POST", headers={"X-Room-Token": info["token"]})
    try:
        with urllib.request.urlopen(request, timeout=10) as answer:
            counts = json.load(answer)
    except (urllib.error.URLError, OSError, ValueError) as e:
        raise LabError(f"the room did not answer: {e}")
    say_line(f"The room is closed: {counts['pairs']} pairs formed; no one more is admitted "
             "and whoever waited has left with the show-up fee.")
