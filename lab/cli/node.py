"""wexlab node add HOST[:PORT] | node serve KIT [--dir DIR]: ejabberd nodes
of other machines in the session's cluster."""

import os

from ..model import record
from ..model.errors import LabError
from ..runtime import processes
from ..runtime.processes import say_line
from ..servers.ejabberd import remote, serve


def run(args):
    if args.node_command == "serve":
        serve.serve(args.kit, args.dir, say_line)
        return
    folder = os.getcwd()
    lab = record.load(folder)
    if not processes.local(folder)["server"]:
        raise LabError("wexlab node add runs in the session folder of the server's "
                       "machine")
    if not lab.cluster_port:
        raise LabError("this session's server is not open to other machines: name them "
                       "in the session file's Nodes (or set ClusterPort) before "
                       "wexlab start")
    index, new = remote.add(lab, folder, args.host)
    if new:
        record.save(folder, lab)
    remote.wait_joined(lab, folder, say_line, [index], again=f"wexlab node add {args.host}")
    node = lab.nodes[index]
    say_line(f"ejabberd node {index + 1} ({node.name}) is in the session's cluster" +
             ("; no participant signs on to it: where each one signs on was fixed when the "
              "session started (the session file's Nodes places participants)." if new else "."))
