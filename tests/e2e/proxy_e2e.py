#!/usr/bin/python3
"""End-to-end tests of an online session behind nginx on 127.0.0.1 with
TLS (the lab's self-signed certificate): the seat page, Prosody's
websocket and the room server on one HTTPS origin.

proxy_on: `Proxy on`, wexlab runs nginx itself (the lab server's web port
plain HTTP behind it); wexlab stop stops it.
proxy_config: `Proxy off` and `WebTls on`: the test runs nginx on the site
`wexlab proxy-config --out` wrote, included in an nginx.conf of its own,
nginx reaching the lab server over HTTPS.
browser: as proxy_on, then a paired subject's seat in headless Chromium
through nginx: every request on the proxy's origin, the bot's first
message shown.
waiting_page: as proxy_on, then the study link in headless Chromium: the
waiting page (its files from the room, the seat's modules from the lab
server), paired with an arrival on the room's websocket, goes to the seat's
page, which signs in; every request on the proxy's origin.

Through nginx, proxy_on and proxy_config check: TLS 1.2 and 1.3 taken,
1.1 refused; the seat page's files with their own headers (content
policy, no framing, no store for seat.json and lang.json) and HSTS; the
waiting page and the room's config; two arrivals on the room's websocket
paired, each given its seat link; that link's account signing in over
XMPP on the proxied websocket (RFC 7395 framing, SASL PLAIN) with the
public origin's Origin header; the room's close endpoint not reachable
from outside."""

import argparse
import asyncio
import base64
import json
import os
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from harness import (SKIP, Failure, LAB_GAME, check, free_port, load_wexlab,  # noqa: E402
                     page_header_faults)

FRAMING = "urn:ietf:params:xml:ns:xmpp-framing"
HSTS = "max-age=31536000"


def session_text(proxy_on, proxy_port, web_tls):
    lines = [f"Service xmpp:lab.wex@127.0.0.1:{free_port()};trust=any"]
    lines += [f"{key} {value}" for key, value in LAB_GAME.items()]
    lines += ["Arrivals on", "Seed 4", f"Web {free_port()}", f"Desk {free_port()}",
              f"Room {free_port()}", f"Proxy {'on' if proxy_on else 'off'}",
              f"ProxyPort {proxy_port}", "MaxPairs 2", "WaitTimeout 60", "CompletionCode DONE"]
    if web_tls:
        lines.append("WebTls on")
    return "\n".join(lines) + "\n"


class World:
    def __init__(self, args):
        self.args = args
        self.root = tempfile.mkdtemp(prefix="wex-e2e-proxy-")
        os.environ["WEX_DATA_DIR"] = os.path.join(self.root, "data")
        self.started = False
        self.nginx_dir = None
        self.seats = []

    def wexlab(self, *argv, timeout=120):
        done = subprocess.run([sys.executable, self.args.wexlab, *argv], cwd=self.root,
                              capture_output=True, text=True, timeout=timeout)
        return done.returncode, done.stdout + done.stderr

    def start(self, text):
        with open(os.path.join(self.root, "session.conf"), "w", encoding="utf-8") as f:
            f.write(text)
        self.started = True
        code, out = self.wexlab("start", "session.conf", "--bot", self.args.bot)
        check(code == 0, f"wexlab start failed:\n{out}")
        return out

    def own_nginx(self, site_file, port):
        """nginx run by the test, as a researcher would: its own nginx.conf
        that includes the site proxy-config wrote."""
        from wexlab.runtime import proxy_process
        from wexlab.servers import net
        self.nginx_dir = os.path.join(self.root, "own-nginx")
        os.makedirs(self.nginx_dir)
        d = self.nginx_dir
        conf = os.path.join(d, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f'pid "{d}/nginx.pid";\nerror_log "{d}/error.log";\n'
                    + ("user nobody nogroup;\n" if os.geteuid() == 0 else "") +
                    "events {}\nhttp {\n"
                    f'    access_log "{d}/access.log";\n'
                    f'    client_body_temp_path "{d}/body";\n    proxy_temp_path "{d}/proxy";\n'
                    f'    include "{site_file}";\n}}\n')
        done = subprocess.run([proxy_process.find_nginx(), "-p", d, "-c", conf, "-e",
                               f"{d}/error.log"], capture_output=True, text=True)
        check(done.returncode == 0, f"nginx did not start on the site: {done.stderr}")
        deadline = time.monotonic() + 10
        while not net.port_open("127.0.0.1", port):
            check(time.monotonic() < deadline, "the researcher's nginx does not listen")
            time.sleep(0.1)

    def stop_own_nginx(self):
        path = os.path.join(self.nginx_dir, "nginx.pid")
        if os.path.exists(path):
            from wexlab.runtime import bots
            with open(path) as f:
                bots.terminate([int(f.read())], 10)

    def close(self, failed):
        for seat in self.seats:
            seat.close()
        if self.started:
            self.wexlab("stop")
        if self.nginx_dir:
            self.stop_own_nginx()
        if failed:
            for name in ("proxy/error.log", "own-nginx/error.log", "room-console.log",
                         "server/prosody.err", "server/prosody.log"):
                path = os.path.join(self.root, name)
                if os.path.exists(path):
                    with open(path, encoding="utf-8", errors="replace") as f:
                        print(f"--- {name}\n{f.read()[-3000:]}")
        shutil.rmtree(self.root, ignore_errors=True)


def tls_context(lab):
    """Trusts the lab's own certificate only; 127.0.0.1 is in its names."""
    return ssl.create_default_context(cafile=lab.certificate)


def fetch(url, context, method="GET"):
    request = urllib.request.Request(url, method=method, data=b"" if method == "POST" else None)
    try:
        with urllib.request.urlopen(request, context=context, timeout=30) as answer:
            return answer.status, answer.headers, answer.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def check_files(origin, context):
    """The seat page's files come through with the lab server's headers,
    and nginx adds HSTS to them and to the room's."""
    faults = page_header_faults(origin, context)
    check(not faults, f"the page's headers through nginx: {faults}")
    for path in ("/", "/seat.json", "/lang.json"):
        status, headers, body = fetch(origin + path, context)
        check(status == 200, f"{path}: status {status}")
        check(headers.get("Strict-Transport-Security") == HSTS,
              f"{path}: HSTS {headers.get('Strict-Transport-Security')!r}")
        if path.endswith(".json"):
            check(headers.get("Cache-Control") == "no-store",
                  f"{path}: Cache-Control {headers.get('Cache-Control')!r}")
            json.loads(body)
    status, _, body = fetch(origin + "/", context)
    check(b"main.js" in body, "the seat page's index.html did not come through")


def handshake(port, highest):
    """The TLS version agreed with a client that offers up to highest
    (ciphers of every security level, so TLS 1.1 is really offered), or
    None when the server refuses."""
    import socket
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # TLS 1.0 and 1.1's names
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.minimum_version = ssl.TLSVersion.TLSv1
        context.maximum_version = highest
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
            with context.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
                return tls.version()
    except ssl.SSLError:
        return None


def check_tls_versions(port):
    check(handshake(port, ssl.TLSVersion.TLSv1_1) is None, "nginx took TLS 1.1")
    agreed = handshake(port, ssl.TLSVersion.TLSv1_2)
    check(agreed == "TLSv1.2", f"TLS 1.2 at most gave {agreed}")
    agreed = handshake(port, ssl.TLSVersion.MAXIMUM_SUPPORTED)
    check(agreed == "TLSv1.3", f"TLS 1.3 offered gave {agreed}")


def check_room_pages(origin, context, lab):
    status, headers, body = fetch(f"{origin}/join/{lab.session_id}", context)
    check(status == 200 and b"<html" in body.lower(), f"/join/: {status} {body[:200]!r}")
    check(headers.get("Strict-Transport-Security") == HSTS, "/join/ without HSTS")
    status, _, body = fetch(f"{origin}/room/config.json", context)
    check(status == 200, f"/room/config.json: {status}")
    config = json.loads(body)
    check(config.get("session") == lab.session_id, f"the room's config: {config}")
    # wexlab close's endpoint answers loopback peers with the token only,
    # and nginx does not pass it on: the request ends at the lab server.
    status, _, _ = fetch(f"{origin}/api/close", context, method="POST")
    check(status in (404, 405), f"/api/close through nginx: {status}")
    status, _, _ = fetch(f"{origin}/join/{lab.session_id}", context)
    check(status == 200, "the room closed from outside")


async def room_socket(session, origin, context, lab, label):
    ws = await session.ws_connect(origin.replace("https:", "wss:") + "/room/ws", ssl=context,
                                  headers={"Origin": origin})
    await ws.send_json({"type": "hello", "session": lab.session_id, "label": label,
                        "browser": "b-" + label})
    await ws.send_json({"type": "presence", "visible": True})
    return ws


async def next_of(ws, kind, seconds=30):
    deadline = time.monotonic() + seconds
    while True:
        left = deadline - time.monotonic()
        check(left > 0, f"no {kind} frame from the room")
        message = await ws.receive(timeout=left)
        check(message.type.name == "TEXT", f"the room's socket: {message.type.name}")
        frame = json.loads(message.data)
        if frame.get("type") == kind:
            return frame
        check(frame.get("type") != "error", f"the room said {frame}")


async def xmpp_frame(ws, pattern, seconds=20):
    """The server's frames until one matches pattern; all of them read."""
    seen = ""
    deadline = time.monotonic() + seconds
    while not re.search(pattern, seen, re.S):
        left = deadline - time.monotonic()
        check(left > 0, f"no {pattern!r} from the server; it sent {seen!r}")
        message = await ws.receive(timeout=left)
        check(message.type.name == "TEXT", f"the XMPP socket: {message.type.name} {seen!r}")
        seen += message.data
    return seen


async def xmpp_sign_in(session, origin, context, domain, name, password):
    """RFC 7395 over the proxied websocket: the open frame is answered with
    an open and the stream's features; SASL PLAIN with the seat's password
    succeeds (offered only on a stream Prosody takes as secure)."""
    ws = await session.ws_connect(origin.replace("https:", "wss:") + "/xmpp-websocket",
                                  ssl=context, protocols=("xmpp",), headers={"Origin": origin})
    check(ws.protocol == "xmpp", f"websocket protocol {ws.protocol!r}")
    await ws.send_str(f'<open xmlns="{FRAMING}" to="{domain}" version="1.0"/>')
    text = await xmpp_frame(ws, r"<open [^>]*/>.*</stream:features>")
    check(f'from="{domain}"' in text or f"from='{domain}'" in text, f"the open: {text}")
    check(re.search(r"<mechanism>PLAIN</mechanism>", text), f"no PLAIN offered: {text}")
    token = base64.b64encode(f"\0{name}\0{password}".encode()).decode()
    await ws.send_str(f"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='PLAIN'>"
                      f"{token}</auth>")
    text = await xmpp_frame(ws, r"<success|<failure")
    check("<success" in text, f"the seat's account did not sign in: {text}")
    await ws.send_str(f'<close xmlns="{FRAMING}"/>')
    await ws.close()


async def through_proxy(origin, context, lab):
    import aiohttp
    async with aiohttp.ClientSession() as session:
        first = await room_socket(session, origin, context, lab, "P1")
        await next_of(first, "waiting")
        second = await room_socket(session, origin, context, lab, "P2")
        links = [(await next_of(ws, "seat"))["link"] for ws in (first, second)]
        for ws in (first, second):
            await ws.close()
        for link in links:
            fields = urllib.parse.parse_qs(link.split("#", 1)[1])
            check(fields.get("code") == ["DONE"], f"the seat link {link}")
            await xmpp_sign_in(session, origin, context, lab.domain, fields["n"][0],
                               fields["p"][0])
        print(f"paired and signed in through nginx: {', '.join(sorted(links))[:60]}...")
        return links


def wait_closed(port, seconds=15):
    from wexlab.servers import net
    deadline = time.monotonic() + seconds
    while net.port_open("127.0.0.1", port):
        check(time.monotonic() < deadline, f"something still listens on {port}")
        time.sleep(0.2)


def case_proxy_on(world, lib):
    port = free_port()
    out = world.start(session_text(True, port, False))
    origin = f"https://127.0.0.1:{port}"
    check(f"serves {origin} on port {port}" in out, f"start did not name the proxy:\n{out}")
    check(f"{origin}/join/" in out, f"start did not print the study link:\n{out}")
    lab = lib.record.load(world.root)
    check(lib.proxy_process.running_pid(world.root) is not None, "no nginx runs")
    # PublicHost is the Service's 127.0.0.1: nginx listens there alone.
    with open(os.path.join(world.root, "proxy", "nginx.conf")) as f:
        check(f"listen 127.0.0.1:{port} ssl http2;" in f.read(), "nginx listens beyond loopback")
    # nginx's files are wexlab's: nothing in proxy/ for other users.
    for base, _, names in os.walk(os.path.join(world.root, "proxy")):
        for name in names:
            mode = os.stat(os.path.join(base, name)).st_mode & 0o777
            check(mode & 0o027 == 0, f"proxy/{name} has mode {mode:o}")
    context = tls_context(lab)
    check_tls_versions(port)
    check_files(origin, context)
    check_room_pages(origin, context, lab)
    asyncio.run(through_proxy(origin, context, lab))
    # nginx gone: status says so and resume starts it again.
    code, out = world.wexlab("status")
    check("The proxy (nginx) is not running" not in out, f"status with nginx up:\n{out}")
    check(lib.proxy_process.stop(world.root), "nginx did not stop")
    wait_closed(port)
    code, out = world.wexlab("status")
    check("The proxy (nginx) is not running: wexlab resume starts it again." in out,
          f"status without nginx:\n{out}")
    code, out = world.wexlab("resume")
    check(code == 0 and f"serves {origin}" in out, f"resume:\n{out}")
    check(fetch(origin + "/seat.json", context)[0] == 200, "no page after the resume")
    code, out = world.wexlab("stop")
    world.started = False
    check(code == 0 and "The proxy (nginx) stopped." in out, f"wexlab stop:\n{out}")
    check(lib.proxy_process.running_pid(world.root) is None, "nginx runs after the stop")
    wait_closed(port)


def case_proxy_config(world, lib):
    port = free_port()
    world.start(session_text(False, port, True))
    check(lib.proxy_process.running_pid(world.root) is None, "Proxy off started nginx")
    site = os.path.join(world.root, "wex-site.conf")
    code, said = world.wexlab("proxy-config", "--out", site)
    check(code == 0, f"proxy-config failed: {said}")
    with open(site) as f:
        text = f.read()
    lab = lib.record.load(world.root)
    check(f"proxy_pass https://127.0.0.1:{lab.web.port};" in text, "no https upstream")
    world.own_nginx(site, port)
    origin = f"https://127.0.0.1:{port}"
    context = tls_context(lab)
    check_tls_versions(port)
    check_files(origin, context)
    check_room_pages(origin, context, lab)
    asyncio.run(through_proxy(origin, context, lab))


def case_browser(world, lib):
    """A paired subject's seat in headless Chromium through nginx (the
    self-signed certificate accepted by the test's own flag): the page, its
    files and its websocket all on the proxy's origin, the bot answering."""
    from wexlab.rehearsal import browser
    port = free_port()
    world.start(session_text(True, port, False))
    origin = f"https://127.0.0.1:{port}"
    lab = lib.record.load(world.root)
    links = asyncio.run(through_proxy(origin, tls_context(lab), lab))
    browser.FLAGS += ("--ignore-certificate-errors",)
    seat = browser.Seat()
    world.seats.append(seat)
    seat.open(origin + links[0])
    seat.wait_ready()
    seat.say("pair01", "hello")  # Start, on the instructions before the game
    theirs = seat.wait(lambda: [m for m in seat.messages("pair01") if m[0] == "theirs"], 60,
                       "the bot's first message")
    print(f"the bot's first message in Chromium: {theirs[0][1][:70]!r}")
    # The network's requests (Chromium's own chrome:// pages are none).
    urls = [url for url in seat.requests() if re.match(r"(https?|wss?|ftp)://", url or "")]
    check(f"wss://127.0.0.1:{port}/xmpp-websocket" in urls, f"no proxied websocket in {urls}")
    others = [url for url in urls if not re.match(rf"(https|wss)://127\.0\.0\.1:{port}/", url)]
    check(not others, f"the page asked past the proxy: {others}")
    errors = [e["message"] for e in seat.driver.get_log("browser") if e["level"] == "SEVERE"]
    check(not errors, f"the page's console shows errors: {errors}")
    # The files over HTTP/2, the websocket beside them on HTTP/1.1.
    protocol = seat.driver.execute_script(
        "return performance.getEntriesByType('navigation')[0].nextHopProtocol")
    check(protocol == "h2", f"the page came over {protocol!r}")
    print(f"{len(urls)} requests, all to {origin}")


async def seated_arrival(origin, context, lab, label):
    """One arrival on the room's websocket, present until paired: its seat
    link."""
    import aiohttp
    async with aiohttp.ClientSession() as session:
        ws = await room_socket(session, origin, context, lab, label)
        link = (await next_of(ws, "seat", 60))["link"]
        await ws.close()
        return link


def case_waiting_page(world, lib):
    """The study link in headless Chromium through nginx: the waiting
    page (its own files from the room, the seat's modules from the lab
    server, one origin), paired with an arrival on the room's websocket,
    then the seat's page signed in; every request on the proxy's origin."""
    from selenium.webdriver.common.by import By
    from wexlab.rehearsal import browser
    from wexlab.model import online
    port = free_port()
    world.start(session_text(True, port, False))
    origin = f"https://127.0.0.1:{port}"
    lab = lib.record.load(world.root)
    link = online.study_link(lab)
    check(link == f"{origin}/join/{lab.session_id}", f"the study link {link}")
    browser.FLAGS += ("--ignore-certificate-errors",)
    seat = browser.Seat()
    world.seats.append(seat)
    seat.open(link + "?label=P1")
    seat.wait(lambda: seat.driver.execute_script(
        "const b = document.getElementById('continue'); return b && b.offsetParent !== null"),
        30, "the waiting page's instructions")
    seat.driver.find_element(By.ID, "continue").click()
    seat.wait(lambda: seat.driver.execute_script(
        "const w = document.getElementById('waiting'); return w && !w.hidden"),
        30, "the waiting view")
    other = asyncio.run(seated_arrival(origin, tls_context(lab), lab, "P2"))
    check("n=seat2" in other, f"the second arrival's seat: {other}")
    seat.wait(lambda: seat.driver.execute_script("return location.pathname === '/'"), 30,
              "the seat's page after the pairing")
    seat.wait_ready()
    urls = [url for url in seat.requests() if re.match(r"(https?|wss?|ftp)://", url or "")]
    for wanted in (f"wss://127.0.0.1:{port}/room/ws", f"wss://127.0.0.1:{port}/xmpp-websocket"):
        check(wanted in urls, f"no {wanted} in {urls}")
    others = [url for url in urls if not re.match(rf"(https|wss)://127\.0\.0\.1:{port}/", url)]
    check(not others, f"the pages asked past the proxy: {others}")
    errors = [e["message"] for e in seat.driver.get_log("browser") if e["level"] == "SEVERE"]
    check(not errors, f"the pages' console shows errors: {errors}")
    print(f"waiting page to a ready seat through nginx: {len(urls)} requests, all to {origin}")


CASES = {"proxy_on": case_proxy_on, "proxy_config": case_proxy_config, "browser": case_browser,
         "waiting_page": case_waiting_page}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    args = parser.parse_args(argv)
    args.wexlab, args.bot = os.path.abspath(args.wexlab), os.path.abspath(args.bot)
    needs = ("prosody", "chromium", "chromedriver") if args.case in ("browser", "waiting_page") \
        else ("prosody",)
    missing = [p for p in needs if not shutil.which(p)]
    try:
        import aiohttp
        load_wexlab(args.wexlab)
        from wexlab.model import record
        from wexlab.rehearsal.browser import BrowserError
        from wexlab.runtime import proxy_process
        from wexlab.servers import web_page
        if proxy_process.find_nginx() is None:
            missing.append("nginx")
        if not os.path.exists(os.path.join(web_page.web_root(), "node_modules")):
            missing.append("web/node_modules (scripts/install-deps.sh)")
    except ImportError as e:
        missing.append(str(e))
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return SKIP
    lib = argparse.Namespace(record=record, proxy_process=proxy_process)
    world = World(args)
    started = time.monotonic()
    failed = True
    try:
        CASES[args.case](world, lib)
        failed = False
    except Failure as e:
        print(f"FAILED: {e}")
    except (aiohttp.ClientError, asyncio.TimeoutError, OSError, BrowserError) as e:
        print(f"FAILED: {e!r}")
    finally:
        world.close(failed)
    if not failed:
        print(f"passed in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
