"""The room of an online session: a small web server of wexlab's own
(aiohttp) on 127.0.0.1, behind the session's proxy. It serves the waiting
page (/join/SESSION and its files under /room/), keeps every participant's
websocket (/room/ws) and runs the room's rules (model/pairing.py): each
entry goes to room.log before anyone is told of it, and the supervisor
starts a pair's bot once room.log has its pair.

POST /api/close (wexlab close) needs the token of room.json and a
loopback peer; the proxy forwards only /join/ and /room/."""

import asyncio
import hmac
import json
import os
import re
import signal
import time

from aiohttp import WSMsgType, web

from ..model import online as onlinelib, pairing, record, room_log
from ..model.files import read_json, write_json
from ..model.paths import WEB
from ..runtime import bots
from ..runtime.status import ROOM_FILE, read_room_info as room_info
from ..servers.web_page import HEADERS as PAGE_HEADERS

PAGE_DIR = os.path.join(WEB, "room")
TICK_SECONDS = 1.0
FILE_NAME = re.compile(r"[A-Za-z0-9_.-]+")
TYPES = {".html": "text/html", ".js": "text/javascript", ".css": "text/css",
         ".json": "application/json", ".md": "text/markdown", ".svg": "image/svg+xml",
         ".png": "image/png"}
# The seat's headers (its content policy, no framing, no sniffing), and
# nothing kept: the room's state changes from one second to the next.
HEADERS = dict(PAGE_HEADERS, **{"Cache-Control": "no-store"})
PLACEHOLDER = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Waiting room"
               "</title></head><body><p>The waiting room's page is not installed.</p>"
               "</body></html>\n")


def log_line(folder, text):
    with open(os.path.join(folder, "room-console.log"), "a", encoding="utf-8") as f:
        f.write(time.strftime("%Y-%m-%d %H:%M:%S ") + text + "\n")


class RoomServer:
    def __init__(self, folder, lab, token, lang="en", clock=time.time):
        self.folder = folder
        self.lab = lab
        self.token = token
        self.lang = lang
        self.clock = clock
        self.room = pairing.Room(lab.session_id, lab.online, onlinelib.room_treatments(lab),
                                 lambda pair, subject, label:
                                 onlinelib.seat_link(lab, pair, subject, label))
        entries = room_log.read(folder)
        if entries:
            pairing.replay(self.room, entries)
        else:
            self.room.open(self.clock())
        self.sockets = {}  # ticket -> set of its open websockets
        self.ended = set()  # pairs whose game is over
        self.flush_entries()

    def flush_entries(self):
        entries, messages = self.room.take()
        room_log.append(self.folder, entries)
        return messages

    async def flush(self):
        """Writes the new entries, then sends the messages."""
        for ticket, message in self.flush_entries():
            for ws in list(self.sockets.get(ticket, ())):
                try:
                    await ws.send_json(message)
                except (ConnectionError, RuntimeError):
                    pass

    def check_games(self):
        """Tells those whose pair's game is over (its final report made).
        Only pairs with a page open in the room are looked at each second;
        a subject who comes back has its pair looked at on its hello."""
        for index in self.room.pairs_with_pages() - self.ended:
            self.check_game(index)

    def check_game(self, index):
        pair = next(p for p in self.lab.pairs if p.index == index)
        if bots.game_ended(self.folder, pair, self.lab.log_file):
            self.ended.add(index)
            self.room.game_over(index)

    async def tick_loop(self):
        while True:
            try:
                self.check_games()
                self.room.tick(self.clock())
                await self.flush()
            except Exception as e:  # the room must keep its timer
                log_line(self.folder, f"timer: {e!r}")
            await asyncio.sleep(TICK_SECONDS)

    # The participants' websocket.

    async def socket(self, request):
        ws = web.WebSocketResponse(heartbeat=20, max_msg_size=4096)  # frames are small
        await ws.prepare(request)
        ticket = None
        try:
            async for msg in ws:
                if msg.type != WSMsgType.TEXT:
                    continue
                try:
                    frame = json.loads(msg.data)
                except ValueError:
                    frame = None
                if not isinstance(frame, dict):
                    await ws.send_json({"type": "error", "text": "frames are JSON objects"})
                    continue
                if ticket is None:
                    ticket = await self.hello(ws, frame)
                    if ticket is None:
                        break
                    continue
                self.frame(ticket, frame)
                await self.flush()
        finally:
            if ticket is not None:
                self.sockets[ticket].discard(ws)
                self.room.leave(self.clock(), ticket)
                await self.flush()
        return ws

    async def hello(self, ws, frame):
        if frame.get("type") != "hello":
            await ws.send_json({"type": "error", "text": "the first frame must be hello"})
            return None
        if frame.get("session") != self.lab.session_id:
            await ws.send_json({"type": "error", "text": "this link is not of a running "
                                "session"})
            return None
        label = str(frame.get("label") or "")[:200]
        browser = str(frame.get("browser") or "")[:200]
        returning = self.room.find(label, browser)
        if returning is not None and returning.pair is not None and \
                returning.pair not in self.ended:
            self.check_game(returning.pair)
        ticket = self.room.hello(self.clock(), label, browser)
        self.sockets.setdefault(ticket, set()).add(ws)
        await self.flush()
        return ticket

    def frame(self, ticket, frame):
        kind = frame.get("type")
        if kind == "presence":
            self.room.presence(self.clock(), ticket, bool(frame.get("visible")))
        elif kind == "active":
            self.room.active(self.clock(), ticket)

    # The page and its files.

    def file_response(self, name):
        path = os.path.join(PAGE_DIR, name)
        if not os.path.isfile(path):
            raise web.HTTPNotFound()
        kind = TYPES.get(os.path.splitext(name)[1], "application/octet-stream")
        with open(path, "rb") as f:
            return web.Response(body=f.read(), content_type=kind, headers=HEADERS)

    async def join(self, request):
        if request.match_info["session"] != self.lab.session_id:
            raise web.HTTPNotFound(text="no such session")
        if not os.path.isfile(os.path.join(PAGE_DIR, "index.html")):
            return web.Response(text=PLACEHOLDER, content_type="text/html", headers=HEADERS)
        return self.file_response("index.html")

    async def page_file(self, request):
        name = request.match_info["name"]
        if not FILE_NAME.fullmatch(name) or name.startswith("."):
            raise web.HTTPNotFound()
        return self.file_response(name)

    async def config(self, request):
        online = self.lab.online
        return web.json_response({"session": self.lab.session_id,
                                  "label_parameter": online.label_parameter,
                                  "wait_timeout": online.wait_timeout, "lang": self.lang},
                                 headers=HEADERS)

    async def instructions(self, request):
        path = os.path.join(self.folder, onlinelib.INSTRUCTIONS_FILE)
        if not os.path.isfile(path):
            raise web.HTTPNotFound()
        with open(path, encoding="utf-8") as f:
            return web.Response(text=f.read(), content_type="text/markdown", headers=HEADERS)

    # wexlab close.

    async def close(self, request):
        if request.remote not in ("127.0.0.1", "::1"):
            raise web.HTTPForbidden(text="from this machine only")
        given = request.headers.get("X-Room-Token", "")
        if not hmac.compare_digest(given.encode(), self.token.encode()):
            raise web.HTTPForbidden(text="wrong token")
        self.room.close(self.clock())
        await self.flush()
        log_line(self.folder, "closed: no more pairs")
        return web.json_response(self.room.counts())

    async def counts(self, request):
        return web.json_response(self.room.counts())

    def app(self):
        application = web.Application()
        application.router.add_get("/join/{session}", self.join)
        application.router.add_get("/room/ws", self.socket)
        application.router.add_get("/room/config.json", self.config)
        application.router.add_get("/room/instructions.md", self.instructions)
        application.router.add_get("/room/{name}", self.page_file)
        application.router.add_post("/api/close", self.close)
        application.router.add_get("/api/counts", self.counts)
        return application


async def serve(folder, lab, info):
    try:
        lang = read_json(os.path.join(folder, onlinelib.PAGE_FILE))["lang"]
    except (OSError, ValueError, KeyError):
        lang = "en"
    server = RoomServer(folder, lab, info["token"], lang)
    runner = web.AppRunner(server.app(), access_log=None)
    await runner.setup()
    site = web.TCPSite(runner, "127.0.0.1", info["port"])
    await site.start()
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    ticker = asyncio.ensure_future(server.tick_loop())
    log_line(folder, f"room running on 127.0.0.1:{info['port']} (pid {os.getpid()})")
    await stop.wait()
    ticker.cancel()
    for sockets in server.sockets.values():
        for ws in list(sockets):
            await ws.close()
    await runner.cleanup()
    log_line(folder, "room stopped")


def run(folder):
    """The body of `wexlab _room`: serves until SIGTERM."""
    folder = os.path.abspath(folder)
    lab = record.load(folder)
    info = room_info(folder)
    info["pid"] = os.getpid()
    write_json(os.path.join(folder, ROOM_FILE), info, private=True)
    asyncio.run(serve(folder, lab, info))
