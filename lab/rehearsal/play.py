"""A whole session played by robots, for `wexlab rehearse` and `wexlab
bench`: its own session file (rehearsal_session), the session started,
played (robots.py) and stopped, what each bot used (measure) and
rehearsal.json."""

import os
import time

from ..model import placement, record, session_file
from ..model.errors import LabError
from ..model.files import write_json
from ..runtime import bot_check, bots, processes
from ..servers import net, server as serverlib
from ..web import lifecycle

# A rehearsal's own session, without a session file.
REHEARSAL_VALUES = {"ModeratorName": "moderator", "LogFile": "transcript", "MarketBase": "1",
                    "MarketNoiseScale": "0.4", "MarketNoise": "0.25,0.75",
                    "MaxChatTime": "300", "MaxChatIdle": "60"}


def robot_names(pairs):
    return " ".join(f"robot{i:02d}" for i in range(1, 2 * pairs + 1))


def rehearsal_session(folder, args, keys):
    """session.conf of a rehearsal: the keys, treatments, subjects and seed
    of --session (else 3 pairs of robots, 4 rounds, seed 1) with --pairs,
    --rounds and --seed over them, served on a free port of this machine.
    keys: the bot's key table."""
    given = getattr(args, "session", None)
    if given:
        base = session_file.read_session(given, keys)
        values, treatments = dict(base.values), base.treatments
    else:
        values, treatments = dict(REHEARSAL_VALUES), []
        values.update(Subjects=robot_names(3), NRounds="4", Seed="1")
    if args.pairs is not None:
        values["Subjects"] = robot_names(args.pairs)
    if args.rounds is not None:
        values["NRounds"] = str(args.rounds)
    if not given:
        values["ConversationInterval"] = str(max(1, int(values["NRounds"]) // 2))
    if args.seed is not None:
        values["Seed"] = str(args.seed)
    nodes = getattr(args, "nodes", None) or 1
    server = getattr(args, "server", None) or values.get("Server", "prosody")
    if server == "ejabberd":
        values.update(Server="ejabberd", ServerNodes=str(nodes))
    elif nodes != 1:
        raise LabError("--nodes needs --server ejabberd")
    service = net.free_ports(nodes)
    taken = set(range(service, service + nodes))
    values["Service"] = f"xmpp:lab.wex@127.0.0.1:{service};trust=any"
    if "Nodes" in values or "ClusterPort" in values:
        cluster = net.free_ports(1, taken)
        taken.add(cluster)
        values["ClusterPort"] = str(cluster)
    # Robots over the websocket come the web seats' way, with TLS.
    if getattr(args, "via", None) == "websocket":
        if values.get("Web", "").lower() == "off":
            raise LabError("--via websocket needs the web seats (Web off in the session)")
        values["WebTls"] = "on"
    # The web seats on free ports too (one a node), unless the session
    # turned them off.
    if values.get("Web", "").lower() != "off":
        web = net.free_ports(nodes, taken)
        taken.update(range(web, web + nodes))
        values["Web"] = str(web)
    values["Desk"] = str(net.free_ports(1, taken))
    path = os.path.join(folder, "session.conf")
    with open(path, "w", encoding="utf-8") as f:
        f.write(session_file.session_text(values, treatments))
    return path


def measure(folder, lab):
    """Each running bot's (peak RSS KiB, CPU s) and the server's CPU s."""
    running = processes.running_bots(folder, lab)
    stats = {index: bots.proc_stats(pid) for index, pid in running.items()}
    # An ejabberd cluster's nodes count together.
    parts = [bots.proc_stats(pid) for pid in serverlib.for_lab(lab, folder).pids()]
    parts = [p for p in parts if p]
    server_stats = (sum(p[0] for p in parts), sum(p[1] for p in parts)) if parts else None
    return stats, server_stats


def play_session(args, kill_pair=None, blip_pair=None, browser=False, kill_node=None,
                 lag=None, stagger=0.0, before=None):
    """A fresh session played by robots: returns (folder, lab, pairs, notices,
    measurements). A before dict is given what was measured as the play
    began ("measured", as measure's, and "robots_cpu_s"), so the play's
    own CPU can be told from the start's."""
    from . import robots
    if (args.pairs is not None and args.pairs < 1) or (args.rounds is not None and
                                                       args.rounds < 1):
        raise LabError("--pairs and --rounds must be at least 1")
    bot = processes.find_bot(args.bot)
    if getattr(args, "session", None):
        bot_check.read_session(args.session, bot)  # its faults before any folder is made
    folder = os.path.abspath(args.dir or time.strftime(f"{args.command}-%Y%m%d-%H%M%S"))
    if record.exists(folder):
        raise LabError(f"{folder} holds a session already; name a new folder with --dir")
    os.makedirs(folder, exist_ok=True)
    session_path = rehearsal_session(folder, args, bot_check.key_table(bot))
    lab = None
    try:
        lab = lifecycle.start_session(folder, session_path, bot, None, quiet=True)
        rounds = max(record.pair_rounds(lab, pair) for pair in lab.pairs)
        deadline = time.monotonic() + 90 + 30 * rounds + 2 * len(lab.pairs)
        import asyncio
        if before is not None:
            from .bench import own_cpu_seconds
            before.update(measured=measure(folder, lab), robots_cpu_s=own_cpu_seconds())
        if browser and not lab.web:
            raise LabError("--browser needs the web seats")
        if kill_node is not None and not 1 <= kill_node <= placement.node_count(lab):
            raise LabError("--kill-node names one of the session's ejabberd nodes")
        pairs, notices = asyncio.run(robots.play(
            lab, folder, lab.seed, deadline, kill_pair, blip_pair, browser,
            None if kill_node is None else kill_node - 1, lag, stagger,
            getattr(args, "via", None) or "xmpp"))
        measured = measure(folder, lab)
    finally:
        if lab is not None or record.exists(folder):
            lifecycle.stop_session(folder, quiet=True)
    return folder, lab, pairs, notices, measured


def write_result(folder, pairs, notices, measured=None):
    """rehearsal.json: what the robots saw and, for bench, what was measured."""
    result = {"pairs": [{"pair": p.index, "bot": p.bot, "complete": p.complete(),
                         "payouts": p.payouts, "status": p.status, "latencies": p.latencies,
                         "timeouts": p.timeouts, "presence": p.presence} for p in pairs],
              "notices": notices}
    if measured is not None:
        stats, server = measured
        result["bots"] = {str(i): {"peak_rss_kib": s[0], "cpu_seconds": s[1]}
                          for i, s in stats.items() if s}
        result["server"] = {"peak_rss_kib": server[0], "cpu_seconds": server[1]} if server else None
    write_json(os.path.join(folder, "rehearsal.json"), result)
