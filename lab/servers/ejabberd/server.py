"""The lab server as ejabberd nodes (servers/server.py's interface): this
machine's nodes in one cluster (cluster.py), and those of other machines
(remote.py) stopped first."""

import os

from ...model.accounts import new_password
from ...model.record import Account
from .. import policy
from ..server import Server
from . import cluster, config, remote

ACCOUNTS_MADE = "accounts-made"  # in server/: the cluster holds every account


class EjabberdServer(Server):
    # ejabberd neither delivers to a resource of negative priority nor
    # copies to carbons what it stores offline: there wexlab's resource
    # takes priority 0 and reads the answers sent to it as well.
    moderator_priority = 0

    def set_up(self, plain):
        """The nodes' folders, the policy and every account's password; the
        accounts are made as the cluster starts (start)."""
        self.make_folder()
        certificate, key = self.install_certificate()
        cluster.set_up(self.lab, self.folder, certificate, key)
        self.write_policy()
        remote.write_kits(self.lab, self.folder)  # each carries the policy for its node
        self.lab.accounts = {}
        for role, name in self.lab.names.items():
            self.lab.accounts[role] = Account(name, f"{name}@{self.lab.domain}", new_password())
        self.install_page()
        return self.lab

    def start(self):
        marker = os.path.join(self.dir, ACCOUNTS_MADE)
        started = cluster.start(self.lab, self.folder, fresh=not os.path.exists(marker),
                                groups=policy.contact_groups(self.lab))
        with open(marker, "w") as f:
            f.write("the cluster holds every account\n")
        return started

    def stop(self):
        return cluster.stop(self.lab, self.folder)

    def stop_other_machines(self):
        # The other machines' nodes first: node 1, stopping last, keeps the
        # newest copy of the cluster's tables for its next start.
        return remote.stop_remote(self.lab, self.folder)

    def wait_other_machines(self, say):
        remote.wait_joined(self.lab, self.folder, say)

    def pids(self):
        return cluster.pids(self.lab, self.folder)

    def web_origins(self):
        return config.web_origins(self.lab) if self.lab.web else []
