"""A reader of gettext catalogues (.po files) for the seat page: each
msgid with its msgstr, strings joined over lines and their escapes
undone. Entries marked fuzzy, obsolete (#~), with a context or plural
forms, and the header (the empty msgid) are left out: the page then shows
the English text. Pure: the caller reads the file."""

import os
import re

from .errors import LabError

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "\\": "\\", "a": "\a", "b": "\b",
           "f": "\f", "v": "\v"}
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"\s*$')
CODE = re.compile(r"[a-z]{2,3}(?:_[A-Z]{2})?")


class PoError(ValueError):
    """A line that is no part of a catalogue's entry."""


def unescape(text, number):
    def one(match):
        letter = match.group(1)
        if letter not in ESCAPES:
            raise PoError(f"line {number}: unknown escape \\{letter}")
        return ESCAPES[letter]
    return re.sub(r"\\(.)", one, text)


def _string(rest, number):
    found = STRING.fullmatch(rest.strip())
    if not found:
        raise PoError(f"line {number}: expected a quoted string, found {rest.strip()!r}")
    return unescape(found.group(1), number)


class _Entry:
    def __init__(self):
        self.fields = {}  # msgid, msgstr, msgctxt, msgid_plural, msgstr[N] -> text
        self.fuzzy = False
        self.last = None  # the field that continuation lines add to

    def usable(self):
        f = self.fields
        return ("msgid" in f and f["msgid"] != "" and f.get("msgstr", "") != ""
                and not self.fuzzy and "msgctxt" not in f and "msgid_plural" not in f)


def parse_po(text):
    """{msgid: msgstr} of a catalogue's translated entries; PoError names
    the first line it cannot read."""
    entries, entry = [], _Entry()
    for number, line in enumerate(text.splitlines(), start=1):
        stripped = line.strip()
        if not stripped:
            continue
        if stripped.startswith("#"):
            if "msgid" in entry.fields:  # a comment begins the next entry
                entries.append(entry)
                entry = _Entry()
            if stripped.startswith("#,") and "fuzzy" in stripped[2:].replace(",", " ").split():
                entry.fuzzy = True
            continue
        if stripped.startswith('"'):
            if entry.last is None:
                raise PoError(f"line {number}: a string continues no field")
            entry.fields[entry.last] += _string(stripped, number)
            continue
        keyword, _, rest = stripped.partition(" ")
        if not re.fullmatch(r"msgctxt|msgid|msgid_plural|msgstr(\[\d+\])?", keyword):
            raise PoError(f"line {number}: unknown keyword {keyword!r}")
        if keyword in ("msgid", "msgctxt") and "msgid" in entry.fields:
            entries.append(entry)  # an entry without comments before it
            entry = _Entry()
        if keyword in entry.fields:
            raise PoError(f"line {number}: {keyword} twice in one entry")
        entry.fields[keyword] = _string(rest, number)
        entry.last = keyword
    if entry.fields:
        entries.append(entry)
    return {e.fields["msgid"]: e.fields["msgstr"] for e in entries if e.usable()}


def languages(folder):
    """The known languages: en (the texts themselves) and every CODE.po
    in folder, sorted."""
    found = set()
    if os.path.isdir(folder):
        found = {name[:-3] for name in os.listdir(folder)
                 if name.endswith(".po") and CODE.fullmatch(name[:-3])}
    return ["en"] + sorted(found - {"en"})


def read_catalogue(folder, code):
    """{msgid: msgstr} of folder/CODE.po; en has none. LabError when the
    file cannot be read."""
    if code == "en":
        return {}
    path = os.path.join(folder, code + ".po")
    try:
        with open(path, encoding="utf-8") as f:
            return parse_po(f.read())
    except OSError as e:
        raise LabError(f"cannot read the catalogue {path}: {e.strerror}")
    except (UnicodeDecodeError, PoError) as e:
        raise LabError(f"{path}: {e}")
