"""What each column of the session's data files means: the one place that
describes them. From it come datapackage.json (a Frictionless Data
Package: each file a resource with its schema) and codebook.md, which is
rendered from that package, so the two never disagree."""

import json
import os
from dataclasses import dataclass, field
from typing import Dict, List, Optional

from ..model.ending import ENDINGS, SUBJECT_ENDINGS

# How a game may end in the payouts file; the last two are for sessions
# whose subjects play online.
ENDED = list(ENDINGS) + ["dropout", "waited_out"]
SOURCES = ["subject", "timeout", "robot"]
ROBOT = ("robot (the stand-in playing on for a subject of an online session replaced after "
         "dropping out)")


@dataclass
class Column:
    name: str
    type: str  # a Frictionless field type: string, integer, number, datetime
    description: str
    unit: Optional[str] = None
    constraints: Dict[str, object] = field(default_factory=dict)


def _answer(name, what):
    return Column(name, "integer", f"the subject's {what}, 0 to 60", "credits",
                  {"minimum": 0, "maximum": 60})


def _time(name, what):
    return Column(name, "datetime", f"{what}, local time with its offset (ISO 8601)")


LEAD = [
    Column("session", "string", "the session's identifier: the local date and time it was "
           "started and a random part (YYYYMMDD-HHMMSS-xxxx)", constraints={"required": True}),
    Column("pair", "integer", "the pair's number in the session (matching.csv)",
           constraints={"required": True, "minimum": 1}),
]
# Only in a session of treatments.
TREATMENT = Column("treatment", "string", "the pair's treatment (see the treatments "
                   "and their keys above)")

COLUMNS: Dict[str, List[Column]] = {
    "rounds": [
        Column("round", "integer", "the round, from 1", constraints={"minimum": 1}),
        Column("subject", "integer", "the subject's place in the pair",
               constraints={"enum": [1, 2]}),
        Column("name", "string", "the subject's account name"),
        _answer("expectation", "expectation of the partner's investment"),
        _answer("investment", "investment"),
        _answer("partner_investment", "partner's investment"),
        Column("divisor", "number", "the round's market divisor: the market returns both "
               "investments divided by it to each subject"),
        Column("earnings", "number", "the round's earnings: 60 less the investment plus the "
               "market's return, two decimals as the subject saw them", "credits"),
        Column("bonus", "number", "the bonus paid after this round (empty in rounds without "
               "one)", "credits"),
        Column("total_credits", "number", "the subject's credits after this round's earnings "
               "and bonus, two decimals", "credits"),
        _time("expectation_time", "when the expectation arrived"),
        _time("investment_time", "when the investment arrived"),
        Column("expectation_source", "string", "who gave the expectation: the subject, the "
               f"answer timeout, or {ROBOT}", constraints={"enum": SOURCES}),
        Column("investment_source", "string", "who gave the investment: the subject, the "
               f"answer timeout, or {ROBOT}", constraints={"enum": SOURCES}),
    ],
    "chat": [
        _time("time", "when the line arrived"),
        Column("round", "integer", "the round that follows the break"),
        Column("from", "string", "the account name of the subject who wrote it"),
        Column("text", "string", "the line exactly as written, `done` included"),
    ],
    "payouts": [
        Column("subject", "integer", "the subject's place in the pair",
               constraints={"enum": [1, 2]}),
        Column("name", "string", "the subject's account name"),
        Column("total_credits", "number", "the credits at the game's end (so far, for a "
               "game that paid nothing), two decimals", "credits"),
        Column("payout", "number", "what the subject was paid, two decimals, as the "
               "moderator was told (empty when the game paid nothing)", "USD"),
        Column("rounds", "integer", "rounds closed: fewer than NRounds when the game was "
               "paid early or stopped", constraints={"minimum": 0}),
        Column("credit_value", "number", "the pay rule's dollars a credit (CreditValue)",
               "USD per credit"),
        Column("min_payout", "number", "the pay rule's least payout (MinPayout)", "USD"),
        Column("max_payout", "number", "the pay rule's greatest payout (MaxPayout)", "USD"),
        Column("payout_before_limits", "number", "total_credits times credit_value before "
               "the minimum and maximum were applied, two decimals (empty when the game "
               "paid nothing)", "USD"),
        Column("ended", "string", "how the pair's game ended: completed, paid_now (the "
               "moderator paid early), stopped (stopped without payouts), running (not "
               "ended when collected); dropout and waited_out are reserved for online "
               "sessions", constraints={"enum": ENDED}),
    ],
    "decisions": [
        _time("time", "when the answer arrived or was taken"),
        Column("round", "integer", "the round the answer belongs to",
               constraints={"minimum": 1}),
        Column("stage", "string", "which answer: the expectation of the partner's "
               "investment, or the investment", constraints={"enum": ["expectation",
                                                                      "investment"]}),
        Column("subject", "string", "the subject's account name"),
        Column("value", "integer", "the answer, 0 to 60", "credits",
               {"minimum": 0, "maximum": 60}),
        Column("source", "string", f"who gave it: the subject, the answer timeout, or {ROBOT}",
               constraints={"enum": SOURCES}),
        Column("closed_round", "integer", "1 when this answer closed its round, else 0 "
               "(an unfinished round's answers are all 0)", constraints={"enum": [0, 1]}),
        Column("extended", "integer", "1 when the subject's time for this answer was "
               "extended before it came, else 0", constraints={"enum": [0, 1]}),
    ],
}

# The files of an online session; their columns are all their own.
OUTCOMES = list(SUBJECT_ENDINGS) + ["waited_out", "full"]
ONLINE_COLUMNS: Dict[str, List[Column]] = {
    "participants": [
        LEAD[0],
        Column("label", "string", "the participant's identifier on the recruiting platform, "
               "from the study link's label parameter (empty when the link had none)"),
        Column("ticket", "string", "the arrival: t1, t2, ... in the order subjects arrived in "
               "the waiting room; a subject who returns keeps its ticket",
               constraints={"required": True}),
        Column("seat", "string", "the account the subject played on (subject 1 of the pair "
               "is its first ticket); empty when it was never paired"),
        _time("arrival_time", "when the subject arrived in the waiting room"),
        Column("seconds_waited", "number", "from the arrival until the subject was paired or "
               "left the waiting room, two decimals (empty while it waits)", "seconds",
               {"minimum": 0}),
        Column("pair", "integer", "the pair the subject played in (empty when never paired)",
               constraints={"minimum": 1}),
        Column("treatment", "string", "the pair's treatment (empty without treatments or pair)"),
        Column("outcome", "string", "how the subject's session ended: completed; paid_now "
               "(the pair was paid early: by the moderator, or because the partner dropped "
               "out); dropout (offline too long, the pair paid at once); replaced (offline too "
               "long, a stand-in played on; paid what it had then); stopped (nothing paid); "
               "running; waited_out (no partner within WaitTimeout) and full (arrived after "
               "MaxPairs or the close): paid the show-up fee in the waiting room",
               constraints={"enum": OUTCOMES, "required": True}),
        Column("payout", "number", "the game's payout to the subject (for replaced, the one at "
               "its dropout) or, for waited_out and full, the show-up fee; two decimals, "
               "empty when nothing was paid", "USD"),
        Column("show_up_fee", "number", "the show-up fee (ShowUpFee) owed to a subject who "
               "was paid, paid as the platform's base pay (empty when nothing was paid)",
               "USD"),
        Column("code_shown", "string", "the completion code the subject was shown: "
               "CompletionCode at a paid end of the game, NoPartnerCode for a paid exit from "
               "the waiting room, empty when nothing was paid"),
    ],
    "bonus": [
        Column("label", "string", "the participant's identifier on the recruiting platform",
               constraints={"required": True}),
        Column("amount", "number", "the bonus: the game's payout, above the show-up fee paid "
               "as base pay; only amounts above 0, two decimals", "USD",
               {"required": True}),
    ],
}
# Files without a header line: the bonus file is pasted into a platform's
# bulk bonus form as it is.
HEADERLESS = ("bonus",)

FILE_TITLES = {
    "rounds": "One row per subject and closed round",
    "chat": "One row per line a subject wrote in a chat break",
    "payouts": "One row per subject: credits, payout, the pay rule and how the game ended",
    "decisions": "One row per answer received or taken, unfinished rounds included",
    "participants": "One row per arrival in the waiting room of an online session: its "
                    "label, seat, wait, pair, outcome, payout and the code shown",
    "bonus": "Lines `label,amount` without a header, for a recruiting platform's bulk "
             "bonus: the show-up fee is the study's base pay on the platform, the bonus "
             "the game's payout on top of it; a subject who left the waiting room has "
             "none; a subject without a label is left out (collect says how many)",
}


def file_name(kind):
    return f"session_{kind}.csv"


def described(kind, lab):
    """The columns the codebook describes for a file of this lab."""
    if kind in ONLINE_COLUMNS:
        return ONLINE_COLUMNS[kind]
    lead = LEAD + ([TREATMENT] if lab.treatments else [])
    return lead + COLUMNS[kind]


def types(kind, lab):
    """column -> its type, for a file of this lab."""
    return {c.name: c.type for c in described(kind, lab)}


def undescribed(kind, header, lab):
    """The columns of a written header the codebook does not describe, and
    the described ones the header lacks."""
    names = [c.name for c in described(kind, lab)]
    return ([n for n in header if n not in names], [n for n in names if n not in header])


def field_json(column):
    data = {"name": column.name, "type": column.type, "description": column.description}
    if column.type == "datetime":
        data["format"] = "any"
    if column.unit:
        data["unit"] = column.unit
    if column.constraints:
        data["constraints"] = dict(column.constraints)
    return data


def datapackage(lab, session_id, headers):
    """The Data Package of the written files; headers: {kind: header}. A
    written column the codebook does not describe is an error here, so it
    cannot go out undescribed."""
    resources = []
    for kind, header in headers.items():
        extra, _ = undescribed(kind, header, lab)
        if extra:
            raise ValueError(f"{file_name(kind)}: no description of {', '.join(extra)}")
        columns = {c.name: c for c in described(kind, lab)}
        resource = {
            "name": f"session-{kind}", "path": file_name(kind), "profile": "tabular-data-resource",
            "format": "csv", "mediatype": "text/csv", "encoding": "utf-8",
            "description": FILE_TITLES[kind],
            "schema": {"fields": [field_json(columns[name]) for name in header],
                       "missingValues": [""]}}
        if kind in HEADERLESS:
            resource["dialect"] = {"header": False}
        resources.append(resource)
    return {
        "profile": "tabular-data-package",
        "name": f"wex-session-{session_id}",
        "title": f"wex session {session_id}",
        "session": session_id,
        "resources": resources,
        "treatments": [{"name": t.name, "keys": dict(t.values)} for t in lab.treatments],
    }


def _cell(text):
    return str(text).replace("|", "\\|").replace("\n", " ")


def _allowed(constraints):
    parts = []
    if "enum" in constraints:
        parts.append(", ".join(str(v) for v in constraints["enum"]))
    if "minimum" in constraints and "maximum" in constraints:
        parts.append(f"{constraints['minimum']} to {constraints['maximum']}")
    elif "minimum" in constraints:
        parts.append(f"at least {constraints['minimum']}")
    return "; ".join(parts)


def render_markdown(package):
    """codebook.md from the Data Package."""
    lines = [f"# Codebook: {package['title']}", "",
             "Every data file of the session, column by column. The files are UTF-8 CSV "
             "with one header line (session_bonus.csv has none); an empty cell is a missing "
             "value. Times are local, "
             "ISO 8601 with the offset; money and earnings have two decimals as the "
             "subjects saw them (each pair's journal keeps the exact values). The same "
             "descriptions, machine-readable, are in datapackage.json.", ""]
    if package["treatments"]:
        lines += ["## Treatments", "", "| treatment | keys over the session's values |",
                  "|---|---|"]
        for treatment in package["treatments"]:
            keys = ", ".join(f"{k} {v}" for k, v in treatment["keys"].items())
            lines.append(f"| {_cell(treatment['name'])} | "
                         f"{_cell(keys or 'the session' + chr(39) + 's values')} |")
        lines.append("")
    for resource in package["resources"]:
        lines += [f"## {resource['path']}", "", resource["description"] + ".", "",
                  "| column | type | unit | allowed | description |", "|---|---|---|---|---|"]
        for f in resource["schema"]["fields"]:
            lines.append(f"| `{f['name']}` | {f['type']} | {_cell(f.get('unit', ''))} | "
                         f"{_cell(_allowed(f.get('constraints', {})))} | "
                         f"{_cell(f['description'])} |")
        lines.append("")
    return "\n".join(lines)


def write(folder, lab, session_id, headers):
    """Writes datapackage.json and codebook.md; returns the package."""
    package = datapackage(lab, session_id, headers)
    with open(os.path.join(folder, "datapackage.json"), "w", encoding="utf-8") as f:
        json.dump(package, f, indent=2, ensure_ascii=False)
        f.write("\n")
    with open(os.path.join(folder, "codebook.md"), "w", encoding="utf-8") as f:
        f.write(render_markdown(package))
    return package
