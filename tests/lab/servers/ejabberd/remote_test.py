#!/usr/bin/python3
"""Unit tests of nodes of other machines: their planning, kits, serving
side, joining and stopping, the nodes never started."""

import argparse
import contextlib
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.cli import node as node_command, status as status_command  # noqa: E402
from wexlab.model import errors, placement  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402
from wexlab.model import session_file  # noqa: E402
from wexlab.servers import net  # noqa: E402
from wexlab.servers.ejabberd import cluster, remote, serve  # noqa: E402
from fixtures import GOOD, FakeServerTest, bot_keys, config_values, mode, shared_file


def served_pairs(folder):
    return lab_file.load(folder).pairs


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class RemoteNodesTest(FakeServerTest):
    """A session whose cluster spans other machines, the nodes never started."""

    REMOTE = GOOD.replace("Subjects ann bob cy dee", "Subjects ann bob cy dee eve fay\n"
                          "Server ejabberd\nNodes 10.0.0.6 lab-b:5300\nClusterPort 4400")

    def setUp(self):
        super().setUp()
        self.waits = []
        real = socket.gethostbyname
        for target, name, fake in (
                (cluster, "start", lambda *a, **k: True),
                (remote, "wait_joined", lambda *a, **k: self.waits.append((a, k))),
                (placement.socket, "gethostbyname",
                 lambda host: "10.0.0.7" if host == "lab-b" else real(host))):
            patcher = mock.patch.object(target, name, fake)
            patcher.start()
            self.addCleanup(patcher.stop)

    def read(self, *parts):
        with open(os.path.join(*parts), encoding="utf-8") as f:
            return f.read()

    def test_nodes_and_cluster_port_are_checked(self):
        for text, fault in (
                (GOOD + "Nodes\n", "Nodes needs at least one"),
                (GOOD + "Nodes 10.0.0.6:0\n", "'10.0.0.6:0' is not a node"),
                (GOOD + "Nodes 10.0.0.6 lab_b\n", "'lab_b' is not a node"),
                (GOOD + "Nodes 10.0.0.6:52x\n", "is not a node"),
                (GOOD + "Nodes [::1]:5222\n", "is not a node"),
                (GOOD + "ClusterPort 0\n", "ClusterPort must be at least 1"),
                (GOOD + "ClusterPort 65536\n", "ClusterPort must be at most 65535")):
            with self.subTest(fault=fault):
                path = os.path.join(self.root, "bad.conf")
                shared_file(path, text)
                with self.assertRaisesRegex(session_file.SessionError, fault):
                    session_file.read_session(path, bot_keys())
        loopback = GOOD.replace("10.0.0.5", "127.0.0.1")
        for text, fault in (
                (GOOD + "Nodes 10.0.0.6\n", "Nodes and ClusterPort need Server ejabberd"),
                (GOOD + "Server ejabberd\nServerNodes 2\nNodes 10.0.0.6\n", "ServerNodes counts"),
                (loopback + "Server ejabberd\nNodes 10.0.0.6\n", "name this machine's lab"),
                (GOOD + "Server ejabberd\nNodes 10.0.0.6 10.0.0.6:5300\n", "has node 2 already"),
                (GOOD + "Server ejabberd\nNodes 10.0.0.5:5300\n", "has node 1 already"),
                (GOOD + "Server ejabberd\nNodes 10.0.0.6\nWeb 5280\n",
                 "web seats do not work with nodes of other machines")):
            with self.subTest(fault=fault):
                with self.assertRaisesRegex(errors.LabError, fault):
                    self.start(text)
                shutil.rmtree(os.path.join(self.root, "session"), ignore_errors=True)
        # On this machine, a second loopback address may stand for another machine.
        _, started = self.start(loopback + "Server ejabberd\nNodes 127.0.0.2\n")
        self.assertEqual([n.name for n in started.nodes],
                         ["wex5222@127.0.0.1", "wex5222@127.0.0.2"])
        self.assertEqual(started.cluster_port, placement.CLUSTER_PORT)
        # No Web key: such a session has no seats rather than half of them.
        self.assertIsNone(started.web)
        self.assertFalse(any("web_port" in n for n in lab_file.to_json(started)["nodes"]))

    def test_kits_carry_the_cluster_and_stay_private(self):
        folder, started = self.start(self.REMOTE)
        self.assertEqual([(n.name, n.address, n.port, n.remote)
                          for n in started.nodes],
                         [("wex5222@10.0.0.5", "10.0.0.5", 5222, False),
                          ("wex5222@10.0.0.6", "10.0.0.6", 5222, True),
                          ("wex5300@10.0.0.7", "10.0.0.7", 5300, True)])
        self.assertEqual((started.cluster_port, started.epmd_port), (4400, None))
        self.assertEqual(len(self.waits), 1)  # before any bot starts
        self.assertEqual(mode(os.path.join(folder, "nodes")), 0o700)
        cookie = self.read(folder, "server", "home", ".erlang.cookie")
        for index, name in ((1, "node2-10.0.0.6.kit"), (2, "node3-10.0.0.7.kit")):
            with self.subTest(kit=name):
                path = os.path.join(folder, "nodes", name)
                self.assertEqual(mode(path), 0o600)
                kit = json.loads(self.read(path))
                node = started.nodes[index]
                self.assertEqual(kit["node"],
                                 {k: getattr(node, k) for k in ("name", "address", "port")})
                self.assertEqual((kit["join"], kit["cluster_port"], kit["domain"], kit["index"]),
                                 ("wex5222@10.0.0.5", 4400, "lab.wex", index + 1))
                self.assertEqual(kit["cookie"], cookie)
                self.assertEqual(kit["certificate"], self.read(started.certificate))
                self.assertIn("PRIVATE KEY", kit["key"])
        # This machine's node talks on the cluster port of its address, with no
        # epmd; its ejabberdctl reaches the others through their folders here.
        for index, interface in ((0, "{10,0,0,5}"), (2, "{10,0,0,7}")):
            ctl_cfg = self.read(folder, "server", f"node{index + 1}", "ejabberdctl.cfg")
            self.assertIn("ERL_DIST_PORT=4400\n", ctl_cfg)
            self.assertIn(f"inet_dist_use_interface {interface}", ctl_cfg)
            self.assertNotIn("inet_dist_listen", ctl_cfg)
        env = cluster._env(started, folder)
        self.assertNotIn("ERL_EPMD_PORT", env)

    def test_participants_are_placed_across_the_machines(self):
        folder, started = self.start(self.REMOTE)
        placement, at = started.placement, started.nodes
        self.assertEqual(sorted({placement[p.bot] for p in started.pairs}), [0, 1, 2])
        cards = self.read(folder, "logins.txt")
        for pair in started.pairs:
            with self.subTest(pair=pair.bot):
                home, other = placement[pair.bot], placement[pair.subject2]
                self.assertNotEqual(home, other)
                values = config_values(self.read(folder, pair.bot, "wexbot.conf"))
                self.assertEqual(values["Service"], f"xmpp:lab.wex@{at[home].address}:"
                                 f"{at[home].port};trust=any")
                card = cards.split(f"{pair.subject2}: subject 2")[1].split("\n\n")[0]
                self.assertIn(f"server    {at[other].address}   port {at[other].port}",
                              card)
        moderator = cards.split("mod: the moderator")[1]
        self.assertIn("server    10.0.0.5   port 5222", moderator)

    def test_the_other_machine_writes_its_node_from_the_kit(self):
        folder, _ = self.start(self.REMOTE)
        kit_file = os.path.join(folder, "nodes", "node2-10.0.0.6.kit")
        copied = os.path.join(self.root, "copied.kit")
        shared_file(copied, self.read(kit_file))  # as a careless copy leaves it
        said = []
        kit = serve.read_kit(copied, said.append)
        self.assertEqual(mode(copied), 0o600)
        self.assertIn("now its owner's alone", said[0])
        there = os.path.join(self.root, "there")
        served = serve.prepare(kit, there)
        self.assertEqual([lab_file.node_json(n) for n in served.nodes], [kit["node"]])
        self.assertEqual(self.read(there, "server", "home", ".erlang.cookie"), kit["cookie"])
        for name in (os.path.join("home", ".erlang.cookie"), os.path.join("certs", "lab.wex.key"),
                     os.path.join("node1", "ejabberd.yml")):
            self.assertEqual(mode(os.path.join(there, "server", name)), 0o600, name)
        config = self.read(there, "server", "node1", "ejabberd.yml")
        # The other machine's node holds the subjects to one session too.
        subjects = [name for pair in served_pairs(folder) for name in pair.subjects()]
        self.assertEqual(kit["one_session"], subjects)
        self.assertIn(f"    one_session: {json.dumps(subjects)}\n", config)
        self.assertIn('ip: "10.0.0.6"', config)
        self.assertIn("port: 5222\n", config)
        self.assertIn(os.path.join(there, "server", "certs", "lab.wex.crt"), config)
        ctl_cfg = self.read(there, "server", "node1", "ejabberdctl.cfg")
        self.assertIn("ERL_DIST_PORT=4400\n", ctl_cfg)
        self.assertIn("inet_dist_use_interface {10,0,0,6}", ctl_cfg)
        serve.prepare(kit, there)  # serving again from the same folder
        with self.assertRaisesRegex(errors.LabError, "a node of another session"):
            serve.prepare(dict(kit, cookie="OTHER"), there)
        with self.assertRaisesRegex(errors.LabError, "this machine has no address 192.0.2.1"):
            serve.own_address(dict(kit, node=dict(kit["node"], address="192.0.2.1")))
        shared_file(copied, '{"kit": "something else"}')
        with self.assertRaisesRegex(errors.LabError, "is not a node kit"):
            serve.read_kit(copied, said.append)

    def test_node_add_joins_once_and_needs_an_open_cluster(self):
        folder, _ = self.start(GOOD.replace("Subjects", "Server ejabberd\nClusterPort 4400\n"
                                            "Subjects"))
        cwd = os.getcwd()
        os.chdir(folder)
        self.addCleanup(os.chdir, cwd)
        args = argparse.Namespace(node_command="add", host="10.0.0.8:5400")
        for _ in range(2):
            with contextlib.redirect_stdout(io.StringIO()) as out:
                node_command.run(args)
        record = lab_file.load(folder)
        self.assertEqual([n.name for n in record.nodes],
                         ["wex5222@10.0.0.5", "wex5400@10.0.0.8"])
        self.assertTrue(os.path.exists(os.path.join(folder, "nodes", "node2-10.0.0.8.kit")))
        self.assertIn("ERL_DIST_PORT=4400",
                      self.read(folder, "server", "node2", "ejabberdctl.cfg"))
        self.assertEqual([k["again"] for _, k in self.waits[1:]],
                         ["wexlab node add 10.0.0.8:5400"] * 2)
        self.assertNotIn("no participant", out.getvalue())  # the second time: known already
        self.assertEqual(set(record.placement.values()), {0})  # nobody moves
        with self.assertRaisesRegex(errors.LabError, "this machine's node"):
            node_command.run(argparse.Namespace(node_command="add", host="10.0.0.5"))
        os.chdir(cwd)
        shutil.rmtree(folder)
        self.start(GOOD + "Server ejabberd\n")
        os.chdir(folder)
        with self.assertRaisesRegex(errors.LabError, "not open to other machines"):
            node_command.run(args)

    def test_stop_asks_each_remote_node_and_says_what_is_left(self):
        folder, started = self.start(self.REMOTE)
        asked = []

        def ctl(lab_record, where, index, *args, timeout=60):
            asked.append((index, args))
            return subprocess.CompletedProcess([], 0 if index == 1 else 3, "", "")

        with mock.patch.object(cluster, "ctl", ctl):
            lines = remote.stop_remote(started, folder)
        self.assertEqual(asked, [(1, ("stop",)), (2, ("stop",))])
        self.assertEqual(lines[0], "ejabberd node 2 on 10.0.0.6 stopped.")
        self.assertIn("if wexlab node serve still runs on lab-b, Ctrl-C there", lines[1])

    def test_status_names_a_node_that_does_not_answer(self):
        folder, started = self.start(self.REMOTE)
        with mock.patch.object(net, "port_open",
                               lambda address, port: address != "10.0.0.7"):
            lines = status_command.status_lines(folder, started)
        self.assertIn("ejabberd node 3 on lab-b does not answer on 10.0.0.7:5300: run wexlab "
                      "node serve there again.", lines)
        self.assertFalse([line for line in lines if "node 2" in line], lines)

    def test_a_busy_cluster_port_is_named_before_the_node_starts(self):
        _, started = self.start(self.REMOTE)
        with mock.patch.object(net, "port_open", lambda address, port: port == 4400), \
                mock.patch.object(cluster, "ctl", lambda *a, **k: self.fail("started")):
            with self.assertRaisesRegex(errors.LabError, "10.0.0.5:4400, the cluster's port"):
                cluster.start_node(started, self.root, 0)

    def test_a_node_counts_as_joined_when_node_1_runs_it(self):
        _, started = self.start(self.REMOTE)
        members = "wex5222@10.0.0.5\nwex5222@10.0.0.6\n"
        with mock.patch.object(cluster, "ctl", lambda *a, **k: subprocess.CompletedProcess(
                [], 0, members, "")), mock.patch.object(net, "port_open",
                                                        lambda address, port: True):
            self.assertTrue(remote.joined(started, self.root, 1))
            self.assertFalse(remote.joined(started, self.root, 2))
        with mock.patch.object(cluster, "ctl", lambda *a, **k: self.fail("asked node 1")):
            self.assertFalse(remote.joined(started, self.root, 1))  # its port is closed


class WaitJoinedTest(unittest.TestCase):
    LAB = lab_file.from_json({
        "nodes": [{"name": "wex5222@10.0.0.5", "address": "10.0.0.5", "port": 5222},
                  {"name": "wex5222@10.0.0.6", "address": "10.0.0.6", "port": 5222,
                   "remote": True, "host": "lab-a"}],
        "cluster_port": 4400})

    def test_says_where_to_serve_then_waits_for_the_join(self):
        answers = iter([False, False, True])
        said = []
        with mock.patch.object(remote, "joined", lambda *a: next(answers)), \
                mock.patch.object(remote.time, "sleep", lambda s: None):
            remote.wait_joined(self.LAB, "/s", said.append)
        text = "\n".join(said)
        self.assertIn("Copy its kit /s/nodes/node2-10.0.0.6.kit there", text)
        self.assertIn("wexlab node serve node2-10.0.0.6.kit", text)
        self.assertIn("accept TCP 5222 (participants and bots) and 4400", text)
        self.assertEqual(said[-1], "ejabberd node 2 (wex5222@10.0.0.6) joined the cluster.")

    def test_gives_up_in_time_and_says_how_to_wait_again(self):
        with mock.patch.object(remote, "joined", lambda *a: False), \
                mock.patch.object(remote.time, "sleep", lambda s: None), \
                self.assertRaisesRegex(errors.LabError, "lab-a did not join.*wexlab resume waits"):
            remote.wait_joined(self.LAB, "/s", lambda line: None, seconds=0)

    def test_nothing_to_wait_for(self):
        with mock.patch.object(remote, "joined", lambda *a: True):
            remote.wait_joined(self.LAB, "/s", self.fail)
        remote.wait_joined(lab_file.Lab(nodes=[self.LAB.nodes[0]]), "/s", self.fail)


if __name__ == "__main__":
    unittest.main()
