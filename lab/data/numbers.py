"""Numbers read from the merged data files, and the mean investment per
round, for both parts of the report."""

import statistics


def number(text):
    """The number a data file's cell holds, or None (empty, missing, text)."""
    try:
        return float(text)
    except (TypeError, ValueError):
        return None


def mean_investments(rows, pair_numbers=None):
    """round -> the mean investment of the rounds rows that have both a
    round and an investment; only the rows of pair_numbers (pair numbers as
    text) when given."""
    by_round = {}
    for row in rows:
        if pair_numbers is not None and row.get("pair") not in pair_numbers:
            continue
        value, round_number = number(row.get("investment")), number(row.get("round"))
        if value is not None and round_number is not None:
            by_round.setdefault(int(round_number), []).append(value)
    return {r: statistics.mean(values) for r, values in by_round.items()}


def count(n, word):
    """"1 pair", "2 pairs": a count with its noun (plural by -s)."""
    return f"{n} {word}" if n == 1 else f"{n} {word}s"
