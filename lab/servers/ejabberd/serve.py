"""`wexlab node serve KIT`, on another machine: the node of a kit that
wexlab start or wexlab node add wrote on the session's main machine
(remote.py), set up in a folder of its own, joined to the session's
cluster and watched until the main machine stops it."""

import json
import os
import signal
import socket
import time

from ...model.errors import LabError
from ...model.files import make_private_dir, write_private
from ...model.record import Lab, Node
from ..policy import POLICY_FILE, REFUSED_LOG
from . import cluster
from .remote import KIT_FORMAT

JOIN_SECONDS = 120


def read_kit(path, say):
    try:
        with open(path, encoding="utf-8") as f:
            kit = json.load(f)
    except (OSError, ValueError) as e:
        raise LabError(f"cannot read the node kit {path}: {e}")
    if not isinstance(kit, dict) or kit.get("kit") != KIT_FORMAT:
        raise LabError(f"{path} is not a node kit of this wexlab (made by wexlab start or "
                       "wexlab node add on the session's main machine)")
    if os.stat(path).st_mode & 0o077:
        os.chmod(path, 0o600)
        say(f"{path} could be read by others; it is now its owner's alone (it holds the "
            "session's cookie and certificate key).")
    return kit


def serve_lab(kit):
    """The lab record the node's own commands need: just this node."""
    node = kit["node"]
    return Lab(domain=kit["domain"], address=node["address"], port=node["port"],
               nodes=[Node(node["name"], node["port"], address=node["address"])],
               cluster_port=kit["cluster_port"], epmd_port=None)


def own_address(kit):
    address = kit["node"]["address"]
    with socket.socket() as s:
        try:
            s.bind((address, 0))
        except OSError:
            raise LabError(f"this machine has no address {address}: the kit is for node "
                           f"{kit['node']['name']}; run wexlab node serve on that machine")


def prepare(kit, folder):
    """The node's folder from its kit (server/home with the cookie,
    server/certs, server/node1); returns its lab record."""
    mark = os.path.join(folder, "node.json")
    this = {"session": kit["session"], "name": kit["node"]["name"], "join": kit["join"],
            "cookie": kit["cookie"]}
    if os.path.exists(mark):
        with open(mark, encoding="utf-8") as f:
            if json.load(f) != this:
                raise LabError(f"{folder} holds a node of another session; name a new folder "
                               "with --dir")
    cluster.check_folder(folder)
    make_private_dir(folder)
    server = os.path.join(folder, "server")
    for sub in ("", "home", "certs"):
        make_private_dir(os.path.join(server, sub))
    # This node judges its own clients by the session's policy.
    if not isinstance(kit.get("policy"), str):
        raise LabError("the node kit has no policy (made by an older wexlab); make it again "
                       "with wexlab node add on the main machine")
    write_private(os.path.join(server, POLICY_FILE), kit["policy"])
    cluster.prepare_module(server)
    write_private(os.path.join(server, "home", ".erlang.cookie"), kit["cookie"])
    certificate = os.path.join(server, "certs", kit["domain"] + ".crt")
    key = os.path.join(server, "certs", kit["domain"] + ".key")
    write_private(certificate, kit["certificate"])
    write_private(key, kit["key"])
    lab = serve_lab(kit)
    # The subjects held to one session, as on the main machine's nodes.
    cluster.write_node_files(lab, folder, 0, certificate, key,
                             one_session=kit.get("one_session", []))
    write_private(mark, json.dumps(this, indent=1) + "\n")
    return lab


def join_cluster(lab, folder, target, say):
    """Joins the node to target's cluster unless its spool has it there
    already; retries while the main node cannot be reached."""
    deadline = time.monotonic() + JOIN_SECONDS
    while True:
        done = cluster.ctl(lab, folder, 0, "list_cluster", timeout=60)
        if done.returncode == 0 and target in done.stdout.replace("'", "").split():
            say(f"The node is in the cluster of {target} (from its spool).")
            return
        done = cluster.ctl(lab, folder, 0, "join_cluster", target, timeout=120)
        if done.returncode == 0:
            cluster.wait_port(lab, folder, 0)  # joining restarts the node's services
            say(f"The node joined the cluster of {target}.")
            return
        if time.monotonic() > deadline:
            raise LabError(f"could not join {target}: {done.stderr.strip()}{done.stdout.strip()}"
                           f"; does the session run on the main machine, and does TCP "
                           f"{lab.cluster_port} pass between the two machines?")
        time.sleep(3)


class Stop(Exception):
    """SIGTERM to wexlab node serve."""


def _raise_stop(*_):
    raise Stop()


def serve(kit_path_given, folder, say):
    """Runs the kit's node until it stops (wexlab stop on the main machine)
    or this command is interrupted, which stops it."""
    kit = read_kit(kit_path_given, say)
    own_address(kit)
    folder = os.path.abspath(folder or f"wexnode-{kit['session']}-node{kit['index']}")
    lab = prepare(kit, folder)
    node = kit["node"]
    running = cluster.node_pid(folder, 0) is not None
    previous = signal.signal(signal.SIGTERM, _raise_stop)
    try:
        if not running:
            say(f"Starting ejabberd node {node['name']} in {folder} ...")
            cluster.start_node(lab, folder, 0)
        join_cluster(lab, folder, kit["join"], say)
        say(f"Node {kit['index']} of the session serves participants on {node['address']}:"
            f"{node['port']} (domain {kit['domain']}). Leave this running: wexlab stop on the "
            "main machine stops it, and so does Ctrl-C here.")
        while cluster.node_pid(folder, 0) is not None:
            time.sleep(1)
        say("The node stopped.")
    except (KeyboardInterrupt, Stop):
        say("Stopping the node ...")
        cluster.stop(lab, folder)
        say("The node stopped.")
    except LabError:
        cluster.stop(lab, folder)
        raise
    finally:
        signal.signal(signal.SIGTERM, previous)
    refused = os.path.join(folder, "server", REFUSED_LOG)
    if os.path.exists(refused):
        with open(refused, encoding="utf-8", errors="replace") as f:
            count = sum(1 for _ in f)
        say(f"This node refused {count} message(s) between participants who may not talk; "
            f"each is a line of {refused}: copy it to the main machine with the data.")
    say(f"{folder} keeps the node's logs, and the session's cookie and certificate key: "
        "remove it and the kit when the session is over.")
