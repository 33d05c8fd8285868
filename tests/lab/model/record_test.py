#!/usr/bin/python3
"""Unit tests of the lab record: lab.json as earlier wexlabs wrote it loads
into the typed record and is written back with the same keys in the same
order; a record without a part takes its default; a key this wexlab does
not know is refused; the file is its owner's alone."""

import json
import os
import shutil
import stat
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import errors, record  # noqa: E402

# A Prosody session of two pairs in two treatments, with the web seats.
PROSODY = {
    "session": "/lab/s.conf", "domain": "lab.wex", "address": "10.0.0.5", "port": 5222,
    "plain": False, "service": "xmpp:lab.wex@10.0.0.5:5222;trust=any", "moderator": "mod",
    "seed": 7, "pairs": [
        {"index": 1, "bot": "pair01", "subject1": "ann", "subject2": "ben",
         "treatment": "high", "rounds": 3},
        {"index": 2, "bot": "pair02", "subject1": "cy", "subject2": "dee",
         "treatment": "low", "rounds": 2}],
    "rounds": 2, "web": {"port": 5280, "tls": True}, "certificate_files": None,
    "names": {"pair01": "pair01", "ann": "ann"}, "bot_path": "/usr/bin/wexbot",
    "log_file": "lab", "desk_account": "wexdesk",
    "desk": {"address": "127.0.0.1", "port": 5290, "offline_alert": 60, "stall_alert": 120},
    "server": "prosody",
    "treatments": [{"name": "high", "values": {"NRounds": "3"}}, {"name": "low", "values": {}}],
    "certificate": "/lab/server/certs/lab.wex.crt",
    "fingerprints": {"sha256": "AA", "sha1": "BB"},
    "accounts": {"ann": {"name": "ann", "jid": "ann@lab.wex", "password": "pw-ann"}},
    "session_id": "20261208-110203-3fa9"}
# An ejabberd session open to another machine: no web seats, no epmd.
EJABBERD = dict(
    {k: v for k, v in PROSODY.items() if k not in ("treatments", "certificate",
                                                   "fingerprints", "accounts",
                                                   "session_id")},
    pairs=[{"index": 1, "bot": "pair01", "subject1": "ann", "subject2": "ben"}],
    web=None, server="ejabberd",
    nodes=[{"name": "wex5222@10.0.0.5", "port": 5222, "address": "10.0.0.5"},
           {"name": "wex5300@10.0.0.7", "port": 5300, "address": "10.0.0.7", "remote": True,
            "host": "lab-b"}],
    placement={"pair01": 0, "ann": 0, "ben": 1}, cluster_port=4400,
    certificate="/c.crt", fingerprints={"sha256": "AA", "sha1": "BB"}, epmd_port=None,
    accounts={"ben": {"name": "ben", "jid": "ben@lab.wex", "password": "pw-ben"}})


class RecordTest(unittest.TestCase):
    def test_lab_json_loads_typed_and_is_written_back_the_same(self):
        for name, data in (("prosody", PROSODY), ("ejabberd", EJABBERD)):
            with self.subTest(server=name):
                lab = record.from_json(json.loads(json.dumps(data)))
                self.assertEqual(json.dumps(record.to_json(lab)), json.dumps(data))
        lab = record.from_json(PROSODY)
        self.assertEqual((lab.pairs[0].treatment, lab.web.tls, lab.desk.port),
                         ("high", True, 5290))
        self.assertEqual(lab.accounts["ann"].password, "pw-ann")
        self.assertEqual([record.pair_rounds(lab, p) for p in lab.pairs], [3, 2])
        cluster = record.from_json(EJABBERD)
        self.assertEqual([(n.remote, n.host, n.web_port) for n in cluster.nodes],
                         [(False, None, None), (True, "lab-b", None)])

    def test_parts_an_earlier_wexlab_did_not_write_take_their_defaults(self):
        older = {k: v for k, v in PROSODY.items() if k not in ("desk", "treatments")}
        lab = record.from_json(older)
        self.assertEqual((lab.desk.address, lab.desk.port, lab.desk.offline_alert,
                          lab.desk.stall_alert), ("127.0.0.1", 5290, 60, 120))
        self.assertEqual(lab.treatments, [])
        self.assertNotIn("treatments", record.to_json(lab))

    def test_an_unknown_key_is_refused(self):
        with self.assertRaisesRegex(errors.LabError, "keys this wexlab does not know: later"):
            record.from_json(dict(PROSODY, later=1))

    def test_save_and_load(self):
        folder = tempfile.mkdtemp(prefix="wexlab-record-")
        self.addCleanup(shutil.rmtree, folder)
        with self.assertRaisesRegex(errors.LabError, "no lab session in"):
            record.load(folder)
        record.save(folder, record.from_json(PROSODY))
        self.assertEqual(stat.S_IMODE(os.stat(record.path(folder)).st_mode), 0o600)
        self.assertEqual(record.to_json(record.load(folder)), PROSODY)


class SessionIdTest(unittest.TestCase):
    def test_a_new_id_is_local_time_and_four_random_hex_digits(self):
        old = os.environ.get("TZ")
        os.environ["TZ"] = "Europe/Berlin"
        time.tzset()
        try:
            made = record.new_session_id(1796724123)  # 2026-12-08T10:02:03 UTC
        finally:
            if old is None:
                del os.environ["TZ"]
            else:
                os.environ["TZ"] = old
            time.tzset()
        self.assertRegex(made, r"^20261208-110203-[0-9a-f]{4}$")
        self.assertGreater(len({record.new_session_id(0) for _ in range(20)}), 1)

    def test_an_older_lab_gets_the_same_id_from_its_start_each_time(self):
        older = record.from_json(EJABBERD)
        self.assertIsNone(older.session_id)
        first = record.session_id_of(older, 1796724123)
        self.assertEqual(record.session_id_of(older, 1796724123), first)
        self.assertEqual(record.session_id_of(record.from_json(PROSODY), 0),
                         "20261208-110203-3fa9")


if __name__ == "__main__":
    unittest.main()
