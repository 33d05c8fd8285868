"""wexlab bench: a rehearsal measuring latency, memory and CPU."""

import os
import time

from ..model.errors import LabError
from ..rehearsal import bench, play
from ..runtime.processes import say_line
from ..servers.prosody.config import PROFILE_VARIABLE

PROFILE_FILE = "server-profile.txt"


def profile_path(args):
    """The file for the server's profile with --profile (the sampler is
    told through the environment the server starts in), else None."""
    if not getattr(args, "profile", False):
        return None
    if (getattr(args, "server", None) or "prosody") != "prosody":
        raise LabError("--profile samples Prosody only")
    args.dir = args.dir or time.strftime("bench-%Y%m%d-%H%M%S")
    path = os.path.join(os.path.abspath(args.dir), PROFILE_FILE)
    os.environ[PROFILE_VARIABLE] = path
    return path


def run(args):
    lag = []
    before = {}
    version = bench.tree_version()  # the tree that runs, before it can change
    if args.stagger < 0:
        raise LabError("--stagger must not be negative")
    profile = profile_path(args)
    folder, lab, pairs, notices, measured = play.play_session(
        args, lag=lag, stagger=args.stagger / 1000, before=before)
    play.write_result(folder, pairs, notices, measured)
    figures = bench.measured_figures(lab, pairs, measured, lag, args.stagger, args.via, before,
                                     version)
    for line in bench.report_lines(figures):
        say_line(line)
    if profile:
        say_line(f"where the server's time went (samples of its Lua code): {profile}")
        for line in bench.profile_top(profile):
            say_line(f"  {line}")
    unfinished = [p.bot for p in pairs if not p.complete()]
    if unfinished:
        say_line(f"did not finish: {', '.join(unfinished)}")
    say_line(f"Each bot's figures are in {folder}/rehearsal.json, the run's in "
             f"{bench.write_record(folder, figures)}")
    return 0 if not unfinished else 1
