"""The seats' web page as the lab server serves it: web/seat/ and the one
file of its XMPP library (npm's, under web/node_modules) copied into the
server's www/ with seat.json, which tells the page the domain, the bots
and whose bot each is.
Prosody and ejabberd serve it and the page's websocket on one origin."""

import json
import os
import shutil

from ..model.accounts import NOTIFIER
from ..model.errors import LabError
from ..model.paths import WEB

WEBSOCKET_PATH = "/xmpp-websocket"  # seat.json names it to the page
# The one file of the npm package that the page loads (MIT, about 70 kB).
LIBRARY = os.path.join("strophe.js", "dist", "strophe.umd.min.js")
# The headers of every file of the page: its content policy (as the page's
# own meta tag, plus frame-ancestors, which only a header can carry), no
# framing, no sniffing. Neither server adds a CORS header to the files.
CONTENT_SECURITY_POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; "
                           "connect-src 'self'; img-src 'self' data:; base-uri 'none'; "
                           "form-action 'none'; frame-ancestors 'none'")
HEADERS = {"Content-Security-Policy": CONTENT_SECURITY_POLICY,
           "X-Frame-Options": "DENY",
           "X-Content-Type-Options": "nosniff",
           "Referrer-Policy": "no-referrer"}
# seat.json is read afresh by every page and never stored; the other files
# may be kept but are checked with the server before each use.
NO_STORE = ("/seat.json", "/lang.json")


def web_root():
    """The folder with seat/ and node_modules/: $WEX_WEB_DIR, else the
    source tree's (or the package's) web/."""
    return os.environ.get("WEX_WEB_DIR") or WEB


def seat_json(lab):
    """What the page needs to know of the session: the domain, the
    websocket, the moderator's chats (every bot and the notices) and each
    subject's one contact, its pair's bot, so that a link naming another
    is refused. Only names: everyone on the lab network can read it."""
    contacts = {}
    for pair in lab.pairs:
        for subject in pair.subjects():
            contacts[subject] = pair.bot
    return {"domain": lab.domain, "websocket": WEBSOCKET_PATH,
            "bots": [pair.bot for pair in lab.pairs], "notifier": NOTIFIER,
            "moderator": lab.moderator, "contacts": contacts}


def install_page(lab, server):
    """Copies the page and the one library file into server/www, with
    seat.json telling the page the domain and the bots."""
    root = web_root()
    library = os.path.join(root, "node_modules", LIBRARY)
    if not os.path.exists(library):
        raise LabError(f"the web seats' library is missing ({library}): run "
                       "scripts/install-deps.sh, or write Web off in the session file")
    www = os.path.join(server, "www")
    shutil.rmtree(www, ignore_errors=True)
    # The whole folder: the page and each of its modules.
    shutil.copytree(os.path.join(root, "seat"), www, copy_function=shutil.copy)
    shutil.copy(library, os.path.join(www, "strophe.min.js"))
    seat = seat_json(lab)
    with open(os.path.join(www, "seat.json"), "w", encoding="utf-8") as f:
        json.dump(seat, f, indent=1)


def install_texts(server, texts):
    """The page's texts (model/seat_texts.py) into server/www: lang.json,
    {"lang": CODE, "texts": {English: translation}}, which the page reads
    before it shows anything, and instructions/BOT.md for each pair, which
    its subjects' pages fetch by their contact's name."""
    www = os.path.join(server, "www")
    with open(os.path.join(www, "lang.json"), "w", encoding="utf-8") as f:
        json.dump({"lang": texts.lang, "texts": texts.texts}, f, indent=1, ensure_ascii=False)
    folder = os.path.join(www, "instructions")
    os.makedirs(folder, exist_ok=True)
    for bot, text in texts.instructions.items():
        with open(os.path.join(folder, f"{bot}.md"), "w", encoding="utf-8") as f:
            f.write(text)
