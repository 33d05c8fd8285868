"""Where each account signs on: the lab server's nodes (ejabberd's, of
this machine and of others; Prosody is one node at the Service's address)
and the participants placed across them. Node 1 listens on the Service's
port, node k on that port + k - 1, and with the web seats node k serves
them on the Web port + k - 1. Pair i's bot and first subject sign on to
node (i - 1) mod N, its second subject to the next node; the moderator and
wexlab's own accounts to node 1.

Nodes of other machines come from the session file's `Nodes HOST[:PORT]
...` (or `wexlab node add HOST`): PORT is the node's client port (default
the Service's), and the cluster talks on ClusterPort (default 4370)."""

import ipaddress
import re
import socket

from .errors import LabError
from .record import Node

CLUSTER_PORT = 4370
HOST = re.compile(r"[A-Za-z0-9][A-Za-z0-9.-]*")


def node_count(lab):
    return len(lab.nodes or [])


def node_of(lab, name):
    """The node a participant signs on to (0 = the first)."""
    return (lab.placement or {}).get(name, 0)


def port_of(lab, name):
    return lab.nodes[node_of(lab, name)].port if lab.nodes else lab.port


def web_port_of(lab, name=None):
    """The web seats' port of the node name signs on to (node 1's without
    a name)."""
    if lab.nodes and name is not None:
        return lab.nodes[node_of(lab, name)].web_port
    return lab.nodes[0].web_port if lab.nodes else lab.web.port


def address_of(lab, name):
    """The address of a participant's node: another machine's for a node
    there, else the Service's."""
    if not lab.nodes:
        return lab.address
    return lab.nodes[node_of(lab, name)].address or lab.address


def is_remote(lab, index):
    return lab.nodes[index].remote


def local_nodes(lab):
    """The indexes of the nodes that run on this machine, in the session folder."""
    return [i for i in range(node_count(lab)) if not is_remote(lab, i)]


def plan_nodes(lab, count):
    """This machine's nodes and where each participant signs on. With the
    web seats, node k serves them on the Web port + k - 1."""
    lab.nodes = [Node(f"wex{lab.port + k}@localhost", lab.port + k) for k in range(count)]
    if lab.web:
        for k, node in enumerate(lab.nodes):
            node.web_port = lab.web.port + k
        clash = {n.web_port for n in lab.nodes} & {n.port for n in lab.nodes}
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
    for pair in lab.pairs:
        home = (pair.index - 1) % count
        placement[pair.bot] = home
        placement[pair.subject1] = home
        placement[pair.subject2] = (home + 1) % count
    lab.placement = placement


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
    return [i for i in range(node_count(lab)) if is_remote(lab, i)]


def plan_remote(lab, values):
    """With Nodes or ClusterPort in the session: this machine's one node
    named by its address and open to the others, the other machines' nodes
    after it, and the participants placed across them all."""
    hosts = values.get("Nodes", "").split()
    if not hosts and not values.get("ClusterPort"):
        return
    if len(lab.nodes) != 1:
        raise LabError("ServerNodes counts the nodes of a cluster of this machine alone; with "
                       "Nodes or ClusterPort this machine runs one node (leave ServerNodes out)")
    if lab.web:
        if values.get("Web"):
            raise LabError("the web seats do not work with nodes of other machines yet: "
                           "remove the Web key (the participants then use an XMPP client), "
                           "or leave Nodes and ClusterPort out")
        # Not asked for: a session with other machines' nodes has no seats.
        lab.web = None
        for node in lab.nodes:
            node.web_port = None
    lab.cluster_port = int(values.get("ClusterPort", CLUSTER_PORT))
    main = lab.nodes[0]
    address = resolve(lab.address)
    main.name, main.address = f"wex{main.port}@{address}", address
    for host in hosts:
        add_node(lab, host)
    place(lab)


def add_node(lab, text):
    """Appends the node of HOST[:PORT] to lab's nodes; returns its index."""
    host, port = parse_host(text, lab.port)
    address = resolve(host)
    main = lab.nodes[0].address
    if is_loopback(main) and not is_loopback(address):
        raise LabError(f"the Service names {lab.address}, which {host} cannot reach: "
                       "name this machine's lab address in the Service")
    for index, node in enumerate(lab.nodes):
        if node.address == address:
            raise LabError(f"{host} ({address}) has node {index + 1} already: each machine "
                           "(address) runs one node of the session")
    lab.nodes.append(Node(f"wex{port}@{address}", port, address=address, remote=True,
                          host=host))
    return len(lab.nodes) - 1


def origin(lab, name=None):
    """The page's origin; on an ejabberd cluster, that of the node name
    signs on to (node 1's without a name)."""
    scheme = "https" if lab.web.tls else "http"
    host = lab.address
    if ":" in host:
        host = f"[{host}]"
    return f"{scheme}://{host}:{web_port_of(lab, name)}"
