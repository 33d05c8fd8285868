#!/usr/bin/python3
"""End-to-end test of scripts/wexlab: whole lab sessions of three pairs
played by robot subjects and a robot moderator over a Prosody of their own.

Run A (seed 5) must reach every pair's payouts, tell the moderator when a
subject goes offline and comes back, and leave the merged data and a
report that Chromium renders with one chart per pair. Run B has the
same seed and SIGKILLs pair 2's bot as its first round closes: the
supervisor must restart it with Resume, tell the moderator, and the pair
must end with run A's payouts; its matching must be run A's. Run C, with
another seed, must match the subjects differently."""

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
    check(not os.path.exists(os.path.join(folder, "server", "prosody.pid")),
          f"{name}: the server still runs")
    # No bot stopped but the one killed on purpose, and none reported a
    # sanitizer finding.
    starts = read(folder, "supervisor.log").count(": bot started")
    check(starts == 3 + (1 if extra else 0), f"{name}: {starts} bot starts:\n"
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
    charts = re.findall(r'<svg class="pair-chart" data-pair="(\d)".*?</svg>', dom, re.S)
    check(charts == ["1", "2", "3"], f"charts in the rendered page: {charts}")
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


def without_times(table, pair):
    return [{k: v for k, v in row.items() if not k.endswith("_time")}
            for row in table if row["pair"] == pair]


def run(args):
    root = tempfile.mkdtemp(prefix="wexlab-e2e-")
    try:
        a = rehearse(args, root, "a", 5, 2)
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

        b = rehearse(args, root, "b", 5, 2, "--kill-pair", "2")
        check(read(a, "matching.csv") == read(b, "matching.csv"),
              "the same seed must give the same matching")
        notices = json.loads(read(b, "rehearsal.json"))["notices"]
        check(any("pair02's bot was killed by SIGKILL and has been restarted" in n
                  for n in notices), f"the moderator's notices: {notices}")
        config = read(os.path.join(b, "pair02"), "wexbot-resume.conf")
        check(re.match(r"Resume \S+\.journal\n", config), f"the restart's configuration: {config}")
        check(read(os.path.join(b, "pair02"), "console.log").count("wexbot online and ready.")
              == 2, "pair02's bot should have signed on twice")
        payouts_b = rows(b, "session_payouts.csv")
        check([r for r in payouts_a if r["pair"] == "2"] == [r for r in payouts_b
                                                             if r["pair"] == "2"],
              f"the resumed pair's payouts differ:\n{payouts_a}\n{payouts_b}")
        rounds_b = rows(b, "session_rounds.csv")
        check(without_times(rounds_a, "2") == without_times(rounds_b, "2"),
              "the resumed pair's rounds differ from the uninterrupted game's")

        c = rehearse(args, root, "c", 6, 1)
        check(read(a, "matching.csv") != read(c, "matching.csv"),
              "another seed should give another matching")
    finally:
        shutil.rmtree(root, ignore_errors=True)


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
