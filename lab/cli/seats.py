"""wexlab seats: each participant's name, role, pair and sign-in link."""

import os

from ..runtime.processes import say_line
from ..web import seats


def run(args):
    say_line(seats.table(seats.read_seats(os.getcwd())))
