"""wexlab say PAIR|all TEXT...: a text to one pair's bot or all, through
the desk when it runs (the answers come back there), else as the
moderator."""

import asyncio
import json
import os
import urllib.request

from ..model import record
from ..model.errors import LabError
from ..runtime import processes, status as statuslib, xmpp
from ..runtime.processes import say_line
from ..servers import server as serverlib


def choose_pairs(lab, which):
    if which == "all":
        return lab.pairs
    for pair in lab.pairs:
        if which in (pair.bot, str(pair.index)):
            return [pair]
    raise LabError(f"no pair {which}: use a pair number, its bot's name or all")


def say_through_desk(folder, pairs, text):
    """Sends through the running desk: the bots' answers go to the desk's
    account, not to the moderator's chat. None when no desk runs."""
    info = statuslib.read_desk_info(folder)
    if info is None or processes.desk_pid(folder) is None:
        return None
    body = json.dumps({"pairs": [p.index for p in pairs], "text": text}).encode()
    base = statuslib.desk_url(info).split("/?token=")[0]
    request = urllib.request.Request(f"{base}/api/say?token={info['token']}", data=body,
                                     method="POST",
                                     headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request, timeout=30) as response:
            return json.loads(response.read())["sent"]
    except OSError as e:
        say_line(f"(the desk did not take it: {e}; sending as the moderator)")
        return None


def run(args):
    folder = os.getcwd()
    lab = record.load(folder)
    pairs = choose_pairs(lab, args.pair)
    text = " ".join(args.text)
    if not serverlib.for_lab(lab, folder).answers():
        raise LabError(f"the lab server at {lab.address}:{lab.port} is not "
                       "running: wexlab resume starts it again")
    sent = say_through_desk(folder, pairs, text)
    if sent is not None:
        for item in sent:
            say_line(f"{item['bot']}: " + (item["answer"] or "sent").replace("\n", " | "))
        return
    asyncio.run(xmpp.say(lab, [p.bot for p in pairs], text))
    say_line(f"Sent to {len(pairs)} bot(s) as {lab.moderator}.")
