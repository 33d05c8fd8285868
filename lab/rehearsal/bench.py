"""What `wexlab bench` prints: the latency the bots add, each bot's memory
and CPU, the server's, and the robots' own load."""

import resource

from .robots import percentile


def own_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def report_lines(lab, pairs, measured, lag, stagger_ms):
    """The lines of the bench's result; measured is play.measure's, lag the
    robots' event loop's lateness in seconds."""
    stats, server = measured
    samples = [v * 1000 for p in pairs for v in p.latencies]
    lines = [f"wexlab bench: {len(pairs)} pairs, {lab.rounds} rounds, pairs started "
             f"{stagger_ms:g} ms apart, {len(samples)} messages to subjects measured"]
    worst = max(samples, default=float("nan"))
    lines.append(f"added latency beyond the bot's 1000 ms wait: p50 "
                 f"{percentile(samples, 0.5):.1f} ms, p99 {percentile(samples, 0.99):.1f} ms, "
                 f"max {worst:.1f} ms")
    rss = [s[0] / 1024 for s in stats.values() if s]
    cpu = [s[1] for s in stats.values() if s]
    if rss:
        lines.append(f"bots: peak RSS {min(rss):.1f}-{max(rss):.1f} MiB each "
                     f"(mean {sum(rss) / len(rss):.1f}), CPU {min(cpu):.2f}-{max(cpu):.2f} s "
                     f"each ({sum(cpu):.2f} s in all)")
    if server:
        lines.append(f"server: CPU {server[1]:.2f} s, peak RSS {server[0] / 1024:.1f} MiB")
    lag = [v * 1000 for v in lag]
    lines.append(f"robots (this process, setup included): CPU {own_cpu_seconds():.2f} s; "
                 f"their event loop late by p50 {percentile(lag, 0.5):.1f} ms, "
                 f"p99 {percentile(lag, 0.99):.1f} ms, max {max(lag, default=float('nan')):.1f} ms")
    return lines
