"""wexlab stop: every bot stopped, the data collected, the server stopped."""

import os

from ..web import lifecycle


def run(args):
    lifecycle.stop_session(os.getcwd())
