"""A bot configuration's `Key value` lines and its Service, read as the bot
reads them."""

import re

from .errors import LabError


def config_value(text, key):
    """The value of the first `Key value` line for key, as the bot reads it."""
    for line in text.replace("\r", "\n").split("\n"):
        if line == key:
            return ""
        if line.startswith(key) and line[len(key)] in " \t":
            return line[len(key):].lstrip(" \t")
    return None


def leading_int(text):
    """The number at the start of text, or 0, like the C library's atoi."""
    match = re.match(r"\s*([+-]?\d+)", text or "")
    return int(match.group(1)) if match else 0


def parse_service(value):
    """Splits `xmpp:DOMAIN[@HOST[:PORT]][;options]` into a dict."""
    if not value or not value.startswith("xmpp:"):
        raise LabError("the configuration's Service must be an xmpp: service, e.g. "
                       "Service xmpp:lab.wex@127.0.0.1:5222;trust=any")
    parts = value[5:].strip().split(";")
    domain, _, hostport = parts[0].partition("@")
    host, port = hostport, None
    if ":" in hostport and not hostport.endswith("]"):
        host, _, port = hostport.rpartition(":")
    options = dict(p.lower().partition("=")[::2] for p in parts[1:])
    return {"domain": domain.lower(), "host": host.strip("[]") or None,
            "port": int(port) if port and port.isdigit() else None,
            "tls": options.get("tls", "required"), "trust": options.get("trust", "system")}
