"""The experimenter's desk: a small web server of wexlab's own (aiohttp)
that shows every pair live and sends the moderator's commands to the bots
from wexlab's desk account (DeskName in each bot's configuration), so the
human moderator's chat stays free of the desk's traffic.

Every request needs the session's token (the `token` query parameter);
without it the answer is 403. A request that changes something (a POST)
must also be JSON and, when the browser names its origin, come from the
desk's own page: a page of another site, even one that knows the address
and token, cannot send a command through the experimenter's browser. The
state comes from status.build, the
same files `wexlab status` reads; the server keeps only the bots' last ?
answers (also in desk_answers.json) and the dismissed alerts. Every
action and every answer goes to desk.log."""

import asyncio
import glob
import hmac
import json
import os
import signal
import time

from aiohttp import web

from ..model import record
from ..model.files import read_json, write_json
from ..model.paths import WEB
from ..model.visible import visible_line
from ..runtime import status, xmpp
from ..servers import net

PAGE_DIR = os.path.join(WEB, "desk")
ASSETS = {"/": ("index.html", "text/html"), "/desk.js": ("desk.js", "text/javascript"),
          "/desk.css": ("desk.css", "text/css")}
REBUILD_SECONDS = 0.25  # how often the files are looked at
KEEP_ALIVE_SECONDS = 15
# Pairs whose bots run on another machine have no files here: their rows
# come from their answers to ?, asked this often.
ELSEWHERE_ASK_SECONDS = 30
HEADERS = {"Content-Security-Policy": "default-src 'self'; object-src 'none'; "
           "base-uri 'none'; frame-ancestors 'none'",
           "X-Content-Type-Options": "nosniff", "Referrer-Policy": "no-referrer",
           "Cache-Control": "no-store"}
# Served without the token: the page reloaded after its address lost the
# token asks the tab's copy of it (restore.js holds no secret).
RESTORE = ("restore.js", "text/javascript")
REFUSED_PAGE = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>wexlab desk</title>"
                "<script src=\"/restore.js\"></script></head><body><p>403: this page needs the "
                "desk's token (wexlab desk prints the address)</p></body></html>\n")


def log_line(folder, text):
    with open(os.path.join(folder, "desk.log"), "a", encoding="utf-8") as f:
        f.write(time.strftime("%Y-%m-%d %H:%M:%S ") + text.replace("\n", " | ") + "\n")


class DeskClient(xmpp.Client):
    """The desk's account: sends commands, keeps the bots' answers,
    reconnects by itself."""

    def __init__(self, lab, desk):
        name = lab.desk_account
        super().__init__(lab, name, lab.accounts[name].password, "desk")
        self.desk = desk
        self.closing = False
        self.add_event_handler("message", self._message)
        self.add_event_handler("disconnected", self._lost)

    def _lost(self, _):
        self.ready.clear()
        if not self.closing:
            asyncio.get_event_loop().call_later(3, self.open)

    def _message(self, msg):
        if msg["type"] in ("chat", "normal") and msg["body"]:
            self.desk.answer(msg["from"].user, msg["body"])

    def command(self, bot, text):
        self.send_message(mto=f"{bot}@{self.lab.domain}", mbody=text, mtype="chat")

    async def close(self):
        self.closing = True
        await super().close()


class Desk:
    def __init__(self, folder, lab, token):
        self.folder = folder
        self.lab = lab
        self.token = token
        self.answers = status.read_answers(folder)
        self.dismissed = set()
        self.server_up = True
        self.state = None
        self.version = 0
        self.changed = asyncio.Condition()
        self.client = None
        self.waiters = {}  # bot -> futures waiting for its next answer
        self.closing = False

    # The state, rebuilt from the files twice a second.

    def rebuild(self):
        state = status.build(self.folder, self.lab, self.answers, None, self.server_up,
                             self.dismissed)
        self.state = state

    def fingerprint(self):
        """Sizes and times of every file the state is read from."""
        paths = [os.path.join(self.folder, name) for name in
                 ("supervisor.log", "bots.json", status.ANSWERS_FILE, "room.log")]
        for pair in self.lab.pairs:
            paths += glob.glob(os.path.join(self.folder, pair.bot, self.lab.log_file + "_*"))
        found = []
        for path in sorted(paths):
            try:
                info = os.stat(path)
                found.append((path, info.st_size, info.st_mtime_ns))
            except OSError:
                pass
        return found

    def ask_elsewhere(self):
        """Sends ? to the bots that run on other machines; False when it
        could not (not signed on yet)."""
        try:
            mine = set(read_json(os.path.join(self.folder, "local.json"))["pairs"])
        except (OSError, ValueError, KeyError):
            return True
        if self.client is None or not self.client.ready.is_set():
            return False
        for pair in self.lab.pairs:
            if pair.index not in mine:
                self.client.command(pair.bot, "?")
                log_line(self.folder, f"sent to {pair.bot} (on another machine): ?")
        return True

    async def refresh_loop(self):
        """Rebuilds the state when a file changed, and every second for the
        clocks in it; the bots keep the CPU they need."""
        loop = asyncio.get_running_loop()
        last_check = last_build = last_ask = 0
        seen = None
        while True:
            if time.monotonic() - last_check > 3:
                last_check = time.monotonic()
                up = await loop.run_in_executor(
                    None, net.port_open, self.lab.address, self.lab.port)
                if up != self.server_up:
                    self.server_up, seen = up, None
            if time.monotonic() - last_ask > ELSEWHERE_ASK_SECONDS and self.ask_elsewhere():
                last_ask = time.monotonic()
            found = self.fingerprint()
            if found != seen or time.monotonic() - last_build >= 1:
                seen, last_build = found, time.monotonic()
                self.rebuild()
                async with self.changed:
                    self.version += 1
                    self.changed.notify_all()
            await asyncio.sleep(REBUILD_SECONDS)

    def answer(self, bot, text):
        if bot not in {p.bot for p in self.lab.pairs}:
            return
        log_line(self.folder, f"{bot} answered: {text}")
        if text.startswith("Status"):
            self.answers[bot] = {"t": time.time(), "text": text}
            write_json(os.path.join(self.folder, status.ANSWERS_FILE), self.answers)
        for future in self.waiters.pop(bot, []):
            if not future.done():
                future.set_result(text)

    # The web side.

    def authorised(self, request):
        given = request.query.get("token", "")
        return hmac.compare_digest(given.encode(), self.token.encode())

    def cross_site(self, request):
        """Why a request that changes something is refused, as (status,
        reason), or None. A form or a no-cors fetch of another page cannot
        send application/json, and a browser names the page's origin."""
        if request.method in ("GET", "HEAD"):
            return None
        origin = request.headers.get("Origin")
        if origin is not None and origin != f"{request.scheme}://{request.host}":
            return 403, f"a request from another origin ({visible_line(origin)})"
        if request.content_type != "application/json":
            return 415, (f"a body of type {visible_line(request.content_type)}, "
                         "not application/json")
        return None

    @web.middleware
    async def guard(self, request, handler):
        refused = self.cross_site(request)
        if request.path != "/" + RESTORE[0] and not self.authorised(request):
            if request.path == "/":
                response = web.Response(status=403, text=REFUSED_PAGE, content_type="text/html")
            else:
                response = web.Response(status=403, text="403: this page needs the desk's "
                                        "token (wexlab desk prints the address)\n")
        elif refused is not None:
            status_code, reason = refused
            log_line(self.folder, f"refused {request.method} {request.path}: {reason}")
            response = web.json_response({"error": f"refused: {reason}"}, status=status_code)
        else:
            response = await handler(request)
        response.headers.update(HEADERS)
        return response

    async def restore(self, request):
        with open(os.path.join(PAGE_DIR, RESTORE[0]), encoding="utf-8") as f:
            return web.Response(text=f.read(), content_type=RESTORE[1])

    async def asset(self, request):
        name, kind = ASSETS[request.path]
        with open(os.path.join(PAGE_DIR, name), encoding="utf-8") as f:
            text = f.read()
        if name == "index.html":  # its own assets need the token too
            text = text.replace("__TOKEN__", self.token)
        return web.Response(text=text, content_type=kind)

    async def pairs(self, request):
        if self.state is None:
            self.rebuild()
        return web.json_response(self.state)

    async def events(self, request):
        """Server-sent events: the state each time it is rebuilt, a comment
        now and then to keep the stream open, until the desk shuts."""
        response = web.StreamResponse(headers={"Content-Type": "text/event-stream"})
        response.headers.update(HEADERS)
        await response.prepare(request)
        seen = -1
        while not self.closing:
            async with self.changed:
                try:
                    await asyncio.wait_for(self.changed.wait_for(
                        lambda: self.version != seen or self.closing), KEEP_ALIVE_SECONDS)
                except asyncio.TimeoutError:
                    pass
            if self.closing:
                break
            payload = b": still here\n\n"
            if self.state is None:  # a stream opened before the first rebuild
                self.rebuild()
            if self.version != seen:
                seen = self.version
                payload = f"data: {json.dumps(self.state)}\n\n".encode()
            try:
                await response.write(payload)
            except (ConnectionResetError, RuntimeError):
                break
        return response

    async def shut(self):
        """Ends the event streams, so the server can stop at once."""
        self.closing = True
        async with self.changed:
            self.changed.notify_all()

    def choose(self, which):
        """The pairs a command goes to: a list of numbers, "all", or
        "unfinished" (every pair whose game has not ended, so a pay-now for
        all leaves the paid and the stopped alone)."""
        if which == "all":
            return self.lab.pairs
        if which == "unfinished":
            self.rebuild()  # as the journals stand now
            running = {p["pair"] for p in self.state["pairs"] if p["ended"] == "running"}
            return [p for p in self.lab.pairs if p.index in running]
        if not isinstance(which, list):
            raise web.HTTPBadRequest(
                text="pairs must be a list of pair numbers, \"all\" or \"unfinished\"")
        chosen = [p for p in self.lab.pairs if p.index in which]
        if len(chosen) != len(set(which)):
            raise web.HTTPBadRequest(text=f"no such pair among {which}")
        return chosen

    async def say(self, request):
        try:
            body = await request.json()
        except ValueError:
            raise web.HTTPBadRequest(text="the body must be JSON")
        if not isinstance(body, dict):
            raise web.HTTPBadRequest(text='the body must be {"pairs": ..., "text": ...}')
        text = str(body.get("text", "")).strip()
        if not text:
            raise web.HTTPBadRequest(text="text is empty")
        chosen = self.choose(body.get("pairs"))
        if self.client is None or not self.client.ready.is_set():
            raise web.HTTPServiceUnavailable(text="the desk is not signed on to the lab server")
        loop = asyncio.get_running_loop()
        futures = {}
        for pair in chosen:
            futures[pair.bot] = loop.create_future()
            self.waiters.setdefault(pair.bot, []).append(futures[pair.bot])
            self.client.command(pair.bot, text)
            log_line(self.folder, f"sent to {pair.bot}: {text}")
        answers = {}
        # n has no answer for the sender; the others' come after a second.
        if futures and not text.startswith("n"):
            done, _ = await asyncio.wait(futures.values(), timeout=8)
            answers = {bot: f.result() for bot, f in futures.items() if f in done}
        for bot, future in futures.items():  # no answer in time: stop waiting
            if future in self.waiters.get(bot, []):
                self.waiters[bot].remove(future)
        return web.json_response({"sent": [{"pair": p.index, "bot": p.bot, "text": text,
                                            "answer": answers.get(p.bot)}
                                           for p in chosen]})

    async def dismiss(self, request):
        try:
            body = await request.json()
            alert = str(body["id"])
        except (ValueError, KeyError, TypeError):
            raise web.HTTPBadRequest(text='the body must be {"id": ...}')
        self.dismissed.add(alert)
        log_line(self.folder, f"alert dismissed: {alert}")
        self.rebuild()
        async with self.changed:
            self.version += 1
            self.changed.notify_all()
        return web.json_response({"dismissed": alert})

    def app(self):
        application = web.Application(middlewares=[self.guard])
        for path in ASSETS:
            application.router.add_get(path, self.asset)
        application.router.add_get("/" + RESTORE[0], self.restore)
        application.router.add_get("/api/pairs", self.pairs)
        application.router.add_get("/api/events", self.events)
        application.router.add_post("/api/say", self.say)
        application.router.add_post("/api/dismiss", self.dismiss)
        return application


async def serve(folder, lab, info):
    desk = Desk(folder, lab, info["token"])
    runner = web.AppRunner(desk.app(), access_log=None)
    await runner.setup()
    site = web.TCPSite(runner, info["address"], info["port"])
    await site.start()
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    refresher = asyncio.ensure_future(desk.refresh_loop())
    if lab.desk_account in (lab.accounts or {}):
        desk.client = DeskClient(lab, desk)
        desk.client.open()
    log_line(folder, f"desk running on {info['address']}:{info['port']} (pid {os.getpid()})")
    await stop.wait()
    refresher.cancel()
    await desk.shut()
    if desk.client is not None:
        await desk.client.close()
    await runner.cleanup()
    log_line(folder, "desk stopped")


def run(folder):
    """The body of `wexlab _desk`: serves until SIGTERM."""
    folder = os.path.abspath(folder)
    lab = record.load(folder)
    info = status.read_desk_info(folder)
    info["pid"] = os.getpid()
    write_json(os.path.join(folder, status.DESK_FILE), info, private=True)
    asyncio.run(serve(folder, lab, info))
