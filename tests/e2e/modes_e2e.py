#!/usr/bin/python3
"""End-to-end test of the session folder's file modes: a whole one-pair
session with a break's chat, started and stopped by scripts/wexlab on
Prosody (--case prosody) or ejabberd (--case ejabberd), played by
wexlab's robot subjects and moderator, with a `?` from the desk and one
message the server refuses (wexlab's own account to a subject). Then
every file in the folder (consoles, transcripts, journals, data files,
desk.log, session_*.csv, report.html, server/refused.log, the server's
own files) must be 0640 or tighter and every folder 0750 or tighter.

The test runs with umask 022, so a file that takes its mode from the
researcher's shell shows up as 0644."""

import argparse
import asyncio
import csv
import glob
import importlib.util
import json
import os
import shutil
import stat
import subprocess
import sys
import time
import urllib.request

from harness import check, free_port, load_wexlab, run_in_folder  # noqa: E402  (beside this file)

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))


def session_text(server):
    return (f"Service xmpp:lab.wex@127.0.0.1:{free_port()};trust=any\nModeratorName moderator\n"
            "LogFile transcript\nNRounds 2\nConversationInterval 1\nMarketBase 1\n"
            "MarketNoiseScale 0.4\nMarketNoise 0.25,0.75\nMaxChatTime 300\nMaxChatIdle 60\n"
            f"Subjects sub01 sub02\nSeed 3\nDesk {free_port()}\nWeb off\n"
            + ("Server ejabberd\n" if server == "ejabberd" else ""))


async def refused_message(lab, folder):
    """wexlab's own account writes to a subject: the server refuses it and
    writes server/refused.log."""
    from wexlab.model.accounts import NOTIFIER
    from wexlab.runtime import xmpp
    client = await xmpp.Client(lab, NOTIFIER, lab.accounts[NOTIFIER].password,
                               "modes-test").online(30)
    try:
        client.send_message(mto=f"{lab.pairs[0].subject1}@{lab.domain}", mbody="psst",
                            mtype="chat")
        log = os.path.join(folder, "server", "refused.log")
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and not os.path.exists(log):
            await asyncio.sleep(0.1)
        check(os.path.exists(log), "the server wrote no refused.log")
    finally:
        await client.close()


def ask_through_desk(folder):
    info = json.load(open(os.path.join(folder, "desk.json"), encoding="utf-8"))
    request = urllib.request.Request(
        f"http://{info['address']}:{info['port']}/api/say?token={info['token']}",
        data=json.dumps({"pairs": "all", "text": "?"}).encode(), method="POST",
        headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=20) as r:
        sent = json.loads(r.read())["sent"]
    check(sent[0]["answer"] and sent[0]["answer"].startswith("Status"), f"? gave {sent}")


def modes(folder):
    """{relative path: mode} of every file and folder below folder."""
    found = {}
    for where, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(where, name)
            info = os.lstat(path)
            if stat.S_ISLNK(info.st_mode):
                continue
            found[os.path.relpath(path, folder)] = (stat.S_IMODE(info.st_mode),
                                                    stat.S_ISDIR(info.st_mode))
    return found


def check_modes(folder):
    found = modes(folder)
    # lab.conf is the researcher's own session file (written by this test).
    loose = sorted(f"{path} {mode:04o}" for path, (mode, is_dir) in found.items()
                   if mode & (0o027 if is_dir else 0o137) and path != "lab.conf")
    # What holds the participants' words must be among the files looked at.
    wanted = ["pair01/console.log", "desk.log", "session_rounds.csv", "session_chat.csv",
              "session_payouts.csv", "report.html", "server/refused.log"]
    for pattern in ("pair01/transcript_*.log", "pair01/transcript_*.journal",
                    "pair01/transcript_*_chat.csv", "pair01/transcript_*_rounds.csv"):
        matches = glob.glob(os.path.join(folder, pattern))
        check(matches, f"no file {pattern}: {sorted(found)}")
        wanted += [os.path.relpath(m, folder) for m in matches]
    missing = [path for path in wanted if path not in found]
    check(not missing, f"missing {missing}")
    check(not loose, "readable beyond owner and group, or writable by the group:\n  "
          + "\n  ".join(loose))
    files = [mode for mode, is_dir in found.values() if not is_dir]
    counts = {f"{m:04o}": files.count(m) for m in sorted(set(files))}
    print(f"{len(files)} files, {len(found) - len(files)} folders; file modes {counts}")
    for path in wanted:
        print(f"  {found[path][0]:04o} {path}")


def run(args, root):
    folder = os.path.join(root, "session")
    os.makedirs(folder)
    with open(os.path.join(folder, "lab.conf"), "w") as f:
        f.write(session_text(args.case))
    wexlab = [sys.executable, args.wexlab]
    done = subprocess.run(wexlab + ["start", "lab.conf", "--bot", args.bot], cwd=folder,
                          capture_output=True, text=True, timeout=120)
    check(done.returncode == 0, f"wexlab start failed:\n{done.stdout}{done.stderr}")
    try:
        from wexlab.model import record
        from wexlab.rehearsal import robots
        lab = record.load(folder)
        asyncio.run(refused_message(lab, folder))
        pairs, _ = asyncio.run(robots.play(lab, folder, lab.seed, time.monotonic() + 150))
        check(pairs[0].complete(), "the robots' game did not reach the payouts")
        ask_through_desk(folder)
    finally:
        stopped = subprocess.run(wexlab + ["stop"], cwd=folder, capture_output=True,
                                 text=True, timeout=180)
    check(stopped.returncode == 0, f"wexlab stop failed:\n{stopped.stdout}{stopped.stderr}")
    with open(os.path.join(folder, "session_chat.csv"), encoding="utf-8", newline="") as f:
        chat = list(csv.reader(f))[1:]
    check(chat, "the session had no chat")
    check_modes(folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", choices=("prosody", "ejabberd"), required=True)
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the session folder")
    args = parser.parse_args()
    missing = [m for m in ("aiohttp", "slixmpp") if importlib.util.find_spec(m) is None]
    if missing:
        print(f"skipped: needs the Python modules {', '.join(missing)}")
        return SKIP
    needed = ("prosody", "prosodyctl") if args.case == "prosody" else ("ejabberdctl",)
    if not all(shutil.which(p) for p in needed):
        print(f"skipped: needs {' and '.join(needed)}")
        return SKIP
    load_wexlab(args.wexlab)
    os.umask(0o022)  # as a researcher's shell: wexlab must tighten it itself
    if run_in_folder("modes-e2e-", lambda root: run(args, root), args.keep, settings=True):
        return 1
    print(f"modes e2e ({args.case}): passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
