"""The lab server as ejabberd: one node or a cluster of nodes on this
machine, all in the session folder's server/ (one folder per node with its
configuration, spool and logs; one Erlang cookie; one private epmd on the
loopback address and a port of its own, so nothing else on the machine
sees these nodes and they see nothing else).

Node 1 listens on the Service's port, node k on that port + k - 1, and
with the web seats node k serves their page and websocket on the Web port
+ k - 1. Every account is made once, by node 1 as it starts, before the
others join its cluster; the cluster shares them. Each participant signs on
to the node lab.json's placement gives it, its seat's link too. Nodes of
other machines (nodes.py) are in lab.json's nodes too, marked remote: this
machine neither starts nor watches them.

Every node loads the lab's own module (scripts/ejabberd/, built with erlc
into server/ebin as the session is set up): it lets only the pairs of
accounts in server/allowed.txt talk and logs each refusal to
server/refused.log. The accounts, with the contacts Prosody's shared
rosters would give, are imported on node 1 from a private file, so no
password is ever on a command line."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import textwrap
import time
from xml.sax.saxutils import quoteattr

from . import SCRIPTS, lab_server

LabError = lab_server.LabError
START_SECONDS = 90  # an Erlang VM is slow to start on a busy machine
MODULE = "mod_wex_lab_policy"
SOURCE = os.path.join(SCRIPTS, "ejabberd", MODULE + ".erl")
WEBSOCKET_PATH = "/xmpp-websocket"  # the web seats' (seat.json names it to the page)


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


def web_port_of(lab, name=None):
    """The web seats' port of the node name signs on to (node 1's without
    a name)."""
    nodes = lab.get("nodes")
    if nodes and name is not None:
        return nodes[node_of(lab, name)]["web_port"]
    return nodes[0]["web_port"] if nodes else lab["web"]["port"]


def address_of(lab, name):
    """The address of a participant's node: another machine's for a node
    there, else the Service's."""
    nodes = lab.get("nodes")
    return nodes[node_of(lab, name)].get("address", lab["address"]) if nodes else lab["address"]


def is_remote(lab, index):
    return bool(lab["nodes"][index].get("remote"))


def local_nodes(lab):
    """The indexes of the nodes that run on this machine, in the session folder."""
    return [i for i in range(node_count(lab)) if not is_remote(lab, i)]


def plan_nodes(lab, count):
    """This machine's nodes and where each participant signs on. With the
    web seats, node k serves them on the Web port + k - 1."""
    lab["nodes"] = [{"name": f"wex{lab['port'] + k}@localhost", "port": lab["port"] + k}
                    for k in range(count)]
    if lab.get("web"):
        for k, node in enumerate(lab["nodes"]):
            node["web_port"] = lab["web"]["port"] + k
        clash = {n["web_port"] for n in lab["nodes"]} & {n["port"] for n in lab["nodes"]}
        if clash:
            raise LabError(f"the Web ports of the nodes and their client ports overlap "
                           f"({min(clash)}): choose a Web port further away")
    place(lab)


def place(lab):
    """Pair i's bot and its first subject on node (i - 1) mod N, its second
    subject on the next node, so with two nodes or more every pair spans
    two; the moderator and wexlab's own accounts on node 1."""
    count = node_count(lab)
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
    env = dict(os.environ, HOME=os.path.join(folder, "server", "home"))
    if lab.get("epmd_port"):  # none when the nodes talk on the cluster port
        env.update(ERL_EPMD_ADDRESS="127.0.0.1", ERL_EPMD_PORT=str(lab["epmd_port"]))
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


def policy_options(server):
    """The lab module's options: the policy and its log in the server
    folder."""
    options = {"policy_file": os.path.join(server, lab_server.POLICY_FILE),
               "refused_log": os.path.join(server, lab_server.REFUSED_LOG)}
    # A JSON string is a YAML string, whatever the path holds.
    return "".join(f"    {k}: {json.dumps(v)}\n" for k, v in options.items())


def web_origins(lab):
    """The origin of each node's seat page."""
    scheme = "https" if lab["web"]["tls"] else "http"
    host = f"[{lab['address']}]" if ":" in lab["address"] else lab["address"]
    return [f"{scheme}://{host}:{node['web_port']}" for node in lab["nodes"]]


def web_parts(lab, node, www):
    """(listener, global lines, module lines, host lines) that serve the seat
    page from www and the XMPP websocket on the node's web port; all empty
    without the web seats. The browser names the lab's address as Host, and
    the file server answers 410 to a Host that is no host of ejabberd's: the
    address is a host of its own that has the file server alone (no account
    can exist there). The archive (mam, kept for everyone) gives a page that
    reloads or reconnects the conversation so far."""
    if not lab.get("web"):
        return "", "", "", ""
    listener = f"""  - port: {node['web_port']}
    ip: "{node.get('address', lab['address'])}"
    module: ejabberd_http
    tls: {"true" if lab["web"]["tls"] else "false"}
    request_handlers:
      {WEBSOCKET_PATH}: ejabberd_http_ws
      /: mod_http_fileserver
"""
    origins = ", ".join(f'"{o}"' for o in web_origins(lab))
    files = f"""  mod_http_fileserver:
    docroot: "{www}"
    directory_indices: [index.html]
    custom_headers:
      Cache-Control: no-store
      X-Content-Type-Options: nosniff
"""
    modules = "  mod_mam:\n    default: always\n"
    if lab["address"] == lab["domain"]:
        return listener, f"websocket_origin: [{origins}]\n", modules + files, ""
    hosts = f"""host_config:
  "{lab['address']}":
    modules:
{textwrap.indent(files, "    ")}"""
    return listener, f"websocket_origin: [{origins}]\n", modules, hosts


def config_text(lab, node, certificate, key, policy, www=None):
    """One node's ejabberd.yml: STARTTLS required on the client port, no
    registration and no server-to-server listener, the presence counter
    raised far above what a session's rosters need, the lab's module with
    its options (policy, from policy_options); with the web seats, their
    page and websocket (web_parts)."""
    listener, web_global, web_modules, web_hosts = web_parts(lab, node, www)
    hosts = [lab["domain"]] + ([lab["address"]] if web_hosts else [])
    return f"""hosts: [{", ".join(f'"{h}"' for h in hosts)}]
loglevel: info
log_rotate_count: 0
certfiles: ["{certificate}", "{key}"]
listen:
  - port: {node['port']}
    ip: "{node.get('address', lab['address'])}"
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
  {MODULE}:
{policy}{web_modules}"""


def build_module(ebin):
    """Compiles the lab's module into ebin (a second or so: erlc is a VM)."""
    erlc = shutil.which("erlc")
    if erlc is None:
        raise LabError("erlc is not installed (apt-get install erlang-base)")
    done = subprocess.run([erlc, "-o", ebin, SOURCE], capture_output=True, text=True,
                          timeout=120, stdin=subprocess.DEVNULL)
    if done.returncode != 0 or not os.path.exists(os.path.join(ebin, MODULE + ".beam")):
        raise LabError(f"erlc could not build {SOURCE}: {done.stderr}{done.stdout}")


SHELL_SAFE = re.compile(r"[A-Za-z0-9_./,+:@%=-]+")


def check_folder(folder):
    """ejabberdctl splits its Erlang options at spaces and reads its
    configuration as shell: the folder's path must hold neither."""
    if not SHELL_SAFE.fullmatch(os.path.join(folder, "server", "ebin")):
        raise LabError(f"ejabberd needs a session folder without spaces or shell "
                       f"characters in its path: {folder}")


def prepare_module(server):
    """The lab's module, built into server/ebin."""
    ebin = os.path.join(server, "ebin")
    lab_server.make_private_dir(ebin)
    build_module(ebin)


def set_up(lab, folder, certificate, key):
    """Writes every node's folder and the shared cookie, builds the lab's
    module; chooses the epmd port."""
    server = os.path.join(folder, "server")
    check_folder(folder)
    home = os.path.join(server, "home")
    lab_server.make_private_dir(home)
    lab_server.write_private(os.path.join(home, ".erlang.cookie"), os.urandom(16).hex().upper())
    prepare_module(server)
    # A cluster open to other machines needs no epmd (see ctl_config).
    lab["epmd_port"] = None if lab.get("cluster_port") else free_port()
    for index, node in enumerate(lab["nodes"]):
        write_node_files(lab, folder, index, certificate, key)


def write_node_files(lab, folder, index, certificate, key):
    """One node's folder. A node of another machine has one here too: its
    ejabberdctl.cfg is what this machine's ejabberdctl needs to reach it.
    Each node judges its own clients by the policy in its machine's server/
    folder."""
    node = lab["nodes"][index]
    server = os.path.join(folder, "server")
    d = _node_dir(folder, index)
    for sub in ("", "spool", "logs"):
        lab_server.make_private_dir(os.path.join(d, sub))
    lab_server.write_private(os.path.join(d, "ejabberd.yml"),
                             config_text(lab, node, certificate, key,
                                         policy_options(server),
                                         os.path.join(server, "www")))
    lab_server.write_private(os.path.join(d, "inetrc"), '{lookup,["file","native"]}.\n'
                             '{host,{127,0,0,1}, ["localhost"]}.\n')
    lab_server.write_private(os.path.join(d, "ejabberdctl.cfg"),
                             ctl_config(lab, node, os.path.join(server, "ebin")))


def ctl_config(lab, node, ebin):
    """ejabberdctl.cfg, read by ejabberdctl as shell: run as the caller
    (also as root), the lab's module on the code path. On this machine alone
    the nodes talk on loopback beside the private epmd. A cluster open to
    other machines talks on one TCP port of each node's address and no epmd
    (ERL_DIST_PORT: ejabberdctl's own control VM then does not listen, so
    the pinned port is the node's)."""
    address = node.get("address", "127.0.0.1") if lab.get("cluster_port") else "127.0.0.1"
    lines = ["EXEC_CMD=as_current_user"]
    if lab.get("cluster_port"):
        lines.append(f"ERL_DIST_PORT={lab['cluster_port']}")
    interface = "{" + address.replace(".", ",") + "}"
    lines.append(f'ERL_OPTIONS="-env ERL_CRASH_DUMP_BYTES 0 '
                 f'-kernel inet_dist_use_interface {interface} -pa {ebin}"')
    return "\n".join(lines) + "\n"


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
    return [pid for pid in (node_pid(folder, i) for i in local_nodes(lab)) if pid]


def node_address(lab, index):
    return lab["nodes"][index].get("address", lab["address"])


def _wait_port(lab, folder, index):
    node = lab["nodes"][index]
    ports = [p for p in (node["port"], node.get("web_port")) if p]
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if node_pid(folder, index) and all(
                lab_server.port_open(node_address(lab, index), p) for p in ports):
            return
        time.sleep(0.2)
    raise LabError(f"ejabberd node {index + 1} did not open port "
                   f"{' and '.join(map(str, ports))} within {START_SECONDS} s; "
                   f"see {_node_dir(folder, index)}/logs/ejabberd.log")


wait_port = _wait_port


def start_node(lab, folder, index):
    launch_node(lab, folder, index)
    _wait_port(lab, folder, index)


def launch_node(lab, folder, index):
    """Has ejabberdctl start a node's VM, which goes on in the background."""
    node = lab["nodes"][index]
    address = node_address(lab, index)
    for port in (node["port"], node.get("web_port")):
        if port and lab_server.port_open(address, port):
            raise LabError(f"something already listens on {address}:{port}")
    cluster = lab.get("cluster_port")
    if cluster and lab_server.port_open(address, cluster):
        raise LabError(f"something already listens on {address}:{cluster}, "
                       "the cluster's port (another session's node?); choose another "
                       "ClusterPort")
    done = ctl(lab, folder, index, "start")
    if done.returncode != 0:
        raise LabError(f"ejabberdctl start of node {index + 1} failed: "
                       f"{done.stderr}{done.stdout}")


def start(lab, folder, fresh, groups=()):
    """Starts the nodes that are not running; a fresh cluster is joined to
    node 1 and gets every account, with the contacts of groups. Returns
    whether any node started. A restarted node rejoins by itself: its spool
    knows the cluster."""
    try:
        # All at once: a node that stopped before another waits for that
        # one's tables as it starts, so one at a time can wait for ever.
        launched = [index for index in local_nodes(lab) if node_pid(folder, index) is None]
        for index in launched:
            launch_node(lab, folder, index)
        for index in launched:
            _wait_port(lab, folder, index)
        if fresh:
            for index in local_nodes(lab)[1:]:
                join(lab, folder, index)
            register(lab, folder, groups)
    except BaseException:
        stop(lab, folder)
        raise
    return bool(launched)


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
