"""An online session's settings from its session file and its study link:
the one address every participant opens."""

import urllib.parse

from .record import Online
from .seat_texts import money
from .service import parse_service

DEFAULTS = Online()
# Written at the start for the room server: the waiting page's
# instructions (the session's own values) and its language.
INSTRUCTIONS_FILE = "room-instructions.md"
PAGE_FILE = "room-page.json"


def online_settings(values):
    """The Online record of a session's values (Arrivals on)."""
    completion = values.get("CompletionCode")
    host = values.get("PublicHost") or parse_service(values["Service"])["host"]
    return Online(max_pairs=int(values.get("MaxPairs", DEFAULTS.max_pairs)),
                  wait_timeout=int(values.get("WaitTimeout", DEFAULTS.wait_timeout)),
                  show_up_fee=money(values.get("ShowUpFee", "0")),
                  label_parameter=values.get("LabelParameter", DEFAULTS.label_parameter),
                  completion_code=completion,
                  no_partner_code=values.get("NoPartnerCode", completion),
                  completion_url=values.get("CompletionUrl"),
                  proxy=values.get("Proxy", "on") == "on",
                  proxy_port=int(values.get("ProxyPort", DEFAULTS.proxy_port)),
                  public_host=host,
                  room_port=int(values.get("Room", DEFAULTS.room_port)))


def study_link(lab):
    """https://HOST[:PORT]/join/SESSION: the port is left out when 443."""
    online = lab.online
    port = "" if online.proxy_port == 443 else f":{online.proxy_port}"
    return f"https://{online.public_host}{port}/join/{lab.session_id}"


def completion_url(online, code, label):
    """The completion address with {code} and {label} filled; None unset."""
    if not online.completion_url:
        return None
    quote = lambda text: urllib.parse.quote(text or "", safe="")  # noqa: E731
    return online.completion_url.replace("{code}", quote(code)).replace("{label}", quote(label))


def seat_link(lab, pair_index, subject, label):
    """The seat page's link for subject 1 or 2 of a pair, on the page's
    own origin: the account, its password and the pair's bot, with the
    completion code and address the seat's end screen shows."""
    pair = lab.pairs[pair_index - 1]
    name = pair.subjects()[subject - 1]
    fields = {"n": name, "p": lab.accounts[name].password, "c": pair.bot}
    code = lab.online.completion_code
    if code:
        fields["code"] = code
    url = completion_url(lab.online, code, label)
    if url:
        fields["url"] = url
    return "/#" + urllib.parse.urlencode(fields)


def room_treatments(lab):
    """The treatment of pair 1, 2, ... (None without treatments)."""
    return [pair.treatment for pair in lab.pairs]
