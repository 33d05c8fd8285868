"""wexlab rehearse: a whole session played by robots, with a crash, a
killed node or browser seats when asked."""

from ..rehearsal import online_play, play
from ..runtime.processes import say_line


def run_arrivals(args):
    """Robots arrive through the room of an online session of its own."""
    result = online_play.play_arrivals(args)
    if args.browser:
        browsers = sum(1 for visit in result.visits if visit.plan.browser)
        say_line(f"{browsers} of them came in headless Chromium through the pages.")
    for line in online_play.report_lines(result):
        say_line(line)
    return 1 if result.faults else 0


def run(args):
    if args.arrivals is not None:
        return run_arrivals(args)
    # Pair 1's second subject goes offline in the first break and comes back.
    folder, lab, pairs, notices, _ = play.play_session(args, args.kill_pair, blip_pair=1,
                                                       browser=args.browser,
                                                       kill_node=args.kill_node)
    if args.kill_node:
        say_line(f"ejabberd node {args.kill_node} was SIGKILLed as the first round closed "
                 "and started again.")
    play.write_result(folder, pairs, notices)
    treatments = {p.index: p.treatment for p in lab.pairs if p.treatment is not None}
    if args.browser:
        say_line(f"{pairs[0].bot}'s subjects played through the web page in Chromium.")
    for pair in pairs:
        state = "reached the payouts" if pair.complete() else "did NOT finish"
        paid = ", ".join(f"{name} ${dollars}"
                         for name, (_, dollars) in sorted(pair.payouts.items()))
        treatment = f"; treatment {treatments[pair.index]}" if pair.index in treatments else ""
        say_line(f"{pair.bot}: {state}" + (f" ({paid})" if paid else "") + treatment)
    for pair in pairs:
        for notice in pair.presence:
            say_line(f"{pair.bot} told the moderator: {notice}")
    for notice in notices:
        say_line(f"notice to the moderator: {notice}")
    say_line(f"Session folder: {folder}")
    return 0 if all(p.complete() for p in pairs) else 1
