#!/usr/bin/python3
"""Unit tests of the seat's language and instructions: the .po reader (of
the seat's and the bot's catalogues), the known languages, the keys
Language and Instructions (an unknown language refused with the list, an
unreadable file a start-up fault), each pair's instructions with its own
values, and the shipped catalogues: seat.pot current with the page's
texts, msgfmt --check clean, every text of de.po translated with the same
placeholders."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import catalogue, errors, plan, seat_texts  # noqa: E402
from wexlab.model import session_file  # noqa: E402
from wexlab.model.paths import seat_po_dir  # noqa: E402
from fixtures import GOOD, TREATED, bot_keys, parse  # noqa: E402

ROOT = wexlab_loader.ROOT
PO = """# a comment
msgid ""
msgstr ""
"Language: de\\n"

#: web/seat/view.js
msgid "You"
msgstr "Sie"

msgid ""
"A long text "
"over lines"
msgstr ""
"Ein langer Text "
"über Zeilen"

#, fuzzy
msgid "Send"
msgstr "Schicken"

#, python-brace-format
msgid "Round {round}\\t\\"{rounds}\\"\\n"
msgstr "Runde {round}\\t\\"{rounds}\\"\\n"
msgid "Untranslated"
msgstr ""
msgctxt "menu"
msgid "Open"
msgstr "Öffnen"
#~ msgid "Old"
#~ msgstr "Alt"
"""


def write(folder, name, text):
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


class PoReaderTest(unittest.TestCase):
    def test_entries_lines_escapes_and_what_is_left_out(self):
        self.assertEqual(catalogue.parse_po(PO), {
            "You": "Sie",
            "A long text over lines": "Ein langer Text über Zeilen",
            'Round {round}\t"{rounds}"\n': 'Runde {round}\t"{rounds}"\n'})

    def test_plural_forms_in_order_contexts_apart(self):
        text = r"""msgid ""
msgstr "Plural-Forms: nplurals=2; plural=(n != 1);\n"

#, c-format
msgid ""
"Line one\n"
"a \"quote\""
msgstr "Zeile eins\n\"Zitat\"\t\\"

#, fuzzy
msgid "Fuzzy"
msgstr "Unscharf"

msgid "Empty"
msgstr ""

msgctxt "other"
msgid "Kept"
msgstr "Anderswo"

msgid "Kept"
msgstr "Behalten"

msgid "%i apple"
msgid_plural "%i apples"
msgstr[1] "%i Äpfel"
msgstr[0] "%i Apfel"

msgid "%i pear"
msgid_plural "%i pears"
msgstr[0] "%i Birne"
msgstr[1] ""
"""
        self.assertEqual(catalogue.parse_po_forms(text), {
            'Line one\na "quote"': ['Zeile eins\n"Zitat"\t\\'],
            "Kept": ["Behalten"],
            "%i apple": ["%i Apfel", "%i Äpfel"]})
        # The seat's reading leaves the plural out; the entries keep all.
        self.assertEqual(catalogue.parse_po(text), {
            'Line one\na "quote"': 'Zeile eins\n"Zitat"\t\\', "Kept": "Behalten"})
        self.assertEqual(catalogue.read_entries(text)[1:], [
            catalogue.PoEntry("Kept", ["Anderswo"], context="other"),
            catalogue.PoEntry("Kept", ["Behalten"]),
            catalogue.PoEntry("%i apple", ["%i Apfel", "%i Äpfel"], plural="%i apples")])

    def test_faults_name_the_line(self):
        for text, reason in (('msgid "a"\nmsgstr "b\\q"\n', "line 2: unknown escape"),
                             ('msgid "a"\nmsgstr b\n', "line 2: expected a quoted string"),
                             ('"orphan"\n', "line 1: a string continues no field"),
                             ('msgid "a"\nmsgtext "b"\n', "line 2: unknown keyword"),
                             ('msgid "a"\nmsgstr "b"\nmsgstr "c"\n', "line 3: msgstr twice"),
                             ('msgid "a"\nmsgid_plural "as"\nmsgstr[0] "b"\nmsgstr[0] "c"\n',
                              "line 4: msgstr[0] twice"),
                             ('msgid "a"\nmsgstr[x] "b"\n', "line 2: unknown keyword")):
            with self.assertRaises(catalogue.PoError) as caught:
                catalogue.parse_po(text)
            self.assertIn(reason, str(caught.exception))

    def test_languages_are_en_and_each_po_file(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(catalogue.languages(folder), ["en"])
            for name in ("fr.po", "de.po", "pt_BR.po", "seat.pot", "notes.po", "en.po"):
                write(folder, name, PO)
            self.assertEqual(catalogue.languages(folder), ["en", "de", "fr", "pt_BR"])
            self.assertEqual(catalogue.read_catalogue(folder, "en"), {})
            self.assertEqual(catalogue.read_catalogue(folder, "de")["You"], "Sie")
            write(folder, "xx.po", 'msgid "a"\nmsgstr b\n')
            with self.assertRaises(errors.LabError) as caught:
                catalogue.read_catalogue(folder, "xx")
            self.assertIn("xx.po: line 2", str(caught.exception))
        self.assertEqual(catalogue.languages("/nonexistent"), ["en"])


class LanguageKeyTest(unittest.TestCase):
    def test_a_known_language_is_taken_an_unknown_one_refused_with_the_list(self):
        session = parse(GOOD + "Language de\n", "lab.conf")
        self.assertEqual(session.values["Language"], "de")
        with self.assertRaises(session_file.SessionError) as caught:
            parse(GOOD + "Language xx\n", "lab.conf")
        message = str(caught.exception)
        self.assertIn("lab.conf:15: Language 'xx' is not known; known: en, de", message)
        self.assertIn("po/seat/CODE.po", message)
        with self.assertRaises(session_file.SessionError) as caught:
            parse(GOOD + "Instructions\n", "lab.conf")
        self.assertIn("lab.conf:15: Instructions needs the path", str(caught.exception))

    def test_language_goes_to_the_bots_when_their_key_table_has_it(self):
        # wexlab passes it as it passes every key of the bot's table.
        from wexlab.model import bot_config, bot_keys as keyslib
        keys = bot_keys()
        conf = bot_config.bot_config(parse(GOOD + "Language de\n"), "pair01", "ann", "bob")
        self.assertEqual("Language" in keys, "\nLanguage de\n" in conf)
        extended = keyslib.BotKeys(keys.keys + (keyslib.BotKey(
            "Language", "text", None, None, (), "en", False, False, "the texts' language"),))
        session = session_file.parse_session(GOOD + "Language de\n", "s", extended)
        self.assertIn("\nLanguage de\n", bot_config.bot_config(session, "pair01", "ann", "bob"))


class SeatTextsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-texts-")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.folder]))

    def session(self, text):
        path = write(self.folder, "lab.conf", text)
        return session_file.read_session(path, bot_keys())

    def test_each_pair_gets_its_treatments_values_in_the_shipped_text(self):
        session = self.session(TREATED)
        lab = plan.new_lab(session, "/bin/true")
        texts = seat_texts.seat_texts(session, lab)
        self.assertEqual((texts.lang, texts.texts), ("en", {}))
        self.assertEqual(sorted(texts.instructions), ["pair01", "pair02"])
        for pair in lab.pairs:
            text = texts.instructions[pair.bot]
            self.assertNotRegex(text, r"\{[a-z_]+\}")
            high = pair.treatment == "high"
            self.assertIn("**12 rounds**" if high else "**10 rounds**", text)
            self.assertIn("Every 5 rounds", text)
            self.assertIn("up to 300 seconds", text)
            self.assertIn("0.02 dollars per credit" if high else "0.005 dollars per credit", text)
            # MinPayout from the bot's default, MaxPayout the treatment's.
            self.assertIn("at least 10.00 and at most 40.00" if high else
                          "at least 10.00 and at most 25.00", text)
            self.assertIn("2000 credits are worth 40.00" if high else
                          "2000 credits are worth 10.00", text)
        # The example is a payout: held to the pair's bounds.
        capped = self.session(GOOD + "CreditValue 0.05\nMaxPayout 30\n")
        fields = seat_texts.pair_fields(capped, None)
        self.assertEqual((fields["example_pay"], fields["max_payout"]), ("30.00", "30.00"))
        low = self.session(GOOD + "CreditValue 0.001\n")
        self.assertEqual(seat_texts.pair_fields(low, None)["example_pay"], "10.00")

    def test_a_count_of_one_reads_as_one(self):
        one = GOOD.replace("NRounds 10", "NRounds 1").replace("ConversationInterval 5",
                                                                "ConversationInterval 1")
        for language, rounds, every in (("en", "**1 round**", "Every round there"),
                                        ("de", "**1 Runde**", "Jede Runde gibt")):
            with self.subTest(language=language):
                session = self.session(one + f"Language {language}\n")
                text = seat_texts.seat_texts(session, plan.new_lab(session, "/bin/true"))
                self.assertIn(rounds, text.instructions["pair01"])
                self.assertIn(every, text.instructions["pair01"])

    def test_german_texts_and_instructions(self):
        session = self.session(GOOD + "Language de\n")
        texts = seat_texts.seat_texts(session, plan.new_lab(session, "/bin/true"))
        self.assertEqual(texts.lang, "de")
        self.assertEqual(texts.texts["Send"], "Senden")
        self.assertIn("**10 Runden**", texts.instructions["pair01"])
        # Numbers with the language's decimal separator, from its catalogue.
        self.assertEqual(texts.texts["."], ",")
        self.assertIn("Sie erhalten 0,0075 Dollar pro Punkt, mindestens jedoch 10,00 und "
                      "höchstens 25,00 Dollar", texts.instructions["pair01"])

    def test_the_labs_own_file_relative_to_the_session_file_and_its_faults(self):
        write(self.folder, "texts/ours.md", "# Ours\n\n{rounds} rounds, {unknown} stays.\n")
        session = self.session(GOOD + "Instructions texts/ours.md\n")
        texts = seat_texts.seat_texts(session, plan.new_lab(session, "/bin/true"))
        self.assertEqual(texts.instructions["pair02"], "# Ours\n\n10 rounds, {unknown} stays.\n")
        for name, content, reason in (("missing.md", None, "cannot read the instructions file"),
                                      ("latin1.md", b"\xe4\xff", "is not UTF-8 text")):
            if content is not None:
                with open(os.path.join(self.folder, name), "wb") as f:
                    f.write(content)
            session = self.session(GOOD + f"Instructions {name}\n")
            with self.assertRaises(errors.LabError) as caught:
                seat_texts.seat_texts(session, plan.new_lab(session, "/bin/true"))
            self.assertIn(reason, str(caught.exception))
            self.assertIn(os.path.join(self.folder, name), str(caught.exception))


def entries(path):
    """(msgid, msgstr, flags) of a catalogue's entries, by msgfmt's own
    reading: msgcat writes each on one line."""
    text = subprocess.run(["msgcat", "--no-wrap", "--no-location", path], check=True,
                          capture_output=True, text=True).stdout
    found = []
    for block in text.split("\n\n"):
        flags = " ".join(re.findall(r"^#, (.*)$", block, re.M))
        msgid = re.search(r'^msgid "(.*)"$', block, re.M)
        msgstr = re.search(r'^msgstr "(.*)"$', block, re.M)
        if msgid and msgid.group(1) and not block.lstrip().startswith("#~"):
            found.append((msgid.group(1), msgstr.group(1), flags))
    return found


class ShippedCatalogueTest(unittest.TestCase):
    def test_the_template_holds_exactly_the_pages_texts(self):
        with tempfile.TemporaryDirectory() as folder:
            fresh = os.path.join(folder, "seat.pot")
            subprocess.run([os.path.join(ROOT, "scripts", "po-seat.sh"), "--pot", fresh],
                           check=True, capture_output=True)

            def body(path):
                with open(path, encoding="utf-8") as f:
                    return [line for line in f.read().splitlines()
                            if not line.startswith('"POT-Creation-Date:')]
            self.assertEqual(body(fresh), body(os.path.join(seat_po_dir(), "seat.pot")),
                             "po/seat/seat.pot is stale: run scripts/po-seat.sh")

    def test_every_language_passes_msgfmt_check(self):
        for code in catalogue.languages(seat_po_dir())[1:]:
            path = os.path.join(seat_po_dir(), f"{code}.po")
            done = subprocess.run(["msgfmt", "--check", "-o", "/dev/null", path],
                                  capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)

    def test_german_translates_every_text_keeping_its_placeholders(self):
        template = {msgid for msgid, _, _ in entries(os.path.join(seat_po_dir(), "seat.pot"))}
        german = {msgid: (msgstr, flags) for msgid, msgstr, flags in
                  entries(os.path.join(seat_po_dir(), "de.po"))}
        self.assertGreater(len(template), 10)
        self.assertEqual(sorted(template - set(german)), [], "texts missing from de.po")
        for msgid in template:
            msgstr, flags = german[msgid]
            self.assertTrue(msgstr, f"no translation of {msgid!r}")
            self.assertNotIn("fuzzy", flags, f"fuzzy translation of {msgid!r}")
            self.assertEqual(sorted(re.findall(r"\{[a-z_]+\}", msgid)),
                             sorted(re.findall(r"\{[a-z_]+\}", msgstr)),
                             f"placeholders of {msgid!r}")
        # The default instructions name the same values in every language.
        folder = os.path.join(seat_po_dir(), "instructions")
        with open(os.path.join(folder, "en.md"), encoding="utf-8") as f:
            english = set(re.findall(r"\{[a-z_]+\}", f.read()))
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                self.assertEqual(set(re.findall(r"\{[a-z_]+\}", f.read())), english, name)


if __name__ == "__main__":
    unittest.main()
