"""Treatments: `Treatment NAME KEY VALUE` lines set a game key for the
pairs of one treatment (over the session's value), `Treatment NAME` alone
declares one that plays the session's values, and `Treatments NAME ...`
lists them in order. The keys a treatment may set are those the bot's key
table marks so. The pairs are spread over the treatments evenly and at
random from the seed."""

import random
import re

from .errors import line_fault
from .values import lab_fault

TREATMENT_NAME = re.compile(r"[A-Za-z0-9._-]{1,24}")


class Treatment:
    """One treatment: its name, the game keys it sets and their lines."""

    def __init__(self, name, line):
        self.name = name
        self.line = line  # the first Treatment line naming it
        self.values = {}  # key -> value text, in the file's order
        self.lines = {}   # key -> line number


def settable_fault(keys, key):
    """Why a treatment may not set key (keys: the bot's key table), or None."""
    allowed = keys.treatment_names()
    if key in allowed:
        return None
    if key in keys:
        return f"a treatment may not set {key}; it may set {', '.join(allowed)}"
    return f"unknown key '{key}' for a treatment; it may set {', '.join(allowed)}"


def read_treatment(treatments, keys, value, number, line, path):
    """One `Treatment NAME [KEY VALUE]` line into treatments (name ->
    Treatment); keys is the bot's key table."""
    found = re.match(r"([^ \t]+)(?:[ \t]+([^ \t]+))?(?:[ \t]+(.*))?$", value)
    if not found:
        raise line_fault(path, number, line, "a treatment line is Treatment NAME KEY VALUE")
    name, key, setting = found.group(1, 2, 3)
    if not TREATMENT_NAME.fullmatch(name):
        raise line_fault(path, number, line, f"'{name}' cannot be a treatment's name: use 1 "
                         "to 24 letters, digits, '.', '_' or '-'")
    treatment = treatments.setdefault(name, Treatment(name, number))
    if key is None:
        return  # a treatment that plays the session's values
    fault = settable_fault(keys, key)
    if fault:
        raise line_fault(path, number, line, fault)
    if not setting:
        raise line_fault(path, number, line, f"{key} needs a value")
    if key in treatment.values:
        raise line_fault(path, number, line, f"{key} appears twice in treatment {name} "
                         f"(first on line {treatment.lines[key]})")
    fault = lab_fault(key, setting)
    if fault:
        raise line_fault(path, number, line, fault)
    treatment.values[key], treatment.lines[key] = setting, number


def order_treatments(treatments, values, lines, raw_lines, path):
    """The treatments in the Treatments line's order; every name there must
    have Treatment lines and every treatment must be named there."""
    if "Treatments" not in values:
        if treatments:
            first = min(t.line for t in treatments.values())
            raise line_fault(path, first, raw_lines[first], "Treatment lines need a "
                             "Treatments line naming the treatments in order")
        return []
    number = lines["Treatments"]
    names = values["Treatments"].split()
    if not names:
        raise line_fault(path, number, raw_lines[number], "Treatments needs at least one name")
    for name in names:
        if names.count(name) > 1:
            raise line_fault(path, number, raw_lines[number], f"'{name}' appears twice")
        if name not in treatments:
            raise line_fault(path, number, raw_lines[number], f"treatment '{name}' has no "
                             f"Treatment lines (Treatment {name} KEY VALUE)")
    for treatment in treatments.values():
        if treatment.name not in names:
            raise line_fault(path, treatment.line, raw_lines[treatment.line],
                             f"treatment '{treatment.name}' is not in the Treatments line "
                             f"(line {number})")
    return [treatments[name] for name in names]


def assign_treatments(names, count, seed):
    """The treatment of each of count pairs, pair 1 first: each name as
    often as any other, give or take one (the extra pairs go to the names
    listed first), in an order drawn from the seed. The matching's own
    draw is left alone, so treatments never change who plays whom."""
    if not names:
        return [None] * count
    order = [names[i % len(names)] for i in range(count)]
    random.Random(f"{seed}:treatments").shuffle(order)
    return order
