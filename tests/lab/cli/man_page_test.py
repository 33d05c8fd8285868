#!/usr/bin/python3
"""wexlab(1) against the command line: the man page names every command
and every option argparse has, and argparse's usage lists every command
but the internal ones."""

import argparse
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.cli import main  # noqa: E402

MAN_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "docs",
                        "man", "wexlab.1.scd")


def commands(parser, prefix=""):
    """(command as typed, its parser) of every command and subcommand."""
    found = []
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for name, sub in action.choices.items():
                found.append((prefix + name, sub))
                found += commands(sub, prefix + name + " ")
    return found


def options(parser):
    return [o for action in parser._actions for o in action.option_strings
            if o not in ("-h", "--help")]


def missing(page, parser):
    """The public commands and options that the page does not name."""
    found = []
    for name, sub in commands(parser):
        if name.startswith("_"):
            continue
        # scdoc's bold: *start*, or *wexlab node add* with the words in one run.
        if not re.search(r"\*(wexlab )?(\w+ )?" + re.escape(name) + r"[* ]", page):
            found.append(name)
        found += [f"{name} {o}" for o in options(sub) if f"*{o}*" not in page]
    return found


class ManPageTest(unittest.TestCase):
    def setUp(self):
        with open(MAN_PAGE, encoding="utf-8") as f:
            self.page = f.read()
        self.parser = main.make_parser()

    def test_the_page_names_every_command_and_option(self):
        self.assertGreater(len(commands(self.parser)), 10)
        self.assertEqual(missing(self.page, self.parser), [])

    def test_a_command_or_option_the_page_lacks_is_found(self):
        page = self.page.replace("*--browser*", "browser").replace("*seats*", "seats")
        self.assertEqual(missing(page, self.parser), ["seats", "rehearse --browser"])

    def test_the_usage_lists_every_public_command(self):
        usage = self.parser.format_usage()
        top = [name for name, _ in commands(self.parser)
               if " " not in name and not name.startswith("_")]
        listed = re.search(r"\{([^}]*)\}", usage).group(1).split(",")
        self.assertEqual(listed, top)
        self.assertIn("seats", listed)


if __name__ == "__main__":
    unittest.main()
