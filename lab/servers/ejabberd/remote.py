"""Nodes of other machines in a session's ejabberd cluster.

The session file's `Nodes HOST[:PORT] ...`, or `wexlab node add HOST` in a
running session, names machines that each run one more node of the
cluster; PORT is the node's client port (default the Service's). Such a
cluster talks Erlang distribution on one TCP port of each node's address,
ClusterPort (default 4370), without epmd, so each machine's firewall opens
that port and the client port, and no more. Node names carry IPv4
addresses, so no machine needs to resolve another's name.

For each node of another machine wexlab writes a kit into the session
folder's nodes/: one private file with what that node needs (the cookie,
the lab certificate and its key, the node's name, address and ports, and
the node it joins). There, `wexlab node serve KIT` (serve.py) writes the node's
folder, starts the node, joins it to the cluster and watches it until
`wexlab stop` here stops it (or Ctrl-C there). The accounts are made once
on node 1; a node that joins gets them from the cluster."""

import json
import os
import time

from ...model import placement
from ...model.errors import LabError
from ...model.files import make_private_dir, write_private
from .. import net
from ..policy import POLICY_FILE, one_session_accounts
from . import cluster

KIT_FORMAT = "wex ejabberd node kit 1"
WAIT_SECONDS = 600  # long enough to copy a kit to the other machine and start it


def kit_path(folder, lab, index):
    return os.path.join(folder, "nodes", f"node{index + 1}-{lab.nodes[index].address}.kit")


def key_path(lab):
    return lab.certificate[:-len(".crt")] + ".key"


def write_kit(lab, folder, index):
    """The kit of node index: a private file, copied to its machine."""
    def read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    node = lab.nodes[index]
    kit = {"kit": KIT_FORMAT, "session": os.path.basename(folder), "index": index + 1,
           "domain": lab.domain, "cluster_port": lab.cluster_port,
           "node": {"name": node.name, "address": node.address, "port": node.port},
           "join": lab.nodes[0].name,
           "cookie": read(os.path.join(folder, "server", "home", ".erlang.cookie")).strip(),
           "certificate": read(lab.certificate), "key": read(key_path(lab)),
           "policy": read(os.path.join(folder, "server", POLICY_FILE)),
           "one_session": one_session_accounts(lab)}
    make_private_dir(os.path.join(folder, "nodes"))
    write_private(kit_path(folder, lab, index), json.dumps(kit, indent=1) + "\n")


def write_kits(lab, folder):
    for index in placement.remote_nodes(lab):
        write_kit(lab, folder, index)


def add(lab, folder, text):
    """`wexlab node add`: the index of HOST's node, made (with its folder
    here and its kit) when the session has none there; and whether it is new."""
    host, port = placement.parse_host(text, lab.port)
    address = placement.resolve(host)
    for index, node in enumerate(lab.nodes):
        if node.address == address:
            if not placement.is_remote(lab, index):
                raise LabError(f"{host} ({address}) is this machine's node")
            if not os.path.exists(kit_path(folder, lab, index)):
                write_kit(lab, folder, index)
            return index, False
    index = placement.add_node(lab, text)
    cluster.write_node_files(lab, folder, index, lab.certificate, key_path(lab))
    write_kit(lab, folder, index)
    return index, True


def joined(lab, folder, index):
    """Whether node index runs in node 1's cluster: its client port answers
    and node 1 counts it among the running nodes."""
    node = lab.nodes[index]
    if not net.port_open(node.address, node.port):
        return False
    try:
        done = cluster.ctl(lab, folder, 0, "list_cluster", timeout=60)
    except OSError:
        return False
    return done.returncode == 0 and node.name in done.stdout.replace("'", "").split()


def instructions(lab, folder, index):
    node = lab.nodes[index]
    kit = kit_path(folder, lab, index)
    return [f"ejabberd node {index + 1} ({node.name}) runs on {node.host}. Copy its kit "
            f"{kit} there (it holds the session's cookie and certificate key: keep it private, "
            "e.g. scp), and there run:",
            f"    wexlab node serve {os.path.basename(kit)}",
            f"  {node.address} must accept TCP {node.port} (participants and bots) and "
            f"{lab.cluster_port} (this machine); this machine TCP {lab.cluster_port} "
            f"from {node.address}."]


def wait_joined(lab, folder, say, indexes=None, seconds=WAIT_SECONDS, again="wexlab resume"):
    """Waits until these nodes of other machines (default all) have joined;
    says what to do there meanwhile. Raises LabError when time is up."""
    waiting = [i for i in (placement.remote_nodes(lab) if indexes is None else indexes)
               if not joined(lab, folder, i)]
    if not waiting:
        return
    for index in waiting:
        for line in instructions(lab, folder, index):
            say(line)
    say(f"Waiting up to {seconds // 60} minutes for the node(s) to join (Ctrl-C stops "
        f"waiting; {again} waits again).")
    deadline = time.monotonic() + seconds
    while waiting:
        if time.monotonic() > deadline:
            hosts = ", ".join(lab.nodes[i].host for i in waiting)
            raise LabError(f"the node of {hosts} did not join within {seconds} s; once "
                           f"wexlab node serve runs there, {again} waits again")
        time.sleep(2)
        for index in list(waiting):
            if joined(lab, folder, index):
                waiting.remove(index)
                say(f"ejabberd node {index + 1} ({lab.nodes[index].name}) joined the "
                    "cluster.")


def stop_remote(lab, folder, seconds=30):
    """Asks each node of another machine to stop; lines for the researcher."""
    lines = []
    for index in placement.remote_nodes(lab):
        node = lab.nodes[index]
        try:
            done = cluster.ctl(lab, folder, index, "stop", timeout=60)
            stopped = done.returncode == 0
        except Exception:
            stopped = False
        deadline = time.monotonic() + seconds
        while stopped and net.port_open(node.address, node.port):
            if time.monotonic() > deadline:
                stopped = False
                break
            time.sleep(0.5)
        if stopped:
            lines.append(f"ejabberd node {index + 1} on {node.host} stopped.")
        else:
            lines.append(f"ejabberd node {index + 1} ({node.name}) did not stop when asked: "
                         f"if wexlab node serve still runs on {node.host}, Ctrl-C there "
                         "stops it.")
    return lines
