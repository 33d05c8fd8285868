"""wexlab collect [--bundle]: the pairs' data files merged, the codebook,
session.xlsx and report.html written; with --bundle the replication
bundle SESSION.zip too."""

import os

from ..model import record
from ..web import lifecycle


def run(args):
    folder = os.getcwd()
    lifecycle.collect(folder, record.load(folder), bundle=args.bundle)
