"""The lab record, lab.json in the session folder, as typed dataclasses:
the one place that reads and writes it. The JSON keys are the record's
field names, so a session folder of an earlier wexlab loads and resumes;
optional parts (a pair's treatment, a node's address, the nodes of an
ejabberd lab, ...) are left out of the file while they are unset."""

import dataclasses
import os
import secrets
import time
import zlib
from dataclasses import dataclass, field
from typing import Dict, List, Optional

from .errors import LabError
from .files import read_json, write_json

LAB_FILE = "lab.json"


@dataclass
class Pair:
    index: int
    bot: str
    subject1: str
    subject2: str
    treatment: Optional[str] = None  # in a session of treatments
    rounds: Optional[int] = None     # its treatment's NRounds

    def subjects(self):
        return (self.subject1, self.subject2)


@dataclass
class Treatment:
    name: str
    values: Dict[str, str]  # game key -> value text, over the session's


@dataclass
class Node:
    """An ejabberd node: of this machine, or of another (remote)."""
    name: str
    port: int
    web_port: Optional[int] = None  # with the web seats
    address: Optional[str] = None   # a node of a cluster open to other machines
    remote: bool = False
    host: Optional[str] = None      # as the researcher named another machine


@dataclass
class Web:
    """The web seats: the port of the page and websocket, and whether TLS."""
    port: int
    tls: bool


@dataclass
class Desk:
    address: str = "127.0.0.1"
    port: int = 5290
    offline_alert: int = 60  # seconds offline before an alert
    stall_alert: int = 120   # seconds an answer is owed before an alert


@dataclass
class Online:
    """An online session: people come through the study link, wait in the
    room and are paired there as they arrive."""
    max_pairs: int = 10
    wait_timeout: int = 300    # seconds in the room before a paid exit
    show_up_fee: str = "0.00"  # paid to whoever leaves the room unpaired
    label_parameter: str = "label"
    completion_code: Optional[str] = None
    no_partner_code: Optional[str] = None
    completion_url: Optional[str] = None
    proxy: bool = True
    proxy_port: int = 8443
    public_host: str = ""
    room_port: int = 5291


@dataclass
class Account:
    name: str
    jid: str
    password: str


@dataclass
class Lab:
    """A session: its server, pairs, accounts and where each signs on."""
    session: Optional[str] = None  # the session file's path
    domain: str = ""
    address: str = ""
    port: int = 0
    plain: bool = False
    service: str = ""
    moderator: str = ""
    seed: int = 0
    pairs: List[Pair] = field(default_factory=list)
    rounds: int = 0
    web: Optional[Web] = None
    certificate_files: Optional[List[str]] = None  # the session's own (Certificate keys)
    names: Dict[str, str] = field(default_factory=dict)  # every account's name
    bot_path: Optional[str] = None
    log_file: str = ""
    desk_account: str = ""
    desk: Desk = field(default_factory=Desk)
    server: str = "prosody"
    # ejabberd: the nodes and the node (index) each account signs on to.
    nodes: Optional[List[Node]] = None
    placement: Optional[Dict[str, int]] = None
    cluster_port: Optional[int] = None  # a cluster open to other machines
    treatments: List[Treatment] = field(default_factory=list)
    # Set as the server is set up.
    certificate: Optional[str] = None
    fingerprints: Optional[Dict[str, str]] = None
    epmd_port: Optional[int] = None  # ejabberd's private epmd (none for a cluster port)
    accounts: Optional[Dict[str, Account]] = None
    # The session's identifier in its data files: local date and time of
    # its start and a short random part (new_session_id).
    session_id: Optional[str] = None
    online: Optional[Online] = None  # an online session (Arrivals on)


def pair_rounds(lab, pair):
    """The rounds a pair plays: its treatment's NRounds or the session's."""
    return lab.rounds if pair.rounds is None else pair.rounds


SESSION_ID_CHARS = "0123456789abcdef"


def new_session_id(now=None, random_part=None):
    """YYYYMMDD-HHMMSS-xxxx: the local time now and four random hex digits,
    so two sessions started in the same second still differ."""
    stamp = time.strftime("%Y%m%d-%H%M%S", time.localtime(time.time() if now is None else now))
    if random_part is None:
        random_part = "".join(secrets.choice(SESSION_ID_CHARS) for _ in range(4))
    return f"{stamp}-{random_part}"


def session_id_of(lab, started=None):
    """The lab's session identifier. A lab.json of an earlier wexlab has
    none: it gets one from its start time (seconds since 1970, None when
    unknown) whose last part is drawn from the domain and seed, so every
    collect of that folder gives the same one."""
    if lab.session_id:
        return lab.session_id
    digest = format(zlib.crc32(f"{lab.domain}:{lab.seed}".encode("utf-8")) & 0xffff, "04x")
    return new_session_id(started or 0, digest)


# lab.json <-> Lab

def _unset(value):
    return value is None or value is False or (isinstance(value, (list, dict)) and not value)


def _drop_unset(data, keys):
    """data without those of keys whose value is unset (None, False, empty)."""
    return {k: v for k, v in data.items() if k not in keys or not _unset(v)}


def pair_json(pair):
    return _drop_unset(dataclasses.asdict(pair), ("treatment", "rounds"))


def node_json(node):
    return _drop_unset(dataclasses.asdict(node), ("web_port", "address", "remote", "host"))


def to_json(lab):
    """lab.json's data: the keys of earlier wexlabs, the unset optional ones
    left out."""
    data = {f.name: getattr(lab, f.name) for f in dataclasses.fields(lab)}
    data["pairs"] = [pair_json(p) for p in lab.pairs]
    data["web"] = dataclasses.asdict(lab.web) if lab.web else None
    data["desk"] = dataclasses.asdict(lab.desk)
    data["online"] = dataclasses.asdict(lab.online) if lab.online else None
    data["nodes"] = None if lab.nodes is None else [node_json(n) for n in lab.nodes]
    data["treatments"] = [dataclasses.asdict(t) for t in lab.treatments]
    if lab.accounts is not None:
        data["accounts"] = {role: dataclasses.asdict(a) for role, a in lab.accounts.items()}
    if lab.nodes is None:
        data.pop("epmd_port")
    return _drop_unset(data, ("nodes", "placement", "cluster_port", "treatments",
                              "certificate", "fingerprints", "accounts", "session_id",
                              "online"))


def from_json(data):
    """The Lab of lab.json's data; a key an earlier wexlab did not write
    takes its default."""
    known = {f.name for f in dataclasses.fields(Lab)}
    unknown = set(data) - known
    if unknown:
        raise LabError(f"lab.json has keys this wexlab does not know: {', '.join(sorted(unknown))}")
    values = dict(data)
    values["pairs"] = [Pair(**p) for p in data.get("pairs", [])]
    values["web"] = Web(**data["web"]) if data.get("web") else None
    values["desk"] = Desk(**data.get("desk", {}))
    if data.get("nodes") is not None:
        values["nodes"] = [Node(**n) for n in data["nodes"]]
    values["treatments"] = [Treatment(**t) for t in data.get("treatments", [])]
    if data.get("online") is not None:
        values["online"] = Online(**data["online"])
    if data.get("accounts") is not None:
        values["accounts"] = {role: Account(**a) for role, a in data["accounts"].items()}
    return Lab(**values)


def path(folder):
    return os.path.join(folder, LAB_FILE)


def exists(folder):
    return os.path.exists(path(folder))


def load(folder):
    if not exists(folder):
        raise LabError(f"no lab session in {folder} (run wexlab start SESSION.conf there)")
    return from_json(read_json(path(folder)))


def save(folder, lab):
    """Replaces lab.json; it holds every password, so it is its owner's alone."""
    write_json(path(folder), to_json(lab), private=True)
