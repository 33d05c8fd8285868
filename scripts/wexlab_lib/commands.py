"""The commands of wexlab; each works in the session folder."""

import os
import shutil
import socket
import subprocess
import sys
import time

from . import SCRIPTS, bots, cards as cardslib, collect as collectlib, lab as lablib, report
from . import nodes as nodeslib, report_summary, seats
from . import session as sessionlib, status as statuslib

WEXLAB = os.path.join(SCRIPTS, "wexlab")
ONLINE = "wexbot online and ready."


def say_line(text):
    print(text, flush=True)


def find_bot(given):
    # From the source tree, its release build; installed (SCRIPTS is
    # PREFIX/lib/wex), the wexbot of the same PREFIX/bin.
    candidates = [given, os.environ.get("WEXBOT"),
                  os.path.join(os.path.dirname(SCRIPTS), "out", "release", "bot", "wexbot"),
                  os.path.join(os.path.dirname(os.path.dirname(SCRIPTS)), "bin", "wexbot"),
                  shutil.which("wexbot")]
    for path in candidates:
        if path and os.path.isfile(path) and os.access(path, os.X_OK):
            return os.path.abspath(path)
    if given:
        raise lablib.LabError(f"no wexbot program at {given}")
    raise lablib.LabError("wexbot not found: build it (scripts/build.sh release) or name it "
                          "with --bot PATH")


def run_file(folder):
    path = os.path.join(folder, bots.RUN_FILE)
    return lablib.read_json(path) if os.path.exists(path) else {"bots": {}}


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
    return lablib.read_json(path) if os.path.exists(path) else {"pairs": [], "server": False}


def start_supervisor(folder, indexes):
    try:
        os.remove(os.path.join(folder, "stopping"))
    except OSError:
        pass
    with open(os.path.join(folder, "supervisor.log"), "ab") as log:
        subprocess.Popen([sys.executable, WEXLAB, "_supervise", "--dir", folder,
                          "--pairs", ",".join(map(str, indexes)) or "none"],
                         cwd=folder, stdin=subprocess.DEVNULL, stdout=log,
                         stderr=subprocess.STDOUT, start_new_session=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and supervisor_pid(folder) is None:
        time.sleep(0.1)
    if supervisor_pid(folder) is None:
        raise lablib.LabError(f"the supervisor did not start; see {folder}/supervisor.log")


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
    settings = statuslib.desk_settings(lab)
    if lablib.lab_server.port_open(settings["address"], settings["port"]):
        say_line(f"The desk did not start: something already listens on {settings['address']}:"
                 f"{settings['port']} (choose another port with the session key Desk).")
        return False
    info = {"address": settings["address"], "port": settings["port"], "token": statuslib.new_token()}
    lablib.write_json(os.path.join(folder, statuslib.DESK_FILE), info, private=True)
    with open(os.path.join(folder, "desk-console.log"), "ab") as log:
        subprocess.Popen([sys.executable, WEXLAB, "_desk", "--dir", folder], cwd=folder,
                         stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                         start_new_session=True)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and not lablib.lab_server.port_open(info["address"],
                                                                          info["port"]):
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
    pairs = {p["index"]: p for p in lab["pairs"]}
    while waiting and time.monotonic() < deadline:
        for index in list(waiting):
            path = os.path.join(folder, pairs[index]["bot"], "console.log")
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    if ONLINE in f.read():
                        waiting.discard(index)
            except OSError:
                pass
        time.sleep(0.2)
    for index in sorted(waiting):
        bot = pairs[index]["bot"]
        say_line(f"{bot}: bot not online yet; its console says: "
                 f"{last_line(os.path.join(folder, bot, 'console.log'))}")
    return not waiting


def start_session(folder, session_path, bot_path, only, quiet=False):
    session = sessionlib.read_session(session_path)
    indexes = sessionlib.parse_only(only, session.pair_count())
    folder = os.path.abspath(folder)
    if os.path.exists(os.path.join(folder, "lab.json")):
        if only is None:
            raise lablib.LabError(f"a session was started in {folder} already: wexlab resume "
                                  "continues it; a new session needs a new folder")
        if supervisor_pid(folder) is not None:
            raise lablib.LabError("a supervisor runs in this folder already")
        lablib.lab_server.make_private_dir(folder)
        lab = lablib.load(folder)  # pairs' bots on a machine beside the server
        lab["bot_path"] = find_bot(bot_path)
        lablib.write_json(os.path.join(folder, "lab.json"), lab, private=True)
        lablib.write_json(os.path.join(folder, "local.json"), {"pairs": indexes, "server": False})
        if os.path.exists(os.path.join(folder, bots.RUN_FILE)):
            os.remove(os.path.join(folder, bots.RUN_FILE))
    else:
        lab = lablib.new_lab(session, find_bot(bot_path))
        if lablib.lab_server.port_open(lab["address"], lab["port"]):
            raise lablib.LabError(f"something already listens on {lab['address']}:{lab['port']}"
                                  " (another lab server?); choose another port in the Service")
        if lab["web"] and lablib.lab_server.port_open(lab["address"], lab["web"]["port"]):
            raise lablib.LabError(f"something already listens on {lab['address']}:"
                                  f"{lab['web']['port']}; choose another Web port or Web off")
        lablib.lab_server.make_private_dir(folder)  # it holds every password
        lablib.set_up_server(lab, folder, lab["plain"])
        lablib.write_json(os.path.join(folder, "lab.json"), lab, private=True)
        with open(os.path.join(folder, "matching.csv"), "w", encoding="utf-8") as f:
            f.write(lablib.matching_text(lab))
        lablib.write_pair_folders(lab, session, folder)
        lablib.start_server(lab, folder)
        lablib.write_json(os.path.join(folder, "local.json"), {"pairs": indexes, "server": True})
        cards = lablib.login_cards(lab)
        lablib.lab_server.write_private(os.path.join(folder, "logins.txt"), cards + "\n")
        seats.write_seats(lab, folder)
        if lab["web"]:
            cardslib.write_cards(lab, folder)
        if not quiet:
            say_line(cards)
        say_line(f"Lab server running on {lab['address']}:{lab['port']}; the login cards are "
                 f"in {folder}/logins.txt; the matching in matching.csv.")
        if lab["web"]:
            where = " (and each ejabberd node on the next ports)" if \
                lablib.ejabberd.node_count(lab) > 1 else ""
            say_line(f"Seats in a browser: {seats.origin(lab)}/{where} with each participant's "
                     f"link in seats.csv (wexlab seats) and printable cards in "
                     f"{folder}/cards.html.")
        nodeslib.wait_joined(lab, folder, say_line)  # other machines' nodes, before any bot
    start_supervisor(folder, indexes)
    if local(folder)["server"]:
        start_desk(folder, lab)
    if indexes:
        ready = wait_online(folder, lab, indexes)
        say_line(f"{len(indexes)} bots started" + ("" if ready else " (see above)") +
                 "; wexlab status shows where each pair stands.")
    return lab


def command_start(args):
    start_session(os.getcwd(), args.session, args.bot, args.only)


def command_resume(args):
    folder = os.getcwd()
    lab = lablib.load(folder)
    mine = local(folder)
    if mine["server"] and lablib.start_server(lab, folder):
        say_line(f"Lab server running again on {lab['address']}:{lab['port']}.")
    if mine["server"]:
        nodeslib.wait_joined(lab, folder, say_line)
    if mine["server"]:
        start_desk(folder, lab)
    if supervisor_pid(folder) is not None:
        say_line("The supervisor runs already.")
        return
    start_supervisor(folder, mine["pairs"])
    say_line("Supervisor running again: running bots are watched, stopped ones resume their "
             "games (see supervisor.log).")


def command_node(args):
    if args.node_command == "serve":
        nodeslib.serve(args.kit, args.dir, say_line)
        return
    folder = os.getcwd()
    lab = lablib.load(folder)
    if not local(folder)["server"]:
        raise lablib.LabError("wexlab node add runs in the session folder of the server's "
                              "machine")
    if not lab.get("cluster_port"):
        raise lablib.LabError("this session's server is not open to other machines: name them "
                              "in the session file's Nodes (or set ClusterPort) before "
                              "wexlab start")
    index, new = nodeslib.add(lab, folder, args.host)
    if new:
        lablib.write_json(os.path.join(folder, "lab.json"), lab, private=True)
    nodeslib.wait_joined(lab, folder, say_line, [index], again=f"wexlab node add {args.host}")
    node = lab["nodes"][index]
    say_line(f"ejabberd node {index + 1} ({node['name']}) is in the session's cluster" +
             ("; no participant signs on to it: where each one signs on was fixed when the "
              "session started (the session file's Nodes places participants)." if new else "."))


def command_seats(args):
    say_line(seats.table(seats.read_seats(os.getcwd())))


def choose_pairs(lab, which):
    if which == "all":
        return lab["pairs"]
    for pair in lab["pairs"]:
        if which in (pair["bot"], str(pair["index"])):
            return [pair]
    raise lablib.LabError(f"no pair {which}: use a pair number, its bot's name or all")


def say_through_desk(folder, pairs, text):
    """Sends through the running desk: the bots' answers go to the desk's
    account, not to the moderator's chat. None when no desk runs."""
    import json
    import urllib.request
    info = statuslib.read_desk_info(folder)
    if info is None or desk_pid(folder) is None:
        return None
    body = json.dumps({"pairs": [p["index"] for p in pairs], "text": text}).encode()
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


def command_say(args):
    folder = os.getcwd()
    lab = lablib.load(folder)
    pairs = choose_pairs(lab, args.pair)
    text = " ".join(args.text)
    if not lablib.lab_server.port_open(lab["address"], lab["port"]):
        raise lablib.LabError(f"the lab server at {lab['address']}:{lab['port']} is not "
                              "running: wexlab resume starts it again")
    sent = say_through_desk(folder, pairs, text)
    if sent is not None:
        for item in sent:
            say_line(f"{item['bot']}: " + (item["answer"] or "sent").replace("\n", " | "))
        return
    import asyncio
    from . import xmpp
    asyncio.run(xmpp.say(lab, [p["bot"] for p in pairs], text))
    say_line(f"Sent to {len(pairs)} bot(s) as {lab['moderator']}.")


def running_bots(folder, lab):
    """pair number -> pid of the bots running on this machine."""
    pids = {}
    for index, pid in run_file(folder)["bots"].items():
        pair = lab["pairs"][int(index) - 1]
        if bots.alive(pid, bots.pair_dir(folder, pair)):
            pids[int(index)] = pid
    return pids


def command_desk(args):
    folder = os.getcwd()
    lablib.load(folder)
    info = statuslib.read_desk_info(folder)
    if info is None or desk_pid(folder) is None:
        say_line("The desk is not running: wexlab resume starts it again.")
        return 1
    say_line(statuslib.desk_url(info))


def status_lines(folder, lab):
    """The table of `wexlab status`, and what is down with what to run."""
    server_up = lablib.lab_server.port_open(lab["address"], lab["port"])
    state = statuslib.build(folder, lab, server_up=server_up)
    lines = statuslib.table(state)
    mine = local(folder)
    if not server_up:
        lines.append(f"The lab server at {lab['address']}:{lab['port']} is not running: "
                     "wexlab resume starts it again.")
    if supervisor_pid(folder) is None and mine["pairs"]:
        lines.append("The supervisor is not running: wexlab resume starts it again.")
    for index in nodeslib.remote_nodes(lab) if mine["server"] else ():
        node = lab["nodes"][index]
        if not lablib.lab_server.port_open(node["address"], node["port"]):
            lines.append(f"ejabberd node {index + 1} on {node['host']} does not answer on "
                         f"{node['address']}:{node['port']}: run wexlab node serve there again.")
    if mine["server"] and desk_pid(folder) is None:
        lines.append("The desk is not running: wexlab resume starts it again.")
    note = lablib.refusals_note(folder)
    if note:
        lines.append(note)
    return lines


def command_status(args):
    """Reads the files only: nothing reaches the moderator's chat."""
    folder = os.getcwd()
    lab = lablib.load(folder)
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


def stop_session(folder, quiet=False):
    """Stops the supervisor and every bot of this machine (SIGTERM), then
    collects, then stops the server if it runs here."""
    lab = lablib.load(folder)
    with open(os.path.join(folder, "stopping"), "w") as f:
        f.write("wexlab stop\n")
    supervisor = supervisor_pid(folder)
    if supervisor is not None:
        bots.terminate([supervisor], 10)
    running = running_bots(folder, lab)
    killed = bots.terminate(list(running.values()), 20)
    if not quiet:
        say_line(f"{len(running)} bots stopped" +
                 (f" ({len(killed)} did not stop in time and were killed)" if killed else ""))
    try:
        command_collect_in(folder, lab, quiet)
    except (OSError, ValueError) as e:
        say_line(f"wexlab: the data could not be merged ({e}); wexlab collect tries again")
    stop_desk(folder)
    if local(folder)["server"] and lablib.is_ejabberd(lab):
        # The other machines' nodes first: node 1, stopping last, keeps the
        # newest copy of the cluster's tables for its next start.
        for line in nodeslib.stop_remote(lab, folder):
            say_line(line)
    if local(folder)["server"] and lablib.stop_server(folder):
        if not quiet:
            say_line("Lab server stopped.")
    note = lablib.refusals_note(folder)
    if note and not quiet:
        say_line(note)


def command_stop(args):
    stop_session(os.getcwd())


def command_collect_in(folder, lab, quiet=False):
    tables = collectlib.collect(folder, lab)
    with open(os.path.join(folder, "report.html"), "w", encoding="utf-8") as f:
        f.write(report.render(lab, tables, lab["rounds"],
                              report_summary.render_top(folder, lab, tables),
                              report_summary.render_bottom(lab, tables)))
    if not quiet:
        say_line(f"Collected {len(tables['rounds'])} round rows, {len(tables['chat'])} chat "
                 f"lines and {len(tables['payouts'])} payouts into session_*.csv; the report "
                 f"is {folder}/report.html")
    return tables


def command_collect(args):
    folder = os.getcwd()
    command_collect_in(folder, lablib.load(folder))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_ports(count, avoid=()):
    """The first of count consecutive free ports of 127.0.0.1, none of them
    in avoid (ports chosen already but not yet listened on)."""
    for _ in range(100):
        first = free_port()
        ports = range(first, first + count)
        if first + count <= 65536 and not set(ports) & set(avoid) and all(
                not lablib.lab_server.port_open("127.0.0.1", p) for p in ports[1:]):
            return first
    raise lablib.LabError(f"found no {count} consecutive free ports")


# A rehearsal's own session, without a session file.
REHEARSAL_VALUES = {"ModeratorName": "moderator", "LogFile": "transcript", "MarketBase": "1",
                    "MarketNoiseScale": "0.4", "MarketNoise": "0.25,0.75",
                    "MaxChatTime": "300", "MaxChatIdle": "60"}


def robot_names(pairs):
    return " ".join(f"robot{i:02d}" for i in range(1, 2 * pairs + 1))


def rehearsal_session(folder, args):
    """session.conf of a rehearsal: the keys, treatments, subjects and seed
    of --session (else 3 pairs of robots, 4 rounds, seed 1) with --pairs,
    --rounds and --seed over them, served on a free port of this machine."""
    given = getattr(args, "session", None)
    if given:
        base = sessionlib.read_session(given)
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
        raise lablib.LabError("--nodes needs --server ejabberd")
    service = free_ports(nodes)
    taken = set(range(service, service + nodes))
    values["Service"] = f"xmpp:lab.wex@127.0.0.1:{service};trust=any"
    if "Nodes" in values or "ClusterPort" in values:
        cluster = free_ports(1, taken)
        taken.add(cluster)
        values["ClusterPort"] = str(cluster)
    # The web seats on free ports too (one a node), unless the session
    # turned them off.
    if values.get("Web", "").lower() != "off":
        web = free_ports(nodes, taken)
        taken.update(range(web, web + nodes))
        values["Web"] = str(web)
    values["Desk"] = str(free_ports(1, taken))
    path = os.path.join(folder, "session.conf")
    with open(path, "w", encoding="utf-8") as f:
        f.write(sessionlib.session_text(values, treatments))
    return path


def measure(folder, lab):
    """Each running bot's (peak RSS KiB, CPU s) and the server's CPU s."""
    stats = {index: bots.proc_stats(pid) for index, pid in running_bots(folder, lab).items()}
    if lablib.is_ejabberd(lab):
        nodes = [bots.proc_stats(pid) for pid in lablib.ejabberd.pids(lab, folder)]
        nodes = [n for n in nodes if n]
        server_stats = (sum(n[0] for n in nodes), sum(n[1] for n in nodes)) if nodes else None
        return stats, server_stats
    server = lablib.lab_server.running_pid(os.path.join(folder, "server"))
    server_stats = bots.proc_stats(server) if server else None
    return stats, server_stats


def play_session(args, kill_pair=None, blip_pair=None, browser=False, kill_node=None,
                 lag=None, stagger=0.0):
    """A fresh session played by robots: returns (folder, lab, pairs, notices,
    measurements)."""
    from . import robots
    if (args.pairs is not None and args.pairs < 1) or (args.rounds is not None and
                                                        args.rounds < 1):
        raise lablib.LabError("--pairs and --rounds must be at least 1")
    if getattr(args, "session", None):
        sessionlib.read_session(args.session)  # its faults before any folder is made
    folder = os.path.abspath(args.dir or time.strftime(f"{args.command}-%Y%m%d-%H%M%S"))
    if os.path.exists(os.path.join(folder, "lab.json")):
        raise lablib.LabError(f"{folder} holds a session already; name a new folder with --dir")
    os.makedirs(folder, exist_ok=True)
    session_path = rehearsal_session(folder, args)
    lab = None
    try:
        lab = start_session(folder, session_path, args.bot, None, quiet=True)
        rounds = max(lablib.pair_rounds(lab, pair) for pair in lab["pairs"])
        deadline = time.monotonic() + 90 + 30 * rounds + 2 * len(lab["pairs"])
        import asyncio
        if browser and not lab["web"]:
            raise lablib.LabError("--browser needs the web seats")
        if kill_node is not None and not 1 <= kill_node <= lablib.ejabberd.node_count(lab):
            raise lablib.LabError("--kill-node names one of the session's ejabberd nodes")
        pairs, notices = asyncio.run(robots.play(
            lab, folder, lab["seed"], deadline, kill_pair, blip_pair, browser,
            None if kill_node is None else kill_node - 1, lag, stagger))
        measured = measure(folder, lab)
    finally:
        if lab is not None or os.path.exists(os.path.join(folder, "lab.json")):
            stop_session(folder, quiet=True)
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
    lablib.write_json(os.path.join(folder, "rehearsal.json"), result)


def command_rehearse(args):
    # Pair 1's second subject goes offline in the first break and comes back.
    folder, lab, pairs, notices, _ = play_session(args, args.kill_pair, blip_pair=1,
                                                  browser=args.browser,
                                                  kill_node=args.kill_node)
    if args.kill_node:
        say_line(f"ejabberd node {args.kill_node} was SIGKILLed as the first round closed "
                 "and started again.")
    write_result(folder, pairs, notices)
    treatments = {p["index"]: p["treatment"] for p in lab["pairs"] if "treatment" in p}
    if args.browser:
        say_line(f"{pairs[0].bot}'s subjects played through the web page in Chromium.")
    for pair in pairs:
        state = "reached the payouts" if pair.complete() else "did NOT finish"
        paid = ", ".join(f"{name} ${dollars}"
                         for name, (_, dollars) in sorted(pair.payouts.items()))
        treatment = f"; treatment {treatments[pair.index]}" if pair.index in treatments else ""
        say_line(f"{pair.bot}: {state}" + (f" ({paid})" if paid else "") + treatment)
    for pair in pairs:
        for notice in pair.presence:
            say_line(f"{pair.bot} told the moderator: {notice}")
    for notice in notices:
        say_line(f"notice to the moderator: {notice}")
    say_line(f"Session folder: {folder}")
    return 0 if all(p.complete() for p in pairs) else 1


def own_cpu_seconds():
    import resource
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def command_bench(args):
    from .robots import percentile
    lag = []
    if args.stagger < 0:
        raise lablib.LabError("--stagger must not be negative")
    folder, lab, pairs, notices, (stats, server) = play_session(args, lag=lag,
                                                                stagger=args.stagger / 1000)
    write_result(folder, pairs, notices, (stats, server))
    samples = [v * 1000 for p in pairs for v in p.latencies]
    say_line(f"wexlab bench: {len(pairs)} pairs, {lab['rounds']} rounds, pairs started "
             f"{args.stagger:g} ms apart, {len(samples)} messages to subjects measured")
    worst = max(samples, default=float("nan"))
    say_line(f"added latency beyond the bot's 1000 ms wait: p50 {percentile(samples, 0.5):.1f} ms,"
             f" p99 {percentile(samples, 0.99):.1f} ms, max {worst:.1f} ms")
    rss = [s[0] / 1024 for s in stats.values() if s]
    cpu = [s[1] for s in stats.values() if s]
    if rss:
        say_line(f"bots: peak RSS {min(rss):.1f}-{max(rss):.1f} MiB each "
                 f"(mean {sum(rss) / len(rss):.1f}), CPU {min(cpu):.2f}-{max(cpu):.2f} s each "
                 f"({sum(cpu):.2f} s in all)")
    if server:
        say_line(f"server: CPU {server[1]:.2f} s, peak RSS {server[0] / 1024:.1f} MiB")
    lag = [v * 1000 for v in lag]
    say_line(f"robots (this process, setup included): CPU {own_cpu_seconds():.2f} s; "
             f"their event loop late by p50 {percentile(lag, 0.5):.1f} ms, "
             f"p99 {percentile(lag, 0.99):.1f} ms, max {max(lag, default=float('nan')):.1f} ms")
    unfinished = [p.bot for p in pairs if not p.complete()]
    if unfinished:
        say_line(f"did not finish: {', '.join(unfinished)}")
    say_line(f"Each bot's figures are in {folder}/rehearsal.json")
    return 0 if not unfinished else 1
