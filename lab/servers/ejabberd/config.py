"""One ejabberd node's configuration: ejabberd.yml (STARTTLS required, no
registration and no server-to-server listener, the lab's module with its
policy, the web seats' page and websocket), ejabberdctl.cfg, and the
accounts with their contacts as one XEP-0227 file."""

import json
import os
import textwrap
from xml.sax.saxutils import quoteattr

from ..policy import POLICY_FILE, REFUSED_LOG, REPLACED_LOG, unarchived_accounts
from ..web_page import HEADERS, WEBSOCKET_PATH

MODULE = "mod_wex_lab_policy"


def policy_options(server, one_session=()):
    """The lab module's options: the policy and its logs in the server
    folder, and the accounts that hold one session at a time."""
    options = {"policy_file": os.path.join(server, POLICY_FILE),
               "refused_log": os.path.join(server, REFUSED_LOG),
               "replaced_log": os.path.join(server, REPLACED_LOG),
               "one_session": list(one_session)}
    # A JSON string is a YAML string, whatever the path holds.
    return "".join(f"    {k}: {json.dumps(v)}\n" for k, v in options.items())


def web_origins(lab):
    """The origin of each node's seat page."""
    scheme = "https" if lab.web.tls else "http"
    host = f"[{lab.address}]" if ":" in lab.address else lab.address
    return [f"{scheme}://{host}:{node.web_port}" for node in lab.nodes]


def web_parts(lab, node, www):
    """(listener, global lines, module lines, host lines) that serve the seat
    page from www and the XMPP websocket on the node's web port; all empty
    without the web seats. The browser names the lab's address as Host, and
    the file server answers 410 to a Host that is no host of ejabberd's: the
    address is a host of its own that has the file server alone (no account
    can exist there). The archive (mam, kept for everyone) gives a page that
    reloads or reconnects the conversation so far."""
    if not lab.web:
        return "", "", "", ""
    listener = f"""  - port: {node.web_port}
    ip: "{node.address or lab.address}"
    module: ejabberd_http
    tls: {"true" if lab.web.tls else "false"}
    request_handlers:
      {WEBSOCKET_PATH}: ejabberd_http_ws
      /: mod_http_fileserver
"""
    origins = ", ".join(f'"{o}"' for o in web_origins(lab))
    # The file server has one set of headers for every file: no-store
    # suits seat.json and costs the page only a reload of a few kB.
    headers = "".join(f"      {name}: {json.dumps(value)}\n" for name, value in HEADERS.items())
    files = f"""  mod_http_fileserver:
    docroot: "{www}"
    directory_indices: [index.html]
    custom_headers:
      Cache-Control: no-store
{headers}"""
    modules = "  mod_mam:\n    default: always\n"
    if lab.address == lab.domain:
        return listener, f"websocket_origin: [{origins}]\n", modules + files, ""
    hosts = f"""host_config:
  "{lab.address}":
    modules:
{textwrap.indent(files, "    ")}"""
    return listener, f"websocket_origin: [{origins}]\n", modules, hosts


# The archive's tables, which ejabberd keeps in dets files by default: each
# message stored there goes into a bag under its account, which dets reads
# through on every insert, so the cost grows with the archive. In RAM with
# Mnesia's disk log (disc_copies) a message is an insert in memory and one
# log append, the table replicated on every node of the cluster as before
# and loaded again after a restart.
ARCHIVE_TABLES = ("archive_msg", "archive_prefs")
SCHEMA_FILE = "ejabberd.schema"  # read from the node's Mnesia folder


def archive_options(lab):
    """The lab module's options for the archive, with the web seats: the
    tables it moves into RAM on a node's first start, and the accounts
    whose own copies it keeps out of the archive (unarchived_accounts)."""
    if not lab.web:
        return ""
    return (f"    disc_copies: {json.dumps(ARCHIVE_TABLES)}\n"
            f"    no_archive: {json.dumps(unarchived_accounts(lab))}\n")


def schema_text(lab):
    """The node's Mnesia schema file (ejabberd's own format, YAML) that
    keeps the archive's tables in RAM and on disk; empty without the web
    seats, which alone have an archive."""
    if not lab.web:
        return ""
    return "".join(f"{table}:\n  storage_type: disc_copies\n" for table in ARCHIVE_TABLES)


# ejabberd's modules of every node and their options (YAML, after the
# name's colon), the lab's own module and the web seats' after them.
MODULES = (("mod_caps", " {}"), ("mod_carboncopy", " {}"), ("mod_disco", " {}"),
           ("mod_offline", "\n    access_max_user_messages: max_user_offline_messages"),
           ("mod_ping", " {}"),
           # Far above what a session's rosters need.
           ("mod_pres_counter", "\n    count: 10000\n    interval: 60"),
           ("mod_privacy", " {}"), ("mod_blocking", " {}"),
           ("mod_roster", "\n    versioning: true"), ("mod_stream_mgmt", " {}"))


def modules_text(overrides=None):
    """MODULES as ejabberd.yml lines; overrides maps a module's name to its
    options in their place (" {}" for ejabberd's defaults)."""
    overrides = overrides or {}
    unknown = set(overrides) - {name for name, _ in MODULES}
    if unknown:
        raise ValueError(f"no module {', '.join(sorted(unknown))} to override")
    return "".join(f"  {name}:{overrides.get(name, options)}\n" for name, options in MODULES)


def config_text(lab, node, certificate, key, policy, www=None, overrides=None):
    """One node's ejabberd.yml: STARTTLS required on the client port, no
    registration and no server-to-server listener, the presence counter
    raised far above what a session's rosters need, the lab's module with
    its options (policy, from policy_options); with the web seats, their
    page and websocket (web_parts) and the archive's options
    (archive_options). overrides are modules_text's: what a test changes,
    and nothing else."""
    listener, web_global, web_modules, web_hosts = web_parts(lab, node, www)
    hosts = [lab.domain] + ([lab.address] if web_hosts else [])
    return f"""hosts: [{", ".join(f'"{h}"' for h in hosts)}]
loglevel: info
log_rotate_count: 0
certfiles: ["{certificate}", "{key}"]
listen:
  - port: {node.port}
    ip: "{node.address or lab.address}"
    module: ejabberd_c2s
    max_stanza_size: 262144
    shaper: c2s_shaper
    access: c2s
    starttls_required: true
{listener}s2s_access: none
{web_global}{web_hosts}auth_method: internal
auth_password_format: scram
acl:
  local:
    user_regexp: ""
access_rules:
  local:
    allow: local
  c2s:
    allow: all
api_permissions:
  "console commands":
    from: [ejabberd_ctl]
    who: all
    what: "*"
shaper:
  normal:
    rate: 200000
    burst_size: 400000
shaper_rules:
  max_user_sessions: 10
  max_user_offline_messages: 1000
  c2s_shaper: normal
modules:
{modules_text(overrides)}  {MODULE}:
{policy}{archive_options(lab)}{web_modules}"""


def ctl_config(lab, node, ebin):
    """ejabberdctl.cfg, read by ejabberdctl as shell: run as the caller
    (also as root), the lab's module on the code path. On this machine alone
    the nodes talk on loopback beside the private epmd. A cluster open to
    other machines talks on one TCP port of each node's address and no epmd
    (ERL_DIST_PORT: ejabberdctl's own control VM then does not listen, so
    the pinned port is the node's)."""
    address = (node.address or "127.0.0.1") if lab.cluster_port else "127.0.0.1"
    lines = ["EXEC_CMD=as_current_user"]
    if lab.cluster_port:
        lines.append(f"ERL_DIST_PORT={lab.cluster_port}")
    interface = "{" + address.replace(".", ",") + "}"
    lines.append(f'ERL_OPTIONS="-env ERL_CRASH_DUMP_BYTES 0 '
                 f'-kernel inet_dist_use_interface {interface} -pa {ebin}"')
    return "\n".join(lines) + "\n"


def accounts_xml(lab, groups):
    """Every account of lab.accounts with its contacts, as one XEP-0227
    file: each member of a group (name, [members]) has the others in its
    roster, each seeing the other's presence, as Prosody's shared rosters
    give them; so each bot sees its subjects come and go."""
    domain = lab.domain
    contacts = {name: [] for name in lab.accounts}
    for _, members in groups:
        for name in members:
            known = contacts.setdefault(name, [])
            known += [other for other in members if other != name and other not in known]
    lines = ["<?xml version='1.0' encoding='UTF-8'?>", "<server-data xmlns='urn:xmpp:pie:0'>",
             f"<host jid={quoteattr(domain)}>"]
    for name, account in lab.accounts.items():
        lines.append(f"<user name={quoteattr(name)} password={quoteattr(account.password)}>")
        items = "".join(f"<item jid={quoteattr(f'{other}@{domain}')} name={quoteattr(other)} "
                        "subscription='both'/>" for other in contacts.get(name, []))
        if items:
            lines.append(f"<query xmlns='jabber:iq:roster'>{items}</query>")
        lines.append("</user>")
    lines += ["</host>", "</server-data>"]
    return "\n".join(lines) + "\n"
