"""report.html: one self-contained page (inline SVG and CSS, nothing
fetched) with a chart per pair and the session's payout table; in a session
of treatments, each treatment's mean investment per round and its pairs'
charts under it."""

import dataclasses
import html
import time

from ..model.record import pair_rounds
from .numbers import count, mean_investments, number

WIDTH, HEIGHT = 300, 200  # one panel
MARGIN = 36
COLORS = {"1": "#1f77b4", "2": "#d62728"}

STYLE = """
body { font-family: sans-serif; margin: 2em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.1em; margin-top: 1.6em; }
.pair { display: inline-block; vertical-align: top; margin: 0 1.5em 1.5em 0; }
svg text { font-size: 11px; fill: #444; }
table { border-collapse: collapse; } td, th { padding: 2px 10px; text-align: left; }
th { border-bottom: 1px solid #999; } td.n { text-align: right; }
section.treatment > h2 { font-size: 1.25em; border-bottom: 1px solid #999; }
"""


def _polyline(points, color, dashed, x0, scale_x, scale_y, top):
    if not points:
        return ""
    coords = " ".join(f"{x0 + scale_x(r):.1f},{top + scale_y(v):.1f}" for r, v in points)
    dash = ' stroke-dasharray="5,3"' if dashed else ""
    dots = "".join(f'<circle cx="{x0 + scale_x(r):.1f}" cy="{top + scale_y(v):.1f}" r="2.5" '
                   f'fill="{color}"/>' for r, v in points)
    return (f'<polyline fill="none" stroke="{color}" stroke-width="2"{dash} '
            f'points="{coords}"/>{dots}')


def _panel(x0, title, rounds, top_value, series):
    """One panel: axes, ticks and its lines; series is [(points, color, dashed)]."""
    inner_w, inner_h = WIDTH - 2 * MARGIN, HEIGHT - 2 * MARGIN
    last = max(rounds, 1)

    def scale_x(r):
        return MARGIN + (inner_w * (r - 1) / (last - 1) if last > 1 else inner_w / 2)

    def scale_y(v):
        return MARGIN + inner_h - inner_h * v / top_value

    parts = [f'<text x="{x0 + MARGIN}" y="16">{html.escape(title)}</text>',
             f'<line x1="{x0 + MARGIN}" y1="{HEIGHT - MARGIN}" x2="{x0 + WIDTH - MARGIN}" '
             f'y2="{HEIGHT - MARGIN}" stroke="#999"/>',
             f'<line x1="{x0 + MARGIN}" y1="{MARGIN}" x2="{x0 + MARGIN}" '
             f'y2="{HEIGHT - MARGIN}" stroke="#999"/>']
    for fraction in (0, 0.5, 1):
        value = top_value * fraction
        y = scale_y(value)
        parts.append(f'<text x="{x0 + MARGIN - 4}" y="{y + 4:.1f}" text-anchor="end">'
                     f'{value:.0f}</text>')
    step = max(1, rounds // 10)
    for r in range(1, rounds + 1, step):
        parts.append(f'<text x="{x0 + scale_x(r):.1f}" y="{HEIGHT - MARGIN + 14}" '
                     f'text-anchor="middle">{r}</text>')
    parts.append(f'<text x="{x0 + WIDTH / 2:.0f}" y="{HEIGHT - 4}" '
                 'text-anchor="middle">round</text>')
    for points, color, dashed in series:
        parts.append(_polyline(points, color, dashed, x0, scale_x, scale_y, 0))
    return "".join(parts)


def pair_chart(pair, rows, rounds):
    """The SVG of one pair: expectations (dashed) and investments (solid) on
    the left, cumulative credits on the right; subject 1 blue, 2 red."""
    by_subject = {"1": [], "2": []}
    for row in rows:
        if row.get("subject") in by_subject and number(row.get("round")) is not None:
            by_subject[row["subject"]].append(row)
    left, right, top_credits = [], [], 100.0
    for subject, subject_rows in by_subject.items():
        subject_rows.sort(key=lambda r: int(r["round"]))
        color = COLORS[subject]
        for column, dashed in (("expectation", True), ("investment", False)):
            points = [(int(r["round"]), number(r[column])) for r in subject_rows
                      if number(r.get(column)) is not None]
            left.append((points, color, dashed))
        credits = [(int(r["round"]), number(r["total_credits"])) for r in subject_rows
                   if number(r.get("total_credits")) is not None]
        top_credits = max([top_credits] + [v for _, v in credits])
        right.append((credits, color, False))
    title = (f"Pair {pair.index}: {pair.subject1} (blue) and {pair.subject2} (red)")
    body = (_panel(0, "expectation (dashed), investment (solid)", rounds, 60, left) +
            _panel(WIDTH, "cumulative credits", rounds, top_credits * 1.05, right))
    if not rows:
        body += (f'<text x="{WIDTH}" y="{HEIGHT / 2}" text-anchor="middle">'
                 'no closed rounds</text>')
    return (f'<div class="pair"><h2>{html.escape(title)}</h2>'
            f'<svg class="pair-chart" data-pair="{pair.index}" '
            'xmlns="http://www.w3.org/2000/svg" '
            f'width="{2 * WIDTH}" height="{HEIGHT}" viewBox="0 0 {2 * WIDTH} {HEIGHT}">'
            f'{body}</svg></div>')


def payout_table(payouts):
    rows = []
    total = 0.0
    columns = ("pair", "treatment") if any("treatment" in r for r in payouts) else ("pair",)
    columns += ("subject", "name", "total_credits", "payout", "rounds")
    for row in payouts:
        payout = number(row.get("payout"))
        total += payout or 0.0
        credits = number(row.get("total_credits"))
        shown = dict(row, total_credits=f"{credits:.2f}" if credits is not None else "")
        rows.append("<tr>" + "".join(
            f'<td{" class=n" if key in ("total_credits", "payout") else ""}>'
            f'{html.escape(shown.get(key, ""))}</td>'
            for key in columns) + "</tr>")
    if not rows:
        return "<p>No pair has reached its payouts yet.</p>"
    titles = {"total_credits": "total credits", "payout": "payout ($)", "rounds": "rounds closed"}
    return ('<table id="payouts"><tr>' +
            "".join(f"<th>{titles.get(key, key)}</th>" for key in columns) + "</tr>" +
            "".join(rows) +
            f'<tr><td colspan="{len(columns) - 2}"><b>total</b></td>'
            f'<td class="n"><b>{total:.2f}</b></td></tr></table>')


def _settings(treatment):
    return ", ".join(f"{key} {value}" for key, value in treatment.values.items()) or \
        "the session's values"


def treatment_table(lab, rows):
    """Per treatment: its settings, how many pairs played it and which,
    and the mean investment in each round over both subjects of all its
    pairs."""
    last = max((pair_rounds(lab, p) for p in lab.pairs), default=lab.rounds)
    head = "".join(f"<th>{r}</th>" for r in range(1, last + 1))
    lines = []
    for treatment in lab.treatments:
        pairs = [p for p in lab.pairs if p.treatment == treatment.name]
        means = mean_investments(rows, {str(p.index) for p in pairs})
        cells = "".join(f'<td class="n">{means[r]:.1f}</td>' if r in means else "<td></td>"
                        for r in range(1, last + 1))
        lines.append(f'<tr data-treatment="{html.escape(treatment.name)}">'
                     f'<td>{html.escape(treatment.name)}</td>'
                     f'<td>{html.escape(_settings(treatment))}</td>'
                     f'<td class="n">{len(pairs)}</td>'
                     f'<td>{", ".join(str(p.index) for p in pairs)}</td>{cells}</tr>')
    return ('<table id="treatments"><tr><th>treatment</th><th>settings</th><th>pairs</th>'
            f'<th>pair numbers</th>{head}</tr>' + "".join(lines) + "</table>"
            "<p>Pairs: how many pairs played the treatment. Mean investment per round "
            "(columns: rounds) over both subjects of the treatment's pairs.</p>")


def charts(lab, by_pair, pairs):
    return "".join(pair_chart(pair, by_pair.get(str(pair.index), []), pair_rounds(lab, pair))
                   for pair in pairs)


def grouped_charts(lab, by_pair):
    """The pairs' charts, under a heading per treatment when there are any."""
    if not lab.treatments:
        return charts(lab, by_pair, lab.pairs)
    parts = []
    for treatment in lab.treatments:
        pairs = [p for p in lab.pairs if p.treatment == treatment.name]
        parts.append(f'<section class="treatment" data-treatment="'
                     f'{html.escape(treatment.name)}"><h2>Treatment '
                     f'{html.escape(treatment.name)} ({html.escape(_settings(treatment))}):'
                     f' {count(len(pairs), "pair")}</h2>{charts(lab, by_pair, pairs)}</section>')
    return "".join(parts)


def render(lab, tables, rounds, top="", bottom=""):
    by_pair = {}
    for row in tables["rounds"]:
        by_pair.setdefault(row["pair"], []).append(row)
    lab = dataclasses.replace(lab, rounds=rounds)
    treatments = (f"<h2>Treatments</h2>{treatment_table(lab, tables['rounds'])}"
                  if lab.treatments else "")
    made = time.strftime("%Y-%m-%d %H:%M:%S")
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
            f"<title>wex lab session report</title><style>{STYLE}</style></head><body>"
            f"<h1>wex lab session: {count(len(lab.pairs), 'pair')}, seed {lab.seed}</h1>"
            f"<p>Made {made} from session_rounds.csv and session_payouts.csv.</p>{top}"
            f"{treatments}<h2>Payouts</h2>{payout_table(tables['payouts'])}"
            f"{grouped_charts(lab, by_pair)}{bottom}</body></html>\n")
