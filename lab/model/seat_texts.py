"""What the seat page shows in the lab's language: its own texts from the
catalogue of `Language CODE` (po/seat/CODE.po) and, for each pair, the
instructions before the game - the lab's own Markdown file
(`Instructions FILE`, relative to the session file) or the shipped ones
for the language - with the pair's values filled in, since treatments
differ in rounds and pay."""

import os
import re
from dataclasses import dataclass, field
from typing import Dict

from . import catalogue
from .errors import LabError
from .paths import seat_po_dir

DEFAULT_LANGUAGE = "en"
PLACEHOLDER = re.compile(r"\{([a-z_]+)\}")


@dataclass(frozen=True)
class SeatTexts:
    lang: str
    texts: Dict[str, str]  # English text -> translation
    instructions: Dict[str, str] = field(default_factory=dict)  # bot -> Markdown


def N_(english):
    """Marks a text for the catalogue where it is a constant; it is
    translated where it is used, with Translation.t."""
    return english


@dataclass(frozen=True)
class Translation:
    """The seat's catalogue for texts wexlab writes itself (the cards): the
    English text is the key, a missing one stays English."""
    lang: str = DEFAULT_LANGUAGE
    texts: Dict[str, str] = field(default_factory=dict)

    def t(self, english, **params):
        return fill(self.texts.get(english) or english, params)


def language_fault(code, folder=None):
    """Why Language CODE cannot be played, or None."""
    seat = folder or seat_po_dir()
    bots = os.path.join(os.path.dirname(seat), "wexbot")
    known = [c for c in catalogue.languages(seat) if c in catalogue.languages(bots)]
    if code in known:
        return None
    return (f"Language '{code}' is not known; known: {', '.join(known)} "
            "(a lab adds one as po/wexbot/CODE.po and po/seat/CODE.po, see docs/languages.md)")


def _read(path, what):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError as e:
        raise LabError(f"cannot read {what} {path}: {e.strerror}")
    except UnicodeDecodeError:
        raise LabError(f"{what} {path} is not UTF-8 text")


def instructions_template(session, folder, code):
    """The lab's instructions file or the shipped ones for code (English
    when the language has none)."""
    own = session.values.get("Instructions")
    if own:
        base = os.path.dirname(os.path.abspath(session.path))
        return _read(os.path.join(base, own), "the instructions file")
    path = os.path.join(folder, "instructions", f"{code}.md")
    if not os.path.exists(path):
        path = os.path.join(folder, "instructions", f"{DEFAULT_LANGUAGE}.md")
    return _read(path, "the default instructions")


# The catalogue's text for the decimal separator ("," in German); the page
# uses it too.
DECIMAL_POINT = "."


def money(text):
    """A money amount with two decimals; a value the bot accepted that is
    no plain number stays as written."""
    try:
        return f"{float(text):.2f}"
    except ValueError:
        return text


def counted(texts, count, one, many):
    """The phrase for a count: one's text for 1, else many's with {count}."""
    translation = Translation(texts=texts)
    return translation.t(one) if count == "1" else translation.t(many, count=count)


def pair_fields(session, treatment, point=".", texts=None):
    """The values an instructions text may name as {name}, from the
    pair's game keys (the session's, the treatment's over them, the bot's
    defaults for the rest), numbers with the decimal separator point, and
    the phrases that count rounds in the catalogue texts' language."""
    values = {key.name: key.default for key in session.keys.keys if key.default is not None}
    values.update(session.game_values(treatment))
    credit = values.get("CreditValue", "")
    try:
        # What 2000 credits pay, held between the least and greatest payout.
        low, high = float(values.get("MinPayout", 0)), float(values.get("MaxPayout", 0))
        example = money(str(min(high, max(low, 2000 * float(credit)))))
    except ValueError:
        example = ""
    fields = {"rounds": values.get("NRounds", ""),
              "interval": values.get("ConversationInterval", ""),
              "break_seconds": values.get("MaxChatTime", ""),
              "credit_value": credit,
              "min_payout": money(values.get("MinPayout", "")),
              "max_payout": money(values.get("MaxPayout", "")),
              "example_pay": example}
    fields = {name: value.replace(".", point) for name, value in fields.items()}
    texts = texts or {}
    fields["rounds_phrase"] = counted(texts, fields["rounds"], N_("1 round"), N_("{count} rounds"))
    fields["every_phrase"] = counted(texts, fields["interval"], N_("Every round"),
                                     N_("Every {count} rounds"))
    return fields


def fill(template, fields):
    """template with every {name} of fields replaced; others stay."""
    return PLACEHOLDER.sub(lambda m: str(fields.get(m.group(1), m.group(0))), template)


def seat_texts(session, lab, folder=None):
    """The page's texts for the session's language and each pair's
    instructions; LabError when a file cannot be read."""
    folder = folder or seat_po_dir()
    code = session.values.get("Language", DEFAULT_LANGUAGE)
    fault = language_fault(code, folder)
    if fault:
        raise LabError(fault)
    texts = catalogue.read_catalogue(folder, code)
    template = instructions_template(session, folder, code)
    point = texts.get(DECIMAL_POINT, DECIMAL_POINT)
    instructions = {pair.bot: fill(template, pair_fields(session, pair.treatment, point, texts))
                    for pair in lab.pairs}
    return SeatTexts(code, texts, instructions)
