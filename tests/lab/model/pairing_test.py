#!/usr/bin/python3
"""Unit tests of the room's rules: presence, pairing in arrival order,
WaitTimeout, the cap and close, returns, and the room rebuilt from
room.log; and room.log itself."""

import json
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()
from wexlab.model import pairing, room_log  # noqa: E402
from wexlab.model.record import Online  # noqa: E402


def link(pair, subject, label):
    return f"/#n=seat{2 * pair - 2 + subject}&c=pair{pair}&l={label}"


def new_room(max_pairs=3, treatments=("a", "b"), **settings):
    online = Online(max_pairs=max_pairs, wait_timeout=60, show_up_fee="1.00",
                    completion_code="DONE", no_partner_code="NOPE",
                    completion_url="https://x.test/?c={code}&l={label}", **settings)
    rotation = [treatments[i % len(treatments)] for i in range(max_pairs)] if treatments \
        else [None] * max_pairs
    room = pairing.Room("S1", online, rotation, link)
    room.open(0.0)
    return room


def arrive(room, now, label, browser="", visible=True):
    ticket = room.hello(now, label, browser or f"b-{label}")
    room.presence(now, ticket, visible)
    return ticket


def kinds(entries, kind):
    return [e for e in entries if e["kind"] == kind]


def sent(messages, ticket):
    return [m for t, m in messages if t == ticket]


class PairingTest(unittest.TestCase):
    def test_present_are_paired_in_arrival_order_with_treatments_by_pair(self):
        room = new_room()
        tickets = [arrive(room, float(n), f"P{n}") for n in range(1, 6)]
        entries, messages = room.take()
        self.assertEqual([e["ticket"] for e in kinds(entries, "arrive")],
                         ["t1", "t2", "t3", "t4", "t5"])
        pairs = kinds(entries, "pair")
        self.assertEqual([(e["pair"], e["tickets"], e["treatment"]) for e in pairs],
                         [(1, ["t1", "t2"], "a"), (2, ["t3", "t4"], "b")])
        self.assertEqual(entries[0], {"time": 0.0, "kind": "open", "session": "S1",
                                      "max_pairs": 3})
        # Each of a pair is sent its own seat with the codes in the link.
        self.assertEqual(sent(messages, tickets[0])[-1],
                         {"type": "seat", "link": link(1, 1, "P1")})
        self.assertEqual(sent(messages, tickets[3])[-1],
                         {"type": "seat", "link": link(2, 2, "P4")})
        # The fifth waits, told since when and for how long.
        self.assertEqual(sent(messages, "t5"),
                         [{"type": "waiting", "since": 5.0, "wait_timeout": 60, "now": 5.0}])
        self.assertEqual(room.counts()["waiting"], 1)

    def test_hidden_or_gone_pages_are_never_paired(self):
        # A page opened hidden is not present: not paired.
        room = new_room()
        hidden = arrive(room, 0.0, "H", visible=False)
        arrive(room, 1.0, "B")
        self.assertEqual(kinds(room.take()[0], "pair"), [])
        # Used while hidden: present for ACTIVE_SECONDS; paired first.
        room.active(2.0, hidden)
        self.assertEqual(kinds(room.take()[0], "pair")[0]["tickets"], [hidden, "t2"])
        # Hidden and idle longer than that: not present again.
        room = new_room()
        hidden = arrive(room, 0.0, "H", visible=False)
        room.active(1.0, hidden)
        room.tick(1.0 + pairing.ACTIVE_SECONDS + 1)
        arrive(room, 40.0, "B")
        self.assertEqual(kinds(room.take()[0], "pair"), [])
        room.presence(41.0, hidden, True)  # shown again
        self.assertEqual(kinds(room.take()[0], "pair")[0]["tickets"], [hidden, "t2"])
        # A closed page is not present however recent its activity.
        room = new_room()
        gone = arrive(room, 0.0, "G")
        room.leave(1.0, gone)
        arrive(room, 2.0, "B")
        self.assertEqual(kinds(room.take()[0], "pair"), [])
        arrive(room, 3.0, "C")
        self.assertEqual(kinds(room.take()[0], "pair")[0]["tickets"], ["t2", "t3"])

    def test_two_pages_of_one_ticket_keep_it_connected(self):
        room = new_room()
        first = arrive(room, 0.0, "A")
        self.assertEqual(arrive(room, 1.0, "A"), first)
        room.leave(2.0, first)
        arrive(room, 3.0, "B")
        self.assertEqual(kinds(room.take()[0], "pair")[0]["tickets"], [first, "t2"])

    def test_wait_timeout_pays_the_fee_with_the_no_partner_code(self):
        room = new_room()
        arrive(room, 0.0, "A")
        room.take()
        room.tick(59.0)
        self.assertEqual(room.take(), ([], []))
        room.tick(60.0)
        entries, messages = room.take()
        self.assertEqual(entries, [{"time": 60.0, "kind": "exit", "ticket": "t1",
                                    "outcome": "waited_out", "fee": "1.00", "code": "NOPE"}])
        self.assertEqual(messages, [("t1", {"type": "exit", "outcome": "waited_out",
                                            "fee": "1.00", "code": "NOPE",
                                            "url": "https://x.test/?c=NOPE&l=A"})])
        # A later arrival is not paired with someone who has left.
        arrive(room, 61.0, "B")
        self.assertEqual(kinds(room.take()[0], "pair"), [])

    def test_cap_and_close_send_everyone_else_home_full(self):
        room = new_room(max_pairs=1)
        for n in range(3):
            arrive(room, float(n), f"P{n}")
        entries, _ = room.take()
        self.assertEqual(len(kinds(entries, "pair")), 1)
        self.assertEqual([(e["ticket"], e["outcome"]) for e in kinds(entries, "exit")],
                         [("t3", "full")])
        late = arrive(room, 9.0, "L")
        entries, messages = room.take()
        self.assertEqual([e["kind"] for e in entries], ["arrive", "exit"])
        self.assertEqual(sent(messages, late)[0]["outcome"], "full")
        room = new_room()
        arrive(room, 0.0, "A")
        room.close(5.0)
        room.close(6.0)  # once only
        entries, messages = room.take()
        self.assertEqual([e["kind"] for e in entries], ["open", "arrive", "close", "exit"])
        self.assertEqual(sent(messages, "t1")[-1]["outcome"], "full")
        arrive(room, 7.0, "B")
        arrive(room, 8.0, "C")
        self.assertEqual(kinds(room.take()[0], "pair"), [])

    def test_returns_by_label_or_by_browser_without_one(self):
        room = new_room()
        a = arrive(room, 0.0, "A", "br1")
        self.assertEqual(room.hello(5.0, "A", "other-browser"), a)
        nolabel = room.hello(6.0, "", "br2")
        self.assertEqual(room.hello(7.0, "", "br2"), nolabel)
        self.assertNotEqual(room.hello(8.0, "", "br3"), nolabel)
        self.assertNotEqual(room.hello(9.0, "B", "br2"), nolabel)
        self.assertEqual(len(kinds(room.take()[0], "arrive")), 4)
        # A paired participant who returns is sent their seat again.
        room = new_room()
        arrive(room, 0.0, "A")
        arrive(room, 1.0, "B")
        room.leave(2.0, "t1")
        room.take()
        self.assertEqual(room.hello(3.0, "A", "new"), "t1")
        self.assertEqual(room.take()[1], [("t1", {"type": "seat", "link": link(1, 1, "A")})])

    def test_a_finished_game_is_told_with_the_completion_code(self):
        room = new_room()
        arrive(room, 0.0, "A")
        arrive(room, 1.0, "B")
        room.leave(2.0, "t2")
        room.take()
        room.game_over(1)
        finished = {"type": "finished", "code": "DONE", "url": "https://x.test/?c=DONE&l=A"}
        self.assertEqual(room.take()[1], [("t1", finished)])
        room.hello(3.0, "B", "x")
        self.assertEqual(room.take()[1][0][1]["type"], "finished")
        room = new_room(treatments=None)
        room.settings.completion_code = room.settings.completion_url = None
        room.settings.no_partner_code = None
        arrive(room, 0.0, "A")
        room.close(1.0)
        # Unset code and address are left out.
        self.assertEqual(room.take()[1][-1], ("t1", {"type": "exit", "outcome": "full",
                                                     "fee": "1.00"}))

    def test_the_room_is_rebuilt_from_its_log(self):
        room = new_room()
        arrive(room, 0.0, "A")
        arrive(room, 1.0, "B")
        arrive(room, 2.0, "C")
        room.leave(2.5, "t3")
        arrive(room, 3.0, "", "lone-browser")
        room.tick(63.0)  # C and the one without a label wait out
        log = room.take()[0]
        again = pairing.replay(new_room(), log[1:])
        self.assertEqual(again.counts(), room.counts())
        self.assertEqual(again.counts(), {"arrived": 4, "waiting": 0, "paired": 2, "exits": 2,
                                          "pairs": 1, "closed": False})
        again.take()
        # Returns are known after the rebuild, by label and by browser.
        self.assertEqual(again.hello(70.0, "A", "z"), "t1")
        self.assertEqual(again.hello(71.0, "", "lone-browser"), "t4")
        self.assertEqual([m["type"] for _, m in again.take()[1]], ["seat", "exit"])
        # New arrivals take the next ticket and the next pair.
        arrive(again, 72.0, "D")
        arrive(again, 73.0, "E")
        entries = again.take()[0]
        self.assertEqual(kinds(entries, "pair")[0]["pair"], 2)
        self.assertEqual(kinds(entries, "pair")[0]["tickets"], ["t5", "t6"])
        self.assertEqual(pairing.counts_of(log + entries)["pairs"], 2)
        closed = pairing.replay(new_room(), log + [{"time": 80.0, "kind": "close"}])
        self.assertTrue(closed.full())


class RoomLogTest(unittest.TestCase):
    def test_append_and_read_whole_lines_incrementally(self):
        folder = tempfile.mkdtemp(prefix="wexlab-room-")
        self.addCleanup(shutil.rmtree, folder)
        self.assertEqual(room_log.read_from(folder), ([], 0))
        room_log.append(folder, [{"kind": "open", "time": 1.0}])
        entries, offset = room_log.read_from(folder)
        self.assertEqual(entries, [{"kind": "open", "time": 1.0}])
        room_log.append(folder, [{"kind": "arrive", "ticket": "t1"},
                                 {"kind": "arrive", "ticket": "t2"}])
        with open(room_log.path(folder), "a") as f:
            f.write('{"kind": "pair"')  # being written, or torn by a crash
        entries, offset2 = room_log.read_from(folder, offset)
        self.assertEqual([e["ticket"] for e in entries], ["t1", "t2"])
        # The next append starts a line of its own; the torn one is skipped.
        room_log.append(folder, [{"kind": "close"}])
        entries, _ = room_log.read_from(folder, offset2)
        self.assertEqual(entries, [{"kind": "close"}])
        self.assertEqual([e["kind"] for e in room_log.read(folder)],
                         ["open", "arrive", "arrive", "close"])
        with open(room_log.path(folder)) as f:
            self.assertEqual(json.loads(f.readline()), {"kind": "open", "time": 1.0})


if __name__ == "__main__":
    unittest.main()
