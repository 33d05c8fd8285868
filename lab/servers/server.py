"""The lab server of a session: set up, started and stopped as Prosody
(prosody/) or, with `Server ejabberd`, one ejabberd node or a cluster of
them (ejabberd/). Either refuses what policy.policy_pairs does not allow."""

import os
import shutil

from ..model import record
from ..model.accounts import new_password
from ..model.files import make_private_dir, write_private
from . import certificate as certificatelib, policy, web_page
from .ejabberd import cluster, remote
from .prosody import config as prosody_config, control as prosody_control


def is_ejabberd(lab):
    return lab.get("server") == "ejabberd"


def set_up_ejabberd(lab, folder):
    """The nodes' folders, the policy and every account's password; the
    accounts are made as the cluster starts (start_server)."""
    server = os.path.join(folder, "server")
    make_private_dir(server)
    certificate = certificatelib.install(lab, server)
    lab["certificate"] = certificate["path"]
    lab["fingerprints"] = {digest: certificate[digest] for digest in ("sha256", "sha1")}
    key = certificate["path"][:-len(".crt")] + ".key"
    cluster.set_up(lab, folder, certificate["path"], key)
    policy.write_policy(server, policy.policy_pairs(lab))
    remote.write_kits(lab, folder)  # each carries the policy for its node
    lab["accounts"] = {}
    for role, name in lab["names"].items():
        lab["accounts"][role] = {"name": name, "jid": f"{name}@{lab['domain']}",
                                 "password": new_password()}
    if lab.get("web"):
        web_page.install_page(lab, server)
    return lab


def set_up_server(lab, folder, plain):
    """A fresh Prosody folder with the certificate, the shared rosters and
    every account of the session; returns the lab with the passwords."""
    if is_ejabberd(lab):
        return set_up_ejabberd(lab, folder)
    server = os.path.join(folder, "server")
    make_private_dir(server)
    shutil.rmtree(os.path.join(server, "data"), ignore_errors=True)
    os.makedirs(os.path.join(server, "data"), mode=0o700)
    certificate = certificatelib.install(lab, server)
    lab["certificate"] = certificate["path"]
    lab["fingerprints"] = {digest: certificate[digest] for digest in ("sha256", "sha1")}
    roster = os.path.join(server, "groups.txt")
    write_private(roster, prosody_config.groups_file(lab))
    policy.write_policy(server, policy.policy_pairs(lab))
    modules, web_lines = prosody_config.web_settings(lab, server)
    config = prosody_config.prosody_config(lab, server, plain, modules, web_lines)
    config += f'  modules_enabled = {{ "groups" }}\n  groups_file = "{roster}"\n'
    cfg = os.path.join(server, "prosody.cfg.lua")
    write_private(cfg, config)
    lab["accounts"] = {}
    prosody_control.create_accounts(lab, cfg)
    if lab.get("web"):
        web_page.install_page(lab, server)
    return lab


def start_server(lab, folder):
    """Starts the server unless it runs; returns whether it started."""
    if is_ejabberd(lab):
        marker = os.path.join(folder, "server", "accounts-made")
        started = cluster.start(lab, folder, fresh=not os.path.exists(marker),
                                groups=policy.contact_groups(lab))
        with open(marker, "w") as f:
            f.write("the cluster holds every account\n")
        return started
    server = os.path.join(folder, "server")
    if prosody_control.running_pid(server) is None:
        prosody_control.start_prosody(server, lab)
        return True
    return False


def stop_server(folder):
    lab = record.load(folder) if record.exists(folder) else {}
    if is_ejabberd(lab):
        return cluster.stop(lab, folder)
    return prosody_control.stop_prosody(os.path.join(folder, "server"))
