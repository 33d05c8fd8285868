"""The lab record, lab.json in the session folder: the one place that
reads and writes it."""

import os

from .errors import LabError
from .files import read_json, write_json

LAB_FILE = "lab.json"


def path(folder):
    return os.path.join(folder, LAB_FILE)


def exists(folder):
    return os.path.exists(path(folder))


def load(folder):
    if not exists(folder):
        raise LabError(f"no lab session in {folder} (run wexlab start SESSION.conf there)")
    return read_json(path(folder))


def save(folder, lab):
    """Replaces lab.json; it holds every password, so it is its owner's alone."""
    write_json(path(folder), lab, private=True)


def pair_rounds(lab, pair):
    """The rounds a pair plays: its treatment's NRounds or the session's."""
    return pair.get("rounds", lab["rounds"])
