#!/usr/bin/python3
"""The participants of an online session from a hand-written room log and
journals: each outcome, its payout, fee and code, the waits, and the bonus
lines."""

import datetime
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.data import participants as people  # noqa: E402
from wexlab.model import pairing, record as lab_file  # noqa: E402

T0 = 1_800_000_000.0
TERMS = people.Terms("1.5", "DONE-1", "NOPARTNER")


def room(*entries):
    return [dict(entry, time=T0 + entry.pop("at")) for entry in entries]


def arrive(at, ticket, label):
    return {"at": at, "kind": "arrive", "ticket": ticket, "label": label}


def paired(at, pair, tickets, treatment=None):
    return {"at": at, "kind": "pair", "pair": pair, "tickets": tickets, "treatment": treatment}


def left(at, ticket, outcome, code="NOPARTNER"):
    return {"at": at, "kind": "exit", "ticket": ticket, "outcome": outcome, "fee": "1.50",
            "code": code}


def report(p1, p2):
    return {"kind": "report", "payout_1": p1, "payout_2": p2}


# Pair 1 completed; pair 2's subject 2 replaced by the stand-in at 3.256;
# pair 3 paid at once when its subject 1 dropped out.
JOURNALS = {
    1: [{"kind": "start"}, {"kind": "close", "round": 1}, report(7.125, 9)],
    2: [{"kind": "start"}, {"kind": "dropout", "subject": 2, "round": 4, "mode": "robot",
                            "credits": 325.6, "payout": 3.256}, report(8.5, 4.0)],
    3: [{"kind": "start"}, {"kind": "dropout", "subject": 1, "round": 2, "mode": "pay",
                            "credits": 120, "payout": 1.2}, {"kind": "stop"}, report(1.2, 2.3)],
}
LOG = room({"at": 0, "kind": "open", "session": "S", "max_pairs": 3},
           arrive(0, "t1", "P1"), arrive(2.5, "t2", "P2"), paired(4.25, 1, ["t2", "t1"], "a"),
           arrive(10, "t3", "P3"), arrive(11, "t4", ""), paired(12, 2, ["t3", "t4"], "b"),
           arrive(20, "t5", "P5"), arrive(21, "t6", "P6"), paired(30, 3, ["t5", "t6"], "a"),
           arrive(40, "t7", "P7"), left(340, "t7", "waited_out"),
           arrive(350, "t8", "P8"), left(350, "t8", "full"), {"at": 400, "kind": "close"})


def by_ticket(rows):
    return {row.ticket: row for row in rows}


class ParticipantsTest(unittest.TestCase):
    def rows(self, journals=JOURNALS, log=LOG, stopped=False):
        results = {k: people.pair_result(v, stopped) for k, v in journals.items()}
        return people.participants("S", log, results, TERMS, session_stopped=stopped)

    def test_every_ticket_in_arrival_order_with_its_outcome_payout_and_code(self):
        rows = self.rows()
        self.assertEqual([r.ticket for r in rows], [f"t{i}" for i in range(1, 9)])
        got = {r.ticket: (r.label, r.seat, r.pair, r.treatment, r.outcome, r.payout,
                          r.show_up_fee, r.code_shown) for r in rows}
        self.assertEqual(got, {
            # The first ticket of a pair is subject 1, the odd seat.
            "t2": ("P2", "seat1", "1", "a", "completed", "7.12", "1.50", "DONE-1"),
            "t1": ("P1", "seat2", "1", "a", "completed", "9.00", "1.50", "DONE-1"),
            "t3": ("P3", "seat3", "2", "b", "completed", "8.50", "1.50", "DONE-1"),
            # Replaced: the payout at its dropout, not the report's.
            "t4": ("", "seat4", "2", "b", "replaced", "3.26", "1.50", "DONE-1"),
            "t5": ("P5", "seat5", "3", "a", "dropout", "1.20", "1.50", "DONE-1"),
            "t6": ("P6", "seat6", "3", "a", "paid_now", "2.30", "1.50", "DONE-1"),
            "t7": ("P7", "", "", "", "waited_out", "1.50", "1.50", "NOPARTNER"),
            "t8": ("P8", "", "", "", "full", "1.50", "1.50", "NOPARTNER"),
        })

    def test_waits_run_from_arrival_to_the_pair_or_the_exit(self):
        rows = by_ticket(self.rows())
        self.assertEqual([rows[t].seconds_waited for t in ("t1", "t2", "t4", "t7", "t8")],
                         ["4.25", "1.75", "1.00", "300.00", "0.00"])
        arrived = datetime.datetime.fromisoformat(rows["t2"].arrival_time)
        self.assertEqual(arrived.timestamp(), T0 + 2)  # whole seconds, with its offset
        self.assertIsNotNone(arrived.utcoffset())

    def test_unfinished_games_and_waits_pay_nothing_and_show_no_code(self):
        journals = {1: [{"kind": "start"}, {"kind": "close", "round": 1}]}  # pair 2 unread
        log = LOG[:8]  # t5 arrived and waits
        rows = by_ticket(self.rows(journals, log))
        for ticket in ("t1", "t2", "t3", "t4", "t5"):
            self.assertEqual((rows[ticket].outcome, rows[ticket].payout,
                              rows[ticket].show_up_fee, rows[ticket].code_shown),
                             ("running", "", "", ""), ticket)
        self.assertEqual(rows["t5"].seconds_waited, "")
        # The session stopped: the same games and the wait end without pay.
        rows = by_ticket(self.rows(journals, log, stopped=True))
        self.assertEqual({rows[t].outcome for t in ("t1", "t3", "t5")}, {"stopped"})
        self.assertEqual({rows[t].payout for t in ("t1", "t3", "t5")}, {""})

    def test_an_entry_without_a_pair_number_or_fee_is_read_safely(self):
        log = room(arrive(0, "t1", "A"), arrive(1, "t2", "B"),
                   {"at": 2, "kind": "pair", "pair": None, "tickets": ["t1", "t2"]},
                   {"at": 3, "kind": "exit", "ticket": "t2", "outcome": "full"})
        rows = by_ticket(people.participants("S", log, {}, TERMS))
        self.assertEqual((rows["t1"].pair, rows["t1"].outcome, rows["t1"].seconds_waited),
                         ("", "running", ""))
        # The exit's fee is the session's when the entry has none.
        self.assertEqual((rows["t2"].payout, rows["t2"].code_shown), ("1.50", "NOPARTNER"))

    def test_terms_take_the_completion_code_when_no_no_partner_code(self):
        online = lab_file.Online(show_up_fee="2.00", completion_code="C")
        self.assertEqual(people.terms_of(online), people.Terms("2.00", "C", "C"))
        online.no_partner_code = "N"
        self.assertEqual(people.terms_of(online), people.Terms("2.00", "C", "N"))
        self.assertEqual(people.terms_of(lab_file.Online()), people.Terms("0.00", "", ""))


class FromTheRoomTest(unittest.TestCase):
    """The room's own entries, as its pairing rules log them, read back."""

    def test_the_rooms_log_gives_each_arrival_its_row(self):
        settings = lab_file.Online(max_pairs=2, wait_timeout=60, show_up_fee="0.50",
                                   completion_code="C", no_partner_code="N")
        room = pairing.Room("S", settings, ["a", "b"], lambda pair, subject, label: "")
        room.open(T0)
        # Each page says it is visible right after its hello, as the page does.
        for at, label in ((1, "A"), (2, "B"), (5, "C")):
            ticket = room.hello(T0 + at, label, f"browser-{label}")
            room.presence(T0 + at, ticket, True)
        room.tick(T0 + 66)  # C waited its 60 s alone
        for at, label in ((70, "D"), (71, "E"), (80, "F")):  # F after the cap
            ticket = room.hello(T0 + at, label, f"browser-{label}")
            room.presence(T0 + at, ticket, True)
        entries, _ = room.take()
        results = {1: people.pair_result([report(2, 3)]),
                   2: people.pair_result([{"kind": "dropout", "subject": 2, "mode": "pay",
                                           "payout": 0.25}, report(1, 0.25)])}
        rows = people.participants("S", entries, results, people.terms_of(settings))
        got = [(r.label, r.seat, r.pair, r.treatment, r.outcome, r.payout, r.show_up_fee,
                r.code_shown, r.seconds_waited) for r in rows]
        self.assertEqual(got, [
            ("A", "seat1", "1", "a", "completed", "2.00", "0.50", "C", "1.00"),
            ("B", "seat2", "1", "a", "completed", "3.00", "0.50", "C", "0.00"),
            ("C", "", "", "", "waited_out", "0.50", "0.50", "N", "61.00"),
            ("D", "seat3", "2", "b", "paid_now", "1.00", "0.50", "C", "1.00"),
            ("E", "seat4", "2", "b", "dropout", "0.25", "0.50", "C", "0.00"),
            ("F", "", "", "", "full", "0.50", "0.50", "N", "0.00")])
        lines, _ = people.bonus_lines([r.record() for r in rows])
        self.assertEqual(lines, ["A,2.00", "B,3.00", "D,1.00", "E,0.25"])


class MoneyTest(unittest.TestCase):
    def test_two_decimals_as_the_bot_rounds_and_nothing_for_non_numbers(self):
        self.assertEqual([people.money(v) for v in (1.015, 2.675, 7.125, "1.015", 3, "0")],
                         ["1.01", "2.67", "7.12", "1.02", "3.00", "0.00"])
        self.assertEqual([people.money(v) for v in (None, "", "x", float("nan"), True)],
                         [""] * 5)


class BonusTest(unittest.TestCase):
    def test_the_bonus_is_the_game_payout_and_room_exits_get_none(self):
        rows = ParticipantsTest().rows()
        lines, warnings = people.bonus_lines([r.record() for r in rows])
        # Arrival order; t4 has no label, t7 and t8 were paid the fee only.
        self.assertEqual(lines, ["P1,9.00", "P2,7.12", "P3,8.50", "P5,1.20", "P6,2.30"])
        self.assertEqual(warnings, ["session_bonus.csv leaves out 1 subject owed a bonus "
                                    "without a label"])
        paid = sum(float(r.payout) for r in rows if r.outcome in people.PAID_ENDS)
        self.assertAlmostEqual(sum(float(line.split(",")[1]) for line in lines) + 3.26, paid)

    def test_a_label_unsafe_for_the_platform_form_is_left_out(self):
        rows = [people.Participant("S", label, f"t{i}", outcome="completed",
                                   payout="1.00").record()
                for i, label in enumerate(["a,b", "c d", 'q"', "ok_1-x.y@z"])]
        lines, warnings = people.bonus_lines(rows)
        self.assertEqual(lines, ["ok_1-x.y@z,1.00"])
        self.assertIn("3 subjects", warnings[0])

    def test_a_label_with_two_tickets_gets_one_line_with_both_bonuses(self):
        rows = [{"label": "A", "outcome": "replaced", "payout": "1.25"},
                {"label": "B", "outcome": "stopped", "payout": ""},
                {"label": "A", "outcome": "paid_now", "payout": "0.75"},
                {"label": "C", "outcome": "completed", "payout": "0.00"},
                {"label": "D", "outcome": "waited_out", "payout": "1.50"}]
        lines, warnings = people.bonus_lines(rows)
        self.assertEqual(lines, ["A,2.00"])
        self.assertEqual(len(warnings), 1)
        self.assertIn("label A arrived 2 times", warnings[0])


if __name__ == "__main__":
    unittest.main()
