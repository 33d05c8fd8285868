"""Seats in a browser: the lab server's web page, each participant's
sign-in link and seats.csv.

The lab server serves the page (web/seat/ with the XMPP library that npm
put under web/node_modules) from the session's server/www and carries the
page's XMPP over a websocket on the same origin, so a seat needs nothing
but a browser: Prosody on the Web port, each ejabberd node on a port of
its own (ejabberd.py), a participant's link naming its node's. A link
holds the account and password in its fragment (after #), which the
browser never sends to a server; the page keeps it for the tab."""

import csv
import io
import json
import os
import shutil
import urllib.parse

from . import WEB, ejabberd, lab_server

DEFAULT_PORT = 5280
WEBSOCKET_PATH = ejabberd.WEBSOCKET_PATH  # the same on Prosody
# The one file of the npm package that the page loads (MIT, about 70 kB).
LIBRARY = os.path.join("strophe.js", "dist", "strophe.umd.min.js")
ARCHIVE_PAGE = 500  # messages per archive query; a game has fewer per seat


def web_root():
    """The folder with seat/ and node_modules/: $WEX_WEB_DIR, else the
    source tree's (or the package's) web/."""
    return os.environ.get("WEX_WEB_DIR") or WEB


def check_web(value):
    """The check of the session key `Web PORT|off`."""
    if value == "off":
        return None
    if not value.isdigit() or not 1 <= int(value) <= 65535:
        return f"Web must be a port number from 1 to 65535 or off, not '{value}'"
    return None


def check_switch(key):
    return lambda v: None if v in ("on", "off") else f"{key} must be on or off, not '{v}'"


def settings(values):
    """{"port", "tls"} of the session's web seats, or None for `Web off`."""
    web = values.get("Web", str(DEFAULT_PORT))
    if web == "off":
        return None
    return {"port": int(web), "tls": values.get("WebTls", "off") == "on"}


def origin(lab, name=None):
    """The page's origin; on an ejabberd cluster, that of the node name
    signs on to (node 1's without a name)."""
    web = lab["web"]
    scheme = "https" if web["tls"] else "http"
    host = lab["address"]
    if ":" in host:
        host = f"[{host}]"
    return f"{scheme}://{host}:{ejabberd.web_port_of(lab, name)}"


def link(lab, name):
    """The link that signs name in: the page, with the account, the password
    and, for a subject, its pair's bot in the fragment."""
    fields = {"n": name, "p": lab["accounts"][name]["password"]}
    for pair in lab["pairs"]:
        if name in (pair["subject1"], pair["subject2"]):
            fields["c"] = pair["bot"]  # a subject's one chat
    return f"{origin(lab, name)}/#{urllib.parse.urlencode(fields)}"


def prosody_settings(lab, server):
    """(modules, global lines) that serve the page and the websocket; both
    empty for `Web off`. The message archive lets a page that reloads or
    reconnects show the conversation so far."""
    web = lab.get("web")
    if not web:
        return (), ()
    address, port = lab["address"], web["port"]
    lines = [
        f'http_default_host = "{lab["domain"]}"',
        'http_paths = { files = "/"; websocket = "' + WEBSOCKET_PATH + '" }',
        f'http_files_dir = "{server}/www"',
        'http_index_files = { "index.html" }',
        f"max_archive_query_results = {ARCHIVE_PAGE}",
        'archive_expires_after = "never"',
    ]
    if web["tls"]:
        lines += [f'https_interfaces = {{ "{address}" }}', f"https_ports = {{ {port} }}",
                  "http_ports = { }",
                  f'https_ssl = {{ key = "{server}/certs/{lab["domain"]}.key"; '
                  f'certificate = "{server}/certs/{lab["domain"]}.crt" }}']
    else:
        # Plain HTTP: the lab network is taken as closed, so the websocket
        # counts as secure and the page may sign in over it.
        lines += [f'http_interfaces = {{ "{address}" }}', f"http_ports = {{ {port} }}",
                  "https_ports = { }", "consider_websocket_secure = true"]
    return ("http_files", "websocket", "mam"), lines


def install_page(lab, server):
    """Copies the page and the one library file into server/www, with
    seat.json telling the page the domain and the bots."""
    root = web_root()
    library = os.path.join(root, "node_modules", LIBRARY)
    if not os.path.exists(library):
        raise lab_server.LabError(f"the web seats' library is missing ({library}): run "
                                  "scripts/install-deps.sh, or write Web off in the session "
                                  "file")
    www = os.path.join(server, "www")
    shutil.rmtree(www, ignore_errors=True)
    # The whole folder: the page and each of its modules.
    shutil.copytree(os.path.join(root, "seat"), www, copy_function=shutil.copy)
    shutil.copy(library, os.path.join(www, "strophe.min.js"))
    bots = [pair["bot"] for pair in lab["pairs"]]
    seat = {"domain": lab["domain"], "websocket": WEBSOCKET_PATH, "bots": bots,
            "notifier": "wexlab"}
    with open(os.path.join(www, "seat.json"), "w", encoding="utf-8") as f:
        json.dump(seat, f, indent=1)


def rows(lab):
    """name, role, pair, link of every participant: the subjects pair by
    pair, then the moderator (no pair)."""
    out = []
    for pair in lab["pairs"]:
        for number in (1, 2):
            name = pair[f"subject{number}"]
            out.append({"name": name, "role": "subject", "pair": str(pair["index"]),
                        "link": link(lab, name) if lab.get("web") else ""})
    moderator = lab["moderator"]
    out.append({"name": moderator, "role": "moderator", "pair": "",
                "link": link(lab, moderator) if lab.get("web") else ""})
    return out


def seats_csv(lab):
    text = io.StringIO()
    writer = csv.DictWriter(text, ["name", "role", "pair", "link"], lineterminator="\n")
    writer.writeheader()
    writer.writerows(rows(lab))
    return text.getvalue()


def write_seats(lab, folder):
    """seats.csv in the session folder; it holds passwords, so it is 0600."""
    lab_server.write_private(os.path.join(folder, "seats.csv"), seats_csv(lab))


def read_seats(folder):
    path = os.path.join(folder, "seats.csv")
    try:
        with open(path, encoding="utf-8", newline="") as f:
            return list(csv.DictReader(f))
    except OSError:
        raise lab_server.LabError(f"no seats.csv in {folder} (wexlab start writes it)")


def table(seats):
    """seats.csv as an aligned text table."""
    header = {"name": "name", "role": "role", "pair": "pair", "link": "link"}
    lines = [header] + seats
    widths = {key: max(len(row[key]) for row in lines) for key in ("name", "role", "pair")}
    return "\n".join(f"{row['name']:<{widths['name']}}  {row['role']:<{widths['role']}}  "
                     f"{row['pair']:<{widths['pair']}}  {row['link']}".rstrip()
                     for row in lines)
