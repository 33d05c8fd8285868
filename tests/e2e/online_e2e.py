#!/usr/bin/python3
"""End-to-end test of an online session: `wexlab start` with Arrivals on
and MaxPairs 3 behind nginx with TLS, robots arriving through the study
link (the room's websocket, then XMPP over the websocket, as the page
does), `wexlab stop`, and the files checked.

Eight arrivals, in this order: A1 and A2 make pair 1 (A1 comes back with
its label and must get the same seat); A3 and A4 pair 2, where A4 leaves
as round 2 begins and is replaced by the stand-in, and pair 2's bot is
SIGKILLed just after the dropout and must resume with the stand-in; H's
page stays hidden, so it is never paired and waits out with the
no-partner code while A5 waits alone; A6 pairs with A5 (pair 3, the cap);
L arrives after the cap and is turned away, paid. Then every robot's view
is held against room.log, the journals and session_participants.csv,
session_bonus.csv against the payouts, and session_decisions.csv must
have the stand-in's answers with source robot."""

import argparse
import asyncio
import csv
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from decimal import Decimal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import SKIP, Failure, check, free_port, load_wexlab  # noqa: E402

DEADLINE = 200  # below CTest's TIMEOUT, so a stuck run still cleans up
WAIT_TIMEOUT = 20
DROPOUT_AFTER = 5
FEE = "1.50"
CODE = "E2E-DONE"
NO_PARTNER = "E2E-NOPARTNER"
ROUNDS = 4


def session_text(proxy):
    ports = set()
    while len(ports) < 6:
        ports.add(free_port())
    service, web, desk, room, proxy_port, _ = sorted(ports)
    values = {"Service": f"xmpp:lab.wex@127.0.0.1:{service};trust=any",
              "ModeratorName": "moderator", "LogFile": "transcript", "NRounds": ROUNDS,
              "ConversationInterval": ROUNDS, "MarketBase": 1, "MarketNoiseScale": 0.4,
              "MarketNoise": "0.25,0.75", "MaxChatTime": 30, "MaxChatIdle": 10, "Seed": 7,
              # Payouts that differ from subject to subject, so each is checked.
              "CreditValue": "0.05", "MinPayout": "1", "MaxPayout": "100",
              "Web": web, "Desk": desk, "Arrivals": "on", "MaxPairs": 3,
              "WaitTimeout": WAIT_TIMEOUT, "ShowUpFee": FEE, "CompletionCode": CODE,
              "NoPartnerCode": NO_PARTNER,
              "CompletionUrl": "https://example.org/done?c={code}&l={label}",
              "DropoutAfter": DROPOUT_AFTER, "Proxy": proxy, "ProxyPort": proxy_port,
              "PublicHost": "127.0.0.1", "Room": room}
    return "".join(f"{key} {value}\n" for key, value in values.items())


def plans(arrivals):
    Plan = arrivals.Plan
    return [Plan("A1", 0.0, returns=True), Plan("A2", 0.5), Plan("A3", 1.0),
            Plan("A4", 1.5, dropout=True), Plan("H", 2.0, hidden=True), Plan("A5", 6.0),
            Plan("A6", WAIT_TIMEOUT + 4.5), Plan("L", WAIT_TIMEOUT + 5.0, late=True)]


def wexlab(args, folder, *words, timeout=60):
    done = subprocess.run([sys.executable, args.wexlab, *words], cwd=folder,
                          capture_output=True, text=True, timeout=timeout)
    out = done.stdout + done.stderr
    check(done.returncode == 0, f"wexlab {' '.join(words)} failed ({done.returncode}):\n{out}")
    return out


def rows(folder, name):
    with open(os.path.join(folder, name), encoding="utf-8", newline="") as f:
        return list(csv.DictReader(f))


async def kill_after_dropout(folder, lab, robots, journal_of, killed):
    """SIGKILLs pair 2's bot as soon as its journal has the dropout."""
    while True:
        entries = journal_of(2)
        if any(e.get("kind") == "dropout" for e in entries):
            robots.kill_bot(folder, 2)
            killed.append(time.time())
            return
        await asyncio.sleep(0.1)


def run(args, root):
    load_wexlab(args.wexlab)
    from wexlab.data.collect import pair_journals
    from wexlab.model import record
    from wexlab.rehearsal import arrivals, online_play, outcomes, robots

    folder = os.path.join(root, "online")
    os.makedirs(folder)
    with open(os.path.join(folder, "session.conf"), "w", encoding="utf-8") as f:
        f.write(session_text(args.proxy))
    out = wexlab(args, folder, "start", "session.conf", "--bot", args.bot, timeout=90)
    check("/join/" in out, f"start printed no study link:\n{out}")
    try:
        lab = record.load(folder)
        check(lab.online is not None and lab.online.max_pairs == 3, "lab.json has no online part")

        def journal_of(index):
            found = pair_journals(os.path.join(folder, lab.pairs[index - 1].bot), lab.log_file)
            return [e for entries in found for e in entries]

        run_ = arrivals.Run(lab, online_play.endpoints_of(lab), lab.seed, DROPOUT_AFTER, 3)
        killed = []

        async def play():
            killer = asyncio.ensure_future(kill_after_dropout(folder, lab, robots, journal_of,
                                                              killed))
            start = time.time() + 0.5
            try:
                return await arrivals.arrive_all(run_, plans(arrivals), start,
                                                 start + DEADLINE - 60)
            finally:
                killer.cancel()

        visits = asyncio.run(play())
        online_play.wait_for_room(folder, len(visits), time.time() + WAIT_TIMEOUT + 5)
    finally:
        wexlab(args, folder, "stop", timeout=90)

    by_label = {v.plan.label: v for v in visits}
    truth = outcomes.read_truth(folder, lab)
    participants = outcomes.read_participants(folder)
    check(participants is not None, "no session_participants.csv")
    faults, counts = outcomes.check(visits, truth, lab.online, participants)
    check(not faults, "the files disagree with what the robots saw:\n" + "\n".join(faults))
    check(dict(counts) == {"completed": 5, "replaced": 1, "waited_out": 1, "full": 1},
          f"outcomes {dict(counts)}")
    # Who went where.
    check([truth[label].pair for label in ("A1", "A2", "A3", "A4", "A5", "A6")]
          == [1, 1, 2, 2, 3, 3], {label: truth[label].pair for label in truth})
    check(truth["H"].outcome == "waited_out" and truth["H"].code == NO_PARTNER,
          f"the hidden page: {truth['H']}")
    check(truth["L"].outcome == "full" and Decimal(truth["L"].fee) == Decimal(FEE),
          f"the late arrival: {truth['L']}")
    check(by_label["A1"].same_seat_again is True, "A1 came back and got another seat")
    replaced = by_label["A4"].replaced_seen or {}
    check(replaced.get("ended") == "replaced" and replaced.get("payout"),
          f"A4 came back and saw {replaced}")
    # The bot killed after the dropout resumed and the stand-in played on.
    check(killed, "pair 2's journal never had a dropout")
    entries = journal_of(2)
    kinds = [e.get("kind") for e in entries]
    check("resume" in kinds[kinds.index("dropout"):], f"pair 2's bot did not resume: {kinds}")
    after = entries[kinds.index("resume", kinds.index("dropout")):]
    robot_answers = [e for e in after if e.get("kind") == "answer" and e.get("subject") == 2
                     and e.get("source") == "robot"]
    check(robot_answers, "no stand-in answer after the resume")
    check("report" in kinds, "pair 2 made no final report")
    decisions = [r for r in rows(folder, "session_decisions.csv")
                 if r.get("source") == "robot"]
    check(decisions and all(r.get("pair") in ("2", "pair02") for r in decisions),
          f"session_decisions.csv's robot rows: {decisions}")
    # The participants file's fee and the bonus file against the payouts.
    for label, row in participants.items():
        check(Decimal(row["show_up_fee"] or "0") == Decimal(FEE),
              f"{label}'s show-up fee: {row}")
    bonus = {}
    with open(os.path.join(folder, "session_bonus.csv"), encoding="utf-8", newline="") as f:
        for line in csv.reader(f):
            if line and line[0] != "label":
                bonus[line[0]] = Decimal(line[1])
    for label, found in truth.items():
        if found.outcome in ("completed", "replaced"):
            check(bonus.get(label) == Decimal(found.payout),
                  f"{label}'s bonus {bonus.get(label)}, its payout {found.payout}")
        else:
            check(bonus.get(label, Decimal(0)) == 0, f"{label} left the room with a bonus")
    print(f"passed: outcomes {dict(counts)}; pair 2's bot killed after the dropout and resumed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--proxy", choices=("on", "off"), default="on")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    needs = ["prosody", "prosodyctl"] + (["nginx"] if args.proxy == "on" else [])
    missing = [program for program in needs if shutil.which(program) is None]
    web = os.path.join(os.path.dirname(args.wexlab), "..", "web", "node_modules")
    if missing or not os.path.isdir(web):
        print(f"{' and '.join(missing) or 'web/node_modules'} missing: skipped")
        return SKIP
    root = tempfile.mkdtemp(prefix="wex-online-")
    signal.alarm(DEADLINE + 60)
    try:
        run(args, root)
    except Failure as e:
        print(f"FAILED: {e}\n(session folder kept: {root})")
        return 1
    if args.keep:
        print(f"kept {root}")
    else:
        shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
