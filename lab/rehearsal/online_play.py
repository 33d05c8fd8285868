"""`wexlab rehearse --arrivals N --over SECONDS`: an online session of its
own, robots arriving at seeded random times through the room, the session
stopped (which collects), every outcome, code and payout checked against
the files, and the timings."""

import asyncio
import os
import time
from dataclasses import dataclass, field
from typing import Dict, List

from ..model import placement, record, session_file
from ..model.errors import LabError
from ..runtime import bot_check, processes
from ..servers import net
from ..web import lifecycle
from . import arrivals, outcomes
from .play import REHEARSAL_VALUES

COMPLETION_CODE = "WEX-DONE"
NO_PARTNER_CODE = "WEX-NOPARTNER"
COMPLETION_URL = "https://example.org/done?code={code}&label={label}"
SHOW_UP_FEE = "1.00"
DROPOUT_AFTER = 5  # seconds offline before a dropout; small, so rehearsals are short
WAIT_TIMEOUT = 15  # seconds in the room before the no-partner exit


@dataclass
class Result:
    folder: str
    visits: List[arrivals.Visit]
    faults: List[str]
    counts: Dict[str, int]
    delays: Dict[str, float] = field(default_factory=dict)
    pairs_completed: int = 0
    max_pairs: int = 0
    seconds: float = 0.0
    stages: Dict[str, Dict[str, float]] = field(default_factory=dict)


def max_pairs_for(count, late):
    """The cap: the pairs the on-time arrivals can make, so the late ones
    find it reached."""
    return max(1, (count - late) // 2)


def online_values(args, keys, folder):
    """The session's values: the rehearsal's game, Arrivals on, the cap and
    the codes, every port free on this machine."""
    values = dict(REHEARSAL_VALUES)
    rounds = args.rounds or 3
    # One break at most (after the last round none): a dropout cannot say done.
    values.update(NRounds=str(rounds), ConversationInterval=str(rounds),
                  Seed=str(args.seed if args.seed is not None else 1),
                  MaxChatTime="20", MaxChatIdle="10",
                  # Payouts that differ from subject to subject, so each is checked.
                  CreditValue="0.05", MinPayout="1", MaxPayout="100")
    values.update(Arrivals="on", MaxPairs=str(max_pairs_for(args.arrivals, args.late)),
                  WaitTimeout=str(args.wait_timeout), ShowUpFee=SHOW_UP_FEE,
                  CompletionCode=COMPLETION_CODE, NoPartnerCode=NO_PARTNER_CODE,
                  CompletionUrl=COMPLETION_URL, PublicHost="127.0.0.1",
                  Proxy=args.proxy)
    if "DropoutAfter" in keys:
        values["DropoutAfter"] = str(DROPOUT_AFTER)
    elif args.dropouts:
        raise LabError("--dropouts needs a wexbot that knows DropoutAfter")
    taken = set()
    ports = []
    for _ in range(5):
        port = net.free_ports(1, taken)
        taken.add(port)
        ports.append(port)
    service, web, desk, room, proxy = ports
    values["Service"] = f"xmpp:lab.wex@127.0.0.1:{service};trust=any"
    values.update(Web=str(web), Desk=str(desk), Room=str(room), ProxyPort=str(proxy))
    path = os.path.join(folder, "session.conf")
    with open(path, "w", encoding="utf-8") as f:
        f.write(session_file.session_text(values, []))
    return path


def endpoints_of(lab):
    """Behind the proxy one origin; without it the room's own port and the
    seats' (Prosody's web port)."""
    online = lab.online
    if online.proxy:
        base = f"https://127.0.0.1:{online.proxy_port}"
        return arrivals.Endpoints(base, base, lab.session_id)
    return arrivals.Endpoints(f"http://127.0.0.1:{online.room_port}",
                              placement.origin(lab), lab.session_id)


def play_arrivals(args):
    """A fresh online session played by arriving robots: the Result."""
    if args.arrivals < 2 or args.over < 0 or args.late < 0 or args.dropouts < 0 or \
            args.late >= args.arrivals - 1:
        raise LabError("--arrivals needs at least 2 robots, more than --late + 1; --over, "
                       "--late and --dropouts at least 0")
    bot = processes.find_bot(args.bot)
    folder = os.path.abspath(args.dir or time.strftime("rehearse-%Y%m%d-%H%M%S"))
    if record.exists(folder):
        raise LabError(f"{folder} holds a session already; name a new folder with --dir")
    os.makedirs(folder, exist_ok=True)
    session_path = online_values(args, bot_check.key_table(bot), folder)
    lab = None
    began = time.time()
    try:
        lab = lifecycle.start_session(folder, session_path, bot, None, quiet=True)
        max_pairs = lab.online.max_pairs
        plans = arrivals.plan_arrivals(args.arrivals, args.over, args.dropouts, args.late,
                                       lab.seed, max_pairs)
        rounds = max(record.pair_rounds(lab, pair) for pair in lab.pairs)
        start = time.time() + 1
        deadline = (start + args.over + lab.online.wait_timeout + 60 + 40 * rounds +
                    DROPOUT_AFTER * 4)
        run = arrivals.Run(lab, endpoints_of(lab), lab.seed, DROPOUT_AFTER, max_pairs)
        make = None
        if args.browser:
            make = browser_maker(lab, plans)
        visits = asyncio.run(arrivals.arrive_all(run, plans, start, deadline, make))
        # The room sends the last ones home after WaitTimeout; wait for it.
        wait_for_room(folder, len(plans), time.time() + lab.online.wait_timeout + 10)
    finally:
        if lab is not None or record.exists(folder):
            lifecycle.stop_session(folder, quiet=True)
    truth = outcomes.read_truth(folder, lab)
    faults, counts = outcomes.check(visits, truth, lab.online,
                                    outcomes.read_participants(folder))
    if len(truth) != len(plans):
        faults.append(f"room.log has {len(truth)} arrivals, {len(plans)} robots came")
    return Result(folder, visits, faults, dict(counts), arrivals.first_question_delays(visits),
                  sum(1 for bot in {v.bot for v in visits if v.bot}
                      if all(truth[v.plan.label].outcome in ("completed", "replaced")
                             for v in visits if v.bot == bot)),
                  max_pairs, time.time() - began, arrivals.stage_delays(visits))


def browser_maker(lab, plans):
    """Two arrivals come in headless Chromium through the study link: the
    first two that neither drop out nor come late."""
    from . import browser, browser_arrivals
    if not lab.online.proxy:
        raise LabError("--browser needs --proxy on: the waiting page hands over to the seat "
                       "page on the same origin")
    for plan in [p for p in plans if not (p.dropout or p.late or p.hidden)][:2]:
        plan.browser = True
    if lab.online.proxy:
        # The lab's own certificate on loopback: Chromium cannot know it.
        browser.FLAGS += ("--ignore-certificate-errors",)
    study_link = f"{endpoints_of(lab).room}/join/{lab.session_id}"
    return browser_arrivals.maker(study_link, lab.online.label_parameter)


def wait_for_room(folder, count, deadline):
    """Until room.log has an ending (pair or exit) for every arrival."""
    while time.time() < deadline:
        entries = outcomes.read_json_lines(os.path.join(folder, outcomes.ROOM_LOG))
        settled = sum(len(e.get("tickets", [])) if e.get("kind") == "pair" else 1
                      for e in entries if e.get("kind") in ("pair", "exit"))
        if settled >= count:
            return
        time.sleep(0.5)


def stages_line(stages):
    """Where that time went: p50/p99 seconds from the later arrival to each
    step the robots saw."""
    parts = []
    for name in ("seated", "signed_in", "bot_online", "reply", "question"):
        values = sorted(steps[name] for steps in stages.values() if name in steps)
        if values:
            parts.append(f"{name.replace('_', ' ')} {arrivals.percentile(values, 0.5):.2f}/"
                         f"{arrivals.percentile(values, 0.99):.2f}")
    return "  steps from that arrival, p50/p99 s: " + (", ".join(parts) or "none seen")


def report_lines(result):
    """What rehearse prints."""
    delays = sorted(result.delays.values())
    lines = [f"{len(result.visits)} robots arrived (cap {result.max_pairs} pairs) in "
             f"{result.seconds:.0f} s",
             f"from a partner's arrival to the game's first question: p50 "
             f"{arrivals.percentile(delays, 0.5):.2f} s, p99 "
             f"{arrivals.percentile(delays, 0.99):.2f} s, max "
             f"{max(delays, default=float('nan')):.2f} s over {len(delays)} pairs",
             stages_line(result.stages),
             f"pairs completed: {result.pairs_completed} of {result.max_pairs}",
             "outcomes: " + ", ".join(f"{name} {count}"
                                      for name, count in sorted(result.counts.items()))]
    lines += [f"FAULT {fault}" for fault in result.faults]
    lines.append(f"Session folder: {result.folder}")
    return lines
