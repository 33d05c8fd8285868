#!/usr/bin/python3
"""Unit tests of the arriving robots' plan and of the check of what they
saw against room.log and the journals: each outcome read right, and each
kind of disagreement found."""

import asyncio
import os
import sys
import types
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.model.record import Online, Pair  # noqa: E402
from wexlab.rehearsal import arrivals, online_play, outcomes  # noqa: E402
from wexlab.runtime.ws_xmpp import Message  # noqa: E402

ONLINE = Online(max_pairs=2, show_up_fee="1.00", completion_code="DONE",
                no_partner_code="NOPE")


def room_log():
    """Five arrivals: t1+t2 pair 1, t3+t4 pair 2, t5 waits out, t6 full."""
    entries = [{"kind": "open", "session": "S", "max_pairs": 2}]
    entries += [{"kind": "arrive", "ticket": f"t{i}", "label": f"L{i}"} for i in range(1, 7)]
    entries += [{"kind": "pair", "pair": 1, "tickets": ["t1", "t2"], "treatment": None},
                {"kind": "pair", "pair": 2, "tickets": ["t4", "t3"], "treatment": None},
                {"kind": "exit", "ticket": "t6", "outcome": "full", "fee": "1.00",
                 "code": "NOPE"},
                {"kind": "exit", "ticket": "t5", "outcome": "waited_out", "fee": "1.00",
                 "code": "NOPE"}]
    return entries


JOURNALS = {
    # A float's exact binary value decides its rounding, as printf's does:
    # 1.015 is 1.01499999... and shows as 1.01.
    1: [{"kind": "start"}, {"kind": "report", "payout_1": 5.5, "payout_2": 1.015}],
    2: [{"kind": "start"},
        {"kind": "dropout", "subject": 2, "round": 2, "mode": "robot", "credits": 40,
         "payout": 2.1},
        {"kind": "report", "payout_1": 7.0, "payout_2": 4.8}],
}


def seated(label, seat, payout, dropped=False):
    visit = arrivals.Visit(arrivals.Plan(label, 0.0, dropout=dropped), answer="seat",
                           seat=seat, code="DONE", payout=payout)
    if dropped:
        visit.dropped_at = 1.0
    return visit


def exited(label, outcome, code="NOPE", late=False, hidden=False):
    plan = arrivals.Plan(label, 0.0, late=late, hidden=hidden)
    return arrivals.Visit(plan, answer="exit", exit={"type": "exit", "outcome": outcome,
                                                     "fee": "1.00", "code": code})


def good_visits():
    return [seated("L1", "seat1", "5.50"), seated("L2", "seat2", "1.01"),
            seated("L3", "seat4", "2.10", dropped=True), seated("L4", "seat3", "7.00"),
            exited("L5", "waited_out", hidden=True), exited("L6", "full", late=True)]


class OutcomesTest(unittest.TestCase):
    def test_outcomes_from_room_log_and_journals(self):
        truth = outcomes.outcomes_of(room_log(), JOURNALS)
        got = {label: (o.outcome, o.pair, o.subject, o.payout) for label, o in truth.items()}
        self.assertEqual(got, {"L1": ("completed", 1, 1, "5.50"),
                               "L2": ("completed", 1, 2, "1.01"),
                               # the dropout keeps its payout at the dropout
                               "L3": ("replaced", 2, 2, "2.10"),
                               "L4": ("completed", 2, 1, "7.00"),
                               "L5": ("waited_out", None, None, ""),
                               "L6": ("full", None, None, "")})

    def test_pay_mode_dropout_and_unfinished_game(self):
        journal = [{"kind": "dropout", "subject": 1, "mode": "pay", "payout": 3},
                   {"kind": "stop"}, {"kind": "report", "payout_1": 3, "payout_2": 4}]
        self.assertEqual(outcomes.game_endings(journal),
                         {1: ("dropout", "3.00"), 2: ("paid_now", "4.00")})
        self.assertEqual(outcomes.game_endings([{"kind": "start"}]),
                         {1: ("running", ""), 2: ("running", "")})

    def test_agreeing_visits_have_no_faults_and_every_outcome_counted(self):
        truth = outcomes.outcomes_of(room_log(), JOURNALS)
        rows = {o.label: {"outcome": o.outcome, "payout": o.payout, "code_shown": o.code}
                for o in truth.values()}
        faults, counts = outcomes.check(good_visits(), truth, ONLINE, rows)
        self.assertEqual(faults, [])
        self.assertEqual(dict(counts), {"completed": 3, "replaced": 1, "waited_out": 1,
                                        "full": 1})

    def test_each_disagreement_is_found(self):
        truth = outcomes.outcomes_of(room_log(), JOURNALS)
        visits = good_visits()
        visits[0].payout = "5.60"          # shown another payout than the journal's
        visits[2].dropped_at = None        # the files say replaced, the robot stayed
        visits[4].exit["code"] = "DONE"    # shown the wrong code at the exit
        visits[5].plan.late, visits[4].plan.late = True, True  # a late one waited out
        visits.append(arrivals.Visit(arrivals.Plan("L9", 0.0)))  # never in room.log
        faults, _ = outcomes.check(visits, truth, ONLINE)
        joined = "\n".join(faults)
        self.assertIn("L1: shown payout 5.60", joined)
        self.assertIn("L3: replaced in the files, its robot completed", joined)
        self.assertIn("L5: shown code 'DONE', room.log has 'NOPE'", joined)
        self.assertIn("L5: arrived after the cap but waited_out", joined)
        self.assertIn("L9: not in room.log", joined)
        self.assertEqual(len(faults), 5, joined)

    def test_an_exit_seen_in_a_browser_must_show_the_logged_code(self):
        truth = outcomes.outcomes_of(room_log(), JOURNALS)
        page = arrivals.Visit(arrivals.Plan("L6", 0.0), answer="exit_page",
                              page_text="The study is full. Your completion code: NOPE")
        self.assertEqual(outcomes.check([page], truth, ONLINE)[0], [])
        page.page_text = "The study is full."
        seated_page = arrivals.Visit(arrivals.Plan("L1", 0.0), answer="exit_page",
                                     page_text="NOPE")
        self.assertEqual(outcomes.check([page, seated_page], truth, ONLINE)[0],
                         ["L6: its exit page did not show the code 'NOPE'",
                          "L1: its page showed an exit, the files say completed"])

    def test_hidden_page_paired_and_participants_row_disagreeing(self):
        truth = outcomes.outcomes_of(room_log(), JOURNALS)
        visits = good_visits()
        visits[0].plan.hidden = True
        rows = {"L2": {"outcome": "completed", "payout": "6.20", "code_shown": ""}}
        faults, _ = outcomes.check(visits[:2], truth, ONLINE, rows)
        self.assertEqual(faults, ["L1: its page was hidden, yet it was paired",
                                  "L1: no row in session_participants.csv",
                                  "L2: session_participants.csv payout 6.20, the files 1.01"])


class PlanTest(unittest.TestCase):
    def test_plan_is_seeded_sorted_and_marks_one_dropout_per_pair(self):
        plans = arrivals.plan_arrivals(9, 30, 2, 2, seed=4, max_pairs=3)
        self.assertEqual(plans, arrivals.plan_arrivals(9, 30, 2, 2, seed=4, max_pairs=3))
        self.assertNotEqual([p.at for p in plans],
                            [p.at for p in arrivals.plan_arrivals(9, 30, 2, 2, 5, 3)])
        early = plans[:7]
        self.assertEqual([p.at for p in early], sorted(p.at for p in early))
        self.assertTrue(all(0 <= p.at <= 30 for p in early))
        self.assertEqual([p.late for p in plans], [False] * 7 + [True] * 2)
        dropped = [i for i, p in enumerate(plans) if p.dropout]
        self.assertEqual(len(dropped), 2)
        # the second arrival of a pair that forms, never a late one
        self.assertTrue(all(i % 2 == 1 and i < 6 for i in dropped), dropped)
        self.assertEqual(len({p.label for p in plans}), 9)
        self.assertEqual([p.returns for p in plans], [True] + [False] * 8)

    def test_late_ones_come_at_the_cap_or_once_everyone_on_time_settled(self):
        async def scenario():
            plans = arrivals.plan_arrivals(5, 10, 0, 1, seed=1, max_pairs=2)
            run = arrivals.Run(None, None, 1, 5, max_pairs=2)
            run.on_time = 4
            for _ in range(3):
                run.took_seat()
                run.settle(plans[0])
            before = run.capped.is_set()
            run.settle(plans[-1])  # a late one settling counts for nothing
            late_counted = run.capped.is_set()
            run.took_seat()  # the cap
            at_cap = run.capped.is_set()
            sparse = arrivals.Run(None, None, 1, 5, max_pairs=2)
            sparse.on_time = 2
            sparse.took_seat()
            sparse.settle(plans[0])
            sparse.settle(plans[1])  # sent home: nobody else on time will come
            return before, late_counted, at_cap, sparse.capped.is_set()

        self.assertEqual(asyncio.run(scenario()), (False, False, True, True))

    def test_seat_link_and_websocket_addresses(self):
        seat = arrivals.seat_of("/#n=seat3&p=a%2Bb&c=bot2&code=DONE&url=https%3A%2F%2Fx%2F")
        self.assertEqual(seat, {"n": "seat3", "p": "a+b", "c": "bot2", "code": "DONE",
                                "url": "https://x/"})
        self.assertEqual(arrivals.ws_url("https://h:8443/", "/room/ws"), "wss://h:8443/room/ws")
        self.assertEqual(arrivals.ws_url("http://h:5291", "/room/ws"), "ws://h:5291/room/ws")

    def test_first_question_delay_is_from_the_later_arrival(self):
        a = arrivals.Visit(arrivals.Plan("A", 0), arrived=100.0, bot="bot1",
                           first_question=112.0)
        b = arrivals.Visit(arrivals.Plan("B", 0), arrived=110.0, bot="bot1",
                           first_question=111.5)
        alone = arrivals.Visit(arrivals.Plan("C", 0), arrived=100.0, bot="bot2",
                               first_question=101.0)
        self.assertEqual(arrivals.first_question_delays([a, b, alone]), {"bot1": 1.5})

    def test_steps_from_the_later_arrival_wait_for_both_or_take_the_first(self):
        def visit(label, arrived, seated, signed_in, online, reply, question):
            return arrivals.Visit(arrivals.Plan(label, 0), arrived=arrived, bot="bot1",
                                  seated=seated, signed_in=signed_in, bot_online=online,
                                  first_reply=reply, first_question=question)
        a = visit("A", 100.0, 110.1, 110.4, 110.9, 111.5, 112.6)
        b = visit("B", 110.0, 110.2, 110.3, 110.7, None, 113.0)
        steps = arrivals.stage_delays([a, b])["bot1"]
        self.assertEqual(set(steps), {"seated", "signed_in", "bot_online", "reply", "question"})
        self.assertAlmostEqual(steps["bot_online"], 0.7)
        # Both must be seated and signed in: the later of the two counts.
        self.assertAlmostEqual(steps["seated"], 0.2)
        self.assertAlmostEqual(steps["signed_in"], 0.4)
        # The bot's first text and question: the earlier either heard.
        self.assertAlmostEqual(steps["reply"], 1.5)
        self.assertAlmostEqual(steps["question"], 2.6)
        # One of the two never signed in: no sign-in step for the pair.
        b.signed_in = None
        self.assertNotIn("signed_in", arrivals.stage_delays([a, b])["bot1"])
        line = online_play.stages_line(arrivals.stage_delays([a, b]))
        self.assertIn("seated 0.20/0.20", line)
        self.assertIn("question 2.60/2.60", line)
        self.assertNotIn("signed in", line)


class FakeXmpp:
    """Stands in for the websocket client: records what is sent."""

    def __init__(self):
        self.sent = []
        self.opened = 0
        self.closed = 0

    async def send(self, to, body):
        self.sent.append((to, body))

    async def close(self):
        self.closed += 1

    async def open(self, timeout=None):
        self.opened += 1


BOT = "pair02@lab.wex"
EXPECTATION = "This is round {}. How much do you think your partner will invest?"


def robot(plan):
    lab = types.SimpleNamespace(pairs=[Pair(1, "pair01", "seat1", "seat2"),
                                       Pair(2, "pair02", "seat3", "seat4")], rounds=3)
    run = arrivals.Run(lab, None, 1, dropout_after=0.0, max_pairs=2)
    arriving = arrivals.Arriving(run, plan)
    arriving._init_player(run.subject_number("pair02", "seat4"), run.pair("pair02"), 1)
    arriving.xmpp = FakeXmpp()
    arriving.bot_address = BOT
    return arriving


async def settle():
    for _ in range(20):
        await asyncio.sleep(0)


class ArrivingTest(unittest.TestCase):
    def test_subject_number_from_the_pair_and_answers_to_its_bot_only(self):
        async def scenario():
            r = robot(arrivals.Plan("X", 0.0))
            r._message(Message("someone@lab.wex", EXPECTATION.format(1)))
            r._message(Message(BOT, EXPECTATION.format(1), game={"round": "1"}))
            await settle()
            return r

        r = asyncio.run(scenario())
        self.assertEqual(r.number, 2)
        self.assertEqual(len(r.xmpp.sent), 1)
        self.assertEqual(r.xmpp.sent[0][0], BOT)
        self.assertTrue(r.xmpp.sent[0][1].isdigit())
        self.assertIsNotNone(r.visit.first_question)
        # The stranger's message is not the bot's first reply.
        self.assertEqual(r.visit.first_reply, r.visit.first_question)
        self.assertFalse(r.over.is_set())

    def test_a_dropout_leaves_at_round_two_unanswered_and_sees_it_was_replaced(self):
        async def scenario():
            r = robot(arrivals.Plan("D", 0.0, dropout=True))
            r._message(Message(BOT, EXPECTATION.format(1)))
            await settle()
            answered_before = len(r.xmpp.sent)
            r._message(Message(BOT, EXPECTATION.format(2)))
            await settle()
            # While away, what arrives is not answered.
            r._message(Message(BOT, EXPECTATION.format(3)))
            await settle()
            self.assertEqual(len(r.xmpp.sent), answered_before)
            self.assertFalse(r.over.is_set())
            while not r.xmpp.opened:  # back after DropoutAfter and the margin
                await asyncio.sleep(0.01)
            r._message(Message(BOT, "", game={"phase": "over", "ended": "replaced",
                                              "payout": "3.10"}))
            await asyncio.wait_for(r.over.wait(), 5)
            return r, answered_before

        with mock.patch.object(arrivals, "RETURN_MARGIN", 0.01):
            r, answered_before = asyncio.run(scenario())
        self.assertEqual(answered_before, 1)
        self.assertIsNotNone(r.visit.dropped_at)
        self.assertEqual((r.xmpp.closed, r.xmpp.opened), (1, 1))
        self.assertEqual(r.visit.replaced_seen["payout"], "3.10")
        self.assertEqual((r.visit.ended, r.visit.payout), ("replaced", "3.10"))
        self.assertEqual(r.visit.faults, [])

    def test_the_game_over_ends_a_staying_robot(self):
        async def scenario():
            r = robot(arrivals.Plan("C", 0.0))
            r._message(Message(BOT, "Thanks", game={"phase": "over", "ended": "completed",
                                                    "payout": "12.00"}))
            await settle()
            return r

        r = asyncio.run(scenario())
        self.assertTrue(r.over.is_set())
        self.assertEqual((r.visit.ended, r.visit.payout), ("completed", "12.00"))

    def test_the_bot_is_online_at_its_first_available_presence(self):
        r = robot(arrivals.Plan("D", 0.0))
        r._presence("seat3@lab.wex", "available")  # the partner: not the bot
        r._presence(BOT, "unavailable")
        self.assertIsNone(r.visit.bot_online)
        r._presence(BOT, "available")
        first = r.visit.bot_online
        self.assertIsNotNone(first)
        r._presence(BOT, "available")  # it signs on again: the first counts
        self.assertEqual(r.visit.bot_online, first)


if __name__ == "__main__":
    unittest.main()
