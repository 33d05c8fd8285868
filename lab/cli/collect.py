"""wexlab collect: the pairs' data files merged, report.html written."""

import os

from ..model import record
from ..web import lifecycle


def run(args):
    folder = os.getcwd()
    lifecycle.collect(folder, record.load(folder))
