#!/usr/bin/python3
"""End-to-end tests of a subject's seat against the real wexbot: a wexlab
session on Prosody, both subjects' pages in headless Chromium, the game
played through the panel.

game: three rounds with a break after round 2, an answer timeout that may
be extended. The instructions show the pair's values, Start joins; the
panel after rounds 1 and 2 shows the investments, earnings and credits of
the session's data (session_rounds.csv); a countdown runs while an answer
is owed; 61 is hinted and the bot refuses it; "More time" gets the bot's
reply and a longer countdown; the break shows its countdown and `done`
ends it; the end screen's payout is session_payouts.csv's and the entry
is closed. axe-core finds nothing on the instructions, the panel and the
end screen.
stopped: `wexlab stop` mid-game: the seat says the session is over and,
the server gone, neither shows the reconnecting bar nor tries again.
german: a short game with `Language de`: the page, the bot's questions
and the end screen in German.
ready: a subject's link to a ready seat with the panel, opened ten times
mid-game: the median is printed, not asserted.

Screenshots go to a folder that is kept (its path is printed), or to
--shots."""

import argparse
import csv
import importlib.util
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from harness import (Failure, axe_violations, check, load_wexlab,  # noqa: E402
                     one_pair_session, wait_for_state)
from panel_e2e import PAGE_STATE  # noqa: E402

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def game_session(rounds, interval, timeout):
    """A one-pair session of a few rounds with short breaks and answer
    timeouts a subject may extend."""
    return one_pair_session(NRounds=rounds, ConversationInterval=interval, MaxChatTime=60,
                            AnswerTimeout=timeout, TimeoutAnswer=30, TimeoutExtend=30,
                            CreditValue="0.01", MaxPayout=30)


# The game's state as the page has it: the newest <game/> it took.
GAME_STATE = "return window.seat.game ? window.seat.game.latest.game : null;"


class Session:
    """A wexlab session under a temporary root and the Chromiums opened on
    it; all gone on close."""

    def __init__(self, args, lib):
        self.args, self.lib = args, lib
        self.root = tempfile.mkdtemp(prefix="wex-e2e-seat-game-")
        os.environ["WEX_DATA_DIR"] = os.path.join(self.root, "data")
        self.seats = []
        self.running = False

    def wexlab(self, *argv, timeout=120):
        done = subprocess.run([sys.executable, self.args.wexlab, *argv], cwd=self.root,
                              env=dict(os.environ), capture_output=True, text=True,
                              timeout=timeout)
        return done.returncode, done.stdout + done.stderr

    def start(self, text):
        with open(os.path.join(self.root, "session.conf"), "w", encoding="utf-8") as f:
            f.write(text)
        self.running = True
        code, out = self.wexlab("start", "session.conf", "--bot", self.args.bot)
        check(code == 0, f"wexlab start failed:\n{out}")
        with open(os.path.join(self.root, "seats.csv"), encoding="utf-8") as f:
            return {row["name"]: row["link"] for row in csv.DictReader(f)}

    def stop(self):
        self.running = False
        code, out = self.wexlab("stop")
        check(code == 0, f"wexlab stop failed:\n{out}")

    def page(self, name):
        try:
            seat = self.lib.browser.Seat()
        except self.lib.browser.BrowserError as e:
            raise Failure(str(e))
        self.seats.append(seat)
        seat.driver.set_window_size(1400, 900)
        return Page(seat, name, self.args.shots)

    def table(self, name):
        with open(os.path.join(self.root, name), encoding="utf-8") as f:
            return list(csv.DictReader(f))

    def close(self, failed):
        for seat in self.seats:
            seat.close()
        if self.running:
            self.wexlab("stop")
        if failed:
            for name in ("supervisor.log", "pair01/console.log"):
                path = os.path.join(self.root, name)
                if os.path.exists(path):
                    with open(path, encoding="utf-8", errors="replace") as f:
                        print(f"--- {name}\n{f.read()[-3000:]}")
        shutil.rmtree(self.root, ignore_errors=True)


class Page:
    """One subject's seat: the panel read from the DOM, the game's state
    from the page, answers typed into the entry."""

    def __init__(self, seat, name, shots):
        self.seat, self.name, self.shots = seat, name, shots
        self.driver = seat.driver
        self.answered = set()  # (round, owed) sent

    def state(self):
        return self.driver.execute_script(PAGE_STATE)

    def game(self):
        return self.driver.execute_script(GAME_STATE) or {}

    def game_and_state(self):
        """Both read at once, so that they belong to the same message."""
        game, state = self.driver.execute_script(
            f"return [(() => {{ {GAME_STATE} }})(), (() => {{ {PAGE_STATE} }})()];")
        return game or {}, state

    def until(self, what, test, timeout=30):
        try:
            return wait_for_state(f"{self.name}: {what}", self.state, test, timeout)
        except Failure as e:
            raise Failure(f"{e}; the game {self.game()}")

    def type(self, text):
        from selenium.webdriver.common.by import By
        entry = self.driver.find_element(By.ID, "entry")
        entry.clear()
        entry.send_keys(text)

    def send(self, text):
        from selenium.webdriver.common.keys import Keys
        self.type(text + Keys.ENTER)

    def theirs(self):
        return [text for kind, text in self.seat.messages("pair01") if kind == "theirs"]

    def answer(self, value):
        """Answers what the bot asks now, once each; `done` in a break.
        Returns what it sent, or None."""
        game = self.game()
        owed = game.get("owed")
        key = (game.get("round"), owed)
        if owed not in ("expectation", "investment", "done") or key in self.answered:
            return None
        self.answered.add(key)
        text = "done" if owed == "done" else str(value)
        self.send(text)
        return text

    def shoot(self, name, axe_where=None, narrow=False):
        """A screenshot at 1400 px (and 360 px wide when narrow); axe-core
        finding nothing at each width when axe_where names the screen."""
        widths = ((1400, 900), (360, 740)) if narrow else ((1400, 900),)
        for width, height in widths:
            self.driver.set_window_size(width, height)
            time.sleep(0.3)  # the layout of the new width
            self.driver.save_screenshot(os.path.join(self.shots, f"{name}-{width}.png"))
            if axe_where:
                found = axe_violations(self.driver)
                check(not found, f"axe-core on {axe_where} at {width} px: {found}")
        self.driver.set_window_size(1400, 900)


def open_both(session, links):
    pages = [session.page("ann"), session.page("ben")]
    for page in pages:
        page.seat.open(links[page.name])
        page.seat.wait(page.seat.before_game, 30, f"{page.name}'s instructions")
    return pages


def press_start(pages):
    for page in pages:
        page.seat.say("pair01", "")  # on the instructions: Start
    for page in pages:
        page.until("round 1 asked", lambda s: page.game().get("owed") == "expectation", 40)


def play(pages, until, seconds, watch=None):
    """Both answer every question (ann 20 and 25, ben 30 and 35) until
    until() holds; watch() is called between steps."""
    deadline = time.monotonic() + seconds
    values = {"ann": 20, "ben": 30}
    while not until():
        check(time.monotonic() < deadline, f"the game did not get on: ann {pages[0].game()}, "
              f"ben {pages[1].game()}")
        for page in pages:
            owed = page.game().get("owed")
            page.answer(values[page.name] + (5 if owed == "investment" else 0))
        if watch:
            watch()
        time.sleep(0.2)


INSTRUCTED = ["3 rounds", "Every 2 rounds", "0.01 dollars per credit",
              "at least 10.00 and at most 30.00"]
REFUSED = ("Invalid input, please enter an integer from 0 to 60.",
           "Valid values are from 0 to 60 credits. You entered: 61")


def seconds_left(timer):
    """The seconds of a countdown's text ("...: 1:05")."""
    minutes, seconds = re.search(r"(\d+):(\d\d)$", timer).groups()
    return 60 * int(minutes) + int(seconds)


def two_decimals(text):
    return f"{float(text):.2f}"


def result_lines(row):
    """The panel's lines of a closed round from its row of the data: the
    panel's earnings include the round's bonus."""
    earnings = float(row["earnings"]) + float(row["bonus"] or 0)
    return [f"Result of round {row['round']}", f"You invested: {row['investment']}",
            f"Your partner invested: {row['partner_investment']}",
            f"Your earnings: {earnings:.2f}",
            f"Your credits so far: {two_decimals(row['total_credits'])}"]


def case_game(session):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    links = session.start(game_session(3, 2, 25))
    ann, ben = open_both(session, links)
    text = ann.driver.execute_script("return document.getElementById('instructions-text')"
                                     ".textContent")
    for phrase in INSTRUCTED:
        check(phrase in text, f"the instructions lack {phrase!r}: {text}")
    ann.shoot("instructions", "the instructions", narrow=True)
    press_start([ann, ben])

    # Round 1: 61 is hinted, sent all the same and refused by the bot.
    ann.type("61")
    state = ann.until("the hint", lambda s: s["hint"])
    check(state["hint"] == "Please enter a whole number from 0 to 60.", f"hint {state}")
    heard = len(ann.theirs())
    ann.driver.find_element(By.ID, "entry").send_keys(Keys.ENTER)  # the 61 typed
    ann.until("the refusal", lambda s: any(r in t for t in ann.theirs()[heard:] for r in REFUSED))
    check(ann.game().get("owed") == "expectation", f"61 was taken: {ann.game()}")

    # A countdown whenever an answer is owed under a deadline; the panel
    # of each closed round kept to compare with the data files.
    panels = {}
    timers = []

    def watch():
        for page in (ann, ben):
            game, state = page.game_and_state()
            if game.get("owed") in ("expectation", "investment"):
                timers.append((game.get("round"), game.get("deadline"), state["timer"]))
            last = game.get("lastRound")
            if last in ("1", "2") and (page.name, last) not in panels:
                panels[(page.name, last)] = state["tail"]
    play([ann, ben], lambda: ann.game().get("round") == "2", 60, watch)

    # Round 2: ann waits for the warning and asks for more time.
    ann.until("round 2's countdown", lambda s: s["timer"] and
              s["timer"].startswith("Time left to answer"), 20)
    ann.shoot("panel-countdown", "the panel with a countdown", narrow=True)
    state = ann.until("the warning", lambda s: s["more"], 30)
    before = seconds_left(state["timer"])
    heard = len(ann.theirs())
    ann.driver.find_element(By.CSS_SELECTOR, "#panel .more").click()
    ann.until("the bot's extension", lambda s: any(
        "Extended: you have 30 more seconds." in t for t in ann.theirs()[heard:]), 20)
    state = ann.until("the longer countdown", lambda s: s["timer"] and
                      seconds_left(s["timer"]) > before + 20, 10)
    check(not state["more"], f"more time offered again: {state}")

    # Round 2 ends in a break: its countdown, then done from both.
    play([ann, ben], lambda: ann.game().get("phase") == "break", 60, watch)
    state = ann.until("the break's countdown", lambda s: s["timer"] and
                      s["timer"].startswith("Break time left: "), 10)
    check(re.fullmatch(r"Break time left: (1:00|0:[0-5]\d)", state["timer"]),
          f"the break's countdown {state['timer']!r}")
    ann.shoot("break", "the panel in a break")
    play([ann, ben], lambda: ann.game().get("round") == "3" and
         ann.game().get("phase") != "break", 60, watch)

    play([ann, ben], lambda: ann.state()["ended"] and ben.state()["ended"], 90, watch)
    ends = {page.name: page.state() for page in (ann, ben)}
    check(all(s["entryClosed"] and s["sendClosed"] for s in ends.values()),
          f"an entry is open at the end: {ends}")
    ann.shoot("end", "the end screen", narrow=True)
    # Every answer is owed under a deadline here (TimeoutAnswer is a number).
    check(len(timers) > 10 and all(d and t and t.startswith("Time left to answer: ")
                                   for r, d, t in timers),
          f"an answer owed without a countdown: {[t for t in timers if not t[2]][:5]}")

    session.stop()  # collects the data files
    rounds = session.table("session_rounds.csv")
    for (name, last), tail in sorted(panels.items()):
        row = [r for r in rounds if r["name"] == name and r["round"] == last]
        check(len(row) == 1, f"session_rounds.csv has {row} for {name} in round {last}")
        for line in result_lines(row[0]):
            check(line in tail, f"{name}'s panel after round {last} lacks {line!r}: {tail!r}")
    check(len(panels) == 4, f"panels seen after rounds 1 and 2: {sorted(panels)}")
    payouts = {row["name"]: row for row in session.table("session_payouts.csv")}
    for name, state in ends.items():
        row = payouts[name]
        want = (f"The game is overYour final credits: {two_decimals(row['total_credits'])}"
                f"Your payout: ${two_decimals(row['payout'])}You may now close this window.")
        check(state["panel"] == want, f"{name}'s end screen {state['panel']!r}, not {want!r}")


def case_stopped(session):
    links = session.start(game_session(3, 2, 0))
    pages = open_both(session, links)
    press_start(pages)
    session.stop()
    for page in pages:
        state = page.until("the end screen", lambda s: s["ended"], 30)
        check("The session is over." in state["panel"], f"{page.name}: {state['panel']!r}")
        check(state["entryClosed"], f"{page.name}'s entry is open")
    ann = pages[0]
    ann.shoot("stopped", "the end screen of a stopped session")
    tried = len([u for u in ann.seat.requests() if u.startswith("ws")])
    time.sleep(5)  # a page that signs in again would have tried by now
    state = ann.state()
    check(state["status"] is None, f"a status line with the server gone: {state}")
    again = [u for u in ann.seat.requests() if u.startswith("ws")][tried:]
    check(not again, f"the page tried again: {again}")


def catalogue(path):
    """msgid -> msgstr of a .po file, single-line entries."""
    found, msgid = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("msgid "):
                msgid = line[7:-2]
            elif line.startswith("msgstr ") and msgid:
                found[msgid] = line[8:-2]
    return found


def case_german(session):
    bot = catalogue(os.path.join(ROOT, "po", "wexbot", "de.po"))
    page_de = catalogue(os.path.join(ROOT, "po", "seat", "de.po"))
    links = session.start(game_session(2, 2, 0) + "Language de\n")
    ann, ben = open_both(session, links)
    check(ann.driver.execute_script("return document.documentElement.lang") == "de",
          "<html lang> is not de")
    text = ann.driver.execute_script("return document.getElementById('instructions-text')"
                                     ".textContent")
    for phrase in ("2 Runden.", "Alle 2 Runden", "0,01 Dollar pro Punkt"):
        check(phrase in text, f"the instructions lack {phrase!r}: {text}")
    ann.shoot("instructions-de", "the German instructions")
    press_start([ann, ben])
    question = bot["How much do you think your partner will invest?"]
    ann.until("the German question", lambda s: any(question in t for t in ann.theirs()))
    check(not any("How much" in t for t in ann.theirs()), f"English questions: {ann.theirs()}")
    state = ann.state()
    check(page_de["Round {round} of {rounds}"].format(round=1, rounds=2) in state["head"],
          f"the panel: {state['head']!r}")
    play([ann, ben], lambda: ann.state()["ended"] and ben.state()["ended"], 90)
    ann.shoot("end-de", "the German end screen", narrow=True)
    session.stop()
    payouts = {row["name"]: row for row in session.table("session_payouts.csv")}
    for page in (ann, ben):
        panel = page.state()["panel"]
        row = payouts[page.name]
        # Numbers with the German decimal comma, as the instructions have them.
        point = page_de["."]
        amount = page_de["${amount}"].format(amount=two_decimals(row["payout"]).replace(".", point))
        credits = two_decimals(row["total_credits"]).replace(".", point)
        for line in (page_de["The game is over"],
                     page_de["Your final credits: {credits}"].format(credits=credits),
                     page_de["Your payout: {amount}"].format(amount=amount)):
            check(line in panel, f"{page.name}'s end screen lacks {line!r}: {panel!r}")


def case_ready(session):
    links = session.start(game_session(3, 2, 0))
    ann, ben = open_both(session, links)
    press_start([ann, ben])
    times = []
    for _ in range(10):
        ann.seat.open("about:blank")
        opened = time.monotonic()
        ann.seat.open(links["ann"])
        ann.until("the chat with its panel", lambda s: not s["entryClosed"] and s["head"] and
                  "Round 1 of 3" in s["head"], 30)
        times.append(time.monotonic() - opened)
    print(f"link to a ready seat with the panel, 10 opens: median "
          f"{statistics.median(times):.2f} s (from {min(times):.2f} to {max(times):.2f} s)")
    ann.shoot("returning-360", narrow=True)


CASES = {"game": case_game, "stopped": case_stopped, "german": case_german,
         "ready": case_ready}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--shots", help="the folder for the screenshots (kept)")
    args = parser.parse_args()
    args.wexlab, args.bot = os.path.abspath(args.wexlab), os.path.abspath(args.bot)
    missing = [m for m in ("selenium", "slixmpp") if importlib.util.find_spec(m) is None]
    missing += [p for p in ("prosody", "chromium", "chromedriver") if not shutil.which(p)]
    if not os.path.exists(os.path.join(ROOT, "web", "node_modules", "axe-core")):
        missing.append("web/node_modules (scripts/install-deps.sh)")
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return SKIP
    load_wexlab(args.wexlab)
    from wexlab.rehearsal import browser
    args.shots = args.shots or tempfile.mkdtemp(prefix=f"wex-seat-game-{args.case}-shots-")
    os.makedirs(args.shots, exist_ok=True)
    session = Session(args, argparse.Namespace(browser=browser))
    started = time.monotonic()
    failed = True
    try:
        CASES[args.case](session)
        failed = False
    except (Failure, browser.BrowserError) as e:
        print(f"FAILED: {e}")
    finally:
        session.close(failed)
        print(f"screenshots kept in {args.shots}")
    if not failed:
        print(f"passed in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
