#!/usr/bin/python3
"""End-to-end test of scripts/wexlab: whole lab sessions of three pairs
played by robot subjects and a robot moderator over a Prosody of their own.

Run A (seed 5) rehearses a session file of two treatments, one of them
paying ten cents a credit: it must reach every pair's payouts at its
treatment's rate, tell the moderator when a subject goes offline and
comes back, and leave the merged data with each row's treatment and a
report that Chromium renders with one chart per pair under its treatment.
Run B has the same file and seed and SIGKILLs pair 2's bot as its first
round closes: the supervisor must restart it with Resume, tell the
moderator, and the pair must end with run A's payouts; its matching and
treatments must be run A's. Run C, with another seed and no session file,
must match the subjects differently and have no treatments."""

import argparse
import csv
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SKIP = 77
DEADLINE = 270  # below CTest's TIMEOUT, so a stuck run still cleans up


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def rehearse(args, root, name, seed, rounds, *extra):
    folder = os.path.join(root, name)
    left = DEADLINE - (time.monotonic() - args.started)
    done = subprocess.run([sys.executable, args.wexlab, "rehearse", "--pairs", "3", "--rounds",
                           str(rounds), "--seed", str(seed), "--dir", folder, "--bot", args.bot,
                           *extra], cwd=root, capture_output=True, text=True, timeout=left)
    out = done.stdout + done.stderr
    check(done.returncode == 0, f"rehearse {name} failed ({done.returncode}):\n{out}")
    for pair in ("pair01", "pair02", "pair03"):
        check(f"{pair}: reached the payouts" in out, f"{name}: {pair} did not finish:\n{out}")
    kills = 1 if "--kill-pair" in extra else 0
    check(not os.path.exists(os.path.join(folder, "server", "prosody.pid")),
          f"{name}: the server still runs")
    # No bot stopped but the one killed on purpose, and none reported a
    # sanitizer finding.
    starts = read(folder, "supervisor.log").count(": bot started")
    check(starts == 3 + kills, f"{name}: {starts} bot starts:\n"
          + read(folder, "supervisor.log"))
    for pair in ("pair01", "pair02", "pair03"):
        console = read(os.path.join(folder, pair), "console.log")
        check(not re.search(r"Sanitizer|runtime error:", console),
              f"{name}: {pair}'s console reports:\n{console[-3000:]}")
    return folder


def rows(folder, name):
    with open(os.path.join(folder, name), encoding="utf-8", newline="") as f:
        return list(csv.DictReader(f))


def read(folder, name):
    with open(os.path.join(folder, name), encoding="utf-8") as f:
        return f.read()


def chromium(args, page, *options):
    profile = tempfile.mkdtemp(prefix="wexlab-chromium-")
    try:
        done = subprocess.run(
            [args.chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", f"--user-data-dir={profile}", *options, f"file://{page}"],
            capture_output=True, text=True, timeout=90)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    check(done.returncode == 0, f"chromium failed: {done.stderr[-2000:]}")
    return done.stdout


def png_pixels(path):
    """(width, height, rows of RGBA bytes) of an 8-bit RGBA or RGB PNG."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is no PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, color = header[:4]
    check(depth == 8 and color in (2, 6) and header[6] == 0, f"unexpected PNG form {header}")
    step = 4 if color == 6 else 3
    raw, stride, out, prev = zlib.decompress(idat), width * step, [], bytearray(width * step)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = prev[i], prev[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out.append(bytes(line))
        prev = line
    return width, height, step, out


def check_report(args, folder):
    """The page as Chromium builds it: a chart per pair with its six lines,
    and the lines really drawn in both subjects' colours."""
    page = os.path.join(folder, "report.html")
    dom = chromium(args, page, "--dump-dom")
    groups = {name: re.findall(r'<svg class="pair-chart" data-pair="(\d)"', body)
              for name, body in re.findall(r'<section class="treatment" data-treatment="(\w+)">'
                                           r'(.*?)</section>', dom, re.S)}
    matching = rows(folder, "matching.csv")
    wanted = {t: [r["pair"] for r in matching if r["treatment"] == t] for t in TREATMENTS}
    check(groups == wanted, f"charts by treatment in the rendered page: {groups}")
    table = re.search(r'<table id="treatments">(.*?)</table>', dom, re.S)
    treatments = re.findall(r'<tr data-treatment="(\w+)">', table.group(1) if table else "")
    check(treatments == list(TREATMENTS), f"the treatment table's rows: {treatments}")
    table = re.search(r'<table id="attrition">(.*?)</table>', dom, re.S)
    attrition = re.findall(r'<tr data-treatment="(\w+)">', table.group(1) if table else "")
    check(sorted(attrition) == sorted(TREATMENTS), f"the attrition table's rows: {attrition}")
    for chart in re.findall(r'<svg class="pair-chart".*?</svg>', dom, re.S):
        lines = re.findall(r'<polyline[^>]*points="([^"]*)"', chart)
        check(len(lines) == 6 and all(len(p.split()) == 2 for p in lines),
              f"a chart should hold 6 lines of 2 rounds: {lines}")
    payouts = re.search(r'<table id="payouts">.*?</table>', dom, re.S)
    check(payouts is not None and payouts.group(0).count("<tr>") == 8,
          "the payout table should have a header, 6 rows and a total")
    shot = os.path.join(folder, "report.png")
    chromium(args, page, "--window-size=1200,2000", f"--screenshot={shot}")
    width, _, step, pixels = png_pixels(shot)
    counts = {"blue": 0, "red": 0}
    for line in pixels:
        for x in range(0, width * step, step):
            r, g, b = line[x], line[x + 1], line[x + 2]
            if abs(r - 0x1f) < 40 and abs(g - 0x77) < 40 and abs(b - 0xb4) < 40:
                counts["blue"] += 1
            elif abs(r - 0xd6) < 40 and abs(g - 0x27) < 40 and abs(b - 0x28) < 40:
                counts["red"] += 1
    check(min(counts.values()) > 500, f"too few drawn pixels of the subjects' colours: {counts}")


# Run A's session file: the rehearsal's keys, and two treatments in order
# (3 pairs: two rich, one plain). Service, Subjects and NRounds are the
# rehearsal's own.
TREATMENTS = ("rich", "plain")
SESSION = """Service xmpp:lab.wex@127.0.0.1:5222;trust=any
ModeratorName moderator
LogFile transcript
NRounds 2
ConversationInterval 1
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
Subjects a b
Seed 5
Treatment plain
Treatment rich CreditValue 0.1
Treatment rich MinPayout 0
Treatment rich MaxPayout 100
Treatments rich plain
"""


def check_treatments(folder):
    """Two pairs rich and one plain; each bot paid at its treatment's rate."""
    matching = {r["pair"]: r["treatment"] for r in rows(folder, "matching.csv")}
    check(sorted(matching.values()) == ["plain", "rich", "rich"], f"treatments: {matching}")
    for pair, treatment in matching.items():
        config = read(os.path.join(folder, f"pair0{pair}"), "wexbot.conf")
        check(("\nCreditValue 0.1\n" in config) == (treatment == "rich"),
              f"pair {pair} ({treatment}) has the configuration:\n{config}")
    payouts = rows(folder, "session_payouts.csv")
    check(list(payouts[0])[:3] == ["session", "pair", "treatment"],
          f"columns: {list(payouts[0])}")
    for row in payouts:
        credits, payout = float(row["total_credits"]), float(row["payout"])
        check(row["treatment"] == matching[row["pair"]], f"the row's treatment: {row}")
        wanted = credits * 0.1 if row["treatment"] == "rich" else min(max(credits * 0.0075,
                                                                          10), 25)
        check(abs(payout - wanted) < 0.006, f"{row}: the payout should be {wanted:.2f}")
    check(list(rows(folder, "session_rounds.csv")[0])[:3] == ["session", "pair", "treatment"],
          "session_rounds.csv's columns")


def without_times(table, pair):
    """A pair's rows without their times and the session's identifier,
    which differ between two sessions of the same game."""
    return [{k: v for k, v in row.items() if not k.endswith("_time") and k != "session"}
            for row in table if row["pair"] == pair]


def run(args):
    root = tempfile.mkdtemp(prefix="wexlab-e2e-")
    try:
        session = os.path.join(root, "treated.conf")
        with open(session, "w", encoding="utf-8") as f:
            f.write(SESSION)
        a = rehearse(args, root, "a", 5, 2, "--session", session)
        check_treatments(a)
        rounds_a = rows(a, "session_rounds.csv")
        check(len(rounds_a) == 12, f"session_rounds.csv has {len(rounds_a)} rows, not 12")
        check(sorted({r["pair"] for r in rounds_a}) == ["1", "2", "3"], "rows of every pair")
        payouts_a = rows(a, "session_payouts.csv")
        check(len(payouts_a) == 6, f"session_payouts.csv has {len(payouts_a)} rows")
        result = json.loads(read(a, "rehearsal.json"))
        for pair in result["pairs"]:
            check((pair["status"] or "").startswith("Status: round 1 of 2.\n"),
                  f"the moderator's ? to {pair['bot']}: {pair['status']!r}")
        # Pair 1's subject 2 went offline in the break and came back.
        second = rows(a, "matching.csv")[0]["subject2"]
        check(result["pairs"][0]["presence"] == [f"{second} went offline", f"{second} is back"],
              f"pair01's presence notices: {result['pairs'][0]['presence']}")
        check_report(args, a)

        b = rehearse(args, root, "b", 5, 2, "--session", session, "--kill-pair", "2")
        check(read(a, "matching.csv") == read(b, "matching.csv"),
              "the same seed must give the same matching and treatments")
        notices = json.loads(read(b, "rehearsal.json"))["notices"]
        check(any("pair02's bot was killed by SIGKILL and has been restarted" in n
                  for n in notices), f"the moderator's notices: {notices}")
        config = read(os.path.join(b, "pair02"), "wexbot-resume.conf")
        check(re.match(r"Resume \S+\.journal\n", config), f"the restart's configuration: {config}")
        check(read(os.path.join(b, "pair02"), "console.log").count("wexbot online and ready.")
              == 2, "pair02's bot should have signed on twice")
        payouts_b = rows(b, "session_payouts.csv")
        check(without_times(payouts_a, "2") == without_times(payouts_b, "2"),
              f"the resumed pair's payouts differ:\n{payouts_a}\n{payouts_b}")
        rounds_b = rows(b, "session_rounds.csv")
        check(without_times(rounds_a, "2") == without_times(rounds_b, "2"),
              "the resumed pair's rounds differ from the uninterrupted game's")

        c = rehearse(args, root, "c", 6, 1)
        check([(r["subject1"], r["subject2"]) for r in rows(a, "matching.csv")] !=
              [(r["subject1"], r["subject2"]) for r in rows(c, "matching.csv")],
              "another seed should give another matching")
        check(read(c, "matching.csv").startswith("pair,bot,subject1,subject2\n"),
              "a session without treatments has no treatment column")
        check_bench_profile(args, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def check_bench_profile(args, root):
    """bench --profile: the sampler sees the server's stanza handling (the
    main loop and its coroutines), not only its start."""
    folder = os.path.join(root, "bench")
    left = DEADLINE - (time.monotonic() - args.started)
    done = subprocess.run([sys.executable, args.wexlab, "bench", "--pairs", "1", "--rounds", "1",
                           "--profile", "--dir", folder, "--bot", args.bot], cwd=root,
                          capture_output=True, text=True, timeout=left)
    out = done.stdout + done.stderr
    check(done.returncode == 0, f"bench --profile failed ({done.returncode}):\n{out}")
    profile = read(folder, "server-profile.txt")
    inclusive = profile.split("# functions running")[0]
    for part in ("mod_c2s.lua", "stanza_router.lua", "mod_mam.lua"):
        check(part in inclusive, f"the server's profile has no {part}:\n{profile[:1500]}")
    check("where the server's time went" in out, f"bench printed no profile:\n{out}")
    # The server runs Lua's generational collector, as its configuration asks.
    check("collector generational" in profile.splitlines()[0], f"the profile's head: {profile[:200]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--chromium", default=shutil.which("chromium") or "chromium")
    args = parser.parse_args()
    args.wexlab, args.bot = os.path.abspath(args.wexlab), os.path.abspath(args.bot)
    if shutil.which("prosody") is None or shutil.which("prosodyctl") is None:
        print("prosody is not installed: skipped")
        return SKIP
    args.started = time.monotonic()
    try:
        run(args)
    except (Failure, subprocess.TimeoutExpired) as e:
        print(f"FAILED: {e}")
        return 1
    print(f"passed in {time.monotonic() - args.started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
