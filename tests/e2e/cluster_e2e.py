#!/usr/bin/python3
"""End-to-end test of wexlab on a cluster of two ejabberd nodes on
127.0.0.1: `wexlab rehearse --server ejabberd --nodes 2 --pairs 4
--rounds 2` must reach every pair's payouts with every pair spanning both
nodes (its bot and first subject on one, its second subject on the
other), each bot's Service on its own node's port, bots on both nodes,
and leave no Erlang VM and no epmd of the session running. With
--kill-node 2, the node is SIGKILLed as the first round closes and started
again: every game must still end, each answer taken once, with the rounds
and payouts that the same answers give a game nobody disturbed (replayed
here by wexbot on the simulated service). Skips (77) when ejabberd is not
installed."""

import argparse
import csv
import glob
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from harness import Failure, check  # noqa: E402  (beside this file)

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
        check(not listening(node["port"]), f"port {node['port']} still open")
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
    sys.path.insert(0, os.path.dirname(os.path.abspath(args.wexlab)))
    from wexlab_lib.robots import answer
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


CASES = {f.__name__: f for f in (two_nodes, killed_node)}


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
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
