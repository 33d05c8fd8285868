#!/usr/bin/python3
"""End-to-end test of a subject's game panel in headless Chromium: a lab
server of its own (Prosody, set up by wexlab's code, no bots running), a
slixmpp client signed on as the pair's bot that sends the seats the bot's
kind of messages with their game state, and the pages read from the DOM.

ann, live: round 1's question and its range; a hint for a number out of
range, which is sent all the same; a closed round's result with a deadline
that allows more time: the countdown, the warning 20 s before it, "More
time" sending `more time` once; the end screen of a completed game with the
payout and the entry closed. axe-core finds nothing on the panel nor on the
end screen. ben, from the archive: a stopped game told by a message without
a body shows its end screen and no empty line; once the server stops, the
page neither tries again nor shows the reconnecting bar. Screenshots at
1400 and 360 px wide go to --shots (the test's folder by default, kept
with --keep)."""

import argparse
import asyncio
import datetime
import importlib.util
import os
import re
import shutil
import sys
import threading
import time
from xml.etree import ElementTree

from harness import (Failure, axe_violations, check, load_wexlab,  # noqa: E402
                     one_pair_session, run_in_folder, wait_for, wait_for_state)

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
GAME = "urn:wex:game:1"
ASK_EXPECTATION = ("Current round: {round}\n"
                   "When you are ready, please tell me how much you think your partner will invest:")
# What the page shows of the panel, the entry and the status line.
PAGE_STATE = """
const panel = document.getElementById('panel');
const part = (selector) => { const e = panel.querySelector(selector); return e ? e.textContent : null; };
const more = panel.querySelector('.more');
const timer = panel.querySelector('.timer');
const hint = document.getElementById('hint');
const entry = document.getElementById('entry');
const status = document.getElementById('status');
return {panel: panel.hidden ? null : panel.textContent, ended: panel.classList.contains('ended'),
        head: part('.head'), tail: part('.tail'),
        timer: timer && !timer.hidden ? timer.textContent : null,
        warning: part('.warning'), more: Boolean(more && !more.hidden),
        hint: hint.hidden ? null : hint.textContent,
        describedBy: entry.getAttribute('aria-describedby'),
        entryClosed: entry.disabled, sendClosed: document.getElementById('send').disabled,
        status: status.hidden ? null : status.className, focused: document.activeElement.tagName};
"""


class FakeBot:
    """The pair's bot account signed on from a slixmpp client on a thread of
    its own: sends the subjects texts with a game state and keeps what they
    send."""

    def __init__(self, lab, name):
        from wexlab.runtime import xmpp
        self.lab = lab
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.client = xmpp.Client(lab, name, lab.accounts[name].password, "bot")
        self.received = []  # (sender's account, text)
        self.client.add_event_handler("message", self._message)

    def _message(self, msg):
        if msg["body"]:
            self.received.append((msg["from"].user, msg["body"]))

    def start(self):
        self.thread.start()
        asyncio.run_coroutine_threadsafe(self.client.online(30), self.loop).result(40)

    def send(self, to, body, **state):
        """A chat message to `to` with the game element of `state` (names
        with _ for -); without a body it asks the archive to keep it."""
        def build():
            msg = self.client.Message(sto=f"{to}@{self.lab.domain}", stype="chat")
            if body is not None:
                msg["body"] = body
            attributes = {name.replace("_", "-"): str(value) for name, value in state.items()}
            msg.xml.append(ElementTree.Element(f"{{{GAME}}}game", attributes))
            if body is None:
                msg.xml.append(ElementTree.Element("{urn:xmpp:hints}store"))
            msg.send()
        self.loop.call_soon_threadsafe(build)

    def stop(self):
        try:
            asyncio.run_coroutine_threadsafe(self.client.close(), self.loop).result(20)
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)


def utc_in(seconds):
    moment = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=seconds)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


class Page:
    """One subject's seat in Chromium, and where its screenshots go."""

    def __init__(self, seat, shots):
        self.seat = seat
        self.driver = seat.driver
        self.shots = shots

    def state(self):
        return self.driver.execute_script(PAGE_STATE)

    def until(self, what, test, timeout=20):
        """Waits until test(state) holds; fails with the last state seen."""
        return wait_for_state(what, self.state, test, timeout)

    def type(self, text):
        from selenium.webdriver.common.by import By
        entry = self.driver.find_element(By.ID, "entry")
        entry.clear()
        entry.send_keys(text)

    def look(self, name, where):
        """At 1400 and at 360 px wide: a screenshot, and axe-core finding
        nothing. The window is wide again after."""
        for width, height in ((1400, 900), (360, 740)):
            self.driver.set_window_size(width, height)
            time.sleep(0.3)
            self.driver.save_screenshot(os.path.join(self.shots, f"{name}-{width}.png"))
            found = axe_violations(self.driver)
            check(not found, f"axe-core on {where} at {width} px: {found}")
        self.driver.set_window_size(1400, 900)


def play_ann(page, bot):
    """ann's game, live: round 1, the hint, a closed round with a deadline
    and more time, the end screen."""
    bot.send("ann", ASK_EXPECTATION.format(round=1), round=1, rounds=10, phase="expectation",
             owed="expectation", min=0, max=60, credits="0.00", bonus_in=4)
    state = page.until("round 1 in the panel", lambda s: s["head"] and "Round 1 of 10" in s["head"])
    check("Your expectation: how much will the other player invest? A whole number from 0 to 60."
          in state["head"], f"round 1 asks {state['head']!r}")
    check("Your credits so far: 0.00" in state["tail"] and "Next bonus in 4 rounds." in
          state["tail"], f"round 1's panel: {state['tail']!r}")
    check(state["timer"] is None, f"a countdown without a deadline: {state['timer']!r}")

    # A number out of range: hinted at once, described to the entry, sent anyway.
    page.type("61")
    state = page.until("the hint", lambda s: s["hint"])
    check(state["hint"] == "Please enter a whole number from 0 to 60." and
          state["describedBy"] == "hint", f"the hint: {state}")
    page.type("60")
    page.until("no hint for 60", lambda s: s["hint"] is None and s["describedBy"] is None)
    page.type("2.5\n")
    wait_for("the bot to receive 2.5", lambda: ("ann", "2.5") in bot.received)
    page.until("no hint once sent", lambda s: s["hint"] is None)

    # A closed round: its result, and the next question under a deadline
    # that a subject may extend once.
    bot.send("ann", "Round 1 Earnings: 61.50\nRounds until next bonus: 3\n" +
             ASK_EXPECTATION.format(round=2), round=2, rounds=10, phase="expectation",
             owed="expectation", min=0, max=60, last_round=1, last_own=20, last_partner=35,
             last_earnings="61.50", credits="61.50", bonus_in=3, deadline=utc_in(23),
             deadline_seconds=23, extend=30)
    state = page.until("round 2 with its countdown", lambda s: s["timer"] and
                       "Round 2 of 10" in (s["head"] or ""))
    for line in ("Result of round 1", "You invested: 20", "Your partner invested: 35",
                 "Your earnings: 61.50", "Your credits so far: 61.50", "Next bonus in 3 rounds."):
        check(line in state["tail"], f"round 2's panel lacks {line!r}: {state['tail']!r}")
    left = int(re.fullmatch(r"Time left to answer: 0:(\d\d)", state["timer"]).group(1))
    check(15 < left <= 23, f"the countdown shows {state['timer']!r}")
    check(not state["more"] and not state["warning"], f"warned early: {state}")
    state = page.until("the warning", lambda s: s["warning"], 10)
    check(state["warning"] == "Less than 20 seconds left to answer. You can ask once for 30 "
          "more seconds." and state["more"], f"the warning: {state}")
    page.look("panel-warning", "the panel with a countdown and its warning")

    from selenium.webdriver.common.by import By
    page.driver.find_element(By.CSS_SELECTOR, "#panel .more").click()
    wait_for("the bot to receive more time", lambda: ("ann", "more time") in bot.received)
    page.until("the button gone", lambda s: not s["more"])
    bot.send("ann", "Extended: you have 30 more seconds.", round=2, rounds=10,
             phase="expectation", owed="expectation", min=0, max=60, last_round=1, last_own=20,
             last_partner=35, last_earnings="61.50", credits="61.50", bonus_in=3,
             deadline=utc_in(45), deadline_seconds=45)
    state = page.until("the extended countdown", lambda s: s["timer"] and not s["warning"] and
                       int(s["timer"].rsplit(":", 1)[1]) > 30)
    check(not state["more"], f"more time offered twice: {state}")
    check(bot.received.count(("ann", "more time")) == 1, f"the bot got {bot.received}")

    # A break: its countdown, and words are never hinted.
    bot.send("ann", "Time for a break: chat with your partner, type 'done' when finished.",
             round=5, rounds=10, phase="break", owed="done", min=0, max=60, last_round=5,
             last_own=30, last_partner=30, last_earnings="60.00", last_bonus="50.00",
             credits="350.00", bonus_in=5, break_ends=utc_in(300), break_seconds=300)
    state = page.until("the break", lambda s: s["timer"] and "Break" in s["timer"])
    check("Break: chat with the other player. Type done when you have finished chatting." in
          state["head"] and "Your bonus: 50.00" in state["tail"], f"the break: {state}")
    check(re.fullmatch(r"Break time left: (5:00|4:5\d)", state["timer"]), f"the break: {state}")
    page.type("61 or 2.5?")
    time.sleep(0.3)
    check(page.state()["hint"] is None, "words in a break were hinted")
    page.look("break", "the panel in a break")
    page.type("")

    # The end of a completed game.
    bot.send("ann", "The game is over, we will now stop the game. Thank you for taking part!",
             round=10, rounds=10, phase="over", owed="none", credits="412.66",
             final_credits="412.66", payout="14.13", ended="completed")
    state = page.until("the end screen", lambda s: s["ended"])
    check(state["panel"] == "The game is overYour final credits: 412.66Your payout: $14.13"
          "You may now close this window.", f"the end screen: {state['panel']!r}")
    check(state["entryClosed"] and state["sendClosed"], f"the entry is open: {state}")
    check(state["status"] is None and state["focused"] == "H2", f"after the end: {state}")
    check(state["hint"] is None and state["timer"] is None, f"after the end: {state}")
    page.look("end", "the end screen")


def run_ben(page, bot, link, chat):
    """ben's game was stopped while his page was closed: the message with
    the state alone, from the archive, ends it; then the server stops."""
    bot.send("ben", ASK_EXPECTATION.format(round=1), round=1, rounds=10, phase="expectation",
             owed="expectation", min=0, max=60, credits="0.00", bonus_in=4)
    bot.send("ben", None, round=1, rounds=10, phase="over", owed="none", credits="0.00",
             ended="stopped")
    time.sleep(1)  # both archived before the page reads the archive
    page.seat.open(link)
    state = page.until("ben's end screen", lambda s: s["ended"], 30)
    check(state["panel"] == "The game is overThe game was stopped, and no payouts are made for "
          "it. Please ask the experimenter.", f"ben's end screen: {state['panel']!r}")
    check(state["entryClosed"], "ben's entry is open")
    texts = [text for kind, text in page.seat.messages(chat)]
    check(texts == [ASK_EXPECTATION.format(round=1)], f"ben's chat shows {texts}")
    page.look("stopped", "the end screen of a stopped game")
    return state


def sockets(seat):
    return [url for url in seat.requests() if url.startswith("ws")]


def run(args, root):
    load_wexlab(args.wexlab)
    from wexlab.model import plan, session_file
    from wexlab.rehearsal import browser
    from wexlab.runtime import bot_check
    from wexlab.servers import server
    from wexlab.web import seats
    shots = args.shots or root
    os.makedirs(shots, exist_ok=True)
    path = os.path.join(root, "session.conf")
    text = one_pair_session()
    lab = plan.new_lab(session_file.parse_session(text, path, bot_check.key_table(args.bot)),
                       None)
    lab_server = server.for_lab(lab, root)
    lab_server.set_up(False)
    lab_server.start()
    bot, seat = None, None
    try:
        pair = lab.pairs[0]
        bot = FakeBot(lab, pair.bot)
        bot.start()
        try:
            seat = browser.Seat()
        except browser.BrowserError as e:
            raise Failure(str(e))
        page = Page(seat, shots)
        page.driver.set_window_size(1400, 900)
        ann = pair.subject1 if pair.subject1 == "ann" else pair.subject2
        ben = pair.subject2 if ann == pair.subject1 else pair.subject1
        seat.open(seats.link(lab, ann))
        page.until("ann's seat ready", lambda s: not s["entryClosed"], 30)
        play_ann(page, bot)
        run_ben(page, bot, seats.link(lab, ben), pair.bot)
        tried = len(sockets(seat))
        lab_server.stop()
        time.sleep(4)  # a page that signed in again would have tried twice by now
        state = page.state()
        check(state["status"] is None, f"a status line after the server stopped: {state}")
        check(len(sockets(seat)) == tried, f"the page tried again: {sockets(seat)[tried:]}")
        print(f"screenshots in {shots}")
    finally:
        if seat:
            seat.close()
        if bot:
            bot.stop()
        lab_server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--shots", help="the folder for the screenshots")
    parser.add_argument("--keep", action="store_true", help="keep the test's folder")
    args = parser.parse_args()
    args.wexlab, args.bot = os.path.abspath(args.wexlab), os.path.abspath(args.bot)
    missing = [m for m in ("selenium", "slixmpp") if importlib.util.find_spec(m) is None]
    missing += [p for p in ("prosody", "prosodyctl", "chromium", "chromedriver")
                if not shutil.which(p)]
    if not os.path.exists(os.path.join(HERE, "..", "..", "web", "node_modules", "axe-core")):
        missing.append("web/node_modules (scripts/install-deps.sh)")
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return SKIP
    if run_in_folder("panel-e2e-", lambda root: run(args, root), args.keep):
        return 1
    print("panel e2e: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
