"""wexlab's own keys of a session file and the lab's own rules for some of
the bot's keys. Which bot keys there are and what values the bot takes is
the bot's key table (bot_keys.py), judged by `wexbot --check-config`
(runtime/bot_check.py); wexlab keeps no copy of it. What is left here is
what the bot cannot know: the session, its server, seats and desk, and the
rules a lab holds a bot's key to beyond what one bot accepts."""

import re

from . import placement
from .seat_texts import language_fault
from .service import parse_service

# Keys that wexlab writes for each pair itself.
PER_PAIR_KEYS = ("BotUsername", "Subject1Name", "Subject2Name", "PasswordFile",
                 "BotPasswordIndex", "KeyIndex", "Resume", "DeskName")
# wexlab's own required keys; the bot's required ones come from its table.
LAB_REQUIRED = ("Subjects", "Seed")


def check_int(value, low, what, high=None):
    if not re.fullmatch(r"[+-]?\d+", value):
        return f"{what} must be a whole number, not '{value}'"
    if int(value) < low:
        return f"{what} must be at least {low}"
    if high is not None and int(value) > high:
        return f"{what} must be at most {high}"
    return None


def check_service(value):
    # The bots sign on to the lab server that wexlab runs: an xmpp: service
    # with the address and port it listens on, and trust=any because its
    # certificate is wexlab's own, self-signed. The bot alone also takes
    # sim: and a public server.
    if not value.startswith("xmpp:"):
        return ("Service must be an xmpp: service on the lab server, e.g. "
                "xmpp:lab.wex@127.0.0.1:5222;trust=any")
    service = parse_service(value)
    if not service["domain"] or not service["host"] or service["port"] is None:
        return "Service must name the server's address and port: xmpp:DOMAIN@ADDRESS:PORT;..."
    if service["tls"] != "off" and service["trust"] != "any":
        return "the lab server's certificate is self-signed: add ;trust=any to the Service"
    return None


def check_log_file(value):
    # Each pair's transcript goes into its own folder under the same name;
    # a path would send every pair's transcript to the same place.
    if value and "/" not in value:
        return None
    return "LogFile must be a file name (the transcript goes into each pair's folder)"


def at_least_one(key):
    """The bot takes 0 here (no rounds; a break that ends at its first
    check; an idle reminder at every check), which in a lab is always a
    slip. Only whole numbers are judged: any other form is the bot's to
    refuse."""
    def check(value):
        if re.fullmatch(r"[+-]?\d+", value) and int(value) < 1:
            return f"{key} must be at least 1"
        return None
    return check


def check_desk(value):
    address, _, port = value.rpartition(":")
    if not re.fullmatch(r"\d{1,5}", port) or not 1 <= int(port) <= 65535:
        return "Desk takes PORT or ADDRESS:PORT, e.g. 5290 or 192.168.1.10:5290"
    if ":" in value and not address:
        return "Desk ADDRESS:PORT needs the address before the colon"
    return None


def check_web(value):
    """The check of the session key `Web PORT|off`."""
    if value == "off":
        return None
    if not value.isdigit() or not 1 <= int(value) <= 65535:
        return f"Web must be a port number from 1 to 65535 or off, not '{value}'"
    return None


def check_language(value):
    """The check of `Language CODE`: en or a language that both the bots'
    and the seat's catalogues have."""
    return language_fault(value)


def check_switch(key):
    return lambda v: None if v in ("on", "off") else f"{key} must be on or off, not '{v}'"


# The lab's rules for bot keys, checked before the bot's own. The names
# (ModeratorName and the subjects) have theirs in session_file.py: they are
# accounts that wexlab makes on its server.
LAB_RULES = {
    "Service": check_service,
    "LogFile": check_log_file,
    "NRounds": at_least_one("NRounds"),
    "MaxChatTime": at_least_one("MaxChatTime"),
    "MaxChatIdle": at_least_one("MaxChatIdle"),
    "Language": check_language,
}

def check_money(key):
    def check(value):
        if re.fullmatch(r"\d+(\.\d+)?", value):
            return None
        return f"{key} must be an amount of money of 0 or more, e.g. 2.50, not '{value}'"
    return check


def check_pattern(key, pattern, form):
    return lambda v: None if re.fullmatch(pattern, v) else f"{key} must be {form}, not '{v}'"


def check_url(value):
    if re.fullmatch(r"https?://[^\s]+", value):
        return None
    return f"CompletionUrl must be an http:// or https:// address, not '{value}'"


def check_host(value):
    if re.fullmatch(r"[A-Za-z0-9.-]{1,253}|\[[0-9A-Fa-f:.]+\]", value):
        return None
    return f"PublicHost must be a host name or an address, not '{value}'"


# The keys of an online session (Arrivals on): people come through one
# study link, wait in the room and are paired as they arrive. Every one of
# them but Arrivals is refused without Arrivals on.
ONLINE_KEYS = {
    "MaxPairs": lambda v: check_int(v, 1, "MaxPairs", 500),
    "WaitTimeout": lambda v: check_int(v, 10, "WaitTimeout"),
    "ShowUpFee": check_money("ShowUpFee"),
    "LabelParameter": check_pattern("LabelParameter", r"[A-Za-z0-9_]{1,40}",
                                    "1 to 40 letters, digits or '_'"),
    "CompletionCode": check_pattern("CompletionCode", r"[A-Za-z0-9_-]{1,64}",
                                    "1 to 64 letters, digits, '_' or '-'"),
    "NoPartnerCode": check_pattern("NoPartnerCode", r"[A-Za-z0-9_-]{1,64}",
                                   "1 to 64 letters, digits, '_' or '-'"),
    "CompletionUrl": check_url,
    "Proxy": check_switch("Proxy"),
    "ProxyPort": lambda v: check_int(v, 1, "ProxyPort", 65535),
    "PublicHost": check_host,
    "Room": lambda v: check_int(v, 1, "Room", 65535),
}

# wexlab's own keys, none of them the bot's, and the check of each one's
# value; None means any text.
LAB_KEYS = {
    "Treatments": lambda v: None,  # checked with the Treatment lines
    "Seed": lambda v: check_int(v, 0, "Seed"),
    "Subjects": lambda v: None,  # checked with the other names
    "Server": lambda v: None if v in ("prosody", "ejabberd") else
    f"Server must be prosody or ejabberd, not '{v}'",
    "ServerNodes": lambda v: check_int(v, 1, "ServerNodes", 16),
    "Nodes": placement.check_nodes_value,
    "ClusterPort": lambda v: check_int(v, 1, "ClusterPort", 65535),
    "Web": check_web,
    "WebTls": check_switch("WebTls"),
    "Certificate": lambda v: None if v else "Certificate needs the path of a PEM file",
    "CertificateKey": lambda v: None if v else "CertificateKey needs the path of a PEM file",
    "Desk": check_desk,
    "OfflineAlert": lambda v: check_int(v, 1, "OfflineAlert"),
    "StallAlert": lambda v: check_int(v, 1, "StallAlert"),
    "Instructions": lambda v: None if v else "Instructions needs the path of a Markdown file",
    "Arrivals": check_switch("Arrivals"),
}
LAB_KEYS.update(ONLINE_KEYS)


def lab_fault(key, value):
    """The lab's fault of a key's value, for its own keys and its rules
    over the bot's; None when it has none (the bot judges the rest)."""
    check = LAB_KEYS.get(key) or LAB_RULES.get(key)
    return check(value) if check else None
