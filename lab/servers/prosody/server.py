"""The lab server as one Prosody of this machine (servers/server.py's
interface)."""

import os
import shutil

from ...model import placement
from ...model.files import write_private
from ...model.record import Account
from ..server import Server
from . import config, control


class ProsodyServer(Server):
    def set_up(self, plain):
        """A fresh Prosody folder with the certificate, the shared rosters
        and every account of the session."""
        self.make_folder()
        shutil.rmtree(os.path.join(self.dir, "data"), ignore_errors=True)
        os.makedirs(os.path.join(self.dir, "data"), mode=0o700)
        self.install_certificate()
        roster = os.path.join(self.dir, "groups.txt")
        write_private(roster, config.groups_file(self.lab))
        self.write_policy()
        modules, web_lines = config.web_settings(self.lab, self.dir)
        modules, web_lines = config.profile_settings(modules, web_lines)
        text = config.prosody_config(self.lab.domain, self.lab.address, self.lab.port, self.dir,
                                     plain, modules,
                                     list(web_lines) + config.session_lines(self.lab))
        text += f'  modules_enabled = {{ "groups" }}\n  groups_file = "{roster}"\n'
        cfg = os.path.join(self.dir, "prosody.cfg.lua")
        write_private(cfg, text)
        made = control.create_accounts(self.lab.names, self.lab.domain, cfg)
        self.lab.accounts = {role: Account(**account) for role, account in made.items()}
        self.install_page()
        return self.lab

    def start(self):
        if control.running_pid(self.dir) is None:
            control.start_prosody(self.dir, self.lab.address, self.lab.port)
            return True
        return False

    def stop(self):
        return control.stop_prosody(self.dir)

    def pids(self):
        pid = control.running_pid(self.dir)
        return [pid] if pid else []

    def web_origins(self):
        return [placement.origin(self.lab)] if self.lab.web else []
