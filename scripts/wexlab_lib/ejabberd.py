"""The lab server as ejabberd: one node or a cluster of nodes on this
machine, all in the session folder's server/ (one folder per node with its
configuration, spool and logs; one Erlang cookie; one private epmd on the
loopback address and a port of its own, so nothing else on the machine
sees these nodes and they see nothing else).

Node 1 listens on the Service's port, node k on that port + k - 1. Every
account is made once on node 1 after the others have joined its cluster;
the cluster shares them. Each participant signs on to the node lab.json's
placement gives it."""

import os
import shutil
import signal
import socket
import subprocess
import time
from xml.sax.saxutils import quoteattr

from . import lab_server

LabError = lab_server.LabError
START_SECONDS = 90  # an Erlang VM is slow to start on a busy machine


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def node_count(lab):
    return len(lab.get("nodes") or [])


def node_of(lab, name):
    """The node a participant signs on to (0 = the first)."""
    return lab.get("placement", {}).get(name, 0)


def port_of(lab, name):
    nodes = lab.get("nodes")
    return nodes[node_of(lab, name)]["port"] if nodes else lab["port"]


def plan_nodes(lab, count):
    """The nodes and where each participant signs on: pair i's bot and its
    first subject on node (i - 1) mod N, its second subject on the next
    node, so with two nodes or more every pair spans two; the moderator and
    wexlab's own account on node 1."""
    lab["nodes"] = [{"name": f"wex{lab['port'] + k}@localhost", "port": lab["port"] + k}
                    for k in range(count)]
    placement = {}
    for pair in lab["pairs"]:
        home = (pair["index"] - 1) % count
        placement[pair["bot"]] = home
        placement[pair["subject1"]] = home
        placement[pair["subject2"]] = (home + 1) % count
    lab["placement"] = placement


def _node_dir(folder, index):
    return os.path.join(folder, "server", f"node{index + 1}")


def _env(lab, folder):
    env = dict(os.environ, HOME=os.path.join(folder, "server", "home"),
               ERL_EPMD_ADDRESS="127.0.0.1", ERL_EPMD_PORT=str(lab["epmd_port"]))
    env.pop("XDG_CONFIG_HOME", None)
    return env


def ctl(lab, folder, index, *args, timeout=60):
    d = _node_dir(folder, index)
    program = shutil.which("ejabberdctl") or "/usr/sbin/ejabberdctl"
    if not os.path.exists(program):
        raise LabError("ejabberdctl is not installed (apt-get install ejabberd)")
    argv = [program, "--config-dir", d, "--ctl-config", os.path.join(d, "ejabberdctl.cfg"),
            "--spool", os.path.join(d, "spool"), "--logs", os.path.join(d, "logs"),
            "--node", lab["nodes"][index]["name"], *args]
    return subprocess.run(argv, env=_env(lab, folder), capture_output=True, text=True,
                          timeout=timeout, stdin=subprocess.DEVNULL)


def config_text(lab, node, certificate, key):
    """One node's ejabberd.yml: STARTTLS required on the client port, no
    registration and no server-to-server listener, the presence counter
    raised far above what a session's rosters need."""
    return f"""hosts: ["{lab['domain']}"]
loglevel: info
log_rotate_count: 0
certfiles: ["{certificate}", "{key}"]
listen:
  - port: {node['port']}
    ip: "{lab['address']}"
    module: ejabberd_c2s
    max_stanza_size: 262144
    shaper: c2s_shaper
    access: c2s
    starttls_required: true
s2s_access: none
auth_method: internal
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
  mod_caps: {{}}
  mod_carboncopy: {{}}
  mod_disco: {{}}
  mod_offline:
    access_max_user_messages: max_user_offline_messages
  mod_ping: {{}}
  mod_pres_counter:
    count: 10000
    interval: 60
  mod_privacy: {{}}
  mod_blocking: {{}}
  mod_roster:
    versioning: true
  mod_stream_mgmt: {{}}
"""


def set_up(lab, folder, certificate, key):
    """Writes every node's folder and the shared cookie; chooses the epmd
    port."""
    server = os.path.join(folder, "server")
    home = os.path.join(server, "home")
    lab_server.make_private_dir(home)
    lab_server.write_private(os.path.join(home, ".erlang.cookie"), os.urandom(16).hex().upper())
    lab["epmd_port"] = free_port()
    for index, node in enumerate(lab["nodes"]):
        d = _node_dir(folder, index)
        for sub in ("", "spool", "logs"):
            lab_server.make_private_dir(os.path.join(d, sub))
        lab_server.write_private(os.path.join(d, "ejabberd.yml"),
                                 config_text(lab, node, certificate, key))
        lab_server.write_private(os.path.join(d, "inetrc"), '{lookup,["file","native"]}.\n'
                                 '{host,{127,0,0,1}, ["localhost"]}.\n')
        # Read by ejabberdctl as shell: run as the caller (also as root),
        # distribution on loopback only.
        lab_server.write_private(os.path.join(d, "ejabberdctl.cfg"),
                                 "EXEC_CMD=as_current_user\n"
                                 'ERL_OPTIONS="-env ERL_CRASH_DUMP_BYTES 0 '
                                 '-kernel inet_dist_use_interface {127,0,0,1}"\n')


def node_pid(folder, index):
    """The pid of a node's VM while it runs, found by its spool folder on
    its command line: ejabberd removes its pid file as it begins to stop,
    well before the VM ends."""
    spool = f'"{os.path.join(_node_dir(folder, index), "spool")}"'.encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")
            if spool not in argv or not any(a.endswith(b"beam.smp") for a in argv[:1]):
                continue
            with open(f"/proc/{entry}/stat") as f:
                if f.read().rsplit(")", 1)[-1].split()[0] != "Z":
                    return int(entry)
        except (OSError, IndexError):
            continue
    return None


def pids(lab, folder):
    return [pid for pid in (node_pid(folder, i) for i in range(node_count(lab))) if pid]


def _wait_port(lab, folder, index):
    port = lab["nodes"][index]["port"]
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if node_pid(folder, index) and lab_server.port_open(lab["address"], port):
            return
        time.sleep(0.2)
    raise LabError(f"ejabberd node {index + 1} did not open port {port} within "
                   f"{START_SECONDS} s; see {_node_dir(folder, index)}/logs/ejabberd.log")


def start_node(lab, folder, index):
    port = lab["nodes"][index]["port"]
    if lab_server.port_open(lab["address"], port):
        raise LabError(f"something already listens on {lab['address']}:{port}")
    done = ctl(lab, folder, index, "start")
    if done.returncode != 0:
        raise LabError(f"ejabberdctl start of node {index + 1} failed: "
                       f"{done.stderr}{done.stdout}")
    _wait_port(lab, folder, index)


def start(lab, folder, fresh, groups=()):
    """Starts the nodes that are not running; a fresh cluster is joined to
    node 1 and gets every account, with the contacts of groups. Returns
    whether any node started. A restarted node rejoins by itself: its spool
    knows the cluster."""
    started = False
    try:
        for index in range(node_count(lab)):
            if node_pid(folder, index) is None:
                start_node(lab, folder, index)
                started = True
        if fresh:
            for index in range(1, node_count(lab)):
                join(lab, folder, index)
            register(lab, folder, groups)
    except BaseException:
        stop(lab, folder)
        raise
    return started


def join(lab, folder, index):
    done = ctl(lab, folder, index, "join_cluster", lab["nodes"][0]["name"], timeout=120)
    if done.returncode != 0:
        raise LabError(f"node {index + 1} could not join the cluster: {done.stderr}{done.stdout}")
    _wait_port(lab, folder, index)  # joining restarts the node's services


def accounts_xml(lab, groups):
    """Every account of lab['accounts'] with its contacts, as one XEP-0227
    file: each member of a group (name, [members]) has the others in its
    roster, each seeing the other's presence, as Prosody's shared rosters
    give them; so each bot sees its subjects come and go."""
    domain = lab["domain"]
    contacts = {name: [] for name in lab["accounts"]}
    for _, members in groups:
        for name in members:
            known = contacts.setdefault(name, [])
            known += [other for other in members if other != name and other not in known]
    lines = ["<?xml version='1.0' encoding='UTF-8'?>", "<server-data xmlns='urn:xmpp:pie:0'>",
             f"<host jid={quoteattr(domain)}>"]
    for name, account in lab["accounts"].items():
        lines.append(f"<user name={quoteattr(name)} password={quoteattr(account['password'])}>")
        items = "".join(f"<item jid={quoteattr(f'{other}@{domain}')} name={quoteattr(other)} "
                        "subscription='both'/>" for other in contacts.get(name, []))
        if items:
            lines.append(f"<query xmlns='jabber:iq:roster'>{items}</query>")
        lines.append("</user>")
    lines += ["</host>", "</server-data>"]
    return "\n".join(lines) + "\n"


def register(lab, folder, groups=()):
    """Every account and its contacts, imported on node 1 in one ejabberdctl
    call (one VM) from a private file that is removed at once: no password
    on a command line."""
    path = os.path.join(folder, "server", "accounts.xml")
    lab_server.write_private(path, accounts_xml(lab, groups))
    try:
        done = ctl(lab, folder, 0, "import_piefxis", path, timeout=120)
    finally:
        os.remove(path)
    if done.returncode != 0 or done.stdout.strip() or done.stderr.strip():
        raise LabError(f"ejabberdctl import_piefxis failed: {done.stderr}{done.stdout}")


def stop(lab, folder):
    """Stops every node (SIGTERM: the VM stops in order; SIGKILL after a
    bounded wait), then the session's epmd. Returns whether any ran."""
    running = pids(lab, folder)
    for pid in running:
        os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + 30
    while pids(lab, folder) and time.monotonic() < deadline:
        time.sleep(0.2)
    for pid in pids(lab, folder):
        os.kill(pid, signal.SIGKILL)
    stop_epmd(lab, folder)
    return bool(running)


def stop_epmd(lab, folder):
    if not lab.get("epmd_port"):
        return
    try:
        subprocess.run(["epmd", "-kill"], env=_env(lab, folder), capture_output=True,
                       timeout=10, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        pass
