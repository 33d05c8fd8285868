"""The top of report.html: the session's summary with the mean investment
per round, a line per pair with its flags, the incidents (restarts, a bot
given up, failed sends, subjects offline, games ended by the moderator)
from supervisor.log, the transcripts and the journals, and each pair's
chat. Plain HTML and inline SVG, so the report stays one file."""

import html
import statistics
import time

from ..model import pair_state
from ..model.record import pair_json
from ..model.visible import visible_line
from .numbers import mean_investments, number

CHART_W, CHART_H, PAD = 420, 160, 32


def _clock(t):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(t))


def pair_records(folder, lab):
    """Each pair's state (pair_state) and its incidents [(t, text)]."""
    supervisor = pair_state.read_lines(f"{folder}/supervisor.log")
    records = []
    for pair in lab.pairs:
        entries, events = pair_state.read_pair(folder, pair, lab.log_file)
        sup = pair_state.supervisor_events(supervisor, pair.bot)
        state = pair_state.pair_state(dict(pair_json(pair), nrounds=lab.rounds), entries, events,
                                      sup, {}, None, time.time())
        found = [(t, text) for t, text in sup if "restarted" in text]
        found += [(e["t"], e["text"]) for e in state["reopened"]]
        found += [(e["t"], f"failed: {e['text']}") for e in state["errors"]]
        found += [(t, f"{name} {text}") for t, name, tag, text in events if tag == "PRES"]
        found += [(e["t"], f"the moderator ended the game in round {e.get('round')}")
                  for e in entries if e.get("kind") == "stop"]
        # By time only: lines of the same second keep the order they were
        # written in.
        records.append((pair, state, sorted(found, key=lambda item: item[0])))
    return records


def means_per_round(rounds_rows, rounds):
    """The mean investment of every subject in each round 1..rounds (None
    for a round nobody played)."""
    means = mean_investments(rounds_rows)
    return [means.get(r) for r in range(1, rounds + 1)]


def investment_chart(means):
    points = [(r, v) for r, v in enumerate(means, start=1) if v is not None]
    if not points:
        return "<p>No round was closed.</p>"
    top = max(max(v for _, v in points), 1.0)
    last = max(len(means), 2)

    def xy(r, v):
        return (PAD + (CHART_W - 2 * PAD) * (r - 1) / (last - 1),
                CHART_H - PAD - (CHART_H - 2 * PAD) * v / top)

    line = " ".join(f"{x:.1f},{y:.1f}" for x, y in (xy(r, v) for r, v in points))
    labels = "".join(f'<text x="{xy(r, 0)[0]:.1f}" y="{CHART_H - PAD + 14}" '
                     f'text-anchor="middle">{r}</text>' for r in range(1, len(means) + 1,
                                                                       max(1, last // 10)))
    return (f'<svg id="mean-investment" xmlns="http://www.w3.org/2000/svg" width="{CHART_W}" '
            f'height="{CHART_H}"><line x1="{PAD}" y1="{CHART_H - PAD}" x2="{CHART_W - PAD}" '
            f'y2="{CHART_H - PAD}" stroke="#999"/><line x1="{PAD}" y1="{PAD}" x2="{PAD}" '
            f'y2="{CHART_H - PAD}" stroke="#999"/>'
            f'<text x="{PAD - 4}" y="{PAD + 4}" text-anchor="end">{top:.0f}</text>'
            f'<text x="{PAD - 4}" y="{CHART_H - PAD + 4}" text-anchor="end">0</text>{labels}'
            f'<polyline fill="none" stroke="#1f77b4" stroke-width="2" points="{line}"/>'
            f'<text x="{CHART_W / 2}" y="14" text-anchor="middle">mean investment per round, '
            'all pairs</text></svg>')


def summary(lab, tables, records):
    payouts = [v for v in (number(r.get("payout")) for r in tables["payouts"]) if v is not None]
    played = sum(state["rounds_closed"] for _, state, _ in records)
    cells = [("pairs", len(lab.pairs)), ("subjects", 2 * len(lab.pairs)),
             ("rounds played", f"{played} of {len(lab.pairs) * lab.rounds}"),
             ("total payout", f"${sum(payouts):.2f}"),
             ("mean payout", f"${statistics.mean(payouts):.2f}" if payouts else "-"),
             ("median payout", f"${statistics.median(payouts):.2f}" if payouts else "-")]
    rows = "".join(f"<tr><th>{name}</th><td class=n>{value}</td></tr>" for name, value in cells)
    chart = investment_chart(means_per_round(tables["rounds"], lab.rounds))
    return f'<h2>Summary</h2><table id="summary">{rows}</table>{chart}'


def pair_lines(tables, records):
    paid = {}
    for row in tables["payouts"]:
        if row.get("payout"):  # a game that paid nothing has rows without a payout
            paid.setdefault(row.get("pair"), []).append(f"{row.get('name')} ${row.get('payout')}")
    rows = []
    for pair, state, found in records:
        flags = []
        if str(pair.index) not in paid:
            flags.append("NO PAYOUTS")
        if any("ended the game" in text for _, text in found):
            flags.append("ended by the moderator")
        if any("restarted" in text or text.startswith("failed") for _, text in found):
            flags.append("incidents")
        rows.append(f'<tr data-pair="{pair.index}"><td>{pair.index}</td>'
                    f'<td>{html.escape(pair.bot)}</td><td class=n>{state["rounds_closed"]}</td>'
                    f'<td>{html.escape(", ".join(paid.get(str(pair.index), [])) or "-")}</td>'
                    f'<td class="flag">{html.escape(", ".join(flags))}</td></tr>')
    return ('<h2>Pairs</h2><table id="pair-lines"><tr><th>pair</th><th>bot</th>'
            '<th>rounds closed</th><th>payouts</th><th>flags</th></tr>' + "".join(rows) +
            "</table>")


def incidents(records):
    every = sorted(((t, pair.bot, text) for pair, _, found in records for t, text in found),
                   key=lambda item: item[0])
    rows = [f"<tr><td>{_clock(t)}</td><td>{html.escape(bot)}</td>"
            f"<td>{html.escape(text)}</td></tr>" for t, bot, text in every]
    if not rows:
        return '<h2>Incidents</h2><p id="incidents">None.</p>'
    return ('<h2>Incidents</h2><table id="incidents"><tr><th>time</th><th>pair</th>'
            '<th>what</th></tr>' + "".join(rows) + "</table>")


def chats(lab, tables):
    """Each pair's chat, every text escaped as in the transcript (bidi
    overrides and line ends shown as codes) and isolated in a <bdi>; the
    CSV it comes from keeps the texts exact."""
    parts = ["<h2>Chat</h2>"]
    for pair in lab.pairs:
        lines = [r for r in tables["chat"] if r.get("pair") == str(pair.index)]
        body = "".join(f"<tr><td>{html.escape(r.get('time', ''))}</td>"
                       f"<td class=n>{html.escape(r.get('round', ''))}</td>"
                       f"<td>{html.escape(r.get('from', ''))}</td>"
                       f"<td><bdi>{html.escape(visible_line(r.get('text', '')))}</bdi></td>"
                       "</tr>" for r in lines)
        parts.append(f"<h3>{html.escape(pair.bot)}</h3>" +
                     (f'<table class="chat">{body}</table>' if lines else "<p>No chat.</p>"))
    return "".join(parts)


def render_top(folder, lab, tables):
    """The summary, the pairs' lines and the incidents (before the
    payouts and charts)."""
    records = pair_records(folder, lab)
    return summary(lab, tables, records) + pair_lines(tables, records) + incidents(records)


def render_bottom(lab, tables):
    return chats(lab, tables)
