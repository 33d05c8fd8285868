"""The top of report.html: the session's summary with the mean investment
per round (one chart per treatment), the pairs stopped without payouts,
each treatment's attrition (how its pairs' games ended, the subjects' mean
payout), a line per pair with its flags, the incidents (restarts, a bot
given up, failed sends, subjects offline, answers taken by timeout, games
paid now or stopped, the desk's hurries and broadcasts, messages the
server refused) from supervisor.log, desk.log, server/refused.log, the
transcripts and the journals, and each pair's chat; an online session's
arrivals, waits and exits (report_online). Plain HTML and inline
SVG, so the report stays one file."""

import calendar
import html
import os
import re
import statistics
import time

from ..model import pair_state
from ..model.record import pair_json
from ..model.visible import visible_line
from . import report_online
from .numbers import count, mean_investments, number

CHART_W, CHART_H, PAD = 420, 160, 32
DESK_SENT = re.compile(r"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) sent to (\w+): (.*)")
# How a pair's game ended, as the attrition table names it; dropout and
# waited_out are the online sessions' endings.
ENDINGS = (("completed", "completed"), ("paid_now", "paid now"),
           ("stopped", "stopped without payouts"), ("dropped", "dropped out"),
           ("running", "still running"))
DROPPED = ("dropout", "waited_out")


def _clock(t):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(t))


def desk_commands(folder):
    """(t, bot, text) of each command the desk sent (desk.log): the desk's
    buttons and `wexlab say` while the desk runs."""
    found = []
    for line in pair_state.read_lines(os.path.join(folder, "desk.log")):
        sent = DESK_SENT.match(line.rstrip("\n"))
        if sent:
            found.append((pair_state.local_seconds(sent.group(1)), sent.group(2),
                          sent.group(3)))
    return found


def refused(folder):
    """(t, kind, from, to) of each stanza the lab server refused
    (server/refused.log: UTC time, kind, from, to, tab-separated)."""
    found = []
    for line in pair_state.read_lines(os.path.join(folder, "server", "refused.log")):
        parts = line.rstrip("\n").split("\t")
        if len(parts) != 4:
            continue
        try:
            t = calendar.timegm(time.strptime(parts[0], "%Y-%m-%dT%H:%M:%SZ"))
        except ValueError:
            continue
        found.append((t, parts[1], parts[2], parts[3]))
    return found


def _account(jid):
    return jid.split("@", 1)[0]


def command_incident(text):
    """The incident a desk command makes, or None (?, n)."""
    if text == "s":
        return "the desk hurried both subjects (s)"
    if text.startswith("b "):
        return f"the desk broadcast: {visible_line(text[2:])}"
    if text == "p":
        return "the desk asked to pay now (p)"
    if text == "e":
        return "the desk asked to stop without paying (e)"
    return None


def journal_incidents(entries, names):
    """Answers taken by timeout, and the game paid now or stopped."""
    found = []
    reported = any(e.get("kind") == "report" for e in entries)
    for e in entries:
        kind, t = e.get("kind"), e.get("t")
        if kind == "answer" and e.get("source") == "timeout":
            who = names[1 if e.get("subject") == 2 else 0]
            found.append((t, f"no answer in time: {who}'s {e.get('what')} in round "
                             f"{e.get('round')} taken as {e.get('value')}"))
        elif kind == "stop":
            found.append((t, f"the moderator paid now in round {e.get('round')}" if reported
                          else f"the moderator stopped the game in round {e.get('round')}: "
                          "no payouts"))
    return found


def pair_ending(subject_endings):
    """A pair's ending from its subjects' own (the payouts file's `ended`):
    a dropout paid at once ended the game; else a subject who was not
    replaced ended as the game did. None when both were replaced."""
    if "dropout" in subject_endings:
        return "dropout"
    return next((e for e in subject_endings if e != "replaced"), None)


def pair_records(folder, lab, payouts=()):
    """Each pair's state (pair_state), its incidents [(t, text)] and how
    its game ended (the payouts file's `ended` column where it has one,
    else the journal's)."""
    supervisor = pair_state.read_lines(f"{folder}/supervisor.log")
    commands = desk_commands(folder)
    refusals = refused(folder)
    endings = {}
    for row in payouts:
        if row.get("ended"):
            endings.setdefault(row.get("pair"), []).append(row["ended"])
    ended = {pair: pair_ending(found) for pair, found in endings.items()}
    records = []
    for pair in lab.pairs:
        entries, events = pair_state.read_pair(folder, pair, lab.log_file)
        sup = pair_state.supervisor_events(supervisor, pair.bot)
        state = pair_state.pair_state(dict(pair_json(pair), nrounds=lab.rounds), entries, events,
                                      sup, {}, None, time.time())
        names = [s["name"] for s in state["subjects"]]
        found = [(t, text) for t, text in sup if "restarted" in text]
        found += [(e["t"], e["text"]) for e in state["reopened"]]
        found += [(e["t"], f"failed: {e['text']}") for e in state["errors"]]
        found += [(t, f"{name} {text}") for t, name, tag, text in events if tag == "PRES"]
        found += journal_incidents(entries, names)
        found += [(t, command_incident(text)) for t, bot, text in commands
                  if bot == pair.bot and command_incident(text)]
        found += [(t, f"the server refused a {kind} from {_account(sender)} to "
                      f"{_account(to)}") for t, kind, sender, to in refusals
                  if _account(sender) in pair.subjects()]
        ending = ended.get(str(pair.index)) or state["ended"]
        # By time only: lines of the same second keep the order they were
        # written in.
        records.append((pair, dict(state, ended=ending),
                        sorted(found, key=lambda item: item[0])))
    return records


def means_per_round(rounds_rows, rounds):
    """The mean investment of every subject in each round 1..rounds (None
    for a round nobody played)."""
    means = mean_investments(rounds_rows)
    return [means.get(r) for r in range(1, rounds + 1)]


def investment_chart(means, title="all pairs", chart_id="mean-investment"):
    points = [(r, v) for r, v in enumerate(means, start=1) if v is not None]
    if not points:
        return f"<p>{html.escape(title)}: no round was closed.</p>"
    top = max(max(v for _, v in points), 1.0)
    last = max(len(means), 2)

    def xy(r, v):
        return (PAD + (CHART_W - 2 * PAD) * (r - 1) / (last - 1),
                CHART_H - PAD - (CHART_H - 2 * PAD) * v / top)

    line = " ".join(f"{x:.1f},{y:.1f}" for x, y in (xy(r, v) for r, v in points))
    labels = "".join(f'<text x="{xy(r, 0)[0]:.1f}" y="{CHART_H - PAD + 14}" '
                     f'text-anchor="middle">{r}</text>' for r in range(1, len(means) + 1,
                                                                       max(1, last // 10)))
    return (f'<svg id="{html.escape(chart_id)}" class="mean-investment" '
            f'xmlns="http://www.w3.org/2000/svg" width="{CHART_W}" '
            f'height="{CHART_H}"><line x1="{PAD}" y1="{CHART_H - PAD}" x2="{CHART_W - PAD}" '
            f'y2="{CHART_H - PAD}" stroke="#999"/><line x1="{PAD}" y1="{PAD}" x2="{PAD}" '
            f'y2="{CHART_H - PAD}" stroke="#999"/>'
            f'<text x="{PAD - 4}" y="{PAD + 4}" text-anchor="end">{top:.0f}</text>'
            f'<text x="{PAD - 4}" y="{CHART_H - PAD + 4}" text-anchor="end">0</text>{labels}'
            f'<text x="{CHART_W / 2}" y="{CHART_H - 4}" text-anchor="middle">round</text>'
            f'<polyline fill="none" stroke="#1f77b4" stroke-width="2" points="{line}"/>'
            f'<text x="{CHART_W / 2}" y="14" text-anchor="middle">mean investment per round, '
            f'{html.escape(title)}</text></svg>')


def groups(lab):
    """(name, pairs) per treatment, or one group of every pair."""
    if not lab.treatments:
        return [("all pairs", list(lab.pairs))]
    return [(t.name, [p for p in lab.pairs if p.treatment == t.name]) for t in lab.treatments]


def investment_charts(lab, rows):
    """One chart of the mean investment per round for each treatment (or
    one for the session without treatments)."""
    if not lab.treatments:
        return investment_chart(means_per_round(rows, lab.rounds))
    charts = []
    for name, pairs in groups(lab):
        numbers = {str(p.index) for p in pairs}
        means = mean_investments(rows, numbers)
        charts.append(investment_chart([means.get(r) for r in range(1, lab.rounds + 1)],
                                       f"treatment {name} ({count(len(pairs), 'pair')})",
                                       f"mean-investment-{name}"))
    return "".join(charts)


def summary(lab, tables, records):
    payouts = [v for v in (number(r.get("payout")) for r in tables["payouts"]) if v is not None]
    played = sum(state["rounds_closed"] for _, state, _ in records)
    cells = [("pairs", len(lab.pairs)), ("subjects", 2 * len(lab.pairs)),
             ("rounds played", f"{played} of {len(lab.pairs) * lab.rounds}"),
             ("total payout", f"${sum(payouts):.2f}"),
             ("mean payout", f"${statistics.mean(payouts):.2f}" if payouts else "-"),
             ("median payout", f"${statistics.median(payouts):.2f}" if payouts else "-")]
    rows = "".join(f"<tr><th>{name}</th><td class=n>{value}</td></tr>" for name, value in cells)
    return (f'<h2>Summary</h2><table id="summary">{rows}</table>'
            f'{investment_charts(lab, tables["rounds"])}{stopped_lines(records)}')


def stopped_lines(records):
    """A line for every pair stopped without payouts: nobody in it was paid."""
    lines = [f'<li data-pair="{pair.index}">Pair {pair.index} ({html.escape(pair.bot)}'
             f'{", treatment " + html.escape(pair.treatment) if pair.treatment else ""}) was '
             f'stopped without payouts after {count(state["rounds_closed"], "round")}: '
             f'nobody in it ({html.escape(" and ".join(pair.subjects()))}) was paid.</li>'
             for pair, state, _ in records if state["ended"] == "stopped"]
    return f'<ul id="stopped">{"".join(lines)}</ul>' if lines else ""


def _ending_key(ended):
    return "dropped" if ended in DROPPED else ended


def attrition(lab, tables, records):
    """Per treatment: how many of its pairs completed the game, were paid
    now, stopped without payouts or dropped out, and its subjects' mean
    payout."""
    ended = {pair.index: _ending_key(state["ended"]) for pair, state, _ in records}
    shown = [(key, title) for key, title in ENDINGS
             if key != "running" or "running" in ended.values()]
    rows = []
    for name, pairs in groups(lab):
        numbers = {str(p.index) for p in pairs}
        paid = [v for v in (number(r.get("payout")) for r in tables["payouts"]
                            if r.get("pair") in numbers) if v is not None]
        cells = "".join(f'<td class="n">{sum(1 for p in pairs if ended[p.index] == key)}</td>'
                        for key, _ in shown)
        mean = f"${statistics.mean(paid):.2f}" if paid else "-"
        rows.append(f'<tr data-treatment="{html.escape(name)}"><td>{html.escape(name)}</td>'
                    f'<td class="n">{len(pairs)}</td>{cells}<td class="n">{len(paid)}</td>'
                    f'<td class="n">{mean}</td></tr>')
    head = "".join(f"<th>{title}</th>" for _, title in shown)
    first = "treatment" if lab.treatments else "pairs of"
    return ('<h2>Attrition</h2><table id="attrition"><tr>'
            f'<th>{first}</th><th>pairs</th>{head}<th>subjects paid</th>'
            '<th>mean payout</th></tr>' + "".join(rows) + "</table>")


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
        if state["ended"] == "stopped" and state["stopped_at"] is not None:
            flags.append("stopped without payouts by the moderator")
        elif state["ended"] == "paid_now":
            flags.append("paid now by the moderator")
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
    """The summary, the attrition table, the pairs' lines and the
    incidents (before the payouts and charts)."""
    records = pair_records(folder, lab, tables["payouts"])
    online = (report_online.render(folder, lab, tables["participants"])
              if "participants" in tables else "")
    return (summary(lab, tables, records) + online + attrition(lab, tables, records) +
            pair_lines(tables, records) + incidents(records))


def render_bottom(lab, tables):
    return chats(lab, tables)
