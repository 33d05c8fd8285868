#!/usr/bin/python3
"""Unit tests of the desk's state: what journal, transcript and
supervisor.log lines make of a pair (round, phase, who owes what, presence,
the break's chat, restarts), the alerts they raise, and the status table
built from a session folder."""

import json
import os
import shutil
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import wexlab_loader  # noqa: E402

wexlab_loader.load()

from wexlab.data import report, report_summary  # noqa: E402
from wexlab.model import record as lab_file  # noqa: E402
from wexlab.model import bot_config, pair_state, session_file, summary  # noqa: E402
from wexlab.runtime import status  # noqa: E402
from fixtures import parse  # noqa: E402

T0 = 1_800_000_000
PAIR = {"index": 2, "bot": "pair02", "subject1": "ann", "subject2": "bob", "nrounds": 4}
RUNNING = {"running": True}


def journal_line(kind, t, **keys):
    text = json.dumps(dict({"kind": kind, "t": t}, **keys), separators=(",", ":"))
    return f"{zlib.crc32(text.encode()):08x} {text}\n"


def start(t=T0):
    return journal_line("start", t, BotUsername="pair02", Subject1Name="ann",
                        Subject2Name="bob", ModeratorName="mod", NRounds=4,
                        MaxChatTime=300, MaxChatIdle=60)


def joined(t=T0 + 5):
    return [journal_line("join", t, subject=1, round=0),
            journal_line("join", t + 1, subject=2, round=1)]


def answers(round_, t, subject=1, expectation=10, investment=20):
    return [journal_line("answer", t, subject=subject, what="expectation", value=expectation,
                         round=round_),
            journal_line("answer", t + 1, subject=subject, what="investment", value=investment,
                         round=round_)]


def transcript_line(t, name, tag, text):
    stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(t))
    return f"{stamp} {name:<13} {tag} {text}\n"


def state(journal, transcript=(), supervisor=(), bot=RUNNING, answer=None, now=T0 + 100):
    entries = pair_state.journal_entries(journal)
    events = pair_state.transcript_events(transcript)
    return pair_state.pair_state(PAIR, entries, events,
                                 pair_state.supervisor_events(supervisor, "pair02"), bot,
                                 answer, now)


class JournalTest(unittest.TestCase):
    def test_phases_from_joining_to_the_report(self):
        s = state([start(), journal_line("join", T0 + 5, subject=1, round=0)])
        self.assertEqual((s["phase"], s["round"], s["nrounds"]), ("joining", 0, 4))
        s = state([start()] + joined())
        self.assertEqual((s["phase"], s["round"], s["rounds_closed"]), ("asking", 1, 0))
        closed = [start()] + joined() + answers(1, T0 + 10) + answers(1, T0 + 12, 2) + [
            journal_line("close", T0 + 14, round=1, total_1=5, total_2=6, **{"break": False})]
        s = state(closed)
        self.assertEqual((s["phase"], s["round"], s["rounds_closed"]), ("asking", 2, 1))
        self.assertEqual(state(closed + [journal_line("stop", T0 + 20, round=2)])["phase"],
                         "ended")
        done = closed + [journal_line("stop", T0 + 20, round=2),
                         journal_line("report", T0 + 21, payout_1=10, payout_2=12)]
        self.assertEqual(state(done)["phase"], "reported")

    def test_who_owes_what_and_since_when(self):
        journal = [start()] + joined() + [
            journal_line("answer", T0 + 30, subject=1, what="expectation", value=3, round=1)]
        ann, bob = state(journal, now=T0 + 50)["subjects"]
        self.assertEqual((ann["owes"], ann["owes_since"]), (["investment"], T0 + 30))
        self.assertEqual((bob["owes"], bob["owes_since"]), (["expectation", "investment"],
                                                            T0 + 6))
        self.assertEqual((ann["last_message_s"], bob["last_message_s"]), (20, 44))

    def test_a_break_shows_its_time_left_and_its_chat_and_nobody_owes(self):
        journal = [start()] + joined() + answers(1, T0 + 10) + answers(1, T0 + 12, 2) + [
            journal_line("close", T0 + 14, round=1, **{"break": True})] + [
            journal_line("chat", T0 + 20 + i, round=1, subject=1 + i % 2, text=f"line {i}")
            for i in range(8)]
        s = state(journal, now=T0 + 64)
        self.assertEqual((s["phase"], s["break_left_s"]), ("break", 250))
        self.assertEqual([c["text"] for c in s["chat"]], [f"line {i}" for i in range(2, 8)])
        self.assertEqual(s["chat"][-1]["name"], "bob")
        self.assertTrue(all(x["owes"] == [] for x in s["subjects"]))
        after = state(journal + [journal_line("break_end", T0 + 70, round=2, how="done")],
                      now=T0 + 80)
        self.assertEqual((after["phase"], after["chat"], after["break_left_s"]),
                         ("asking", [], None))
        self.assertEqual(after["subjects"][0]["owes_since"], T0 + 70)

    def test_the_chat_shows_controls_as_the_transcript_does(self):
        journal = [start()] + joined() + answers(1, T0 + 10) + answers(1, T0 + 12, 2) + [
            journal_line("close", T0 + 14, round=1, **{"break": True}),
            journal_line("chat", T0 + 20, round=1, subject=1, text="see photo\u202egnp.exe"),
            journal_line("chat", T0 + 21, round=1, subject=2, text="a\nbob: forged\x1b[2J")]
        s = state(journal, now=T0 + 30)
        self.assertEqual([c["text"] for c in s["chat"]],
                         ["see photo\\u{202E}gnp.exe", "a\\nbob: forged\\u{001B}[2J"])

    def test_investments_per_round_for_the_chart(self):
        journal = [start()] + joined()
        for r in (1, 2, 3):
            journal += answers(r, T0 + 10 * r, 1, investment=r * 5)
            journal += answers(r, T0 + 10 * r + 2, 2, investment=r * 7)
            journal.append(journal_line("close", T0 + 10 * r + 4, round=r, **{"break": False}))
        ann, bob = state(journal)["subjects"]
        self.assertEqual((ann["investments"], bob["investments"]), ([5, 10, 15], [7, 14, 21]))

    def test_a_torn_or_damaged_line_is_left_out(self):
        good = [start()] + joined()
        damaged = good + ["00000000 " + good[-1].split(" ", 1)[1], good[-1][:-10]]
        self.assertEqual(len(pair_state.journal_entries(damaged)), 3)
        self.assertEqual(state(damaged)["round"], 1)


class ElsewhereTest(unittest.TestCase):
    """A pair whose bot runs on another machine: its files are not here, so
    its row comes from the bot's last ? answer."""

    ANSWER = ("Status: round 3 of 4.\nann: in the break, said done; online; last message 8 s "
              "ago.\nbob: in the break; offline; no message yet.\nBreak: 40 s left.\n"
              "Ended by e: no.")

    def test_the_answer_gives_round_phase_and_subjects(self):
        s = state([], bot={"elsewhere": True}, answer={"t": T0 + 90, "text": self.ANSWER})
        self.assertEqual((s["round"], s["rounds_closed"], s["phase"], s["break_left_s"],
                          s["bot_state"]), (3, 2, "break", 30, "elsewhere"))
        ann, bob = s["subjects"]
        self.assertEqual((ann["name"], ann["online"], ann["last_message_s"], ann["owes"]),
                         ("ann", True, 18, []))
        self.assertEqual((bob["online"], bob["last_message_s"]), (False, None))
        asking = ("Status: round 2 of 4.\nann: owes the investment; online; last message 1 s "
                  "ago.\nbob: has answered this round; presence not known; last message 3 s "
                  "ago.\nBreak: none.\nEnded by e: yes.")
        s = state([], bot={"elsewhere": True}, answer={"t": T0 + 100, "text": asking})
        self.assertEqual((s["round"], s["phase"]), (2, "ended"))
        self.assertEqual([x["owes"] for x in s["subjects"]], [["investment"], []])
        over = "Status: game over after round 4; payouts sent.\nBreak: none.\nEnded by e: no."
        s = state([], bot={"elsewhere": True}, answer={"t": T0 + 100, "text": over})
        self.assertEqual((s["round"], s["rounds_closed"], s["phase"]), (4, 4, "reported"))

    def test_an_answer_in_german_reads_as_in_english(self):
        # The same answers as the bot gives them with Language de.
        german = {
            self.ANSWER: "Status: Runde 3 von 4.\nann: in der Pause, hat done gesagt; online; "
                         "letzte Nachricht vor 8 s.\nbob: in der Pause; offline; noch keine "
                         "Nachricht.\nPause: noch 40 s.\nMit e beendet: nein.",
            "Status: round 2 of 4.\nann: owes the investment; online; last message 1 s ago.\n"
            "bob: owes the expectation and the investment; presence not known; last message 3 s "
            "ago.\nBreak: none.\nEnded by e: yes.":
                "Status: Runde 2 von 4.\nann: schuldet die Investition; online; letzte "
                "Nachricht vor 1 s.\nbob: schuldet die Erwartung und die Investition; "
                "Anwesenheit unbekannt; letzte Nachricht vor 3 s.\nPause: keine.\nMit e "
                "beendet: ja.",
            "Status: game over after round 4; payouts sent.\nBreak: none.\nEnded by e: no.":
                "Status: Spiel nach Runde 4 beendet; Auszahlungen gesendet.\nPause: keine.\n"
                "Mit e beendet: nein."}
        def read(text):
            found = state([], bot={"elsewhere": True}, answer={"t": T0 + 90, "text": text})
            del found["answer"]  # the text itself
            return found
        for english, text in german.items():
            expected = read(english)
            self.assertEqual(read(text), expected)
            self.assertNotEqual(expected["phase"], "joining")
        asking = read(list(german.values())[1])
        self.assertEqual([x["owes"] for x in asking["subjects"]],
                         [["investment"], ["expectation", "investment"]])
        self.assertEqual([x["online"] for x in asking["subjects"]], [True, None])

    def test_a_local_journal_wins_over_an_answer(self):
        s = state([start()] + joined(), bot={"elsewhere": True},
                  answer={"t": T0 + 90, "text": self.ANSWER})
        self.assertEqual((s["round"], s["phase"]), (1, "asking"))


class TranscriptTest(unittest.TestCase):
    def test_presence_lines_make_online_and_since(self):
        journal = [start()] + joined()
        lines = [transcript_line(T0 + 5, "ann", "RECV", "hi"),
                 transcript_line(T0 + 40, "bob", "PRES", "went offline")]
        ann, bob = state(journal, lines)["subjects"]
        self.assertEqual((ann["online"], bob["online"], bob["since"]), (True, False, T0 + 40))
        back = lines + [transcript_line(T0 + 90, "bob", "PRES", "is back")]
        self.assertEqual(state(journal, back)["subjects"][1]["online"], True)
        again = [transcript_line(T0 + 95, "ann", "PRES", "signed on again")]
        ann = state(journal, lines + again)["subjects"][0]
        self.assertEqual((ann["online"], ann["since"]), (True, T0 + 95))
        # No line of a subject: its presence is not known.
        self.assertIsNone(state(journal)["subjects"][1]["online"])

    def test_burst_lines_count_changes_and_leave_presence_alone(self):
        journal = [start()] + joined()
        lines = [transcript_line(T0 + 40, "bob", "PRES", "went offline"),
                 transcript_line(T0 + 50, "bob", "PRES", "presence changed 400 times in 3 s"),
                 transcript_line(T0 + 70, "bob", "PRES", "presence changed 7 times in 3 s"),
                 transcript_line(T0 + 70, "bob", "PRES", "is back")]
        ann, bob = state(journal, lines[:2])["subjects"]
        self.assertEqual((bob["online"], bob["since"], bob["presence_changes"]),
                         (False, T0 + 40, 400))
        self.assertEqual(ann["presence_changes"], 0)
        bob = state(journal, lines)["subjects"][1]
        self.assertEqual((bob["online"], bob["since"], bob["presence_changes"]),
                         (True, T0 + 70, 407))

    def test_err_lines_become_errors_and_alerts(self):
        lines = [transcript_line(T0 + 30, "bob", "ERR", "send failed: not connected")]
        s = state([start()] + joined(), lines)
        self.assertEqual(s["errors"], [{"t": T0 + 30, "text": "bob: send failed: not connected"}])
        found = summary.alerts([s], T0 + 40, 60, 120)
        self.assertEqual([a["text"] for a in found],
                         ["pair02: bob: send failed: not connected"])


class AlertTest(unittest.TestCase):
    def test_offline_longer_than_the_limit_raises_an_alert(self):
        lines = [transcript_line(T0 + 40, "bob", "PRES", "went offline")]
        journal = [start()] + joined() + answers(1, T0 + 39) + answers(1, T0 + 39, 2)
        s = state(journal, lines, now=T0 + 100)
        self.assertEqual(summary.alerts([s], T0 + 100, 60, 120), [])
        s = state(journal, lines, now=T0 + 101)
        found = summary.alerts([s], T0 + 101, 60, 120)
        self.assertEqual(len(found), 1)
        self.assertIn("bob (pair 2) offline for 61 s", found[0]["text"])
        # The same cause keeps its id, so a dismissal holds.
        later = summary.alerts([state(journal, lines, now=T0 + 150)], T0 + 150, 60, 120)
        self.assertEqual(later[0]["id"], found[0]["id"])

    def test_an_answer_owed_too_long_raises_a_stall_alert(self):
        journal = [start()] + joined() + answers(1, T0 + 10)
        found = summary.alerts([state(journal, now=T0 + 200)], T0 + 200, 60, 120)
        self.assertEqual([a["text"] for a in found],
                         ["bob (pair 2) has owed the expectation for 194 s"])
        self.assertEqual(summary.alerts([state(journal, now=T0 + 100)], T0 + 100, 60, 120), [])

    def test_restarts_given_up_and_an_unreachable_server(self):
        stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(T0 + 50))
        log = [f"{stamp} pair02: bot started (pid 5, wexbot.conf)\n",
               f"{stamp} pair02's bot was killed by SIGKILL and has been restarted; it resumes "
               "the pair's game.\n",
               f"{stamp} pair03's bot exited with status 1 and has been restarted; ...\n"]
        s = state([start()] + joined(), supervisor=log,
                  bot={"running": False, "given_up": True})
        self.assertEqual((s["restarts"], s["bot_state"]), (1, "given up"))
        texts = [a["text"] for a in summary.alerts([s], T0 + 60, 60, 120, server_up=False)]
        self.assertEqual(texts[0], "the lab server is unreachable: wexlab resume starts it again")
        self.assertIn("pair02's bot was restarted", texts)
        self.assertIn("pair02's bot keeps stopping and is no longer restarted", texts)

    def test_a_seat_opened_again_is_one_alert_of_its_pair(self):
        stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(T0 + 50))
        told = ("pair02's subject ann opened the seat in another window; the older window "
                "was closed.")
        log = [f"{stamp} pair02: bot started (pid 5, wexbot.conf)\n",
               f"{stamp} {told}\n",
               f"{stamp} pair03's subject cy opened the seat in another window; ...\n"]
        s = state([start()] + joined(), supervisor=log)
        self.assertEqual(s["reopened"], [{"t": T0 + 50, "text": told}])
        self.assertEqual((s["restarts"], s["bot_state"]), (0, "running"))
        found = summary.alerts([s], T0 + 60, 60, 120)
        self.assertEqual([(a["text"], a["pair"]) for a in found], [(told, 2)])
        # The same line keeps its alert's id, so a dismissal holds.
        self.assertEqual(found[0]["id"], summary.alerts([s], T0 + 90, 60, 120)[0]["id"])

    def test_a_finished_pair_raises_no_presence_or_stall_alert(self):
        lines = [transcript_line(T0 + 40, "bob", "PRES", "went offline")]
        journal = [start()] + joined() + [journal_line("stop", T0 + 41, round=1)]
        s = state(journal, lines, now=T0 + 1000)
        self.assertEqual((s["phase"], s["ended"], s["stopped_at"]), ("ended", "stopped", T0 + 41))
        # Only the stop itself: nobody in the pair will be paid.
        found = summary.alerts([s], T0 + 1000, 60, 120)
        self.assertEqual([(a["id"], a["t"], a["text"]) for a in found], [
            ("stopped:2", T0 + 41, "pair 2 (pair02) was stopped without payouts: nobody in "
             "it (ann and bob) will be paid")])
        paid = state(journal + [journal_line("report", T0 + 42, payout_1=10, payout_2=12)],
                     lines, now=T0 + 1000)
        self.assertEqual((paid["phase"], paid["ended"]), ("reported", "paid_now"))
        self.assertEqual(summary.alerts([paid], T0 + 1000, 60, 120), [])


class FolderTest(unittest.TestCase):
    """status.build over a session folder as the bots leave it."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="desk-state-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.lab = lab_file.from_json({"log_file": "lab", "rounds": 4, "seed": 1, "pairs": [
            {"index": 1, "bot": "pair01", "subject1": "cy", "subject2": "dee"},
            {key: PAIR[key] for key in ("index", "bot", "subject1", "subject2")}]})
        for pair in self.lab.pairs:
            os.makedirs(os.path.join(self.folder, pair.bot))

    def write(self, path, lines):
        with open(os.path.join(self.folder, path), "w", encoding="utf-8") as f:
            f.writelines(lines)

    def test_the_table_and_the_session_line_agree_with_the_journals(self):
        self.write("pair02/lab_20261207_100000.journal",
                   [start()] + joined() + answers(1, T0 + 10) + [
                       journal_line("close", T0 + 14, round=1, **{"break": False})])
        self.write("pair02/lab_20261207_100000.log",
                   [transcript_line(T0 + 20, "bob", "PRES", "went offline")])
        self.write("supervisor.log", [time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(T0))
                                      + " supervisor of pairs 1, 2 (pid 1)\n"])
        self.write(status.ANSWERS_FILE, [json.dumps(
            {"pair02": {"t": T0 + 30, "text": "Status: round 2 of 4."}})])
        built = status.build(self.folder, self.lab, now=T0 + 60)
        one, two = built["pairs"]
        self.assertEqual((one["round"], one["phase"]), (0, "joining"))
        self.assertEqual((two["round"], two["rounds_closed"], two["phase"]), (2, 1, "asking"))
        self.assertEqual(two["answer"]["text"], "Status: round 2 of 4.")
        self.assertEqual(built["session"], {"pairs": 2, "finished": 0, "rounds_closed": 1,
                                            "rounds_all": 8, "elapsed_s": 60})
        lines = status.table(built)
        self.assertTrue(lines[0].startswith("0 of 2 pairs finished, 1 of 8 rounds closed"))
        self.assertRegex(lines[1], r"^pair +treatment +round ")
        self.assertRegex(lines[3], r"^pair02 +- +2/4 +asking .*bob OFF owes:exp\+inv")
        # Later bob has been offline too long; once dismissed, that alert
        # is left out while the stall alert stays.
        later = status.build(self.folder, self.lab, now=T0 + 200)["alerts"]
        self.assertEqual([a["id"].split(":")[0] for a in later], ["stall", "offline", "stall"])
        kept = status.build(self.folder, self.lab, now=T0 + 200, dismissed={later[1]["id"]})
        self.assertEqual([a["id"].split(":")[0] for a in kept["alerts"]], ["stall", "stall"])

    def test_the_treatment_column_and_a_question_answered_before_a_close(self):
        """Each pair's treatment is in the state and in status's table; a ?
        answer older than the last close is dropped from its row."""
        self.lab.pairs[0].treatment, self.lab.pairs[1].treatment = "base", "generous"
        self.write("pair02/lab_20261207_100000.journal",
                   [start()] + joined() + answers(1, T0 + 10) + [
                       journal_line("close", T0 + 14, round=1, **{"break": False})])
        self.write(status.ANSWERS_FILE, [json.dumps({
            "pair01": {"t": T0 + 12, "text": "Status: waiting for both."},
            "pair02": {"t": T0 + 12, "text": "Status: round 1 of 4."}})])
        built = status.build(self.folder, self.lab, now=T0 + 60)
        self.assertEqual([p["treatment"] for p in built["pairs"]], ["base", "generous"])
        # pair01 has no close since its answer; pair02's round 1 closed after.
        self.assertEqual([p["answer"] and p["answer"]["text"] for p in built["pairs"]],
                         ["Status: waiting for both.", None])
        lines = status.table(built)
        self.assertRegex(lines[2], r"^pair01 +base +0/4 ")
        self.assertRegex(lines[3], r"^pair02 +generous +2/4 ")
        self.assertEqual(len({line.index("round") for line in lines[1:2]} |
                             {line.index(" 2/4") + 1 for line in lines[3:4]}), 1)


class ReportTopTest(FolderTest):
    """The report's summary, pair lines and incidents from the same files."""

    def test_summary_flags_and_incidents(self):
        closed = [start()] + joined()
        for r in (1, 2):
            closed += answers(r, T0 + 10 * r, 1, investment=10 * r)
            closed += answers(r, T0 + 10 * r + 2, 2, investment=20 * r)
            closed.append(journal_line("close", T0 + 10 * r + 4, round=r, **{"break": False}))
        self.write("pair01/lab_20261207_100000.journal", closed + [
            journal_line("report", T0 + 40, payout_1=10, payout_2=12)])
        self.write("pair02/lab_20261207_100000.journal", closed[:-1 - 4] + [
            journal_line("stop", T0 + 30, round=2)])
        self.write("pair02/lab_20261207_100000.log",
                   [transcript_line(T0 + 25, "bob", "ERR", "send failed")])
        stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(T0 + 28))
        self.write("supervisor.log", [f"{stamp} pair02's bot was killed by SIGKILL and has "
                                      "been restarted; it resumes the pair's game.\n"])
        rounds = [{"pair": p, "round": str(r), "investment": str(v)}
                  for p, r, v in (("1", 1, 10), ("1", 1, 20), ("1", 2, 20), ("1", 2, 40),
                                  ("2", 1, 10), ("2", 1, 20))]
        tables = {"rounds": rounds, "chat": [{"pair": "2", "time": "t", "round": "1",
                                              "from": "ann", "text": "<hi>"}],
                  "payouts": [{"pair": "1", "name": "cy", "payout": "10.00"},
                              {"pair": "1", "name": "dee", "payout": "13.00"}]}
        top = report_summary.render_top(self.folder, self.lab, tables)
        for shown in ("<th>rounds played</th><td class=n>3 of 8</td>",
                      "<th>total payout</th><td class=n>$23.00</td>",
                      "<th>mean payout</th><td class=n>$11.50</td>",
                      "<th>median payout</th><td class=n>$11.50</td>", 'id="mean-investment"'):
            self.assertIn(shown, top)
        self.assertEqual(report_summary.means_per_round(rounds, 4), [15, 30, None, None])
        self.assertIn('<tr data-pair="1"><td>1</td><td>pair01</td><td class=n>2</td>'
                      '<td>cy $10.00, dee $13.00</td><td class="flag"></td></tr>', top)
        self.assertIn('<td class="flag">NO PAYOUTS, stopped without payouts by the moderator, '
                      'incidents</td>',
                      top)
        for incident in ("pair02&#x27;s bot was killed by SIGKILL and has been restarted",
                         "failed: bob: send failed",
                         "the moderator stopped the game in round 2: no payouts"):
            self.assertIn(incident, top)
        page = report.render(self.lab, tables, 4, top, report_summary.render_bottom(
            self.lab, tables))
        self.assertIn("&lt;hi&gt;", page)
        self.assertNotIn("<script", page)
        self.assertNotIn("http", page.replace('xmlns="http://www.w3.org/2000/svg"', ""))


class DeskKeysTest(unittest.TestCase):
    BASE = ("Service xmpp:lab.wex@10.0.0.5:5222;trust=any\nModeratorName mod\nLogFile lab\n"
            "NRounds 2\nConversationInterval 1\nMarketBase 1\nMarketNoiseScale 0\n"
            "MarketNoise 0\nMaxChatTime 60\nMaxChatIdle 30\nSubjects ann bob\nSeed 1\n")

    def test_desk_address_port_and_alert_thresholds(self):
        self.assertEqual(parse(self.BASE).desk_settings(),
                         {"address": "127.0.0.1", "port": 5290, "offline_alert": 60,
                          "stall_alert": 120})
        parsed = parse(self.BASE + "Desk 10.0.0.5:8080\nOfflineAlert 5\n"
                                            "StallAlert 30\n")
        self.assertEqual(parsed.desk_settings(), {"address": "10.0.0.5", "port": 8080,
                                                  "offline_alert": 5, "stall_alert": 30})
        self.assertEqual(parse(self.BASE + "Desk 6000\n")
                         .desk_settings()["port"], 6000)
        for bad, reason in (("Desk 99999", "PORT or ADDRESS:PORT"), ("Desk :80", "address"),
                            ("OfflineAlert 0", "at least 1"), ("DeskName x", "by wexlab"),
                            ("Subjects ann wexdesk", "wexlab gives")):
            text = self.BASE.replace("Subjects ann bob\n", "") if bad.startswith("Subj") \
                else self.BASE
            with self.assertRaises(session_file.SessionError) as caught:
                parse(text + bad + "\n")
            self.assertIn(reason, str(caught.exception))

    def test_every_bot_takes_the_desk_as_a_second_moderator(self):
        parsed = parse(self.BASE)
        self.assertIn("DeskName wexdesk\n", bot_config.bot_config(parsed, "pair01", "ann", "bob"))


if __name__ == "__main__":
    unittest.main()
