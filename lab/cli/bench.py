"""wexlab bench: a rehearsal measuring latency, memory and CPU."""

from ..model.errors import LabError
from ..rehearsal import bench, play
from ..runtime.processes import say_line


def run(args):
    lag = []
    before = {}
    version = bench.tree_version()  # the tree that runs, before it can change
    if args.stagger < 0:
        raise LabError("--stagger must not be negative")
    folder, lab, pairs, notices, measured = play.play_session(
        args, lag=lag, stagger=args.stagger / 1000, before=before)
    play.write_result(folder, pairs, notices, measured)
    figures = bench.measured_figures(lab, pairs, measured, lag, args.stagger, args.via, before,
                                     version)
    for line in bench.report_lines(figures):
        say_line(line)
    unfinished = [p.bot for p in pairs if not p.complete()]
    if unfinished:
        say_line(f"did not finish: {', '.join(unfinished)}")
    say_line(f"Each bot's figures are in {folder}/rehearsal.json, the run's in "
             f"{bench.write_record(folder, figures)}")
    return 0 if not unfinished else 1
