"""The keys of a session file and the check of each one's value."""

import math
import re

from . import placement
from .service import parse_service

# The keys of the game and the lab's pay rule: every pair's by default, and
# what a treatment may set for its own pairs.
GAME_KEYS = ("NRounds", "ConversationInterval", "MarketBase", "MarketNoiseScale", "MarketNoise",
             "BonusMarketRGR", "BonusMarketGW", "MaxChatTime", "MaxChatIdle", "CreditValue",
             "MinPayout", "MaxPayout", "FloodLimit", "FloodSeconds", "MaxMessageBytes",
             "AnswerTimeout", "TimeoutAnswer")
# Keys copied into every pair's bot configuration.
BOT_KEYS = ("Service", "ModeratorName", "LogFile") + GAME_KEYS
# The bot's pay bounds when the keys are absent.
PAY_DEFAULTS = {"MinPayout": "10", "MaxPayout": "25"}
REQUIRED = ("Service", "ModeratorName", "LogFile", "NRounds", "ConversationInterval",
            "MarketBase", "MarketNoiseScale", "MarketNoise", "MaxChatTime", "MaxChatIdle",
            "Subjects", "Seed")
# Keys that wexlab writes for each pair itself.
PER_PAIR_KEYS = ("BotUsername", "Subject1Name", "Subject2Name", "PasswordFile",
                 "BotPasswordIndex", "KeyIndex", "Resume", "DeskName")
# The desk's keys: its address and the alerts' thresholds in seconds.
DESK_KEYS = ("Desk", "OfflineAlert", "StallAlert")


def check_int(value, low, what, high=None):
    if not re.fullmatch(r"[+-]?\d+", value):
        return f"{what} must be a whole number, not '{value}'"
    if int(value) < low:
        return f"{what} must be at least {low}"
    if high is not None and int(value) > high:
        return f"{what} must be at most {high}"
    return None


def check_amount(value, what):
    """A number of 0 or more, as the bot reads the pay rule's keys."""
    if not re.fullmatch(r"\+?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", value):
        return f"{what} must be a number of 0 or more, not '{value}'"
    if not math.isfinite(float(value)):
        return f"{what} must be a finite number"
    return None


def check_number(value, what):
    try:
        number = float(value)
    except ValueError:
        return f"{what} must be a number, not '{value}'"
    if not math.isfinite(number):
        return f"{what} must be a finite number"
    return None


def check_list(value, what):
    parts = value.split(",")
    for part in parts:
        fault = check_number(part.strip(), f"each element of {what}")
        if fault:
            return fault
    return None


def check_service(value):
    if not value.startswith("xmpp:"):
        return ("Service must be an xmpp: service on the lab server, e.g. "
                "xmpp:lab.wex@127.0.0.1:5222;trust=any")
    service = parse_service(value)
    if not service["domain"] or not service["host"] or service["port"] is None:
        return "Service must name the server's address and port: xmpp:DOMAIN@ADDRESS:PORT;..."
    if service["tls"] != "off" and service["trust"] != "any":
        return "the lab server's certificate is self-signed: add ;trust=any to the Service"
    return None


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


def check_switch(key):
    return lambda v: None if v in ("on", "off") else f"{key} must be on or off, not '{v}'"


# The check of each key's value; None means any text.
VALUE_CHECKS = {
    "Service": check_service,
    "ModeratorName": lambda v: None,  # checked with the other names
    "LogFile": lambda v: None if v and "/" not in v else
    "LogFile must be a file name (the transcript goes into each pair's folder)",
    "NRounds": lambda v: check_int(v, 1, "NRounds"),
    "ConversationInterval": lambda v: check_int(v, 1, "ConversationInterval"),
    "MaxChatTime": lambda v: check_int(v, 1, "MaxChatTime"),
    "MaxChatIdle": lambda v: check_int(v, 1, "MaxChatIdle"),
    "MarketBase": lambda v: check_number(v, "MarketBase"),
    "MarketNoiseScale": lambda v: check_number(v, "MarketNoiseScale"),
    "MarketNoise": lambda v: check_list(v, "MarketNoise"),
    "BonusMarketRGR": lambda v: check_list(v, "BonusMarketRGR"),
    "BonusMarketGW": lambda v: check_list(v, "BonusMarketGW"),
    "CreditValue": lambda v: check_amount(v, "CreditValue"),
    "MinPayout": lambda v: check_amount(v, "MinPayout"),
    "MaxPayout": lambda v: check_amount(v, "MaxPayout"),
    "FloodLimit": lambda v: check_int(v, 0, "FloodLimit", 100000),
    "FloodSeconds": lambda v: check_int(v, 1, "FloodSeconds", 3600),
    "MaxMessageBytes": lambda v: check_int(v, 64, "MaxMessageBytes", 1048576),
    "AnswerTimeout": lambda v: check_int(v, 0, "AnswerTimeout", 86400),
    "TimeoutAnswer": lambda v: None if v == "last" else check_int(v, 0, "TimeoutAnswer", 60),
    "Treatments": lambda v: None,  # checked with the Treatment lines
    "Seed": lambda v: check_int(v, 0, "Seed"),
    "Subjects": lambda v: None,
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
}


def divisor_fault(values):
    """The bot refuses a market divisor of 0; say so before any bot starts."""
    base = float(values["MarketBase"])
    scale = float(values["MarketNoiseScale"])
    for part in values["MarketNoise"].split(","):
        divisor = scale * float(part) - scale / 2 + base
        if divisor == 0 or not math.isfinite(divisor):
            return f"the noise {part.strip()} gives a market divisor of 0"
    return None


def pay_fault(values):
    low = float(values.get("MinPayout", PAY_DEFAULTS["MinPayout"]))
    high = float(values.get("MaxPayout", PAY_DEFAULTS["MaxPayout"]))
    if low > high:
        return f"MinPayout ({low:g}) must not exceed MaxPayout ({high:g})"
    return None
