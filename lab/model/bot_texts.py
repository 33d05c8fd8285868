"""The bot's texts that wexlab reads back (the robots its questions, the
break, the end and the payout lines; the desk the moderator's ? answer) as
patterns that match them in English and in every language of the bot's
catalogues (po/wexbot/CODE.po), so a session in a shipped language is
read as one in English. The patterns are made from the texts' printf
formats: each conversion becomes a group."""

import glob
import os
import re

from . import catalogue, paths

_CONVERSION = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|L|z|j|t)?([diouxXeEfFgGsc%])")


def format_pattern(text, groups=None):
    """A regex source for text with its printf conversions as groups: a
    whole number for d, i and u, a number with a point for f, a word for s;
    groups, when given, replaces them in order."""
    out, pos, index = [], 0, 0
    for found in _CONVERSION.finditer(text):
        out.append(re.escape(text[pos:found.start()]))
        kind = found.group(1)
        if kind == "%":
            out.append("%")
        elif groups is not None:
            out.append(groups[index])
            index += 1
        else:
            out.append(r"(\d+)" if kind in "diu" else r"([\d.]+)" if kind in "fFeEgG"
                       else r"(\S+)")
        pos = found.end()
    out.append(re.escape(text[pos:]))
    return "".join(out)


class BotTexts:
    """The bot's texts in English and in each catalogue's language; a
    catalogue that cannot be read is a LabError naming its file and line."""

    def __init__(self, po_dir=None):
        self.languages = {"en": {}}
        folder = os.path.join(po_dir or paths.po_dir(), "wexbot")
        for path in sorted(glob.glob(os.path.join(folder, "*.po"))):
            self.languages[os.path.basename(path)[:-3]] = catalogue.read_po_forms(path)

    def variants(self, msgid, plural=None):
        """The text in every language (each plural form), English first."""
        found = [msgid] + ([plural] if plural else [])
        for translations in self.languages.values():
            found += [form for form in translations.get(msgid, []) if form not in found]
        return found

    def tr(self, language, msgid):
        return self.languages[language].get(msgid, [msgid])[0]

    def patterns(self, msgid, plural=None, flags=0):
        return [re.compile(format_pattern(text), flags) for text in self.variants(msgid, plural)]


def search(patterns, text):
    """The first pattern's match found in text, or None."""
    for pattern in patterns:
        found = pattern.search(text)
        if found:
            return found
    return None


def fullmatch(patterns, text):
    for pattern in patterns:
        found = pattern.fullmatch(text)
        if found:
            return found
    return None


_TEXTS = {}


def bot_texts():
    """The texts of the catalogues wexlab gives its bots, read once."""
    folder = paths.po_dir()
    if folder not in _TEXTS:
        _TEXTS[folder] = BotTexts(folder)
    return _TEXTS[folder]
