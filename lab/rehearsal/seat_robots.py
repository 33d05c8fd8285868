"""A robot subject that plays through the web page in headless Chromium,
so that `wexlab rehearse --browser` rehearses the seats' whole path: the
link, the page, the websocket and the archive after a reload.

It answers as the XMPP robot does; it reads the bot's messages from the
page and types its answers into it. Every call on its Chromium goes
through one thread, in order."""

import asyncio
import concurrent.futures

from ..model.placement import origin
from ..web import seats
from . import browser, robots

POLL = 0.2  # seconds between two readings of the page


class BrowserSubject(robots.Subject):
    def __init__(self, lab, name, number, pair, seed, blip=False):
        super().__init__(lab, name, number, pair, seed, blip)
        self.link = seats.link(lab, name)
        self.page = origin(lab, name) + "/"
        self.worker = concurrent.futures.ThreadPoolExecutor(1)
        self.seat = None
        self.handled = 0
        self.away = False
        self.poller = None

    def _run(self, function, *args):
        return asyncio.get_running_loop().run_in_executor(self.worker, function, *args)

    async def online(self, timeout=30):
        try:
            self.seat = await self._run(browser.Seat)
            await self._run(self.seat.open, self.link)
            await self._run(self.seat.wait_ready, timeout)
        except browser.BrowserError as e:
            raise ConnectionError(f"{self.boundjid.user}'s page: {e}")
        self.poller = asyncio.ensure_future(self._poll())
        asyncio.ensure_future(self.pair.greet(lambda: self.say("hello"), self._join_expects))
        return self

    async def _poll(self):
        while True:
            await asyncio.sleep(POLL)
            if self.away:
                continue
            try:
                shown = await self._run(self.seat.messages, self.pair.bot)
            except Exception:
                continue  # the page was between two loads; read it again

            theirs = [text for kind, text in shown if kind == "theirs"]
            for text in theirs[self.handled:]:
                self.handled += 1
                self.heard(text)

    def say(self, text):
        return self._run(self.seat.say, self.pair.bot, text)

    async def _go_offline(self):
        # Leaving the page closes its websocket; the tab keeps the sign-in.
        self.away = True
        await self._run(self.seat.open, "about:blank")

    async def _come_back(self):
        await self._run(self.seat.open, self.page)
        await self._run(self.seat.wait_ready, 30)
        self.away = False

    async def close(self):
        if self.poller:
            self.poller.cancel()
        if self.seat:
            await self._run(self.seat.close)
        self.worker.shutdown(wait=False)
