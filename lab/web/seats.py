"""Seats in a browser: each participant's sign-in link, seats.csv and its
table (wexlab seats).

The lab server serves the page (servers/web_page.py) and its websocket on
one origin, so a seat needs nothing but a browser: Prosody on the Web port,
each ejabberd node on a port of its own, a participant's link naming its
node's. A link holds the account and password in its fragment (after #),
which the browser never sends to a server; the page keeps it for the tab."""

import csv
import io
import os
import urllib.parse

from ..model import online as onlinelib
from ..model.errors import LabError
from ..model.files import write_private
from ..model.placement import origin


def link(lab, name):
    """The link that signs name in: the page, with the account, the password
    and, for a subject, its pair's bot in the fragment."""
    fields = {"n": name, "p": lab.accounts[name].password}
    for pair in lab.pairs:
        if name in (pair.subject1, pair.subject2):
            fields["c"] = pair.bot  # a subject's one chat
    return f"{origin(lab, name)}/#{urllib.parse.urlencode(fields)}"


def rows(lab):
    """name, role, pair, link of every participant: the subjects pair by
    pair, then the moderator (no pair)."""
    out = []
    for pair in lab.pairs:
        for number in (1, 2):
            name = pair.subjects()[number - 1]
            out.append({"name": name, "role": "subject", "pair": str(pair.index),
                        "link": link(lab, name) if lab.web else ""})
    moderator = lab.moderator
    out.append({"name": moderator, "role": "moderator", "pair": "",
                "link": link(lab, moderator) if lab.web else ""})
    return out


def link_rows(lab):
    """An online session's study link, the one address everyone opens."""
    if lab.online is None:
        return []
    return [{"name": "study link", "role": "link", "pair": "",
             "link": onlinelib.study_link(lab)}]


def seats_csv(lab):
    text = io.StringIO()
    writer = csv.DictWriter(text, ["name", "role", "pair", "link"], lineterminator="\n")
    writer.writeheader()
    writer.writerows(link_rows(lab) + rows(lab))
    return text.getvalue()


def write_seats(lab, folder):
    """seats.csv in the session folder; it holds passwords, so it is 0600."""
    write_private(os.path.join(folder, "seats.csv"), seats_csv(lab))


def read_seats(folder):
    path = os.path.join(folder, "seats.csv")
    try:
        with open(path, encoding="utf-8", newline="") as f:
            return list(csv.DictReader(f))
    except OSError:
        raise LabError(f"no seats.csv in {folder} (wexlab start writes it)")


def table(seats):
    """seats.csv as an aligned text table."""
    header = {"name": "name", "role": "role", "pair": "pair", "link": "link"}
    lines = [header] + seats
    widths = {key: max(len(row[key]) for row in lines) for key in ("name", "role", "pair")}
    return "\n".join(f"{row['name']:<{widths['name']}}  {row['role']:<{widths['role']}}  "
                     f"{row['pair']:<{widths['pair']}}  {row['link']}".rstrip()
                     for row in lines)
