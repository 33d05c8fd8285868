#!/usr/bin/python3
"""Prints two runs of `wexlab bench` side by side from their bench.json
files, with the change from the first to the second where both are
numbers.

  scripts/bench-compare.py A/bench.json B/bench.json"""

import json
import sys


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def cell(value):
    if value is None:
        return "-"
    if isinstance(value, float):
        return f"{value:.2f}"
    return str(value)


def change(a, b):
    """B against A in per cent, when both are numbers and A is not 0."""
    numbers = (int, float)
    if isinstance(a, bool) or not isinstance(a, numbers) or not isinstance(b, numbers) or not a:
        return ""
    return f"{100.0 * (b - a) / a:+.0f}%"


def rows(a, b):
    keys = list(a) + [k for k in b if k not in a]
    return [(k, cell(a.get(k)), cell(b.get(k)), change(a.get(k), b.get(k))) for k in keys]


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__.split("\n\n", 1)[1] + "\n")
        return 2
    table = [("", argv[1], argv[2], "")] + rows(load(argv[1]), load(argv[2]))
    widths = [max(len(r[i]) for r in table) for i in range(4)]
    for r in table:
        print("  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                        for i, (c, w) in enumerate(zip(r, widths))).rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
