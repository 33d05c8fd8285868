"""The reader of gettext catalogues (.po files), for the seat page's texts
and for the bot's texts that wexlab reads back: each entry's msgid, its
context and plural msgid, and its msgstr or plural forms, strings joined
over lines and their escapes undone. Entries marked fuzzy, obsolete (#~)
or not translated, and the header (the empty msgid) are left out: the
English text stands for them. Pure but for read_catalogue and
read_po_forms, which read a file."""

import os
import re
from dataclasses import dataclass
from typing import List, Optional

from .errors import LabError

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "\\": "\\", "a": "\a", "b": "\b",
           "f": "\f", "v": "\v"}
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"\s*$')
KEYWORD = re.compile(r"msgctxt|msgid|msgid_plural|msgstr(?:\[(\d+)\])?")
CODE = re.compile(r"[a-z]{2,3}(?:_[A-Z]{2})?")


class PoError(ValueError):
    """A line that is no part of a catalogue's entry."""


@dataclass
class PoEntry:
    """A translated entry: forms holds its msgstr, or msgstr[0], msgstr[1]
    and on of an entry with a plural."""
    msgid: str
    forms: List[str]
    context: Optional[str] = None
    plural: Optional[str] = None


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
        self.forms = {}  # msgstr -> 0, msgstr[N] -> N
        self.fuzzy = False
        self.last = None  # the field that continuation lines add to

    def translated(self):
        """The PoEntry, or None for the header, a fuzzy entry or one with
        a form left empty."""
        f = self.fields
        forms = [f[key] for key in sorted(self.forms, key=self.forms.get)]
        if not f.get("msgid") or self.fuzzy or not forms or not all(forms):
            return None
        return PoEntry(f["msgid"], forms, f.get("msgctxt"), f.get("msgid_plural"))


def read_entries(text):
    """The translated entries of a catalogue, in its order; PoError names
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
        found = KEYWORD.fullmatch(keyword)
        if not found:
            raise PoError(f"line {number}: unknown keyword {keyword!r}")
        if keyword in ("msgid", "msgctxt") and "msgid" in entry.fields:
            entries.append(entry)  # an entry without comments before it
            entry = _Entry()
        if keyword in entry.fields:
            raise PoError(f"line {number}: {keyword} twice in one entry")
        entry.fields[keyword] = _string(rest, number)
        entry.last = keyword
        if keyword.startswith("msgstr"):
            entry.forms[keyword] = int(found.group(1) or 0)
    entries.append(entry)
    return [found for found in (e.translated() for e in entries) if found]


def parse_po(text):
    """{msgid: msgstr} of a catalogue's translated entries without a
    context or plural forms (the seat page has neither)."""
    return {e.msgid: e.forms[0] for e in read_entries(text)
            if e.context is None and e.plural is None}


def parse_po_forms(text):
    """{msgid: [msgstr, ...]} of a catalogue's translated entries without
    a context: one form, or each plural form in order."""
    return {e.msgid: e.forms for e in read_entries(text) if e.context is None}


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
    return _read_po(os.path.join(folder, code + ".po"), parse_po)


def read_po_forms(path):
    """parse_po_forms of the catalogue at path; LabError when the file
    cannot be read."""
    return _read_po(path, parse_po_forms)


def _read_po(path, parse):
    try:
        with open(path, encoding="utf-8") as f:
            return parse(f.read())
    except OSError as e:
        raise LabError(f"cannot read the catalogue {path}: {e.strerror}")
    except (UnicodeDecodeError, PoError) as e:
        raise LabError(f"{path}: {e}")
