"""A robot that arrives in headless Chromium, so that `wexlab rehearse
--arrivals --browser` rehearses the whole path a person takes: the study
link with a label, the waiting page, the hand-off to the seat page, the
seat's Start and chat, and its end screen. It answers as the other
arriving robots do, reading the bot's messages from the page and typing
into it. Every call on its Chromium goes through one thread, in order."""

import asyncio
import concurrent.futures
import time
import urllib.parse

from ..model import bot_texts
from . import arrivals, browser

POLL = 0.2  # seconds between two readings of the page
# The seat's login (kept for the tab once the page has read its link) and
# the newest game element the seat's panel took.
# Where the visit went: the seat's login (kept for the tab once the seat
# page has read its link), or the text of the waiting page's paid exit.
WHERE = """
if (window.seat && window.seat.login && window.seat.config) return {login: window.seat.login};
const exit = document.getElementById('exit');
if (window.room && window.room.done && exit && !exit.hidden) return {exit: exit.textContent};
return null;
"""
GAME = "return window.seat && window.seat.game && window.seat.game.latest.game || null"


def joining_link(study_link, parameter, label):
    return f"{study_link}?{urllib.parse.urlencode({parameter: label})}"


def maker(study_link, parameter):
    """arrive_all's make: a BrowserArriving for a plan that says browser."""
    def make(run, plan):
        if plan.browser:
            return BrowserArriving(run, plan, study_link, parameter)
        return arrivals.Arriving(run, plan)
    return make


class BrowserArriving(arrivals.Arriving):
    def __init__(self, run, plan, study_link, parameter):
        super().__init__(run, plan)
        self.link = joining_link(study_link, parameter, plan.label)
        self.worker = concurrent.futures.ThreadPoolExecutor(1)
        self.seat = None
        self.handled = 0

    def _run(self, function, *args):
        return asyncio.get_running_loop().run_in_executor(self.worker, function, *args)

    def _script(self, script):
        return self._run(self.seat.driver.execute_script, script)

    async def arrive(self, http, deadline):
        try:
            self.seat = await self._run(browser.Seat)
            self.visit.arrived = time.time()
            await self._run(self.seat.open, self.link)
            where = await self._wait(WHERE, deadline)
            if where is not None and "login" in where:
                self.run.took_seat()
            self.run.settle(self.plan)
            if where is None:
                self.visit.faults.append("the page reached neither a seat nor an exit")
                return
            if "exit" in where:
                self.visit.answer, self.visit.page_text = "exit_page", where["exit"]
                return
            login = where["login"]
            self.visit.answer = "seat"
            self.visit.seat, self.visit.bot = login.get("n", ""), login.get("c", "")
            self.visit.code, self.visit.url = login.get("code", ""), login.get("url", "")
            self._init_player(self.run.subject_number(login["c"], login["n"]),
                              self.run.pair(login["c"]), self.run.seed)
            self.bot_address = login["c"]
            await self._run(self.seat.wait_ready, arrivals.STEP)
            self.live = True
            await self.say("hello")  # the seat's Start
            await self._play(deadline)
        except browser.BrowserError as e:
            self.visit.faults.append(f"the page: {e}")
        finally:
            if self.seat is not None:
                await self._run(self.seat.close)
            self.worker.shutdown(wait=False)

    async def _wait(self, script, deadline):
        while time.time() < deadline:
            try:
                found = await self._script(script)
            except Exception:
                found = None  # between two pages
            if found:
                return found
            await asyncio.sleep(POLL)
        return None

    async def _play(self, deadline):
        while time.time() < deadline:
            await asyncio.sleep(POLL)
            try:
                shown = await self._run(self.seat.messages, self.bot_address)
                game = await self._script(GAME)
            except Exception:
                continue  # the page was between two loads; read it again
            theirs = [text for kind, text in shown if kind == "theirs"]
            for text in theirs[self.handled:]:
                self.handled += 1
                if self.visit.first_question is None and \
                        bot_texts.search(arrivals.ASKS_FIRST, text):
                    self.visit.first_question = time.time()
                self.heard(text)
            if game:
                self.visit.game = dict(game)
                if game.get("ended"):
                    self.visit.ended, self.visit.payout = game["ended"], game.get("payout", "")
                    return
        self.visit.faults.append("the game did not end in time")

    def say(self, text):
        return self._run(self.seat.say, self.bot_address, text)
