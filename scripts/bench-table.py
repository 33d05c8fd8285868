#!/usr/bin/python3
"""Prints runs of `wexlab bench` as one Markdown table, a row per run, from
the bench.json files found under the folders given (in their order; the
runs of one folder in name order).

  scripts/bench-table.py FOLDER..."""

import json
import os
import sys

COLUMNS = ("run", "server", "pairs", "via", "p50 / p99 / max (ms)", "server CPU/msg (ms)",
           "bots CPU/msg (ms)", "tree")


def records(folder):
    """(name, record) of each bench.json under folder, by path."""
    found = []
    for root, _, files in os.walk(folder):
        if "bench.json" in files:
            with open(os.path.join(root, "bench.json"), encoding="utf-8") as f:
                name = os.path.relpath(root, folder)
                found.append((os.path.basename(os.path.abspath(root)) if name == "." else name,
                              json.load(f)))
    return sorted(found)


def number(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"


def row(name, r):
    server = r.get("server") or "?"
    if (r.get("nodes") or 1) > 1:
        server += f" ({r['nodes']} nodes)"
    latency = " / ".join(number(r.get(k)) for k in
                         ("latency_p50_ms", "latency_p99_ms", "latency_max_ms"))
    if r.get("complete_pairs") != r.get("pairs"):
        latency += f" ({r.get('complete_pairs')} of {r.get('pairs')} pairs finished)"
    return (name, server, str(r.get("pairs")), r.get("via") or "?", latency,
            number(r.get("server_cpu_ms_per_message"), 2),
            number(r.get("bots_cpu_ms_per_message"), 2), r.get("version") or "-")


def table(rows):
    lines = ["| " + " | ".join(COLUMNS) + " |", "|" + "---|" * len(COLUMNS)]
    return "\n".join(lines + ["| " + " | ".join(r) + " |" for r in rows])


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__.split("\n\n", 1)[1] + "\n")
        return 2
    rows = [row(name, r) for folder in argv[1:] for name, r in records(folder)]
    if not rows:
        sys.stderr.write("no bench.json under " + ", ".join(argv[1:]) + "\n")
        return 1
    print(table(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
