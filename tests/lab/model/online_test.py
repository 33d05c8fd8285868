#!/usr/bin/python3
"""Unit tests of an online session's keys, its pool of pairs, its record
in lab.json and its study link."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import bot_config, online, plan, record, session_file  # noqa: E402
from fixtures import GOOD, parse, replaced  # noqa: E402

ONLINE = replaced("Subjects", "Arrivals on")


class OnlineKeysTest(unittest.TestCase):
    def test_arrivals_on_needs_no_subjects_and_makes_the_pool(self):
        s = parse(ONLINE)
        self.assertTrue(s.online)
        self.assertEqual(s.subjects, [f"seat{n}" for n in range(1, 21)])
        s = parse(ONLINE + "MaxPairs 2\n")
        self.assertEqual(s.subjects, ["seat1", "seat2", "seat3", "seat4"])
        self.assertFalse(parse(GOOD).online)
        self.assertFalse(parse(GOOD + "Arrivals off\n").online)

    def test_refusals_name_the_line_and_the_reason(self):
        cases = [
            (GOOD + "MaxPairs 3\n", 15, "MaxPairs is a key of an online session"),
            (GOOD + "Proxy off\n", 15, "Proxy is a key of an online session"),
            (GOOD + "CompletionCode X\n", 15, "needs Arrivals on"),
            (ONLINE + "Subjects ann bob\n", 15, "Subjects is not used with Arrivals on"),
            (ONLINE + "Web off\n", 15, "Arrivals on needs the web seats"),
            (ONLINE + "Server ejabberd\n", 13, "Arrivals on needs Server prosody"),
            (ONLINE.replace("ModeratorName mod", "ModeratorName seat3"), 3,
             "'seat3' is a name wexlab gives the pool"),
            (ONLINE.replace("ModeratorName mod", "ModeratorName Mod"), 3, "'Mod' cannot be"),
            (ONLINE.replace("ModeratorName mod", "ModeratorName wexdesk"), 3, "wexlab gives"),
            (GOOD + "Arrivals yes\n", 15, "Arrivals must be on or off"),
            (ONLINE + "MaxPairs 0\n", 15, "MaxPairs must be at least 1"),
            (ONLINE + "MaxPairs 501\n", 15, "MaxPairs must be at most 500"),
            (ONLINE + "WaitTimeout 9\n", 15, "WaitTimeout must be at least 10"),
            (ONLINE + "ShowUpFee -1\n", 15, "ShowUpFee must be an amount of money"),
            (ONLINE + "ShowUpFee 1,50\n", 15, "ShowUpFee must be an amount of money"),
            (ONLINE + "LabelParameter PROLIFIC-PID\n", 15, "LabelParameter must be"),
            (ONLINE + "CompletionCode C 1\n", 15, "CompletionCode must be"),
            (ONLINE + "NoPartnerCode " + "x" * 65 + "\n", 15, "NoPartnerCode must be"),
            (ONLINE + "CompletionUrl ftp://x/\n", 15, "CompletionUrl must be an http"),
            (ONLINE + "ProxyPort 70000\n", 15, "ProxyPort must be at most 65535"),
            (ONLINE + "PublicHost a/b\n", 15, "PublicHost must be a host name"),
            (ONLINE + "Room x\n", 15, "Room must be a whole number"),
            (replaced("Subjects", None), 0, "Subjects is missing"),
        ]
        for text, line, reason in cases:
            with self.subTest(reason=reason):
                with self.assertRaises(session_file.SessionError) as caught:
                    parse(text, "lab.conf")
                where = f"lab.conf:{line}: " if line else "lab.conf: "
                self.assertTrue(str(caught.exception).startswith(where), str(caught.exception))
                self.assertIn(reason, str(caught.exception))

    def test_settings_take_their_defaults_and_the_sessions_values(self):
        s = online.online_settings(parse(ONLINE).values)
        self.assertEqual((s.max_pairs, s.wait_timeout, s.show_up_fee, s.label_parameter),
                         (10, 300, "0.00", "label"))
        self.assertEqual((s.completion_code, s.no_partner_code, s.completion_url),
                         (None, None, None))
        self.assertEqual((s.proxy, s.proxy_port, s.public_host, s.room_port),
                         (True, 8443, "10.0.0.5", 5291))
        s = online.online_settings(parse(
            ONLINE + "MaxPairs 4\nWaitTimeout 60\nShowUpFee 1.5\nLabelParameter PID\n"
            "CompletionCode DONE-1\nCompletionUrl https://x.test/c?cc={code}&p={label}\n"
            "Proxy off\nProxyPort 443\nPublicHost study.example.org\nRoom 6000\n").values)
        self.assertEqual((s.max_pairs, s.wait_timeout, s.show_up_fee, s.label_parameter),
                         (4, 60, "1.50", "PID"))
        # The code for no partner is the completion code unless set.
        self.assertEqual((s.completion_code, s.no_partner_code), ("DONE-1", "DONE-1"))
        self.assertEqual((s.proxy, s.proxy_port, s.public_host, s.room_port),
                         (False, 443, "study.example.org", 6000))
        self.assertEqual(online.completion_url(s, "DONE-1", "a b&c"),
                         "https://x.test/c?cc=DONE-1&p=a%20b%26c")
        s = online.online_settings(parse(ONLINE + "CompletionCode A\nNoPartnerCode B\n").values)
        self.assertEqual((s.completion_code, s.no_partner_code), ("A", "B"))


class OnlinePlanTest(unittest.TestCase):
    def lab(self, text):
        lab = plan.new_lab(parse(text, "lab.conf"), "/bin/true")
        lab.session_id = "20261208-120000-abcd"
        return lab

    def test_pool_pairs_in_order_with_treatments_in_rotation(self):
        text = ONLINE + ("MaxPairs 5\nTreatment low CreditValue 0.005\n"
                         "Treatment high CreditValue 0.02\nTreatment high NRounds 12\n"
                         "Treatments high low\n")
        lab = self.lab(text)
        self.assertEqual([(p.index, p.bot, p.subject1, p.subject2, p.treatment)
                          for p in lab.pairs],
                         [(1, "pair01", "seat1", "seat2", "high"),
                          (2, "pair02", "seat3", "seat4", "low"),
                          (3, "pair03", "seat5", "seat6", "high"),
                          (4, "pair04", "seat7", "seat8", "low"),
                          (5, "pair05", "seat9", "seat10", "high")])
        self.assertEqual([p.rounds for p in lab.pairs], [12, 10, 12, 10, 12])
        self.assertIn("seat10", lab.names)
        self.assertEqual(lab.online.max_pairs, 5)

    def test_record_round_trips_and_old_folders_load_unchanged(self):
        lab = self.lab(ONLINE + "MaxPairs 2\nCompletionCode C9\n")
        data = record.to_json(lab)
        self.assertEqual(data["online"]["completion_code"], "C9")
        again = record.from_json(data)
        self.assertEqual(again.online, lab.online)
        self.assertEqual(again.pairs, lab.pairs)
        offline = plan.new_lab(parse(GOOD), "/bin/true")
        self.assertIsNone(offline.online)
        self.assertNotIn("online", record.to_json(offline))
        self.assertIsNone(record.from_json(record.to_json(offline)).online)

    def test_study_link_leaves_out_port_443(self):
        lab = self.lab(ONLINE + "PublicHost study.example.org\n")
        self.assertEqual(online.study_link(lab),
                         "https://study.example.org:8443/join/20261208-120000-abcd")
        lab.online.proxy_port = 443
        self.assertEqual(online.study_link(lab),
                         "https://study.example.org/join/20261208-120000-abcd")


class OnlineBotConfigTest(unittest.TestCase):
    def test_dropout_after_is_written_unless_the_session_sets_it(self):
        conf = bot_config.bot_config(parse(ONLINE), "pair01", "seat1", "seat2")
        self.assertIn("\nDropoutAfter 120\n", conf)
        conf = bot_config.bot_config(parse(ONLINE + "DropoutAfter 45\n"), "pair01", "seat1",
                                     "seat2")
        self.assertEqual(conf.count("DropoutAfter"), 1)
        self.assertIn("\nDropoutAfter 45\n", conf)
        conf = bot_config.bot_config(parse(GOOD), "pair01", "ann", "bob")
        self.assertNotIn("DropoutAfter", conf)
        # A treatment's own value is its pairs'.
        treated = parse(ONLINE + "Treatment slow DropoutAfter 300\nTreatment fast\n"
                        "Treatments slow fast\n")
        self.assertIn("\nDropoutAfter 300\n",
                      bot_config.bot_config(treated, "pair01", "seat1", "seat2", "slow"))
        self.assertIn("\nDropoutAfter 120\n",
                      bot_config.bot_config(treated, "pair02", "seat3", "seat4", "fast"))


if __name__ == "__main__":
    unittest.main()
