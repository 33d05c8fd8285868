"""The lab server of a session, one interface over its two kinds: Prosody
(prosody/server.py) or, with `Server ejabberd`, one ejabberd node or a
cluster of them (ejabberd/server.py). for_lab makes the one lab.json names.

Either kind refuses what policy.policy_pairs does not allow, gives each
account the contacts of policy.contact_groups, and serves the web seats'
page and websocket when the session has them."""

import os

from ..model import record
from ..model.files import make_private_dir
from . import certificate as certificatelib, net, policy, web_page


class Server:
    """A session's server on this machine, in the session folder's server/."""

    # The priority of wexlab's own resource of the moderator's account.
    moderator_priority = -1

    def __init__(self, lab, folder):
        self.lab = lab
        self.folder = folder
        self.dir = os.path.join(folder, "server")

    def set_up(self, plain):
        """A fresh server folder with the certificate, the policy and every
        account's password in lab.accounts; returns the lab."""
        raise NotImplementedError

    def start(self):
        """Starts the server unless it runs; returns whether it started."""
        raise NotImplementedError

    def stop(self):
        """Stops this machine's server; returns whether it ran."""
        raise NotImplementedError

    def stop_other_machines(self):
        """Asks the server's parts on other machines to stop; a line for the
        researcher about each."""
        return []

    def wait_other_machines(self, say):
        """Waits until the server's parts on other machines have joined,
        saying what to do there meanwhile."""

    def pids(self):
        """The running processes of this machine's server."""
        raise NotImplementedError

    def answers(self):
        """Whether the server answers on the Service's address and port."""
        return net.port_open(self.lab.address, self.lab.port)

    def web_origins(self):
        """The origin of each web listener of the seats (none without them)."""
        raise NotImplementedError

    # The steps both kinds take as they are set up.

    def make_folder(self):
        make_private_dir(self.dir)

    def install_certificate(self):
        """The lab's certificate in server/certs, recorded in the lab."""
        installed = certificatelib.install(self.lab, self.dir)
        self.lab.certificate = installed["path"]
        self.lab.fingerprints = {digest: installed[digest] for digest in ("sha256", "sha1")}
        return installed["path"], installed["path"][:-len(".crt")] + ".key"

    def write_policy(self):
        policy.write_policy(self.dir, policy.policy_pairs(self.lab))

    def install_page(self):
        if self.lab.web:
            web_page.install_page(self.lab, self.dir)


def server_class(lab):
    # The two kinds import this module for Server, so they are imported
    # here rather than at the top.
    if lab.server == "ejabberd":
        from .ejabberd.server import EjabberdServer
        return EjabberdServer
    from .prosody.server import ProsodyServer
    return ProsodyServer


def for_lab(lab, folder):
    """The server of the session in folder whose record is lab."""
    return server_class(lab)(lab, folder)


def stop_folder(folder):
    """Stops the server of the session in folder, as its lab.json says (a
    Prosody when there is none); returns whether it ran."""
    lab = record.load(folder) if record.exists(folder) else record.Lab()
    return for_lab(lab, folder).stop()
