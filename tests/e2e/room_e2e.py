#!/usr/bin/python3
"""End-to-end tests of the waiting room's page and of the completion code
on the seat's end screen, in headless Chromium.

--case room: the seat's files at / and web/room at /room/ and /join/S1 from
a small aiohttp server of the test's own, whose /room/ws is scripted here
(no lab server). P1 reads the instructions, continues, waits (the time
waited counted from the server's since), is active and hidden (the frames
it sends are checked), reloads (no instructions again, the same browser
token), loses its socket (it comes back), and waits out: the paid exit
with the fee, the code, its copy and the return link. P2 (no instructions
on the server: the general text) is seated: the page goes to the seat's
link, which keeps the code and the address. P3 has finished: told so with
its code. P4 finds the study full, in German. A wrong session shows the
server's error.

--case seat_end: a one-pair lab session (Prosody, set up by wexlab's code)
whose bot account is a slixmpp client of the test's (panel_e2e.FakeBot):
ann's link carries a code and a return address and her game completes;
ben's game goes on with a stand-in: both end screens show the payout, the
code and the button.

Every page is checked by axe-core; screenshots at 1400 and 360 px wide go
to --shots (the test's folder by default, kept with --keep)."""

import argparse
import asyncio
import importlib.util
import json
import os
import re
import shutil
import sys
import threading
import time
import urllib.parse

from harness import (Failure, axe_violations, check, free_port, load_wexlab, run_in_folder,
                     wait_for, wait_for_state)

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
WEB = os.path.join(HERE, "..", "..", "web")
SESSION = "S1"
INSTRUCTIONS = "# How the study works\n\nYou play **ten rounds** with one other participant.\n"
BACK = "https://study.example/done?cc={code}"
# What the room page shows, read from the DOM.
ROOM_STATE = """
const shown = (id) => { const e = document.getElementById(id);
  return e && !e.hidden && e.offsetParent !== null ? e.textContent : null; };
const exit = document.getElementById('exit');
const back = exit.querySelector('.return');
return {instructions: shown('instructions'), instructionsTitle: shown('instructions-title'),
        waiting: shown('waiting'), waitingTitle: shown('waiting-title'), waited: shown('waited'),
        limit: shown('wait-limit'),
        said: document.getElementById('waited-said').textContent,
        exitTitle: shown('exit-title'),
        lines: [...exit.querySelectorAll('.line')].map(e => e.textContent),
        code: exit.hidden ? null : (exit.querySelector('.code-line') || {}).textContent || null,
        back: back ? back.getAttribute('href') : null,
        copyStatus: (exit.querySelector('.copy-status') || {}).textContent || null,
        status: shown('status'), fault: shown('fault'), lang: document.documentElement.lang,
        path: location.pathname, hash: location.hash, focused: document.activeElement.id};
"""


class FakeRoom:
    """The room server's part the page talks to, on a thread of its own:
    the page files as the room and the lab server serve them, /room/ws
    answering each hello with the state the test set for its label, and
    every frame the pages sent, in order."""

    def __init__(self, web_page, texts=None):
        self.web_page = web_page
        self.port = free_port()
        self.states = {}  # label -> a function giving the state frame
        self.frames = []  # (label, frame) as received
        self.sockets = {}  # label -> the open websockets
        self.instructions = INSTRUCTIONS  # None: 404
        self.lang = texts  # lang.json's data, or None: 404
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)

    @property
    def origin(self):
        return f"http://127.0.0.1:{self.port}"

    def start(self):
        self.thread.start()
        asyncio.run_coroutine_threadsafe(self._serve(), self.loop).result(20)

    def stop(self):
        asyncio.run_coroutine_threadsafe(self.runner.cleanup(), self.loop).result(20)
        self.loop.call_soon_threadsafe(self.loop.stop)

    async def _serve(self):
        from aiohttp import web
        app = web.Application()
        app.router.add_get("/", lambda r: self._file(os.path.join(WEB, "seat", "index.html")))
        app.router.add_get("/join/{session}", lambda r: self._file(
            os.path.join(WEB, "room", "index.html")))
        app.router.add_get("/room/ws", self._socket)
        app.router.add_get("/room/config.json", lambda r: web.json_response(
            {"session": SESSION, "label_parameter": "PROLIFIC_PID", "wait_timeout": 300,
             "lang": "en"}, headers={"Cache-Control": "no-store"}))
        app.router.add_get("/room/instructions.md", self._instructions)
        app.router.add_get("/room/{name}", lambda r: self._file(
            os.path.join(WEB, "room", r.match_info["name"])))
        app.router.add_get("/lang.json", self._lang)
        app.router.add_get("/strophe.min.js", lambda r: self._file(
            os.path.join(WEB, "node_modules", self.web_page.LIBRARY)))
        app.router.add_get("/{name}", lambda r: self._file(
            os.path.join(WEB, "seat", r.match_info["name"])))
        self.runner = web.AppRunner(app)
        await self.runner.setup()
        await web.TCPSite(self.runner, "127.0.0.1", self.port).start()

    async def _file(self, path):
        from aiohttp import web
        if not os.path.isfile(path):
            raise web.HTTPNotFound()
        return web.FileResponse(path, headers=self.web_page.HEADERS)

    async def _instructions(self, request):
        from aiohttp import web
        if self.instructions is None:
            raise web.HTTPNotFound()
        return web.Response(text=self.instructions, content_type="text/markdown")

    async def _lang(self, request):
        from aiohttp import web
        if self.lang is None:
            raise web.HTTPNotFound()
        return web.json_response(self.lang)

    async def _socket(self, request):
        from aiohttp import web
        ws = web.WebSocketResponse()
        await ws.prepare(request)
        label = None
        async for message in ws:
            frame = json.loads(message.data)
            if frame.get("type") == "hello":
                label = frame.get("label")
                self.sockets.setdefault(label, []).append(ws)
            self.frames.append((label, frame))
            if frame.get("type") != "hello":
                continue
            if frame.get("session") != SESSION:
                await ws.send_json({"type": "error", "text": "This study link is not valid."})
            elif label in self.states:
                await ws.send_json(self.states[label]())
        if label in self.sockets and ws in self.sockets[label]:
            self.sockets[label].remove(ws)
        return ws

    def _run(self, coroutine):
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop).result(10)

    def push(self, label, frame):
        """Sets label's state to frame and sends it to its open sockets."""
        self.states[label] = lambda: frame

        async def send():
            for ws in list(self.sockets.get(label, [])):
                await ws.send_json(frame)
        self._run(send())

    def drop(self, label):
        """Closes label's sockets from the server's side."""
        async def close():
            for ws in list(self.sockets.get(label, [])):
                await ws.close()
        self._run(close())

    def open_sockets(self, label):
        return len(self.sockets.get(label, []))

    def sent(self, label, kind=None):
        return [f for lab, f in list(self.frames) if lab == label and
                (kind is None or f["type"] == kind)]


def waiting_since(seconds_ago):
    """A `waiting` state whose wait began seconds_ago before the first
    hello; each hello gets the server's now."""
    since = []

    def state():
        if not since:
            since.append(time.time() - seconds_ago)
        return {"type": "waiting", "since": since[0], "wait_timeout": 300, "now": time.time()}
    return state


class RoomPage:
    """The browser on the room's pages, and where screenshots go."""

    def __init__(self, driver, shots):
        self.driver = driver
        self.shots = shots

    def state(self):
        return self.driver.execute_script(ROOM_STATE)

    def until(self, what, test, timeout=20):
        """Waits until test(state) holds; fails with the last state seen."""
        return wait_for_state(what, self.state, test, timeout)

    def look(self, name, where):
        for width, height in ((1400, 900), (360, 740)):
            self.driver.set_window_size(width, height)
            time.sleep(0.3)
            self.driver.save_screenshot(os.path.join(self.shots, f"{name}-{width}.png"))
            found = axe_violations(self.driver)
            check(not found, f"axe-core on {where} at {width} px: {found}")
        self.driver.set_window_size(1400, 900)

    def new_tab(self, url):
        """A new tab (its own sessionStorage), the others closed."""
        old = self.driver.current_window_handle
        self.driver.switch_to.new_window("tab")
        new = self.driver.current_window_handle
        self.driver.switch_to.window(old)
        self.driver.close()
        self.driver.switch_to.window(new)
        self.driver.get(url)

    def visible(self):
        return self.driver.execute_script("return document.visibilityState") == "visible"


def join(room, label, session=SESSION):
    return f"{room.origin}/join/{session}?PROLIFIC_PID={urllib.parse.quote(label)}&STUDY_ID=x"


def waits_and_waits_out(page, room):
    """P1: instructions, Continue, the wait and its frames, a reload, a
    lost socket, then the paid exit."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    room.states["P1"] = waiting_since(80)
    page.driver.get(join(room, "P1"))
    state = page.until("the instructions", lambda s: s["instructions"])
    check(state["instructionsTitle"] == "Instructions" and state["focused"] ==
          "instructions-title", f"the instructions: {state}")
    rendered = page.driver.execute_script(
        "const t = document.getElementById('instructions-text');"
        "return [t.querySelector('h2').textContent, t.querySelector('strong').textContent];")
    check(rendered == ["How the study works", "ten rounds"], f"the Markdown: {rendered}")
    hellos = wait_for("P1's hello", lambda: room.sent("P1", "hello"))
    token = hellos[0]["browser"]
    check(hellos[0] == {"type": "hello", "session": SESSION, "label": "P1", "browser": token} and
          re.fullmatch(r"[0-9a-f]{32}", token), f"the hello: {hellos}")
    first = wait_for("P1's presence", lambda: room.sent("P1")[1:2])
    check(first == [{"type": "presence", "visible": True}], f"after the hello: {first}")
    page.look("instructions", "the instructions")

    page.driver.find_element(By.ID, "continue").click()
    clicked = time.monotonic()
    state = page.until("the wait", lambda s: s["waited"])
    check(state["waitingTitle"] == "Waiting for another participant\u2026" and
          state["limit"] == "You wait at most 5:00." and state["focused"] == "waiting-title",
          f"the waiting view: {state}")
    seconds = wait_seconds(state["waited"])
    check(80 <= seconds <= 95, f"the time waited: {state['waited']!r}")
    state = page.until("the time waited going on", lambda s: s["waited"] and
                       wait_seconds(s["waited"]) >= seconds + 2, 6)
    check(state["said"] == "", f"announced before a minute was full: {state['said']!r}")
    page.look("waiting", "the waiting view")

    # Input: `active` (the click on Continue was one), at most once in 5 s.
    check(len(room.sent("P1", "active")) == 1, f"active on the click: {room.sent('P1')}")
    time.sleep(max(0.0, clicked + 5.2 - time.monotonic()))
    before = 1
    ActionChains(page.driver).send_keys("a").perform()
    ActionChains(page.driver).send_keys("b").perform()
    wait_for("active", lambda: len(room.sent("P1", "active")) == before + 1)
    time.sleep(1)
    check(len(room.sent("P1", "active")) == before + 1, f"active twice: {room.sent('P1')}")

    # Hidden and visible again: a presence frame each time.
    page.driver.minimize_window()
    wait_for("the page hidden", lambda: not page.visible())
    wait_for("presence hidden", lambda: room.sent("P1", "presence")[-1] ==
             {"type": "presence", "visible": False})
    page.driver.execute_cdp_cmd("Page.setWebLifecycleState", {"state": "frozen"})
    page.driver.execute_cdp_cmd("Page.setWebLifecycleState", {"state": "active"})
    page.driver.set_window_size(1400, 900)
    if not page.visible():  # a headless window may stay hidden: bring a tab to the front
        handle = page.driver.current_window_handle
        page.driver.switch_to.new_window("tab")
        page.driver.close()
        page.driver.switch_to.window(handle)
    wait_for("the page visible", page.visible)
    wait_for("presence visible", lambda: room.sent("P1", "presence")[-1] ==
             {"type": "presence", "visible": True})

    # A reload: no instructions again, the same browser.
    hellos = len(room.sent("P1", "hello"))
    page.driver.refresh()
    state = page.until("the wait after a reload", lambda s: s["waited"])
    check(state["instructions"] is None, "the instructions again after a reload")
    wait_for("a hello after the reload", lambda: len(room.sent("P1", "hello")) == hellos + 1)
    check(room.sent("P1", "hello")[-1]["browser"] == token, "another browser token")

    # The server drops the socket: the page says hello again by itself.
    wait_for("P1's socket", lambda: room.open_sockets("P1") == 1)
    room.drop("P1")
    wait_for("a hello after the drop", lambda: len(room.sent("P1", "hello")) == hellos + 2, 10)
    page.until("the wait again", lambda s: s["waited"] and s["status"] is None)

    # Waited out.
    code = "NOPART-7"
    room.push("P1", {"type": "exit", "outcome": "waited_out", "fee": "1.00", "code": code,
                     "url": BACK.format(code=code)})
    state = page.until("the exit", lambda s: s["exitTitle"])
    check(state["exitTitle"] == "No other participant arrived in time." and
          state["lines"] == ["You are paid a show-up fee of $1.00."] and
          state["code"] == f"Your completion code: {code}" and
          state["back"] == BACK.format(code=code) and state["waiting"] is None and
          state["focused"] == "exit-title", f"the exit: {state}")
    page.driver.execute_cdp_cmd("Browser.grantPermissions", {
        "origin": room.origin, "permissions": ["clipboardReadWrite", "clipboardSanitizedWrite"]})
    page.driver.find_element(By.CSS_SELECTOR, "#exit .copy").click()
    state = page.until("the copy said", lambda s: s["copyStatus"])
    check(state["copyStatus"] == "The code is copied.", f"the copy: {state}")
    copied = page.driver.execute_async_script(
        "const done = arguments[0]; navigator.clipboard.readText().then(done, e => done('' + e));")
    check(copied == code, f"the clipboard holds {copied!r}")
    wait_for("the socket closed", lambda: room.open_sockets("P1") == 0)
    hellos = len(room.sent("P1", "hello"))
    time.sleep(2.5)
    check(len(room.sent("P1", "hello")) == hellos, "the page came back after its exit")
    page.look("no-partner", "the no-partner exit")


def wait_seconds(text):
    found = re.fullmatch(r"You have waited (\d+):(\d\d)\.", text or "")
    if not found:
        raise Failure(f"the time waited reads {text!r}")
    return int(found.group(1)) * 60 + int(found.group(2))


def is_seated(page, room):
    """P2: the general text without instructions on the server, then the
    seat's link, which the seat keeps with its code and address."""
    from selenium.webdriver.common.by import By
    room.instructions = None
    room.states["P2"] = waiting_since(3)
    page.new_tab(join(room, "P2"))
    state = page.until("the general text", lambda s: s["instructions"])
    check("you are paired with another participant" in state["instructions"],
          f"the general text: {state['instructions']!r}")
    page.driver.find_element(By.ID, "continue").click()
    page.until("the wait", lambda s: s["waited"])
    link = ("/#n=seat3&p=pw3&c=bot2&code=C0DE-2&url=" +
            urllib.parse.quote(BACK.format(code="C0DE-2"), safe=""))
    room.push("P2", {"type": "seat", "link": link})
    wait_for("the seat's page", lambda: page.driver.execute_script(
        "return location.pathname === '/' && location.hash === '' && "
        "sessionStorage.getItem('wex-seat')"))
    kept = json.loads(page.driver.execute_script("return sessionStorage.getItem('wex-seat')"))
    check(kept == {"n": "seat3", "p": "pw3", "c": "bot2", "code": "C0DE-2",
                   "url": BACK.format(code="C0DE-2")}, f"the seat keeps {kept}")


def has_finished(page, room):
    room.states["P3"] = lambda: {"type": "finished", "code": "DONE-3",
                                 "url": BACK.format(code="DONE-3")}
    page.new_tab(join(room, "P3"))
    state = page.until("the finished page", lambda s: s["exitTitle"])
    check(state["exitTitle"] == "You have already taken part." and state["lines"] == [] and
          state["code"] == "Your completion code: DONE-3" and
          state["back"] == BACK.format(code="DONE-3") and state["instructions"] is None,
          f"the finished page: {state}")
    page.look("finished", "the finished page")


def finds_it_full_in_german(page, room, texts):
    room.lang = {"lang": "de", "texts": texts}
    room.states["P4"] = lambda: {"type": "exit", "outcome": "full", "fee": "1.00",
                                 "code": "VOLL-4"}
    page.new_tab(join(room, "P4"))
    state = page.until("the full page", lambda s: s["exitTitle"])
    point = texts["."]
    money = texts["${amount}"].replace("{amount}", f"1{point}00")
    fee = texts["You are paid a show-up fee of {amount}."].replace("{amount}", money)
    check(point == "," and state["lang"] == "de" and
          state["exitTitle"] == texts["The study is full."] and state["lines"] == [fee] and
          state["code"] == texts["Your completion code: {code}"].replace("{code}", "VOLL-4") and
          state["back"] is None, f"the German full page: {state}")
    page.look("full-de", "the German full page")
    room.lang = None


def wrong_session(page, room):
    page.new_tab(join(room, "P5", session="S9"))
    state = page.until("the fault", lambda s: s["fault"])
    check(state["fault"] == "This study link is not valid." and state["instructions"] is None,
          f"a wrong session: {state}")


def run_room(args, root):
    load_wexlab(args.wexlab)
    from wexlab.model import catalogue, seat_texts
    from wexlab.rehearsal import browser
    from wexlab.servers import web_page
    shots = args.shots or root
    os.makedirs(shots, exist_ok=True)
    german = catalogue.read_catalogue(seat_texts.seat_po_dir(), "de")
    room = FakeRoom(web_page)
    room.start()
    seat = None
    try:
        try:
            seat = browser.Seat()
        except browser.BrowserError as e:
            raise Failure(str(e))
        page = RoomPage(seat.driver, shots)
        page.driver.set_window_size(1400, 900)
        waits_and_waits_out(page, room)
        is_seated(page, room)
        has_finished(page, room)
        finds_it_full_in_german(page, room, german)
        wrong_session(page, room)
        print(f"screenshots in {shots}")
    finally:
        if seat:
            seat.close()
        room.stop()


def run_seat_end(args, root):
    """ann's completed game and ben's replaced one, from the archive, each
    link with a code and a return address."""
    load_wexlab(args.wexlab)
    from panel_e2e import FakeBot, Page
    from wexlab.model import plan, session_file
    from wexlab.rehearsal import browser
    from wexlab.runtime import bot_check
    from wexlab.servers import server
    from wexlab.web import seats
    from harness import one_pair_session
    shots = args.shots or root
    os.makedirs(shots, exist_ok=True)
    path = os.path.join(root, "session.conf")
    lab = plan.new_lab(session_file.parse_session(one_pair_session(), path,
                                                  bot_check.key_table(args.bot)), None)
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
        for name, code, body, state, lines in (
            ("ann", "C0DE-A", "The game is over. Thank you for taking part!",
             dict(round=10, rounds=10, phase="over", owed="none", credits="412.66",
                  final_credits="412.66", payout="14.13", ended="completed"),
             "The game is overYour final credits: 412.66Your payout: $14.13"),
            ("ben", "C0DE-B", "You were away too long: a stand-in played for you.",
             dict(round=4, rounds=10, phase="investment", owed="none", credits="120.50",
                  final_credits="120.50", payout="6.03", ended="replaced"),
             "The game is overYou were away too long, so a stand-in played for you."
             "Your final credits: 120.50Your payout: $6.03"),
        ):
            bot.send(name, "Current round: 1", round=1, rounds=10, phase="expectation",
                     owed="expectation", min=0, max=60, credits="0.00", bonus_in=4)
            bot.send(name, body, **state)
            time.sleep(1)  # archived before the page reads the archive
            back = BACK.format(code=code)
            link = seats.link(lab, name) + "&code=" + code + "&url=" + urllib.parse.quote(
                back, safe="")
            seat.open(link)
            shown = page.until(f"{name}'s end screen", lambda s: s["ended"], 30)
            check(shown["panel"] == f"{lines}Your completion code: {code}Copy the code"
                  "Return to the study site", f"{name}'s end screen: {shown['panel']!r}")
            href = page.driver.execute_script(
                "return document.querySelector('#panel .return').getAttribute('href')")
            check(href == back, f"{name}'s return link: {href!r}")
            page.look(f"seat-end-{name}", f"{name}'s end screen")
        print(f"screenshots in {shots}")
    finally:
        if seat:
            seat.close()
        if bot:
            bot.stop()
        lab_server.stop()


CASES = {"room": (run_room, ("chromium", "chromedriver")),
         "seat_end": (run_seat_end, ("prosody", "prosodyctl", "chromium", "chromedriver"))}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--shots", help="the folder for the screenshots")
    parser.add_argument("--keep", action="store_true", help="keep the test's folder")
    args = parser.parse_args()
    args.wexlab, args.bot = os.path.abspath(args.wexlab), os.path.abspath(args.bot)
    if args.shots:
        args.shots = os.path.abspath(args.shots)
    run, programs = CASES[args.case]
    missing = [m for m in ("selenium", "slixmpp", "aiohttp") if importlib.util.find_spec(m) is None]
    missing += [p for p in programs if not shutil.which(p)]
    if not os.path.exists(os.path.join(WEB, "node_modules", "axe-core")):
        missing.append("web/node_modules (scripts/install-deps.sh)")
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return SKIP
    if run_in_folder(f"room-e2e-{args.case}-", lambda root: run(args, root), args.keep):
        return 1
    print(f"room e2e {args.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
