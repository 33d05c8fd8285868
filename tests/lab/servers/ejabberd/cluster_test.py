#!/usr/bin/python3
"""Unit tests of the ejabberd cluster of this machine: a session set up on
three nodes, the order of a fresh start, and the lab's module in an
Erlang VM of its own."""

import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import record as lab_file  # noqa: E402
from wexlab.model import accounts, errors, placement  # noqa: E402
from wexlab.model import session_file  # noqa: E402
from wexlab.servers import policy  # noqa: E402
from wexlab.servers.ejabberd import cluster, config as ejabberd_config  # noqa: E402
from fixtures import GOOD, FakeServerTest, bot_keys, config_values, mode, shared_file
try:
    import yaml  # the nodes' configuration is YAML
except ImportError:
    yaml = None


@unittest.skipIf(shutil.which("openssl") is None, "openssl is not installed")
class ClusterSetupTest(FakeServerTest):
    """A session on three ejabberd nodes, the nodes never started."""

    CLUSTER = GOOD.replace("Subjects ann bob cy dee", "Subjects ann bob cy dee eve fay\n"
                           "Server ejabberd\nServerNodes 3")

    def setUp(self):
        super().setUp()
        # The seat page's files, as web/ and npm would hold them.
        web = os.path.join(self.root, "web")
        for name in ("seat/index.html", "seat/seat.css", "seat/main.js",
                     "node_modules/strophe.js/dist/strophe.umd.min.js"):
            os.makedirs(os.path.dirname(os.path.join(web, name)), exist_ok=True)
            shared_file(os.path.join(web, name), f"/* {name} */\n")
        patcher = mock.patch.dict(os.environ, {"WEX_WEB_DIR": web})
        patcher.start()
        self.addCleanup(patcher.stop)

    def start_cluster(self, text):
        """The session set up with the nodes never started and the lab's
        module not built (EjabberdModuleTest builds it)."""
        calls = []
        with mock.patch.object(cluster, "start", lambda *a, **k: calls.append(k) or True), \
                mock.patch.object(cluster, "build_module", lambda ebin: calls.append(ebin)):
            folder, started = self.start(text)
        return folder, started, calls

    def test_pairs_span_two_nodes_and_each_bot_uses_its_own(self):
        folder, started, calls = self.start_cluster(self.CLUSTER)
        self.assertEqual(calls[0], os.path.join(folder, "server", "ebin"))
        self.assertTrue(calls[1]["fresh"])
        ports = [node.port for node in started.nodes]
        self.assertEqual(ports, [5222, 5223, 5224])
        placement = started.placement
        self.assertEqual(sorted({placement[p.bot] for p in started.pairs}), [0, 1, 2])
        with open(os.path.join(folder, "logins.txt"), encoding="utf-8") as f:
            cards = f.read()
        for pair in started.pairs:
            with self.subTest(pair=pair.bot):
                home = placement[pair.bot]
                self.assertEqual(placement[pair.subject1], home)
                self.assertEqual(placement[pair.subject2], (home + 1) % 3)
                with open(os.path.join(folder, pair.bot, "wexbot.conf"),
                          encoding="utf-8") as f:
                    values = config_values(f.read())
                self.assertEqual(values["Service"],
                                 f"xmpp:lab.wex@10.0.0.5:{ports[home]};trust=any")
                card = cards.split(f"{pair.subject2}: subject 2")[1].split("\n\n")[0]
                self.assertIn(f"port {ports[(home + 1) % 3]}", card)

    def test_node_folders_configuration_and_secrets(self):
        folder, started, _ = self.start_cluster(self.CLUSTER)
        cookie = os.path.join(folder, "server", "home", ".erlang.cookie")
        self.assertEqual(mode(cookie), 0o600)
        self.assertGreater(started.epmd_port, 0)
        for index, node in enumerate(started.nodes):
            d = os.path.join(folder, "server", f"node{index + 1}")
            with open(os.path.join(d, "ejabberd.yml"), encoding="utf-8") as f:
                config = f.read()
            self.assertIn(f"port: {node.port}\n", config)
            self.assertIn('ip: "10.0.0.5"', config)
            self.assertIn("starttls_required: true", config)
            self.assertNotIn("ejabberd_s2s_in", config)
            self.assertNotIn("mod_register", config)
            self.assertIn(started.certificate, config)
            with open(os.path.join(d, "ejabberdctl.cfg"), encoding="utf-8") as f:
                control = f.read()
            self.assertNotIn("inet_dist_listen", control)  # ejabberdctl would inherit it
            self.assertIn(f" -pa {os.path.join(folder, 'server', 'ebin')}\"", control)
            self.assertEqual(mode(os.path.join(d, "ejabberd.yml")), 0o600)
        self.assertEqual(len({n.name for n in started.nodes}), 3)
        self.assertEqual(sorted(started.accounts), sorted(started.names))

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_every_node_loads_the_policy(self):
        folder, started, _ = self.start_cluster(self.CLUSTER)
        server = os.path.join(folder, "server")
        for index in range(3):
            with open(os.path.join(server, f"node{index + 1}", "ejabberd.yml"),
                      encoding="utf-8") as f:
                config = yaml.safe_load(f)
            options = config["modules"]["mod_wex_lab_policy"]
            wanted = {"policy_file": os.path.join(server, "allowed.txt"),
                      "refused_log": os.path.join(server, "refused.log"),
                      "replaced_log": os.path.join(server, "replaced.log"),
                      "one_session": [name for pair in started.pairs
                                      for name in pair.subjects()],
                      "disc_copies": ["archive_msg", "archive_prefs"],
                      # The seats' accounts keep every message in their
                      # archives; the bots, wexlab's and the desk's not.
                      "no_archive": [p.bot for p in started.pairs] + ["wexlab", "wexdesk"]}
            self.assertEqual(options, wanted, f"node {index + 1}")
            # No registration of any kind, no server-to-server.
            self.assertEqual(config["s2s_access"], "none")
            self.assertFalse({"mod_register", "mod_register_web"} & set(config["modules"]))
        with open(os.path.join(server, "allowed.txt"), encoding="utf-8") as f:
            pairs = {frozenset(line.split()) for line in f if not line.startswith("#")}
        self.assertEqual(pairs, {frozenset(p) for p in policy.policy_pairs(started)})
        self.assertEqual(mode(os.path.join(server, "allowed.txt")), 0o600)

    def test_a_folder_ejabberdctl_cannot_take_is_refused(self):
        with mock.patch.object(cluster, "build_module", lambda ebin: None):
            for name in ("with space", "dollar$x", 'quote"d'):
                with self.subTest(name=name):
                    root = os.path.join(self.root, name)
                    with self.assertRaisesRegex(errors.LabError, "without spaces or shell"):
                        cluster.set_up(lab_file.Lab(nodes=[]), root, "c.crt", "c.key")
                    self.assertFalse(os.path.exists(root))

    def node_config(self, folder, index):
        with open(os.path.join(folder, "server", f"node{index + 1}", "ejabberd.yml"),
                  encoding="utf-8") as f:
            return yaml.safe_load(f)

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_each_node_serves_the_seats_page_and_websocket(self):
        for tls in (False, True):
            with self.subTest(tls=tls):
                shutil.rmtree(os.path.join(self.root, "session"), ignore_errors=True)
                folder, started, _ = self.start_cluster(self.CLUSTER +
                                                        ("WebTls on\n" if tls else ""))
                scheme = "https" if tls else "http"
                origins = [f"{scheme}://10.0.0.5:{port}" for port in (5280, 5281, 5282)]
                www = os.path.join(folder, "server", "www")
                for name in ("index.html", "seat.css", "main.js", "strophe.min.js", "seat.json"):
                    self.assertTrue(os.path.exists(os.path.join(www, name)), name)
                for index, node in enumerate(started.nodes):
                    config = self.node_config(folder, index)
                    self.assertEqual(node.web_port, 5280 + index)
                    # The address is a host of its own with the file server
                    # alone: the browser names it as Host.
                    self.assertEqual(config["hosts"], ["lab.wex", "10.0.0.5"])
                    only = config["host_config"]["10.0.0.5"]["modules"]
                    self.assertEqual(list(only), ["mod_http_fileserver"])
                    self.assertEqual(only["mod_http_fileserver"]["docroot"], www)
                    self.assertNotIn("mod_http_fileserver", config["modules"])
                    self.assertEqual(config["modules"]["mod_mam"], {"default": "always"})
                    # The archive in RAM and Mnesia's disk log, not in dets.
                    schema = os.path.join(folder, "server", f"node{index + 1}", "spool",
                                          "ejabberd.schema")
                    with open(schema, encoding="utf-8") as f:
                        self.assertEqual(yaml.safe_load(f), {
                            "archive_msg": {"storage_type": "disc_copies"},
                            "archive_prefs": {"storage_type": "disc_copies"}})
                    self.assertEqual(mode(schema), 0o600)
                    self.assertEqual(config["websocket_origin"], origins)
                    c2s, http = config["listen"]
                    self.assertEqual((c2s["module"], c2s["port"]), ("ejabberd_c2s", node.port))
                    self.assertEqual(http, {
                        "port": 5280 + index, "ip": "10.0.0.5", "module": "ejabberd_http",
                        "tls": tls, "request_handlers": {
                            "/xmpp-websocket": "ejabberd_http_ws", "/": "mod_http_fileserver"}})
                with open(os.path.join(www, "seat.json"), encoding="utf-8") as f:
                    self.assertIn('"websocket": "/xmpp-websocket"', f.read())
                # Each seat's link is its node's page.
                with open(os.path.join(folder, "seats.csv"), encoding="utf-8") as f:
                    links = {row["name"]: row["link"] for row in csv.DictReader(f)}
                for name, link in links.items():
                    node = started.placement.get(name, 0)
                    self.assertTrue(link.startswith(origins[node] + "/#n=" + name), link)
                self.assertEqual(len({link.split("/#")[0] for link in links.values()}), 3)

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_without_web_seats_no_web_listener_and_no_archive(self):
        folder, started, _ = self.start_cluster(self.CLUSTER + "Web off\n")
        self.assertNotIn("web_port", lab_file.to_json(started)["nodes"][0])
        config = self.node_config(folder, 1)
        self.assertEqual(config["hosts"], ["lab.wex"])
        self.assertEqual([c["module"] for c in config["listen"]], ["ejabberd_c2s"])
        for key in ("host_config", "websocket_origin"):
            self.assertNotIn(key, config)
        self.assertNotIn("mod_mam", config["modules"])
        self.assertFalse({"disc_copies", "no_archive"} &
                         set(config["modules"]["mod_wex_lab_policy"]))
        self.assertFalse(os.path.exists(os.path.join(folder, "server", "node2", "spool",
                                                     "ejabberd.schema")))
        with open(os.path.join(folder, "seats.csv"), encoding="utf-8") as f:
            self.assertTrue(all(not row["link"] for row in csv.DictReader(f)))

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_a_lab_named_by_its_domain_serves_the_files_on_that_host(self):
        record = lab_file.from_json({"domain": "lab.example.org", "address": "lab.example.org",
                                     "port": 5222, "web": {"port": 5280, "tls": True},
                                     "pairs": []})
        placement.plan_nodes(record, 1)
        config = yaml.safe_load(ejabberd_config.config_text(record, record.nodes[0], "/c.crt",
                                                            "/c.key", "", "/www"))
        self.assertEqual(config["hosts"], ["lab.example.org"])
        self.assertNotIn("host_config", config)
        self.assertEqual(config["modules"]["mod_http_fileserver"]["docroot"], "/www")
        self.assertEqual(config["websocket_origin"], ["https://lab.example.org:5280"])

    @unittest.skipIf(yaml is None, "python3-yaml is not installed")
    def test_overrides_change_the_named_module_alone(self):
        # The end-to-end tests run the production configuration with their
        # changes named: here ejabberd's own presence-flood counter.
        record = lab_file.from_json({"domain": "lab.wex", "address": "127.0.0.1", "port": 5222,
                                     "web": None, "pairs": []})
        placement.plan_nodes(record, 1)
        node = record.nodes[0]
        production = ejabberd_config.config_text(record, node, "/c.crt", "/c.key", "")
        changed = ejabberd_config.config_text(record, node, "/c.crt", "/c.key", "",
                                              overrides={"mod_pres_counter": " {}"})
        self.assertEqual(yaml.safe_load(production)["modules"]["mod_pres_counter"],
                         {"count": 10000, "interval": 60})
        self.assertEqual(yaml.safe_load(changed)["modules"]["mod_pres_counter"], {})
        self.assertEqual([line for line in changed.splitlines()
                          if line not in production.splitlines()], ["  mod_pres_counter: {}"])
        with self.assertRaisesRegex(ValueError, "no module mod_nothing to override"):
            ejabberd_config.config_text(record, node, "/c.crt", "/c.key", "",
                                        overrides={"mod_nothing": " {}"})

    def test_web_ports_must_not_meet_the_client_ports(self):
        with self.assertRaisesRegex(errors.LabError, "Web ports of the nodes and their client "
                                    "ports overlap"):
            self.start_cluster(self.CLUSTER + "Web 5224\n")

    def test_accounts_and_contacts_are_one_import(self):
        """As Prosody's shared rosters: each subject has its pair's bot, each
        bot its subjects, the moderator, wexlab and the desk and no other
        bot; those three have each other and every bot; both ways
        subscribed."""
        _, started, calls = self.start_cluster(self.CLUSTER)
        started.accounts["ann"].password = "a\"<&'b"
        root = ElementTree.fromstring(ejabberd_config.accounts_xml(started, calls[1]["groups"]))
        users = {u.get("name"): u for u in root.iter("{urn:xmpp:pie:0}user")}
        self.assertEqual(sorted(users), sorted(started.accounts))
        for name, user in users.items():
            self.assertEqual(user.get("password"), started.accounts[name].password)
        items = {name: [i for i in user.iter("{jabber:iq:roster}item")]
                 for name, user in users.items()}
        self.assertEqual({i.get("subscription") for found in items.values() for i in found},
                         {"both"})

        def roster(name):
            return sorted(i.get("jid") for i in items[name])

        bots = [p.bot for p in started.pairs]
        moderator_side = [started.moderator, accounts.NOTIFIER, accounts.DESK]
        for pair in started.pairs:
            bot = pair.bot
            with self.subTest(pair=bot):
                for subject in (pair.subject1, pair.subject2):
                    self.assertEqual(roster(subject), [f"{bot}@lab.wex"])
                self.assertEqual(roster(bot), sorted(
                    f"{n}@lab.wex" for n in [pair.subject1, pair.subject2] + moderator_side))
        for name in moderator_side:
            with self.subTest(account=name):
                self.assertEqual(roster(name), sorted(
                    f"{n}@lab.wex" for n in bots + moderator_side if n != name))

    def test_server_keys_are_checked(self):
        for text, fault in (
                (GOOD + "Server openfire\n", "Server must be prosody or ejabberd"),
                (GOOD + "Server ejabberd\nServerNodes 0\n", "ServerNodes must be at least 1"),
                (GOOD + "Server ejabberd\nServerNodes 17\n", "ServerNodes must be at most 16")):
            with self.subTest(fault=fault):
                path = os.path.join(self.root, "bad.conf")
                shared_file(path, text)
                with self.assertRaisesRegex(session_file.SessionError, fault):
                    session_file.read_session(path, bot_keys())
        with self.assertRaisesRegex(errors.LabError, "ServerNodes needs Server ejabberd"):
            self.start(GOOD + "ServerNodes 2\n")

    def test_a_prosody_session_has_no_nodes(self):
        folder, started = self.start(GOOD + "Web off\n")
        self.assertEqual(started.server, "prosody")
        self.assertNotIn("nodes", lab_file.to_json(started))
        self.assertEqual(placement.port_of(started, "ann"), 5222)


class ClusterStartTest(unittest.TestCase):
    """The order of a fresh cluster's start, the nodes faked: the nodes
    start, the others join node 1, then one import makes every account from
    a file of its owner's alone that is gone afterwards."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="wexlab-cluster-")
        self.addCleanup(shutil.rmtree, self.folder)
        os.makedirs(os.path.join(self.folder, "server"))
        self.lab = lab_file.from_json({
            "domain": "lab.wex", "nodes": [{"name": n, "port": 0} for n in ("a", "b", "c")],
            "accounts": {"ann": {"name": "ann", "jid": "ann@lab.wex", "password": "pw-ann"},
                         "pair01": {"name": "pair01", "jid": "pair01@lab.wex",
                                    "password": "pw-pair01"}}})
        self.events = []
        self.returncode = 0

    def fake_ctl(self, lab_record, folder, index, *args, timeout=60):
        path = args[-1]
        with open(path, encoding="utf-8") as f:
            self.events.append((args[-2], index, mode(path), "pw-pair01" in f.read()))
        # ejabberdctl's own 60 s limit lifted, this one growing with the
        # accounts (two here).
        self.assertEqual(args[:-2], ("--no-timeout",))
        self.assertEqual(timeout, cluster.IMPORT_SECONDS + 2 * cluster.IMPORT_SECONDS_PER_ACCOUNT)
        return subprocess.CompletedProcess(args, self.returncode, "", "")

    def run_start(self, fresh):
        with mock.patch.object(cluster, "node_pid", lambda folder, index: None), \
                mock.patch.object(cluster, "launch_node", lambda lab_record, folder, index:
                                  self.events.append(("start", index))), \
                mock.patch.object(cluster, "_wait_port", lambda lab_record, folder, index, _:
                                  self.events.append(("up", index))), \
                mock.patch.object(cluster, "join", lambda lab_record, folder, index:
                                  self.events.append(("join", index))), \
                mock.patch.object(cluster, "ctl", self.fake_ctl), \
                mock.patch.object(cluster, "stop", lambda lab_record, folder:
                                  self.events.append(("stop",))):
            return cluster.start(self.lab, self.folder, fresh,
                                 groups=[("pair01-ann", ["pair01", "ann"])])

    def test_a_fresh_cluster_joins_then_imports_the_accounts(self):
        self.assertTrue(self.run_start(fresh=True))
        self.assertEqual(self.events, [
            ("start", 0), ("start", 1), ("start", 2), ("up", 0), ("up", 1), ("up", 2),
            ("join", 1), ("join", 2), ("import_piefxis", 0, 0o600, True)])
        self.assertEqual(os.listdir(os.path.join(self.folder, "server")), [])

    def test_a_restarted_cluster_starts_every_node_before_waiting_and_makes_no_accounts(self):
        # A node waits for the tables of the node that stopped after it:
        # waiting for node 1 before node 2 is launched could wait for ever.
        self.assertTrue(self.run_start(fresh=False))
        self.assertEqual(self.events, [("start", 0), ("start", 1), ("start", 2),
                                       ("up", 0), ("up", 1), ("up", 2)])

    def test_a_failed_import_stops_the_cluster_and_leaves_no_passwords(self):
        self.returncode = 1
        with self.assertRaisesRegex(errors.LabError, "import_piefxis failed"):
            self.run_start(fresh=True)
        self.assertEqual(self.events[-1], ("stop",))
        self.assertEqual(os.listdir(os.path.join(self.folder, "server")), [])

    def test_a_node_that_gave_up_starting_is_told_at_once_with_its_reason(self):
        # What ejabberd logs when another program holds its port; the
        # earlier start's failure, before the offset, is not this start's.
        failed = ("[critical] <0.124.0>@ejabberd_app:start/2:68 Failed to start ejabberd "
                  "application: {error,\n  {shutdown,\n   {failed_to_start_child,\n"
                  "    ejabberd_listener,\n     {shutdown,\n      {failed_to_start_child,\n"
                  "       {14138,{127,0,0,1},tcp},\n       eaddrinuse}}}}}\n")
        logs = os.path.join(self.folder, "server", "node2", "logs")
        os.makedirs(logs)
        with open(os.path.join(logs, "ejabberd.log"), "w") as f:
            f.write(failed)
        since = cluster.log_size(self.folder, 1)
        self.assertIsNone(cluster.start_failure(self.folder, 1, since))
        with open(os.path.join(logs, "ejabberd.log"), "a") as f:
            f.write("[info] Loading configuration\n" + failed)
        self.assertIn("port 14138 is taken", cluster.start_failure(self.folder, 1, since))
        with open(os.path.join(logs, "ejabberd.log"), "a") as f:
            since = f.tell()
            f.write("[critical] Failed to start ejabberd application: {error,badarg}\n")
        self.assertEqual(cluster.start_failure(self.folder, 1, since),
                         "Failed to start ejabberd application: {error,badarg}")
        with mock.patch.object(cluster, "node_pid", lambda folder, index: None), \
                mock.patch.object(cluster.time, "sleep") as sleep:
            with self.assertRaisesRegex(errors.LabError, "node 2 could not start: .*badarg"):
                cluster.wait_port(self.lab, self.folder, 1, since)
        sleep.assert_not_called()


@unittest.skipIf(shutil.which("erlc") is None, "erlc is not installed")
class EjabberdModuleTest(unittest.TestCase):
    """The lab's ejabberd module, built as a session builds it, its rules
    run in an Erlang VM of their own (no ejabberd running)."""

    @classmethod
    def setUpClass(cls):
        cls.ebin = tempfile.mkdtemp(prefix="wexlab-ebin-")
        done = subprocess.run(["erlc", "-Werror", "-o", cls.ebin, cluster.SOURCE],
                              capture_output=True, text=True, timeout=120)
        cls.built = done.stdout + done.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.ebin)

    def evaluate(self, expression):
        """The printed value of an Erlang expression over the module."""
        self.assertTrue(os.path.exists(os.path.join(self.ebin, "mod_wex_lab_policy.beam")),
                        self.built)
        # Names are compared in stringprep's form: its NIF comes with its
        # application.
        done = subprocess.run(["erl", "-noshell", "-pa", self.ebin, "-eval",
                               "{ok, _} = application:ensure_all_started(stringprep), "
                               f"io:format(\"~p~n\", [{expression}]), halt()."],
                              capture_output=True, text=True, timeout=60, cwd=self.ebin,
                              env=dict(os.environ, ERL_CRASH_DUMP_BYTES="0"))
        self.assertEqual(done.returncode, 0, done.stderr + done.stdout)
        return done.stdout.strip()

    def test_builds_without_a_warning(self):
        self.assertEqual(self.built.strip(), "")
        cluster.build_module(self.ebin)  # as a session builds it

    def test_the_policy_file_is_read_as_on_prosody(self):
        text = ("# Accounts that may talk\\npair01 ann\\n  pair01\\tBob  # a comment\\n"
                "\\npair01 ann cy\\nlonely\\n")
        got = self.evaluate(f'mod_wex_lab_policy:parse_policy(<<"{text}">>)')
        self.assertEqual(re.sub(r"\s+", "", got),
                         '{#{{<<"ann">>,<<"pair01">>}=>true,{<<"bob">>,<<"pair01">>}=>true,'
                         '{<<"pair01">>,<<"ann">>}=>true,{<<"pair01">>,<<"bob">>}=>true},'
                         '[<<"lonely">>,<<"pair01anncy">>]}')

    def test_the_archive_tables_move_from_dets_into_ram(self):
        # A Mnesia of the test's own: the archive's table in dets as
        # ejabberd makes it, another kept in RAM alone, one never made.
        spool = tempfile.mkdtemp(prefix="wexlab-mnesia-", dir=self.ebin)
        got = self.evaluate(
            f'begin application:set_env(mnesia, dir, "{spool}"), '
            "ok = mnesia:create_schema([node()]), ok = mnesia:start(), "
            "{atomic, ok} = mnesia:create_table(archive_msg, [{disc_only_copies, [node()]}, "
            "{type, bag}]), "
            "{atomic, ok} = mnesia:create_table(session, [{ram_copies, [node()]}]), "
            "ok = mnesia:dirty_write({archive_msg, {<<\"ann\">>, <<\"lab.wex\">>}, 1}), "
            "mod_wex_lab_policy:keep_in_ram([archive_msg, session, archive_prefs]), "
            "mod_wex_lab_policy:keep_in_ram([archive_msg]), "
            "{[mnesia:table_info(T, storage_type) || T <- [archive_msg, session]], "
            "mnesia:dirty_read(archive_msg, {<<\"ann\">>, <<\"lab.wex\">>})} end")
        self.assertEqual(re.sub(r"\s+", "", got),
                         '{[disc_copies,ram_copies],[{archive_msg,{<<"ann">>,<<"lab.wex">>},1}]}')

    def test_the_archive_keeps_no_copy_of_the_accounts_left_out(self):
        # As mod_mam's hook runs it: the message, the archive's owner, its
        # server, the peer, a nick, the type and the direction.
        calls = ", ".join(
            f'mod_wex_lab_policy:store_mam_message(msg, <<"{user}">>, <<"{server}">>, '
            'peer, <<>>, chat, recv)'
            for user, server in (("pair01", "lab.wex"), ("ann", "lab.wex"),
                                 ("wexlab", "lab.wex"), ("pair01", "other.wex")))
        got = self.evaluate(
            'begin persistent_term:put({mod_wex_lab_policy, <<"lab.wex">>}, '
            '#{no_archive => #{<<"pair01">> => true, <<"wexlab">> => true}}), '
            f"[{calls}] end")
        self.assertEqual(re.sub(r"\s+", "", got), "[{stop,drop},msg,{stop,drop},msg]")

    def test_subjects_reach_their_own_bot_and_nobody_else(self):
        # pair01: ann and bob; pair02: cy and dee; the moderator with both bots.
        cases = [
            ("message", "chat", "ann", ("pair01", "lab.wex"), "allow"),
            ("message", "chat", "pair01", ("bob", "lab.wex"), "allow"),
            ("message", "chat", "mod", ("pair02", "lab.wex"), "allow"),
            ("iq", "get", "ann", ("ann", "lab.wex"), "allow"),  # its own account
            ("iq", "get", "ann", ("", "lab.wex"), "allow"),  # the server
            ("message", "chat", "ann", ("nobody", "lab.wex"), "allow"),  # the server answers
            ("message", "chat", "ann", ("bob", "lab.wex"), "refuse"),  # the partner
            ("message", "chat", "ann", ("cy", "lab.wex"), "refuse"),  # another pair's subject
            ("message", "chat", "ann", ("pair02", "lab.wex"), "refuse"),  # another pair's bot
            ("message", "chat", "ann", ("mod", "lab.wex"), "refuse"),
            ("message", "chat", "pair01", ("pair02", "lab.wex"), "refuse"),
            ("message", "chat", "ann", ("pair01", "elsewhere.org"), "refuse"),
            ("iq", "get", "ann", ("cy", "lab.wex"), "refuse"),
            ("iq", "result", "ann", ("cy", "lab.wex"), "refuse"),
            ("presence", "subscribe", "ann", ("bob", "lab.wex"), "refuse"),
            ("presence", "unsubscribed", "ann", ("bob", "lab.wex"), "refuse"),
            ("presence", "available", "ann", ("bob", "lab.wex"), "drop"),
            ("presence", "probe", "ann", ("cy", "lab.wex"), "drop"),
            ("presence", "available", "ann", ("pair01", "lab.wex"), "allow"),
        ]
        allowed = ("#{{<<\"ann\">>,<<\"pair01\">>}=>t,{<<\"pair01\">>,<<\"ann\">>}=>t,"
                   "{<<\"bob\">>,<<\"pair01\">>}=>t,{<<\"pair01\">>,<<\"bob\">>}=>t,"
                   "{<<\"mod\">>,<<\"pair02\">>}=>t,{<<\"pair02\">>,<<\"mod\">>}=>t}")
        known = "fun(U) -> U /= <<\"nobody\">> end"
        calls = ", ".join(
            f'mod_wex_lab_policy:verdict({kind}, {kind_type}, {{<<"{sender}">>, <<"lab.wex">>}}, '
            f'{{<<"{user}">>, <<"{server}">>}}, {allowed}, {known})'
            for kind, kind_type, sender, (user, server), _ in cases)
        got = self.evaluate(f"[{calls}]").strip("[]").replace("\n", "").split(",")
        self.assertEqual([g.strip() for g in got], [wanted for *_, wanted in cases])
        # A stanza sent to its own server or account passes whatever the policy.
        self.assertEqual(self.evaluate(
            'mod_wex_lab_policy:verdict(message, chat, {<<"ann">>, <<"lab.wex">>}, '
            '{<<"">>, <<"lab.wex">>}, #{}, fun(_) -> true end)'), "allow")


if __name__ == "__main__":
    unittest.main()
