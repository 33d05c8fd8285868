"""What `wexlab bench` measures and prints: the latency the bots add, each
bot's memory and CPU, the server's, the robots' own load, and the CPU each
spent per message to a subject; kept in bench.json beside the session.

The CPU per message counts only the play (from the robots' sign-on to the
end), not the server's and the bots' start, which would swamp it on a
short run (an ejabberd node's boot alone takes seconds)."""

import dataclasses
import math
import os
import resource
import subprocess
import time
from dataclasses import dataclass
from typing import Optional

from ..model import placement
from ..model.files import write_json
from .robots import percentile

RECORD = "bench.json"


def own_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def tree_version(folder=None):
    """git describe of the tree wexlab runs from, or None when it is not a
    git checkout (an installed copy) or git is missing."""
    folder = folder or os.path.dirname(os.path.abspath(__file__))
    try:
        done = subprocess.run(["git", "describe", "--always", "--dirty", "--tags"], cwd=folder,
                              capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return None
    return (done.stdout.strip() or None) if done.returncode == 0 else None


def per_message_ms(cpu_seconds, messages):
    """Milliseconds of CPU for each message measured; None without either."""
    if cpu_seconds is None or not messages:
        return None
    return 1000.0 * cpu_seconds / messages


def play_cpu(total, start):
    """CPU seconds since start (None when either is unknown); a process
    started again since (a lower total) counts from 0."""
    if total is None or start is None:
        return None
    return total - start if total >= start else total


def start_of(before, stats):
    """(bots' stats, server's, robots' CPU s) as the play began; zeros for
    every process when that is unknown."""
    if not before:
        return {index: (0, 0.0) for index in stats}, (0, 0.0), 0.0
    start_stats, start_server = before["measured"]
    return start_stats, start_server, before["robots_cpu_s"]


def spread(values):
    """(p50, p99, max) of values, None for each when there are none."""
    if not values:
        return None, None, None
    return percentile(values, 0.5), percentile(values, 0.99), max(values)


@dataclass
class Figures:
    """One bench run's figures; None where nothing was measured."""
    pairs: int
    rounds: int
    via: str
    server: str
    nodes: int
    stagger_ms: float
    messages: int            # messages to subjects measured
    complete_pairs: int
    latency_p50_ms: Optional[float]
    latency_p99_ms: Optional[float]
    latency_max_ms: Optional[float]
    server_cpu_s: Optional[float]       # the server's whole life
    server_play_cpu_s: Optional[float]  # during the play only
    server_cpu_ms_per_message: Optional[float]
    server_peak_rss_mib: Optional[float]
    bots_measured: int
    bots_cpu_s: Optional[float]  # every bot's together, whole life
    bots_play_cpu_s: Optional[float]
    bots_cpu_ms_per_message: Optional[float]
    bot_cpu_min_s: Optional[float]
    bot_cpu_max_s: Optional[float]
    bot_rss_min_mib: Optional[float]
    bot_rss_mean_mib: Optional[float]
    bot_rss_max_mib: Optional[float]
    robots_cpu_s: float      # this process, setup included
    robots_play_cpu_s: Optional[float]
    robots_cpu_ms_per_message: Optional[float]
    lag_p50_ms: Optional[float]
    lag_p99_ms: Optional[float]
    lag_max_ms: Optional[float]
    date: str = ""
    version: Optional[str] = None  # git describe of the tree, when known


def figures(lab, pairs, measured, lag, stagger_ms, via, robots_cpu_s, date="", version=None,
            before=None):
    """The Figures of a run: pairs are the robots' Pairs, measured is
    play.measure's (bots' stats, server's), lag the robots' event loop's
    lateness in seconds; before is what play_session measured as the play
    began (without it the CPU per message counts the whole run)."""
    stats, server = measured
    start_stats, start_server, robots_start = start_of(before, stats)
    # A bot that was not running as the play began spent all of its CPU in it.
    bots_play = [play_cpu(s[1], start_stats[i][1] if start_stats.get(i) else 0.0)
                 for i, s in stats.items() if s]
    bots_play_cpu = sum(bots_play) if bots_play else None
    server_play_cpu = play_cpu(server[1] if server else None,
                               start_server[1] if start_server else None)
    robots_play_cpu = play_cpu(robots_cpu_s, robots_start)
    samples = [v * 1000 for p in pairs for v in p.latencies]
    p50, p99, worst = spread(samples)
    lag50, lag99, lag_max = spread([v * 1000 for v in lag])
    rss = [s[0] / 1024 for s in stats.values() if s]
    cpu = [s[1] for s in stats.values() if s]
    bots_cpu = sum(cpu) if cpu else None
    server_cpu = server[1] if server else None
    return Figures(
        pairs=len(pairs), rounds=lab.rounds, via=via, server=lab.server,
        nodes=max(1, placement.node_count(lab)), stagger_ms=stagger_ms,
        messages=len(samples), complete_pairs=sum(1 for p in pairs if p.complete()),
        latency_p50_ms=p50, latency_p99_ms=p99, latency_max_ms=worst,
        server_cpu_s=server_cpu, server_play_cpu_s=server_play_cpu,
        server_cpu_ms_per_message=per_message_ms(server_play_cpu, len(samples)),
        server_peak_rss_mib=server[0] / 1024 if server else None,
        bots_measured=len(cpu), bots_cpu_s=bots_cpu, bots_play_cpu_s=bots_play_cpu,
        bots_cpu_ms_per_message=per_message_ms(bots_play_cpu, len(samples)),
        bot_cpu_min_s=min(cpu, default=None), bot_cpu_max_s=max(cpu, default=None),
        bot_rss_min_mib=min(rss, default=None),
        bot_rss_mean_mib=sum(rss) / len(rss) if rss else None,
        bot_rss_max_mib=max(rss, default=None),
        robots_cpu_s=robots_cpu_s, robots_play_cpu_s=robots_play_cpu,
        robots_cpu_ms_per_message=per_message_ms(robots_play_cpu, len(samples)),
        lag_p50_ms=lag50, lag_p99_ms=lag99, lag_max_ms=lag_max, date=date, version=version)


def measured_figures(lab, pairs, measured, lag, stagger_ms, via, before=None, version=None):
    """figures() of a run that has just ended in this process; version is
    tree_version() as it began."""
    return figures(lab, pairs, measured, lag, stagger_ms, via, own_cpu_seconds(),
                   time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()), version, before)


def ms(value):
    return "n/a" if value is None else f"{value:.1f} ms"


def seconds(value):
    return "n/a" if value is None else f"{value:.2f} s"


def report_lines(f):
    """The lines the bench prints for Figures f."""
    lines = [f"wexlab bench: {f.pairs} pairs, {f.rounds} rounds, robots via {f.via}, "
             f"{f.server} ({f.nodes} node{'s' if f.nodes != 1 else ''}), pairs started "
             f"{f.stagger_ms:g} ms apart, {f.messages} messages to subjects measured",
             f"added latency beyond the bot's 1000 ms wait: p50 {ms(f.latency_p50_ms)}, "
             f"p99 {ms(f.latency_p99_ms)}, max {ms(f.latency_max_ms)}"]
    if f.bots_measured:
        lines.append(f"bots: peak RSS {f.bot_rss_min_mib:.1f}-{f.bot_rss_max_mib:.1f} MiB each "
                     f"(mean {f.bot_rss_mean_mib:.1f}), CPU {f.bot_cpu_min_s:.2f}-"
                     f"{f.bot_cpu_max_s:.2f} s each ({f.bots_cpu_s:.2f} s in all, "
                     f"{seconds(f.bots_play_cpu_s)} in the play: "
                     f"{ms(f.bots_cpu_ms_per_message)} a message)")
    if f.server_cpu_s is not None:
        lines.append(f"server: CPU {f.server_cpu_s:.2f} s ({seconds(f.server_play_cpu_s)} in "
                     f"the play: {ms(f.server_cpu_ms_per_message)} a message), peak RSS "
                     f"{f.server_peak_rss_mib:.1f} MiB")
    lines.append(f"robots (this process, setup included): CPU {f.robots_cpu_s:.2f} s "
                 f"({seconds(f.robots_play_cpu_s)} in the play: "
                 f"{ms(f.robots_cpu_ms_per_message)} a message); their event loop late by "
                 f"p50 {ms(f.lag_p50_ms)}, p99 {ms(f.lag_p99_ms)}, max {ms(f.lag_max_ms)}")
    return lines


def record(f):
    """bench.json's content: every figure, with no NaN (JSON has none)."""
    data = dataclasses.asdict(f)
    for key, value in data.items():
        if isinstance(value, float) and not math.isfinite(value):
            data[key] = None
    return data


def write_record(folder, f):
    path = os.path.join(folder, RECORD)
    write_json(path, record(f))
    return path


def profile_top(path, count=12):
    """The source files most often on the server's stack, from the profile
    the sampler wrote (its inclusive section), as printed lines."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError:
        return ["(no profile written)"]
    section = text.split("# source files on the stack (inclusive)\n", 1)[-1]
    return [line.strip() for line in section.split("\n\n", 1)[0].splitlines()[:count]]
