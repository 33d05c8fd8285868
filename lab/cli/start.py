"""wexlab start SESSION.conf [--only PAIRS] [--bot PATH]."""

import os

from ..web import lifecycle


def run(args):
    lifecycle.start_session(os.getcwd(), args.session, args.bot, args.only)
