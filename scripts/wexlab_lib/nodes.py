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
the node it joins). There, `wexlab node serve KIT` writes the node's
folder, starts the node, joins it to the cluster and watches it until
`wexlab stop` here stops it (or Ctrl-C there). The accounts are made once
on node 1; a node that joins gets them from the cluster."""

import ipaddress
import json
import os
import re
import signal
import socket
import time

from . import ejabberd, lab_server

LabError = lab_server.LabError
KIT_FORMAT = "wex ejabberd node kit 1"
CLUSTER_PORT = 4370
WAIT_SECONDS = 600  # long enough to copy a kit to the other machine and start it
JOIN_SECONDS = 120
HOST = re.compile(r"[A-Za-z0-9][A-Za-z0-9.-]*")


def check_nodes_value(value):
    """The fault of a Nodes value (HOST or HOST:PORT, space-separated), or None."""
    entries = value.split()
    if not entries:
        return "Nodes needs at least one HOST or HOST:PORT"
    for entry in entries:
        host, _, port = entry.partition(":")
        if not HOST.fullmatch(host) or (_ and not re.fullmatch(r"\d{1,5}", port)) or \
                (port and not 1 <= int(port) <= 65535):
            return (f"'{entry}' is not a node: Nodes takes HOST or HOST:PORT (an IPv4 "
                    "address or a host name; PORT its client port)")
    return None


def parse_host(text, default_port):
    host, _, port = text.partition(":")
    if check_nodes_value(text):
        raise LabError(check_nodes_value(text))
    return host, int(port) if port else default_port


def resolve(host):
    """The IPv4 address of host (an address is its own)."""
    try:
        return socket.gethostbyname(host)
    except OSError as e:
        raise LabError(f"cannot find the address of {host}: {e}")


def is_loopback(address):
    return ipaddress.ip_address(address).is_loopback


def remote_nodes(lab):
    return [i for i in range(ejabberd.node_count(lab)) if ejabberd.is_remote(lab, i)]


def plan(lab, values):
    """With Nodes or ClusterPort in the session: this machine's one node
    named by its address and open to the others, the other machines' nodes
    after it, and the participants placed across them all."""
    hosts = values.get("Nodes", "").split()
    if not hosts and not values.get("ClusterPort"):
        return
    if len(lab["nodes"]) != 1:
        raise LabError("ServerNodes counts the nodes of a cluster of this machine alone; with "
                       "Nodes or ClusterPort this machine runs one node (leave ServerNodes out)")
    if lab.get("web"):
        if values.get("Web"):
            raise LabError("the web seats do not work with nodes of other machines yet: "
                           "remove the Web key (the participants then use an XMPP client), "
                           "or leave Nodes and ClusterPort out")
        # Not asked for: a session with other machines' nodes has no seats.
        lab["web"] = None
        for node in lab["nodes"]:
            node.pop("web_port", None)
    lab["cluster_port"] = int(values.get("ClusterPort", CLUSTER_PORT))
    main = lab["nodes"][0]
    address = resolve(lab["address"])
    main.update(name=f"wex{main['port']}@{address}", address=address)
    for host in hosts:
        add_node(lab, host)
    ejabberd.place(lab)


def add_node(lab, text):
    """Appends the node of HOST[:PORT] to lab's nodes; returns its index."""
    host, port = parse_host(text, lab["port"])
    address = resolve(host)
    main = lab["nodes"][0]["address"]
    if is_loopback(main) and not is_loopback(address):
        raise LabError(f"the Service names {lab['address']}, which {host} cannot reach: "
                       "name this machine's lab address in the Service")
    for index, node in enumerate(lab["nodes"]):
        if node["address"] == address:
            raise LabError(f"{host} ({address}) has node {index + 1} already: each machine "
                           "(address) runs one node of the session")
    lab["nodes"].append({"name": f"wex{port}@{address}", "port": port, "address": address,
                         "remote": True, "host": host})
    return len(lab["nodes"]) - 1


def kit_path(folder, lab, index):
    return os.path.join(folder, "nodes", f"node{index + 1}-{lab['nodes'][index]['address']}.kit")


def key_path(lab):
    return lab["certificate"][:-len(".crt")] + ".key"


def write_kit(lab, folder, index):
    """The kit of node index: a private file, copied to its machine."""
    def read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    node = lab["nodes"][index]
    kit = {"kit": KIT_FORMAT, "session": os.path.basename(folder), "index": index + 1,
           "domain": lab["domain"], "cluster_port": lab["cluster_port"],
           "node": {"name": node["name"], "address": node["address"], "port": node["port"]},
           "join": lab["nodes"][0]["name"],
           "cookie": read(os.path.join(folder, "server", "home", ".erlang.cookie")).strip(),
           "certificate": read(lab["certificate"]), "key": read(key_path(lab)),
           "policy": read(os.path.join(folder, "server", lab_server.POLICY_FILE))}
    lab_server.make_private_dir(os.path.join(folder, "nodes"))
    lab_server.write_private(kit_path(folder, lab, index), json.dumps(kit, indent=1) + "\n")


def write_kits(lab, folder):
    for index in remote_nodes(lab):
        write_kit(lab, folder, index)


def add(lab, folder, text):
    """`wexlab node add`: the index of HOST's node, made (with its folder
    here and its kit) when the session has none there; and whether it is new."""
    host, port = parse_host(text, lab["port"])
    address = resolve(host)
    for index, node in enumerate(lab["nodes"]):
        if node.get("address") == address:
            if not ejabberd.is_remote(lab, index):
                raise LabError(f"{host} ({address}) is this machine's node")
            if not os.path.exists(kit_path(folder, lab, index)):
                write_kit(lab, folder, index)
            return index, False
    index = add_node(lab, text)
    ejabberd.write_node_files(lab, folder, index, lab["certificate"], key_path(lab))
    write_kit(lab, folder, index)
    return index, True


def joined(lab, folder, index):
    """Whether node index runs in node 1's cluster: its client port answers
    and node 1 counts it among the running nodes."""
    node = lab["nodes"][index]
    if not lab_server.port_open(node["address"], node["port"]):
        return False
    try:
        done = ejabberd.ctl(lab, folder, 0, "list_cluster", timeout=60)
    except OSError:
        return False
    return done.returncode == 0 and node["name"] in done.stdout.replace("'", "").split()


def instructions(lab, folder, index):
    node = lab["nodes"][index]
    kit = kit_path(folder, lab, index)
    return [f"ejabberd node {index + 1} ({node['name']}) runs on {node['host']}. Copy its kit "
            f"{kit} there (it holds the session's cookie and certificate key: keep it private, "
            "e.g. scp), and there run:",
            f"    wexlab node serve {os.path.basename(kit)}",
            f"  {node['address']} must accept TCP {node['port']} (participants and bots) and "
            f"{lab['cluster_port']} (this machine); this machine TCP {lab['cluster_port']} "
            f"from {node['address']}."]


def wait_joined(lab, folder, say, indexes=None, seconds=WAIT_SECONDS, again="wexlab resume"):
    """Waits until these nodes of other machines (default all) have joined;
    says what to do there meanwhile. Raises LabError when time is up."""
    waiting = [i for i in (remote_nodes(lab) if indexes is None else indexes)
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
            hosts = ", ".join(lab["nodes"][i]["host"] for i in waiting)
            raise LabError(f"the node of {hosts} did not join within {seconds} s; once "
                           f"wexlab node serve runs there, {again} waits again")
        time.sleep(2)
        for index in list(waiting):
            if joined(lab, folder, index):
                waiting.remove(index)
                say(f"ejabberd node {index + 1} ({lab['nodes'][index]['name']}) joined the "
                    "cluster.")


def stop_remote(lab, folder, seconds=30):
    """Asks each node of another machine to stop; lines for the researcher."""
    lines = []
    for index in remote_nodes(lab):
        node = lab["nodes"][index]
        try:
            done = ejabberd.ctl(lab, folder, index, "stop", timeout=60)
            stopped = done.returncode == 0
        except Exception:
            stopped = False
        deadline = time.monotonic() + seconds
        while stopped and lab_server.port_open(node["address"], node["port"]):
            if time.monotonic() > deadline:
                stopped = False
                break
            time.sleep(0.5)
        if stopped:
            lines.append(f"ejabberd node {index + 1} on {node['host']} stopped.")
        else:
            lines.append(f"ejabberd node {index + 1} ({node['name']}) did not stop when asked: "
                         f"if wexlab node serve still runs on {node['host']}, Ctrl-C there "
                         "stops it.")
    return lines


# The other machine's side.

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
    node = dict(kit["node"])
    return {"domain": kit["domain"], "address": node["address"], "port": node["port"],
            "nodes": [node], "cluster_port": kit["cluster_port"], "epmd_port": None}


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
    ejabberd.check_folder(folder)
    lab_server.make_private_dir(folder)
    server = os.path.join(folder, "server")
    for sub in ("", "home", "certs"):
        lab_server.make_private_dir(os.path.join(server, sub))
    # This node judges its own clients by the session's policy.
    if not isinstance(kit.get("policy"), str):
        raise LabError("the node kit has no policy (made by an older wexlab); make it again "
                       "with wexlab node add on the main machine")
    lab_server.write_private(os.path.join(server, lab_server.POLICY_FILE), kit["policy"])
    ejabberd.prepare_module(server)
    lab_server.write_private(os.path.join(server, "home", ".erlang.cookie"), kit["cookie"])
    certificate = os.path.join(server, "certs", kit["domain"] + ".crt")
    key = os.path.join(server, "certs", kit["domain"] + ".key")
    lab_server.write_private(certificate, kit["certificate"])
    lab_server.write_private(key, kit["key"])
    lab = serve_lab(kit)
    ejabberd.write_node_files(lab, folder, 0, certificate, key)
    lab_server.write_private(mark, json.dumps(this, indent=1) + "\n")
    return lab


def join_cluster(lab, folder, target, say):
    """Joins the node to target's cluster unless its spool has it there
    already; retries while the main node cannot be reached."""
    deadline = time.monotonic() + JOIN_SECONDS
    while True:
        done = ejabberd.ctl(lab, folder, 0, "list_cluster", timeout=60)
        if done.returncode == 0 and target in done.stdout.replace("'", "").split():
            say(f"The node is in the cluster of {target} (from its spool).")
            return
        done = ejabberd.ctl(lab, folder, 0, "join_cluster", target, timeout=120)
        if done.returncode == 0:
            ejabberd.wait_port(lab, folder, 0)  # joining restarts the node's services
            say(f"The node joined the cluster of {target}.")
            return
        if time.monotonic() > deadline:
            raise LabError(f"could not join {target}: {done.stderr.strip()}{done.stdout.strip()}"
                           f"; does the session run on the main machine, and does TCP "
                           f"{lab['cluster_port']} pass between the two machines?")
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
    running = ejabberd.node_pid(folder, 0) is not None
    previous = signal.signal(signal.SIGTERM, _raise_stop)
    try:
        if not running:
            say(f"Starting ejabberd node {node['name']} in {folder} ...")
            ejabberd.start_node(lab, folder, 0)
        join_cluster(lab, folder, kit["join"], say)
        say(f"Node {kit['index']} of the session serves participants on {node['address']}:"
            f"{node['port']} (domain {kit['domain']}). Leave this running: wexlab stop on the "
            "main machine stops it, and so does Ctrl-C here.")
        while ejabberd.node_pid(folder, 0) is not None:
            time.sleep(1)
        say("The node stopped.")
    except (KeyboardInterrupt, Stop):
        say("Stopping the node ...")
        ejabberd.stop(lab, folder)
        say("The node stopped.")
    except LabError:
        ejabberd.stop(lab, folder)
        raise
    finally:
        signal.signal(signal.SIGTERM, previous)
    refused = os.path.join(folder, "server", lab_server.REFUSED_LOG)
    if os.path.exists(refused):
        with open(refused, encoding="utf-8", errors="replace") as f:
            count = sum(1 for _ in f)
        say(f"This node refused {count} message(s) between participants who may not talk; "
            f"each is a line of {refused}: copy it to the main machine with the data.")
    say(f"{folder} keeps the node's logs, and the session's cookie and certificate key: "
        "remove it and the kit when the session is over.")
