#!/usr/bin/python3
"""Unit tests of the Server interface: the kind lab.json names, and what
each kind does for start, stop, the other machines and the moderator's
resource, the programs they run faked."""

import os
import shutil
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import record  # noqa: E402
from wexlab.servers import server  # noqa: E402
from wexlab.servers.ejabberd import cluster, remote  # noqa: E402
from wexlab.servers.ejabberd.server import EjabberdServer  # noqa: E402
from wexlab.servers.prosody import control  # noqa: E402
from wexlab.servers.prosody.server import ProsodyServer  # noqa: E402

WEB = {"port": 5280, "tls": False}


def lab_json(kind, web=None):
    data = {"domain": "lab.wex", "address": "10.0.0.5", "port": 5222, "web": web, "pairs": [],
            "moderator": "mod"}
    if kind:
        data["server"] = kind
    return data


def lab_record(kind, web=None):
    return record.from_json(lab_json(kind, web))


class ServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-server-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.makedirs(os.path.join(self.folder, "server"))
        self.calls = []

    def test_the_record_names_the_kind(self):
        self.assertIsInstance(server.for_lab(lab_record(None), self.folder), ProsodyServer)
        self.assertIsInstance(server.for_lab(lab_record("prosody"), self.folder), ProsodyServer)
        self.assertIsInstance(server.for_lab(lab_record("ejabberd"), self.folder),
                              EjabberdServer)
        # ejabberd keeps answers from a resource of negative priority.
        self.assertEqual(server.server_class(lab_record("prosody")).moderator_priority, -1)
        self.assertEqual(server.server_class(lab_record("ejabberd")).moderator_priority, 0)

    def test_a_cluster_makes_its_accounts_on_its_first_start_only(self):
        ejabberd = server.for_lab(lab_record("ejabberd"), self.folder)
        with mock.patch.object(cluster, "start", lambda lab, folder, fresh, groups:
                               self.calls.append((folder, fresh, groups)) or fresh):
            self.assertTrue(ejabberd.start())
            self.assertFalse(ejabberd.start())
        self.assertEqual([fresh for _, fresh, _ in self.calls], [True, False])
        self.assertEqual(self.calls[0][0], self.folder)
        self.assertEqual(self.calls[0][2], [("moderator", ["mod", "wexlab", "wexdesk"])])

    def test_only_a_cluster_has_parts_on_other_machines(self):
        with mock.patch.object(remote, "stop_remote", lambda lab, folder: ["node 2 stopped."]), \
                mock.patch.object(remote, "wait_joined", lambda lab, folder, say:
                                  self.calls.append(folder)):
            prosody = server.for_lab(lab_record("prosody"), self.folder)
            self.assertEqual(prosody.stop_other_machines(), [])
            prosody.wait_other_machines(self.fail)
            self.assertEqual(self.calls, [])
            ejabberd = server.for_lab(lab_record("ejabberd"), self.folder)
            self.assertEqual(ejabberd.stop_other_machines(), ["node 2 stopped."])
            ejabberd.wait_other_machines(self.fail)
            self.assertEqual(self.calls, [self.folder])

    def test_a_prosody_starts_unless_it_runs_and_names_its_process(self):
        prosody = server.for_lab(lab_record("prosody"), self.folder)
        running = [None]
        with mock.patch.object(control, "running_pid", lambda folder: running[0]), \
                mock.patch.object(control, "start_prosody", lambda folder, address, port:
                                  self.calls.append(folder)):
            self.assertEqual(prosody.pids(), [])
            self.assertTrue(prosody.start())
            running[0] = 4242
            self.assertFalse(prosody.start())
            self.assertEqual(prosody.pids(), [4242])
        self.assertEqual(self.calls, [os.path.join(self.folder, "server")])

    def test_stop_follows_lab_json_and_takes_prosody_without_one(self):
        with mock.patch.object(control, "stop_prosody", lambda folder:
                               self.calls.append(("prosody", folder)) or True), \
                mock.patch.object(cluster, "stop", lambda lab, folder:
                                  self.calls.append(("ejabberd", folder)) or False):
            self.assertTrue(server.stop_folder(self.folder))
            record.save(self.folder, lab_record("ejabberd"))
            self.assertFalse(server.stop_folder(self.folder))
        self.assertEqual(self.calls, [("prosody", os.path.join(self.folder, "server")),
                                      ("ejabberd", self.folder)])

    def test_web_origins_of_each_kind(self):
        self.assertEqual(server.for_lab(lab_record("prosody"), self.folder).web_origins(), [])
        self.assertEqual(server.for_lab(lab_record("prosody", WEB), self.folder).web_origins(),
                         ["http://10.0.0.5:5280"])
        lab = record.from_json(dict(lab_json("ejabberd", WEB), nodes=[
            {"name": "a", "port": 5222, "web_port": 5280},
            {"name": "b", "port": 5223, "web_port": 5281}]))
        self.assertEqual(server.for_lab(lab, self.folder).web_origins(),
                         ["http://10.0.0.5:5280", "http://10.0.0.5:5281"])


if __name__ == "__main__":
    unittest.main()
