"""The report's part for an online session, from room.log and
session_participants.csv: arrivals over time (an inline SVG), the
waiting times, each treatment's formed pairs and how their subjects ended,
and the paid exits from the waiting room. Subjects appear by ticket, never
by label, so the report can be shared."""

import html
import statistics

from .numbers import count, number
from ..model import room_log
from .participants import ROOM_EXITS

CHART_W, CHART_H, PAD = 420, 160, 32
# The subject outcomes the attrition table counts, in its order.
GAME_OUTCOMES = (("completed", "completed"), ("paid_now", "paid now"),
                 ("replaced", "replaced"), ("dropout", "dropped out"),
                 ("stopped", "stopped"), ("running", "running"))


def timeline(entries):
    """(arrival times, pair times) as seconds since the room opened (its
    first entry)."""
    times = [e.get("time") for e in entries if isinstance(e.get("time"), (int, float))]
    if not times:
        return [], []
    first = min(times)

    def of(kind):
        return sorted(e["time"] - first for e in entries if e.get("kind") == kind and
                      isinstance(e.get("time"), (int, float)))
    return of("arrive"), of("pair")


def _steps(times, scale_x, scale_y):
    """A step line's points: the count rising by one at each time."""
    points = [(scale_x(0), scale_y(0))]
    for n, t in enumerate(times, start=1):
        points += [(scale_x(t), scale_y(n - 1)), (scale_x(t), scale_y(n))]
    return " ".join(f"{x:.1f},{y:.1f}" for x, y in points)


def arrivals_chart(arrivals, pairs):
    """Arrivals so far (blue) and pairs formed so far (green) against the
    time since the room opened."""
    if not arrivals:
        return '<p id="arrivals">Nobody arrived.</p>'
    span = max(arrivals[-1], pairs[-1] if pairs else 0, 1.0)
    top = max(len(arrivals), 1)
    # A short session in seconds, a longer one in minutes.
    end, unit = (f"{span:.0f}", "seconds") if span < 120 else (f"{span / 60:.1f}", "minutes")

    def x(t):
        return PAD + (CHART_W - 2 * PAD) * t / span

    def y(n):
        return CHART_H - PAD - (CHART_H - 2 * PAD) * n / top

    lines = "".join(f'<polyline class="{name}" fill="none" stroke="{color}" stroke-width="2" '
                    f'points="{_steps(times, x, y)}"/>'
                    for name, color, times in (("arrived", "#1f77b4", arrivals),
                                               ("paired", "#2ca02c", pairs)) if times)
    return (f'<svg id="arrivals" xmlns="http://www.w3.org/2000/svg" width="{CHART_W}" '
            f'height="{CHART_H}"><line x1="{PAD}" y1="{CHART_H - PAD}" x2="{CHART_W - PAD}" '
            f'y2="{CHART_H - PAD}" stroke="#999"/><line x1="{PAD}" y1="{PAD}" x2="{PAD}" '
            f'y2="{CHART_H - PAD}" stroke="#999"/>'
            f'<text x="{PAD - 4}" y="{PAD + 4}" text-anchor="end">{top}</text>'
            f'<text x="{PAD - 4}" y="{CHART_H - PAD + 4}" text-anchor="end">0</text>'
            f'<text x="{PAD}" y="{CHART_H - PAD + 14}" text-anchor="middle">0</text>'
            f'<text x="{CHART_W - PAD}" y="{CHART_H - PAD + 14}" text-anchor="middle">'
            f'{end}</text>'
            f'<text x="{CHART_W / 2}" y="{CHART_H - 4}" text-anchor="middle">{unit} since '
            f'the room opened</text>{lines}'
            f'<text x="{CHART_W / 2}" y="14" text-anchor="middle">subjects arrived (blue) '
            f'and pairs formed (green)</text></svg>')


def waiting(rows):
    """The waiting times' table: how many waited, the median and the
    longest wait, and how many left unpaired."""
    waits = [v for v in (number(r.get("seconds_waited")) for r in rows) if v is not None]
    outcomes = [r.get("outcome") for r in rows]
    cells = [("arrivals", len(rows)),
             ("paired", sum(1 for r in rows if r.get("pair"))),
             ("median wait", f"{statistics.median(waits):.1f} s" if waits else "-"),
             ("longest wait", f"{max(waits):.1f} s" if waits else "-"),
             ("waited out (no partner in time)", outcomes.count("waited_out")),
             ("turned away (full or closed)", outcomes.count("full")),
             ("still waiting", sum(1 for r in rows if not r.get("pair") and
                                   r.get("outcome") == "running"))]
    body = "".join(f"<tr><th>{name}</th><td class=n>{value}</td></tr>" for name, value in cells)
    return f'<table id="waiting">{body}</table>'


def attrition(lab, rows):
    """Per treatment (the lab's, in its order): its formed pairs and how
    their subjects ended."""
    paired = [r for r in rows if r.get("pair")]
    names = [t.name for t in lab.treatments]
    names += sorted({r.get("treatment", "") for r in paired} - set(names))
    lines = []
    for name in names or [""]:
        mine = [r for r in paired if r.get("treatment", "") == name]
        cells = "".join(f'<td class="n">{sum(1 for r in mine if r.get("outcome") == key)}</td>'
                        for key, _ in GAME_OUTCOMES)
        lines.append(f'<tr data-treatment="{html.escape(name)}"><td>'
                     f'{html.escape(name or "all pairs")}</td>'
                     f'<td class="n">{len({r["pair"] for r in mine})}</td>{cells}</tr>')
    head = "".join(f"<th>{title}</th>" for _, title in GAME_OUTCOMES)
    return ('<table id="online-attrition"><tr><th>treatment</th><th>pairs formed</th>'
            f'{head}</tr>' + "".join(lines) + "</table><p>Subjects of the formed pairs by "
            "how their game ended; replaced: a stand-in played on for them.</p>")


def exits(rows):
    """A line per paid exit from the waiting room."""
    left = [r for r in rows if r.get("outcome") in ROOM_EXITS]
    if not left:
        return '<p id="room-exits">Nobody left the waiting room unpaired.</p>'
    body = "".join(f"<tr><td>{html.escape(r.get('ticket', ''))}</td>"
                   f"<td>{html.escape(r.get('arrival_time', ''))}</td>"
                   f"<td class=n>{html.escape(r.get('seconds_waited', ''))}</td>"
                   f"<td>{html.escape(r.get('outcome', ''))}</td>"
                   f"<td class=n>{html.escape(r.get('payout', ''))}</td>"
                   f"<td>{html.escape(r.get('code_shown', ''))}</td></tr>" for r in left)
    return ('<table id="room-exits"><tr><th>ticket</th><th>arrived</th><th>waited (s)</th>'
            '<th>why</th><th>paid ($)</th><th>code shown</th></tr>' + body + "</table>")


def render(folder, lab, rows):
    """The online session's part of the report; rows: the participants'."""
    arrivals, pairs = timeline(room_log.read(folder))
    return (f"<h2>Online session: {count(len(rows), 'arrival')}</h2>"
            f"{arrivals_chart(arrivals, pairs)}<h3>Waiting</h3>{waiting(rows)}"
            f"<h3>Attrition by treatment</h3>{attrition(lab, rows)}"
            f"<h3>Exits from the waiting room</h3>{exits(rows)}")
