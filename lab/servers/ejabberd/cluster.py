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
other machines (remote.py) are in lab.json's nodes too, marked remote: this
machine neither starts nor watches them.

Every node loads the lab's own module (mod_wex_lab_policy.erl beside this
file, built with erlc
into server/ebin as the session is set up): it lets only the pairs of
accounts in server/allowed.txt talk and logs each refusal to
server/refused.log. The accounts, with the contacts Prosody's shared
rosters would give, are imported on node 1 from a private file, so no
password is ever on a command line."""

import os
import re
import shutil
import signal
import subprocess
import time

from ...model import placement
from ...model.errors import LabError
from ...model.files import make_private_dir, write_private
from .. import net
from ..policy import one_session_accounts
from .config import (MODULE, SCHEMA_FILE, accounts_xml, config_text, ctl_config, policy_options,
                     schema_text)

START_SECONDS = 90  # an Erlang VM is slow to start on a busy machine
IMPORT_SECONDS = 120  # the accounts' import: at most this
IMPORT_SECONDS_PER_ACCOUNT = 0.5  # and this for each account
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), MODULE + ".erl")


def _node_dir(folder, index):
    return os.path.join(folder, "server", f"node{index + 1}")


def _env(lab, folder):
    env = dict(os.environ, HOME=os.path.join(folder, "server", "home"))
    if lab.epmd_port:  # none when the nodes talk on the cluster port
        env.update(ERL_EPMD_ADDRESS="127.0.0.1", ERL_EPMD_PORT=str(lab.epmd_port))
    env.pop("XDG_CONFIG_HOME", None)
    return env


def ctl(lab, folder, index, *args, timeout=60):
    d = _node_dir(folder, index)
    program = shutil.which("ejabberdctl") or "/usr/sbin/ejabberdctl"
    if not os.path.exists(program):
        raise LabError("ejabberdctl is not installed (apt-get install ejabberd)")
    argv = [program, "--config-dir", d, "--ctl-config", os.path.join(d, "ejabberdctl.cfg"),
            "--spool", os.path.join(d, "spool"), "--logs", os.path.join(d, "logs"),
            "--node", lab.nodes[index].name, *args]
    return subprocess.run(argv, env=_env(lab, folder), capture_output=True, text=True,
                          timeout=timeout, stdin=subprocess.DEVNULL)


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
    make_private_dir(ebin)
    build_module(ebin)


def set_up(lab, folder, certificate, key):
    """Writes every node's folder and the shared cookie, builds the lab's
    module; chooses the epmd port."""
    server = os.path.join(folder, "server")
    check_folder(folder)
    home = os.path.join(server, "home")
    make_private_dir(home)
    write_private(os.path.join(home, ".erlang.cookie"), os.urandom(16).hex().upper())
    prepare_module(server)
    # A cluster open to other machines needs no epmd (see ctl_config).
    lab.epmd_port = None if lab.cluster_port else net.free_port()
    for index, node in enumerate(lab.nodes):
        write_node_files(lab, folder, index, certificate, key)


def write_node_files(lab, folder, index, certificate, key, overrides=None, one_session=None):
    """One node's folder. A node of another machine has one here too: its
    ejabberdctl.cfg is what this machine's ejabberdctl needs to reach it.
    Each node judges its own clients by the policy in its machine's server/
    folder. overrides are config_text's (tests' changes alone); one_session
    the accounts held to one session, by default the lab's subjects."""
    if one_session is None:
        one_session = one_session_accounts(lab)
    node = lab.nodes[index]
    server = os.path.join(folder, "server")
    d = _node_dir(folder, index)
    for sub in ("", "spool", "logs"):
        make_private_dir(os.path.join(d, sub))
    write_private(os.path.join(d, "ejabberd.yml"),
                  config_text(lab, node, certificate, key, policy_options(server, one_session),
                              os.path.join(server, "www"), overrides))
    schema = schema_text(lab)
    if schema:  # the spool is the node's Mnesia folder
        write_private(os.path.join(d, "spool", SCHEMA_FILE), schema)
    write_private(os.path.join(d, "inetrc"), '{lookup,["file","native"]}.\n'
                  '{host,{127,0,0,1}, ["localhost"]}.\n')
    write_private(os.path.join(d, "ejabberdctl.cfg"),
                  ctl_config(lab, node, os.path.join(server, "ebin")))


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
    return [pid for pid in (node_pid(folder, i) for i in placement.local_nodes(lab)) if pid]


def node_address(lab, index):
    return lab.nodes[index].address or lab.address


def _log_path(folder, index):
    return os.path.join(_node_dir(folder, index), "logs", "ejabberd.log")


def log_size(folder, index):
    """Where a node's log ends now: what it writes from here on is new."""
    try:
        return os.path.getsize(_log_path(folder, index))
    except OSError:
        return 0


START_FAILED = "Failed to start ejabberd application"
PORT_IN_USE = re.compile(r"\{(\d+),\{[\d,]+\},\w+\},\s*eaddrinuse")


def start_failure(folder, index, since):
    """Why a node gave up starting, from what its log gained after offset
    since; None while it has not. ejabberd then ends its VM, so without
    this the wait for its ports would only time out."""
    try:
        with open(_log_path(folder, index), "rb") as f:
            f.seek(since)
            text = f.read().decode("utf-8", "replace")
    except OSError:
        return None
    at = text.find(START_FAILED)
    if at < 0:
        return None
    reason = text[at:]
    in_use = PORT_IN_USE.search(reason)
    if in_use:
        return (f"its port {in_use.group(1)} is taken by another program "
                f"(eaddrinuse)")
    return " ".join(reason.split())[:400]


def _wait_port(lab, folder, index, log_from=None):
    """Waits for a node's ports; log_from is where its log ended as it was
    launched, so that a start ejabberd gave up on is told at once."""
    node = lab.nodes[index]
    ports = [p for p in (node.port, node.web_port) if p]
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if node_pid(folder, index) and all(
                net.port_open(node_address(lab, index), p) for p in ports):
            return
        failure = None if log_from is None else start_failure(folder, index, log_from)
        if failure:
            raise LabError(f"ejabberd node {index + 1} could not start: {failure}; "
                           f"see {_log_path(folder, index)}")
        time.sleep(0.2)
    raise LabError(f"ejabberd node {index + 1} did not open port "
                   f"{' and '.join(map(str, ports))} within {START_SECONDS} s; "
                   f"see {_log_path(folder, index)}")


wait_port = _wait_port


def start_node(lab, folder, index):
    _wait_port(lab, folder, index, launch_node(lab, folder, index))


def launch_node(lab, folder, index):
    """Has ejabberdctl start a node's VM, which goes on in the background.
    Returns where the node's log ended before (for _wait_port)."""
    node = lab.nodes[index]
    address = node_address(lab, index)
    for port in (node.port, node.web_port):
        if port and net.port_open(address, port):
            raise LabError(f"something already listens on {address}:{port}")
    cluster = lab.cluster_port
    if cluster and net.port_open(address, cluster):
        raise LabError(f"something already listens on {address}:{cluster}, "
                       "the cluster's port (another session's node?); choose another "
                       "ClusterPort")
    log_from = log_size(folder, index)
    done = ctl(lab, folder, index, "start")
    if done.returncode != 0:
        raise LabError(f"ejabberdctl start of node {index + 1} failed: "
                       f"{done.stderr}{done.stdout}")
    return log_from


def start(lab, folder, fresh, groups=()):
    """Starts the nodes that are not running; a fresh cluster is joined to
    node 1 and gets every account, with the contacts of groups. Returns
    whether any node started. A restarted node rejoins by itself: its spool
    knows the cluster."""
    try:
        # All at once: a node that stopped before another waits for that
        # one's tables as it starts, so one at a time can wait for ever.
        launched = [index for index in placement.local_nodes(lab)
                    if node_pid(folder, index) is None]
        log_from = {index: launch_node(lab, folder, index) for index in launched}
        for index in launched:
            _wait_port(lab, folder, index, log_from[index])
        if fresh:
            for index in placement.local_nodes(lab)[1:]:
                join(lab, folder, index)
            register(lab, folder, groups)
    except BaseException:
        stop(lab, folder)
        raise
    return bool(launched)


def join(lab, folder, index):
    done = ctl(lab, folder, index, "join_cluster", lab.nodes[0].name, timeout=120)
    if done.returncode != 0:
        raise LabError(f"node {index + 1} could not join the cluster: {done.stderr}{done.stdout}")
    _wait_port(lab, folder, index)  # joining restarts the node's services


def register(lab, folder, groups=()):
    """Every account and its contacts, imported on node 1 in one ejabberdctl
    call (one VM) from a private file that is removed at once: no password
    on a command line."""
    path = os.path.join(folder, "server", "accounts.xml")
    write_private(path, accounts_xml(lab, groups))
    # ejabberdctl gives up on a command after 60 s, which hundreds of
    # accounts take on a busy machine: the bound here grows with them.
    seconds = IMPORT_SECONDS + IMPORT_SECONDS_PER_ACCOUNT * len(lab.accounts)
    try:
        done = ctl(lab, folder, 0, "--no-timeout", "import_piefxis", path, timeout=seconds)
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
    if not lab.epmd_port:
        return
    try:
        subprocess.run(["epmd", "-kill"], env=_env(lab, folder), capture_output=True,
                       timeout=10, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        pass
