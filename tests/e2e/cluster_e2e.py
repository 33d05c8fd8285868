#!/usr/bin/python3
"""End-to-end tests of wexlab on a cluster of two ejabberd nodes. Skip
(77) when ejabberd is not installed.

two_nodes: both nodes on 127.0.0.1: `wexlab rehearse --server ejabberd
--nodes 2 --pairs 4 --rounds 2` must reach every pair's payouts with every
pair spanning both nodes (its bot and first subject on one, its second
subject on the other), each bot's Service on its own node's port, bots on
both nodes, nothing refused, and leave no Erlang VM and no epmd of the
session running.

side_channel: while two pairs' bots run, a subject's messages to anyone
but its own bot are refused, answered with an error and logged.

killed_node: as two_nodes with node 2 SIGKILLed as the first round
closes and started again: every game must still end, each answer taken
once, with the rounds and payouts that the same answers give a game nobody
disturbed (replayed here by wexbot on the simulated service).

remote_node: 127.0.0.2 stands for another machine. A session file with
`Nodes 127.0.0.2` is rehearsed; as wexlab asks, `wexlab node serve` runs
with the copied kit in a folder of its own; the node joins, two pairs play
a round with participants on both nodes, and `wexlab stop` (the
rehearsal's end) stops the other node too, which ends `node serve`.

browser_seats: `--browser` on two nodes: pair 1's subjects play through
the seat pages of their own nodes in headless Chromium. browser_tls: with
WebTls on, each node's page is HTTPS with the lab certificate, served
with headers that forbid framing and other origins, and a seat on node 2
talks over wss, also after the nodes restart; its link opened in a second
tab takes the seat from the first. Both skip when
Chromium, its driver or web/node_modules is missing."""

import argparse
import asyncio
import csv
import glob
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from harness import (Failure, check, load_wexlab,  # noqa: E402  (beside this file)
                     page_header_faults)

SKIP = 77
PAIRS = 4
ROUNDS = 2


def live_processes():
    """pid -> (argv bytes, environ bytes) of every live process."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                if f.read().rsplit(")", 1)[-1].split()[0] == "Z":
                    continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read()
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    environ = f.read()
            except OSError:
                environ = b""
            found[int(entry)] = (argv, environ)
        except (OSError, IndexError):
            continue
    return found


def leftovers(folder, epmd_port):
    """The session's processes still running: anything naming its folder
    (the nodes' VMs, the bots), any epmd on its port and any process whose
    home is in the folder (an epmd a node started, ejabberdctl)."""
    mark = folder.encode()
    port = f"ERL_EPMD_PORT={epmd_port}\0".encode()
    home = f"HOME={folder}/".encode()
    return [(pid, argv.replace(b"\0", b" ")[:120]) for pid, (argv, environ)
            in live_processes().items()
            if mark in argv or home in environ or
            (epmd_port and b"epmd" in argv.split(b"\0")[0] and port in environ)]


def listening(port, address="127.0.0.1"):
    try:
        with socket.create_connection((address, port), timeout=1):
            return True
    except OSError:
        return False


def wait_gone(folder, epmd_port, seconds=30):
    deadline = time.monotonic() + seconds
    while True:
        left = leftovers(folder, epmd_port)
        if not left or time.monotonic() > deadline:
            return left
        time.sleep(0.5)


def rehearse(args, root, *more):
    """Runs the rehearsal; returns (folder, its output, lab.json, return code,
    seconds)."""
    folder = os.path.join(root, "cluster")
    started = time.monotonic()
    done = subprocess.run([sys.executable, args.wexlab, "rehearse", "--server", "ejabberd",
                           "--nodes", "2", "--pairs", str(PAIRS), "--rounds", str(ROUNDS),
                           "--dir", folder, "--bot", args.bot, *more], cwd=root,
                          capture_output=True, text=True, timeout=args.seconds)
    seconds = time.monotonic() - started
    out = done.stdout + done.stderr
    print(out)
    print(f"rehearsal took {seconds:.1f} s")
    with open(os.path.join(folder, "lab.json")) as f:
        lab = json.load(f)
    return folder, out, lab, done.returncode, seconds


def check_stopped(folder, lab):
    """No VM, bot or epmd of the session left, no port of it open."""
    left = wait_gone(folder, lab["epmd_port"])
    check(not left, f"still running after the session: {left}")
    for node in lab["nodes"]:
        for port in (node["port"], node.get("web_port")):
            check(not port or not listening(port), f"port {port} still open")
    check(not listening(lab["epmd_port"]), "the session's epmd still listens")


def two_nodes(args, root):
    folder, out, lab, returncode, _ = rehearse(args, root)
    try:
        check(returncode == 0, f"rehearse failed ({returncode})")
        nodes, placement = lab["nodes"], lab["placement"]
        check(len(nodes) == 2 and nodes[0]["port"] != nodes[1]["port"],
              f"not two nodes on two ports: {nodes}")
        with open(os.path.join(folder, "rehearsal.json")) as f:
            result = json.load(f)
        check(len(result["pairs"]) == PAIRS, f"{len(result['pairs'])} pairs played")
        for played, pair in zip(result["pairs"], lab["pairs"]):
            bot = pair["bot"]
            check(played["complete"], f"{bot} did not reach the payouts")
            check(sorted(played["payouts"]) == sorted([pair["subject1"], pair["subject2"]]),
                  f"{bot}: payouts {played['payouts']}")
            check(f"{bot}: reached the payouts" in out, f"{bot}: not said to have finished")
            home = placement[bot]
            check(placement[pair["subject1"]] == home and placement[pair["subject2"]] != home,
                  f"{bot} does not span two nodes: {placement}")
            with open(os.path.join(folder, bot, "wexbot.conf")) as f:
                service = next(line for line in f if line.startswith("Service "))
            check(f"@127.0.0.1:{nodes[home]['port']};" in service,
                  f"{bot}'s {service.strip()} is not its node's")
        check({placement[p["bot"]] for p in lab["pairs"]} == {0, 1},
              "the bots are not on both nodes")
        with open(os.path.join(folder, "logins.txt")) as f:
            cards = f.read()
        check(f"port {nodes[1]['port']}" in cards, "no login card names node 2's port")
        refused = os.path.join(folder, "server", "refused.log")
        check(not os.path.exists(refused), f"the server refused allowed stanzas: "
              f"{open(refused).read() if os.path.exists(refused) else ''}")
    finally:
        check_stopped(folder, lab)


def read_csv(folder, suffix):
    paths = glob.glob(os.path.join(folder, f"*{suffix}"))
    check(len(paths) == 1, f"one *{suffix} expected in {folder}, found {paths}")
    with open(paths[0], newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


# The columns that the answers decide; times differ between two games.
ROUND_COLUMNS = ("round", "subject", "name", "expectation", "investment", "partner_investment",
                 "divisor", "earnings", "bonus", "total_credits")
PAYOUT_COLUMNS = ("subject", "name", "total_credits", "payout", "rounds")


def journal_answers(folder):
    """The journal's answer entries as (subject, round, what, value)."""
    paths = glob.glob(os.path.join(folder, "*.journal"))
    check(len(paths) == 1, f"one journal expected in {folder}, found {paths}")
    found = []
    with open(paths[0], encoding="utf-8") as f:
        for line in f:
            entry = json.loads(line[9:])
            if entry["kind"] == "answer":
                found.append((entry["subject"], entry["round"], entry["what"], entry["value"]))
    return found


def replay_scenario(lab, pair, answer):
    """The pair's game undisturbed, on the simulated service: both join,
    answer as the robots do, and say done in each break."""
    names = {1: pair["subject1"], 2: pair["subject2"]}
    lines, t = [f"at 1 im {names[1]} hello", f"at 2 im {names[2]} hello"], 10
    interval = max(1, ROUNDS // 2)
    for number in range(1, ROUNDS + 1):
        for kind in ("expectation", "investment"):
            for subject in (1, 2):
                value = answer(lab["seed"], pair["index"], subject, number, kind)
                lines.append(f"at {t} im {names[subject]} {value}")
                t += 5
        if number % interval == 0 and number < ROUNDS:
            lines += [f"at {t} im {names[1]} done", f"at {t + 5} im {names[2]} done"]
            t += 10
    return "\n".join(lines + [f"at {t + 30} end"]) + "\n"


def replay(args, root, lab, pair, answer):
    """Plays the pair's configuration and answers without the network;
    returns its folder."""
    here = os.path.join(root, "replay", pair["bot"])
    os.makedirs(here)
    played = os.path.join(args.folder, pair["bot"])
    with open(os.path.join(played, "wexbot.conf")) as f:
        conf = [line for line in f if not line.startswith(("Service ", "Resume "))]
    with open(os.path.join(here, "wexbot.conf"), "w") as f:
        f.writelines(conf + ["Service sim:replay.txt\n"])
    shutil.copy(os.path.join(played, "passwords.txt"), here)
    with open(os.path.join(here, "replay.txt"), "w") as f:
        f.write(replay_scenario(lab, pair, answer))
    done = subprocess.run([args.bot, "wexbot.conf"], cwd=here, capture_output=True, text=True,
                          timeout=60, env=dict(os.environ, TZ="UTC",
                                               WEX_SETTINGS_DIR=os.path.join(here, "settings")))
    check(done.returncode == 0, f"the replay of {pair['bot']} failed: {done.stderr}")
    return here


def killed_node(args, root):
    load_wexlab(args.wexlab)
    from wexlab.rehearsal.robots import answer
    folder, out, lab, returncode, seconds = rehearse(args, root, "--kill-node", "2")
    args.folder = folder
    try:
        check(returncode == 0, f"rehearse failed ({returncode})")
        check("ejabberd node 2 was SIGKILLed" in out, "the node was not killed")
        asked_again = 0
        for pair in lab["pairs"]:
            bot, played = pair["bot"], os.path.join(folder, pair["bot"])
            check(f"{bot}: reached the payouts" in out, f"{bot}: not said to have finished")
            rows = read_csv(played, "_rounds.csv")
            # Each stage's answer once, and the robot's answer for it.
            check(len(rows) == 2 * ROUNDS, f"{bot}: {len(rows)} round rows")
            for row in rows:
                subject, number = int(row["subject"]), int(row["round"])
                for kind in ("expectation", "investment"):
                    wanted = answer(lab["seed"], pair["index"], subject, number, kind)
                    check(int(row[kind]) == wanted,
                          f"{bot}: round {number} subject {subject} {kind} {row[kind]}, "
                          f"the robot's is {wanted}")
                    check(row[f"{kind}_source"] != "timeout", f"{bot}: {kind} timed out")
            wanted = sorted((s, r, k, answer(lab["seed"], pair["index"], s, r, k))
                            for s in (1, 2) for r in range(1, ROUNDS + 1)
                            for k in ("expectation", "investment"))
            got = sorted(journal_answers(played))
            check(got == wanted, f"{bot}: journaled answers {got}, the robots' {wanted}")
            # The same rounds and payouts as the game undisturbed.
            calm = replay(args, root, lab, pair, answer)
            for suffix, columns in (("_rounds.csv", ROUND_COLUMNS),
                                    ("_payouts.csv", PAYOUT_COLUMNS)):
                got = [[r[c] for c in columns] for r in read_csv(played, suffix)]
                want = [[r[c] for c in columns] for r in read_csv(calm, suffix)]
                check(got == want, f"{bot}{suffix}: {got}, undisturbed {want}")
            transcripts = glob.glob(os.path.join(played, f"{lab['log_file']}_*.log"))
            check(len(transcripts) == 1, f"{bot}: transcripts {transcripts}")
            with open(transcripts[0], encoding="utf-8") as f:
                text = f.read()
            asked_again += text.count("PRES signed on again") + text.count("PRES is back")
            check(" ERR " not in text, f"{bot}: a message was not delivered")
        print(f"PRES lines of subjects back or signed on again: {asked_again}; "
              f"the rehearsal took {seconds:.1f} s")
    finally:
        check_stopped(folder, lab)


def browser_seats(args, root):
    """`wexlab rehearse --browser` on two nodes: pair 1's subjects play
    through the seat page in headless Chromium, each on its own node's page
    and websocket (the second subject on node 2's)."""
    missing = [p for p in ("chromium", "chromedriver") if not shutil.which(p)]
    web = os.environ.get("WEX_WEB_DIR") or os.path.join(
        os.path.dirname(os.path.abspath(args.wexlab)), "..", "web")
    if not os.path.exists(os.path.join(web, "node_modules")):
        missing.append("web/node_modules (scripts/install-deps.sh)")
    if missing:
        raise Skipped(f"missing {', '.join(missing)}")
    folder = os.path.join(root, "seats")
    done = subprocess.run([sys.executable, args.wexlab, "rehearse", "--browser", "--server",
                           "ejabberd", "--nodes", "2", "--pairs", "2", "--rounds", "1",
                           "--dir", folder, "--bot", args.bot], cwd=root, capture_output=True,
                          text=True, timeout=args.seconds)
    out = done.stdout + done.stderr
    print(out)
    with open(os.path.join(folder, "lab.json")) as f:
        lab = json.load(f)
    try:
        check(done.returncode == 0, f"rehearse --browser failed ({done.returncode})")
        check("played through the web page in Chromium" in out, "no seat in Chromium")
        for pair in lab["pairs"]:
            check(f"{pair['bot']}: reached the payouts" in out, f"{pair['bot']} did not finish")
        nodes, first = lab["nodes"], lab["pairs"][0]
        with open(os.path.join(folder, "seats.csv")) as f:
            links = {row["name"]: row["link"] for row in csv.DictReader(f)}
        for name, node in ((first["subject1"], nodes[0]), (first["subject2"], nodes[1])):
            check(links[name].startswith(f"http://127.0.0.1:{node['web_port']}/#"),
                  f"{name}'s link {links[name]} is not its node's page")
            # The node's log shows the page's websocket session.
            with open(os.path.join(folder, "server", f"node{nodes.index(node) + 1}", "logs",
                                   "ejabberd.log"), errors="replace") as f:
                signed = re.search(rf"\(websocket\|.*authentication for {name}@lab\.wex",
                                   f.read())
            check(signed, f"{name} never signed on to its node through the websocket")
    finally:
        check_stopped(folder, lab)


# The game's market and break keys, the same in every session here.
MARKET = """ConversationInterval 1
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
"""


TLS_SESSION = """Service xmpp:lab.wex@127.0.0.1:{port};trust=any
ModeratorName moderator
LogFile transcript
NRounds 1
{market}Subjects ann ben
Seed 4
Server ejabberd
ServerNodes 2
Web {web}
WebTls on
Desk {desk}
"""


def browser_tls(args, root):
    """WebTls on, two nodes: each node's page is HTTPS with the lab
    certificate (verified against it), and a seat on node 2's page signs in
    over wss and hears its bot, and signs in again after the nodes
    restart."""
    missing = [p for p in ("chromium", "chromedriver") if not shutil.which(p)]
    if missing:
        raise Skipped(f"missing {', '.join(missing)}")
    load_wexlab(args.wexlab)
    from wexlab.model import record
    from wexlab.rehearsal import browser
    from wexlab.servers import server, web_page
    if not os.path.exists(os.path.join(web_page.web_root(), "node_modules")):
        raise Skipped("missing web/node_modules (scripts/install-deps.sh)")
    folder = os.path.join(root, "tls")
    os.makedirs(folder)
    from wexlab.servers import net
    port = net.free_ports(2)
    web = net.free_ports(2, range(port, port + 2))
    with open(os.path.join(folder, "lab.conf"), "w") as f:
        f.write(TLS_SESSION.format(market=MARKET, port=port, web=web, desk=net.free_ports(1, (
            port, port + 1, web, web + 1))))
    wexlab = [sys.executable, args.wexlab]
    done = subprocess.run(wexlab + ["start", "lab.conf", "--bot", args.bot], cwd=folder,
                          capture_output=True, text=True, timeout=args.seconds)
    print(done.stdout + done.stderr)
    seat = lab = None
    try:
        check(done.returncode == 0, f"wexlab start failed ({done.returncode})")
        with open(os.path.join(folder, "lab.json")) as f:
            lab = json.load(f)
        context = ssl.create_default_context(cafile=lab["certificate"])
        for node in lab["nodes"]:
            url = f"https://127.0.0.1:{node['web_port']}/"
            with urllib.request.urlopen(url, context=context, timeout=30) as page:
                check(b"strophe.min.js" in page.read(), f"{url} is not the seat page")
            faults = page_header_faults(url.rstrip("/"), context)
            check(not faults, f"the headers of {url}'s files: {faults}")
        with open(os.path.join(folder, "seats.csv")) as f:
            links = {row["name"]: row["link"] for row in csv.DictReader(f)}
        pair = lab["pairs"][0]
        name = pair["subject2"]
        second = f"127.0.0.1:{lab['nodes'][1]['web_port']}"
        check(links[name].startswith(f"https://{second}/#"), f"{name}'s link {links[name]}")
        browser.FLAGS += ("--ignore-certificate-errors",)  # the fingerprint was checked above
        seat = browser.Seat()
        seat.open(links[name])
        seat.wait_ready(60)
        seat.say(pair["bot"], "hello")
        seat.wait(lambda: [m for m in seat.messages(pair["bot"]) if m[0] == "theirs"], 60,
                  "the bot's answer")
        check(f"wss://{second}/xmpp-websocket" in seat.requests(), "no wss to node 2")
        # The nodes stop and start again: the page sees it, signs in again
        # by itself and shows the conversation from the archive.
        shown = [m for m in seat.messages(pair["bot"]) if m[0] != "note"]
        server.stop_folder(folder)
        seat.wait(lambda: seat.state()["status"] == "down", 30, "the page to see the nodes gone")
        restarted = time.monotonic()
        server.for_lab(record.load(folder), folder).start()
        seat.wait_ready(90)
        print(f"nodes restarted, the page ready again in {time.monotonic() - restarted:.1f} s "
              f"with {len(shown)} messages shown")
        seat.wait(lambda: [m for m in seat.messages(pair["bot"]) if m[0] != "note"] == shown,
                  30, "the conversation after the restart")
        # The same link in a second tab takes the seat; the first says so.
        first = seat.driver.current_window_handle
        seat.driver.switch_to.new_window("tab")
        seat.open(links[name])
        seat.wait_ready(60)
        seat.driver.switch_to.window(first)
        seat.wait(lambda: seat.state()["fault"], 30, "the older tab to give up its seat")
        check(seat.state()["fault"] == "This seat was opened in another window.",
              f"the older tab shows {seat.state()}")
        with open(os.path.join(folder, "server", "replaced.log"), encoding="utf-8") as f:
            closed = [line.split("\t")[1] for line in f]
        check(closed == [name], f"replaced.log names {closed}, not {name} once")
    except browser.BrowserError as e:
        raise Failure(str(e))
    finally:
        if seat:
            seat.close()
        subprocess.run(wexlab + ["stop"], cwd=folder, capture_output=True, timeout=120)
        if lab is None and os.path.exists(os.path.join(folder, "lab.json")):
            with open(os.path.join(folder, "lab.json")) as f:
                lab = json.load(f)
        left = wait_gone(folder, lab["epmd_port"]) if lab else []
    check(not left, f"still running after the session: {left}")


REMOTE_SESSION = """Service xmpp:lab.wex@127.0.0.1:5222;trust=any
ModeratorName moderator
LogFile transcript
NRounds 1
{market}Subjects robot01 robot02 robot03 robot04
Seed 1
Web off
Server ejabberd
Nodes 127.0.0.2
"""


class Lines:
    """A process's output lines, read as they come."""

    def __init__(self, proc):
        self.proc = proc
        self.lines = []
        self.thread = threading.Thread(target=self._read, args=(proc,), daemon=True)
        self.thread.start()

    def _read(self, proc):
        for line in proc.stdout:
            self.lines.append(line)

    def wait_for(self, text, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            found = [line for line in self.lines if text in line]
            if found:
                return found[0]
            if self.proc.poll() is not None:
                break
            time.sleep(0.2)
        self.thread.join(10)
        raise Failure(f"no line with '{text}' (within {seconds} s, or before the end): "
                      f"{''.join(self.lines)}")

    def text(self):
        self.thread.join(10)
        return "".join(self.lines)


def remote_node(args, root):
    folder, there = os.path.join(root, "main"), os.path.join(root, "there")
    session = os.path.join(root, "remote.conf")
    with open(session, "w") as f:
        f.write(REMOTE_SESSION.format(market=MARKET))
    rehearse = subprocess.Popen([sys.executable, args.wexlab, "rehearse", "--session", session,
                                 "--pairs", "2", "--rounds", "1", "--dir", folder, "--bot",
                                 args.bot], cwd=root, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
    main_out, serve, serve_out = Lines(rehearse), None, None
    try:
        # wexlab names the kit and the command for the other machine.
        line = main_out.wait_for("wexlab node serve ", 150)
        kit_name = line.split("wexlab node serve ")[1].strip()
        os.makedirs(there, mode=0o700)
        shutil.copy(os.path.join(folder, "nodes", kit_name), there)  # as scp would
        serve = subprocess.Popen([sys.executable, args.wexlab, "node", "serve", kit_name,
                                  "--dir", os.path.join(there, "node")], cwd=there,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        serve_out = Lines(serve)
        code = rehearse.wait(args.seconds)
        out = main_out.text()
        print(out)
        check(code == 0, f"rehearse failed ({code})")
        code = serve.wait(60)  # wexlab stop stopped its node
        said = serve_out.text()
        print(said)
        check(code == 0, f"node serve ended with {code}")
        check("joined the cluster of wex" in said, "the node did not say it joined")
        check("The node stopped." in said, "the node did not say it stopped")
        with open(os.path.join(folder, "lab.json")) as f:
            lab = json.load(f)
        nodes, placement = lab["nodes"], lab["placement"]
        check([n.get("address") for n in nodes] == ["127.0.0.1", "127.0.0.2"],
              f"nodes: {nodes}")
        check(nodes[1].get("remote") and lab["epmd_port"] is None, f"lab: {nodes}")
        check("ejabberd node 2 on 127.0.0.2 stopped." in out, "node 2 not said to stop")
        with open(os.path.join(folder, "rehearsal.json")) as f:
            result = json.load(f)
        for played, pair in zip(result["pairs"], lab["pairs"]):
            bot = pair["bot"]
            check(played["complete"], f"{bot} did not reach the payouts")
            check(sorted(played["payouts"]) == sorted([pair["subject1"], pair["subject2"]]),
                  f"{bot}: payouts {played['payouts']}")
            home = nodes[placement[bot]]
            with open(os.path.join(folder, bot, "wexbot.conf")) as f:
                service = next(line for line in f if line.startswith("Service "))
            check(f"@{home['address']}:{home['port']};" in service,
                  f"{bot}'s {service.strip()} is not its node's")
        check({placement[p["bot"]] for p in lab["pairs"]} == {0, 1},
              "the bots are not on both nodes")
    finally:
        for proc in (rehearse, serve):
            if proc is not None and proc.poll() is None:
                proc.terminate()  # both stop their nodes on SIGTERM
                try:
                    proc.wait(60)
                except subprocess.TimeoutExpired:
                    proc.kill()
        left = wait_gone(folder, None) + wait_gone(there, None)
    check(not left, f"still running after the session: {left}")
    for address, node in (("127.0.0.1", nodes[0]), ("127.0.0.2", nodes[1])):
        check(not listening(node["port"], address), f"{address}:{node['port']} still open")
        check(not listening(lab["cluster_port"], address), f"{address}: cluster port open")


SESSION = """Service xmpp:lab.wex@127.0.0.1:{port};trust=any
Server ejabberd
ServerNodes 2
ModeratorName moderator
LogFile transcript
NRounds 2
{market}Subjects ann ben cat dan
Seed 3
Web off
Desk {desk}
"""
REFUSED = "not-allowed"


async def within(awaitable, seconds, fault):
    try:
        return await asyncio.wait_for(awaitable, seconds)
    except asyncio.TimeoutError:
        raise Failure(fault)


async def probe(lab, xmpp):
    """Pair 1's second subject, on the node its bot is not on, while the
    bots run: its own bot answers it; its partner, pair 2's subject and
    pair 2's bot are out of its reach, and each refusal comes back to it.
    Pair 2's subject, signed on all along, hears nothing of it."""
    from slixmpp.exceptions import IqError
    from wexlab.model import record
    one, two = lab["pairs"]
    domain = lab["domain"]

    class Probe(xmpp.Client):
        def __init__(self, name):
            super().__init__(record.from_json(lab), name, lab["accounts"][name]["password"],
                             "probe")
            self.register_plugin("xep_0199")
            self.inbox = asyncio.Queue()
            self.errors = asyncio.Queue()
            self.heard = []
            self.add_event_handler("message", self._got)
            self.add_event_handler("message_error", self.errors.put_nowait)
            self.add_event_handler("presence_error", self.errors.put_nowait)

        def _got(self, msg):
            if msg["type"] in ("chat", "normal") and msg["body"]:
                self.heard.append(msg["from"].bare)
                self.inbox.put_nowait(msg)

        async def from_bot(self, bot):
            while True:
                msg = await within(self.inbox.get(), 60, f"no answer from {bot}")
                if msg["from"].bare == bot:
                    return msg["body"]

        async def refused(self, to):
            error = await within(self.errors.get(), 20, f"no error for what went to {to}")
            check(error["from"].bare == to, f"an error from {error['from']}, not {to}")
            check(error["error"]["condition"] == REFUSED,
                  f"to {to}: {error['error']['condition']!r}, not {REFUSED}")

    bot1, bot2 = f"{one['bot']}@{domain}", f"{two['bot']}@{domain}"
    partner = f"{one['subject1']}@{domain}"
    stranger_name = two["subject1"]
    stranger_jid = f"{stranger_name}@{domain}"
    check(lab["placement"][one["subject2"]] != lab["placement"][one["bot"]],
          "the probe is on its bot's node")
    stranger = await Probe(stranger_name).online()
    subject = await Probe(one["subject2"]).online()
    try:
        subject.send_message(mto=bot1, mbody="hello", mtype="chat")
        print(f"{one['bot']} answered: {(await subject.from_bot(bot1))[:60]!r}")
        for to in (stranger_jid, bot2, partner):
            subject.send_message(mto=to, mbody="psst, what do you invest?", mtype="chat")
            await subject.refused(to)
        subject.send_presence_subscription(pto=stranger_jid)
        await subject.refused(stranger_jid)
        try:
            await subject.plugin["xep_0199"].send_ping(bot2, timeout=20)
            raise Failure(f"{bot2} answered a ping from another pair's subject")
        except IqError as e:
            check(e.iq["error"]["condition"] == REFUSED, f"ping: {e.iq['error']['condition']}")
        # Pair 2's game goes on; nothing of the above reached its subject.
        stranger.send_message(mto=bot2, mbody="hello", mtype="chat")
        await stranger.from_bot(bot2)
        check(f"{one['subject2']}@{domain}" not in stranger.heard,
              f"{stranger_jid} heard {stranger.heard}")
    finally:
        await subject.close()
        await stranger.close()
    return [("message", stranger_jid), ("message", bot2), ("message", partner),
            ("presence", stranger_jid), ("iq", bot2)]


def side_channel(args, root):
    load_wexlab(args.wexlab)
    from wexlab.runtime import xmpp
    from wexlab.servers import net
    folder = os.path.join(root, "session")
    os.makedirs(folder)
    session = os.path.join(root, "side.conf")
    with open(session, "w") as f:
        f.write(SESSION.format(market=MARKET, port=net.free_ports(2), desk=net.free_port()))
    lab = None
    try:
        started = subprocess.run([sys.executable, args.wexlab, "start", session, "--bot",
                                  args.bot], cwd=folder, capture_output=True, text=True,
                                 timeout=args.seconds)
        print(started.stdout[-2000:] + started.stderr)
        check(started.returncode == 0, f"wexlab start failed ({started.returncode})")
        with open(os.path.join(folder, "lab.json")) as f:
            lab = json.load(f)
        wanted = asyncio.run(asyncio.wait_for(probe(lab, xmpp), args.seconds))
    finally:
        stopped = subprocess.run([sys.executable, args.wexlab, "stop"], cwd=folder,
                                 capture_output=True, text=True, timeout=120)
        print(stopped.stdout + stopped.stderr)
        left = wait_gone(folder, lab["epmd_port"]) if lab else []
    check(not left, f"still running after the session: {left}")
    log = os.path.join(folder, "server", "refused.log")
    check(f"refused {len(wanted)} message(s) or request(s)" in stopped.stdout and
          log in stopped.stdout, "wexlab stop does not report the refusals")
    with open(log) as f:
        lines = [line.rstrip("\n").split("\t") for line in f]
    prober = f"{lab['pairs'][0]['subject2']}@{lab['domain']}"
    got = [(kind, to) for _, kind, sender, to in lines if sender.split("/")[0] == prober]
    check(sorted(got) == sorted(wanted) and len(lines) == len(wanted),
          f"refused.log: {lines}, not {wanted}")
    check(all(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", line[0]) for line in lines),
          f"refused.log's times are not UTC: {lines}")


class Skipped(Exception):
    pass


CASES = {f.__name__: f for f in (two_nodes, killed_node, side_channel, remote_node,
                                   browser_seats, browser_tls)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--seconds", type=float, default=400)
    args = parser.parse_args()
    if not shutil.which("ejabberdctl") and not os.path.exists("/usr/sbin/ejabberdctl"):
        print("ejabberd is not installed; skipped")
        return SKIP
    load_wexlab(args.wexlab)
    root = tempfile.mkdtemp(prefix="wex-e2e-cluster-")
    env_dir = os.path.join(root, "data")
    os.environ["WEX_DATA_DIR"] = env_dir  # the lab certificate, not the home folder
    try:
        CASES[args.case](args, root)
    except (Failure, subprocess.TimeoutExpired) as e:
        print(f"FAIL: {e}")
        return 1
    except Skipped as e:
        print(f"skipped: {e}")
        return SKIP
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
