#!/usr/bin/python3
"""Unit tests of the bot's texts as wexlab reads them back: the patterns
made from printf formats, the languages of the bot's catalogues (read by
the catalogue reader, whose own tests are in catalogue_test), and the
robots knowing the shipped German texts as they know the English ones."""

import os
import re
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.model import bot_texts, errors  # noqa: E402

PO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "po")


class BotTextsTest(unittest.TestCase):
    def test_patterns_group_the_conversions(self):
        pattern = re.compile(bot_texts.format_pattern(
            "%s total credits earned: %3.2f, Total payout: $%3.2f (100%%)"))
        self.assertEqual(pattern.fullmatch(
            "ann total credits earned: 420.50, Total payout: $10.00 (100%)").groups(),
            ("ann", "420.50", "10.00"))
        self.assertIsNone(pattern.fullmatch("ann total credits earned: x, Total payout: $1 (100%)"))
        self.assertEqual(bot_texts.format_pattern("%s is %lld s", ["(a)", "(b)"]),
                         "(a)\\ is\\ (b)\\ s")

    def test_languages_are_every_catalogue_of_the_folder(self):
        with tempfile.TemporaryDirectory() as folder:
            os.mkdir(os.path.join(folder, "wexbot"))
            with open(os.path.join(folder, "wexbot", "xx.po"), "w") as f:
                f.write('msgid "Yes"\nmsgstr "Oui"\n')
            texts = bot_texts.BotTexts(folder)
            # A broken catalogue is a fault naming its file and line, not
            # a language read in part.
            with open(os.path.join(folder, "wexbot", "yy.po"), "w") as f:
                f.write('msgid "Yes"\nmsgstr "Si\n')
            with self.assertRaises(errors.LabError) as caught:
                bot_texts.BotTexts(folder)
            self.assertIn("yy.po: line 2: expected a quoted string", str(caught.exception))
        self.assertEqual(sorted(texts.languages), ["en", "xx"])
        self.assertEqual(texts.variants("Yes"), ["Yes", "Oui"])
        self.assertEqual(texts.tr("xx", "No"), "No")


class ShippedGermanTest(unittest.TestCase):
    """The robots read the German texts as the bot sends them."""

    @classmethod
    def setUpClass(cls):
        with mock.patch.dict(os.environ, {"WEX_PO_DIR": PO}):
            from wexlab.rehearsal import robots
        cls.robots = robots

    def test_questions_rounds_break_end_and_payouts(self):
        r = self.robots
        search = bot_texts.search
        start = ("Beide Teilnehmenden sind da! Beginnen wir jetzt mit dem Spiel!\nDies ist Runde 1."
                 "\nWie viel wird Ihr Gegenüber Ihrer Meinung nach investieren?")
        self.assertTrue(search(r.ASKS_EXPECTATION, start))
        self.assertFalse(search(r.ASKS_INVESTMENT, start))
        self.assertEqual(search(r.ROUND, start).group(1), "1")
        self.assertTrue(search(r.ASKS_INVESTMENT, "Sie erwarten, dass Ihr Gegenüber so viel "
                               "investiert: 10\nSagen Sie mir jetzt bitte: Wie viel möchten Sie "
                               "investieren?"))
        after_break = ("Die 5-minütige Pause ist vorbei. Das Spiel geht jetzt weiter.\nAktuelle "
                       "Runde: 3\nWenn Sie bereit sind, sagen Sie mir bitte: Wie viel wird Ihr "
                       "Gegenüber Ihrer Meinung nach investieren?")
        self.assertTrue(search(r.ASKS_EXPECTATION, after_break))
        self.assertEqual(search(r.ROUND[1:], after_break).group(1), "3")
        self.assertTrue(search(r.BREAK, "Runden bis zum nächsten Bonus: 0\nWir machen jetzt eine "
                               "kurze Pause.  Sie haben bis zu 5 Minuten Zeit für Verhandlungen "
                               "mit Ihrem Gegenüber.  Sie können besprechen, was in den "
                               "bisherigen Runden geschehen ist, oder Ihre Strategien für die "
                               "kommenden Runden planen.  Bitte bleiben Sie im Gespräch bei "
                               "diesem Spiel und sprechen Sie nicht über andere Themen."))
        self.assertTrue(search(r.CLOSED, "Der Investitionsmarkt hat für heute geschlossen, und wir "
                               "beenden jetzt das Spiel. Vielen Dank für Ihre Teilnahme!"))
        self.assertFalse(search(r.CLOSED, start))
        self.assertEqual(bot_texts.fullmatch(
            r.PAYOUT, "ann Credits insgesamt: 420.00, Auszahlung insgesamt: $10.00").groups(),
            ("ann", "420.00", "10.00"))
        self.assertEqual(bot_texts.fullmatch(
            r.PAYOUT, "ann total credits earned: 420.00, Total payout: $10.00").groups(),
            ("ann", "420.00", "10.00"))
        self.assertTrue(bot_texts.fullmatch(r.PRESENCE, "ann ist offline gegangen"))
        self.assertTrue(bot_texts.fullmatch(r.PRESENCE, "ann went offline"))
        self.assertTrue("Status: Runde 2 von 4.\nann: ...".startswith(r.STATUS))


if __name__ == "__main__":
    unittest.main()
