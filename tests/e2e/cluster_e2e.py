#!/usr/bin/python3
"""End-to-end test of wexlab on a cluster of two ejabberd nodes on
127.0.0.1: `wexlab rehearse --server ejabberd --nodes 2 --pairs 4
--rounds 2` must reach every pair's payouts with every pair spanning both
nodes (its bot and first subject on one, its second subject on the
other), each bot's Service on its own node's port, bots on both nodes,
and leave no Erlang VM and no epmd of the session running; with
--browser on two nodes (browser_seats), pair 1's subjects play through the
seat pages of their own nodes in headless Chromium; with WebTls on
(browser_tls), each node's page is HTTPS with the lab certificate and a
seat on node 2 talks over wss, also after the nodes restart. Skips (77) when ejabberd (or Chromium, its
driver or web/node_modules) is missing."""

import argparse
import csv
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.request

from harness import Failure, check, free_port  # noqa: E402  (beside this file)

SKIP = 77
PAIRS = 4


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
    (the nodes' VMs, the bots) and any epmd on its port."""
    mark = folder.encode()
    port = f"ERL_EPMD_PORT={epmd_port}\0".encode()
    return [(pid, argv.replace(b"\0", b" ")[:120]) for pid, (argv, environ)
            in live_processes().items()
            if mark in argv or (b"epmd" in argv.split(b"\0")[0] and port in environ)]


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
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


def two_nodes(args, root):
    folder = os.path.join(root, "cluster")
    done = subprocess.run([sys.executable, args.wexlab, "rehearse", "--server", "ejabberd",
                           "--nodes", "2", "--pairs", str(PAIRS), "--rounds", "2", "--dir",
                           folder, "--bot", args.bot], cwd=root, capture_output=True, text=True,
                          timeout=args.seconds)
    out = done.stdout + done.stderr
    print(out)
    with open(os.path.join(folder, "lab.json")) as f:
        lab = json.load(f)
    try:
        check(done.returncode == 0, f"rehearse failed ({done.returncode})")
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
    finally:
        left = wait_gone(folder, lab["epmd_port"])
    check(not left, f"still running after the session: {left}")
    for node in lab["nodes"]:
        check(not listening(node["port"]), f"port {node['port']} still open")
    check(not listening(lab["epmd_port"]), "the session's epmd still listens")


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
        left = wait_gone(folder, lab["epmd_port"])
    check(not left, f"still running after the session: {left}")
    for node in lab["nodes"]:
        for port in (node["port"], node["web_port"]):
            check(not listening(port), f"port {port} still open")


TLS_SESSION = """Service xmpp:lab.wex@127.0.0.1:{port};trust=any
ModeratorName moderator
LogFile transcript
NRounds 1
ConversationInterval 1
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
Subjects ann ben
Seed 4
Server ejabberd
ServerNodes 2
Web {web}
WebTls on
Desk {desk}
"""


def consecutive_ports(count, avoid=()):
    for _ in range(100):
        first = free_port()
        ports = range(first, first + count)
        if not set(ports) & set(avoid) and not any(listening(p) for p in ports):
            return first
    raise Failure(f"no {count} consecutive free ports")


def browser_tls(args, root):
    """WebTls on, two nodes: each node's page is HTTPS with the lab
    certificate (verified against it), and a seat on node 2's page signs in
    over wss and hears its bot, and signs in again after the nodes
    restart."""
    missing = [p for p in ("chromium", "chromedriver") if not shutil.which(p)]
    if missing:
        raise Skipped(f"missing {', '.join(missing)}")
    sys.path.insert(0, os.path.dirname(os.path.abspath(args.wexlab)))
    from wexlab_lib import browser, lab as lablib, seats
    if not os.path.exists(os.path.join(seats.web_root(), "node_modules")):
        raise Skipped("missing web/node_modules (scripts/install-deps.sh)")
    folder = os.path.join(root, "tls")
    os.makedirs(folder)
    port = consecutive_ports(2)
    web = consecutive_ports(2, range(port, port + 2))
    with open(os.path.join(folder, "lab.conf"), "w") as f:
        f.write(TLS_SESSION.format(port=port, web=web, desk=consecutive_ports(1, (
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
        lablib.stop_server(folder)
        seat.wait(lambda: seat.state()["status"] == "down", 30, "the page to see the nodes gone")
        restarted = time.monotonic()
        lablib.start_server(lablib.load(folder), folder)
        seat.wait_ready(90)
        print(f"nodes restarted, the page ready again in {time.monotonic() - restarted:.1f} s "
              f"with {len(shown)} messages shown")
        seat.wait(lambda: [m for m in seat.messages(pair["bot"]) if m[0] != "note"] == shown,
                  30, "the conversation after the restart")
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


class Skipped(Exception):
    pass


CASES = {f.__name__: f for f in (two_nodes, browser_seats, browser_tls)}


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
