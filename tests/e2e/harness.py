"""Shared parts of the end-to-end tests: a lab server of their own, the
programs under test as line-reading subprocesses, and slixmpp peers.

Everything here stops by itself: every wait has a deadline, and Lab and
Program kill what they started when the test leaves them."""

import asyncio
import json
import os
import re
import shutil
import signal
import secrets
import ssl
import subprocess
import sys
import tempfile
import time

import slixmpp

SKIP = 77  # CTest's SKIP_RETURN_CODE
# The wexlab launcher, whose code loads the package lab/ (load_wexlab).
LAUNCHER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "wexlab")
CASE_SECONDS = 100  # below CTest's TIMEOUT, so a stuck case still cleans up

GAME_KEYS = """NRounds 2
ConversationInterval 1
MarketBase 1
MarketNoiseScale 0.4
MarketNoise 0.25,0.75
MaxChatTime 300
MaxChatIdle 60
"""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, condition, timeout=20, every=0.1):
    """Polls condition until it returns something true, and returns that;
    a Failure naming what once timeout seconds have passed."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(every)
    raise Failure(f"timed out waiting for {what}")


def wait_for_state(what, read, test, timeout=20):
    """Waits until test(read()) holds and returns that state; the Failure
    shows the last state read, which is what tells why."""
    seen = {}

    def holds():
        seen["state"] = read()
        return test(seen["state"])
    try:
        wait_for(what, holds, timeout)
    except Failure:
        raise Failure(f"timed out waiting for {what}; the page shows {seen.get('state')}")
    return seen["state"]


def free_port():
    """A port for a server to listen on, as wexlab chooses them (below the
    range the kernel gives outgoing connections)."""
    load_wexlab(LAUNCHER)
    from wexlab.servers import net
    return net.free_port()


class _LabBase:
    """What the Prosody and ejabberd labs share: the four accounts (bot,
    subject1, subject2, moderator) and the bot's configuration for them."""

    def _write_bot_config(self):
        with open(self.config, "w") as f:
            f.write(f"Service {self.service}\nBotUsername selkbot\nSubject1Name alice\n"
                    "Subject2Name bob\nModeratorName moderator\nPasswordFile passwords.txt\n"
                    f"BotPasswordIndex 0\nKeyIndex 1\nLogFile transcript\n{GAME_KEYS}")

    def password(self, role):
        return self.accounts[role]["password"]

    def jid(self, role):
        return self.accounts[role]["jid"]

    def log_tail(self):
        """The end of the server's log, shown when a test fails; none here."""
        return ""


class Lab(_LabBase):
    """A Prosody on 127.0.0.1 in a temporary folder, set up by the lab
    script from a bot configuration, with the four accounts of that
    configuration (bot, alice, bob, moderator)."""

    def __init__(self, lab_script, plain=False):
        self.script = lab_script
        self.plain = plain
        self.root = tempfile.mkdtemp(prefix="wex-e2e-")
        self.dir = os.path.join(self.root, "server")
        self.port = free_port()
        options = ";tls=off" if plain else ";trust=any"
        self.service = f"xmpp:lab.wex@127.0.0.1:{self.port}{options}"
        self.config = os.path.join(self.root, "bot.conf")
        self._write_bot_config()
        self.accounts = {}

    def _script(self, *args):
        done = subprocess.run([sys.executable, self.script, *args, "--dir", self.dir],
                              cwd=self.root, capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise Failure(f"lab-server.py {args[0]} failed: {done.stderr}{done.stdout}")
        return done.stdout

    def start(self):
        extra = ["--allow-plain"] if self.plain else []
        out = self._script("start", self.config, *extra)
        with open(os.path.join(self.dir, "accounts.json")) as f:
            self.accounts = json.load(f)["accounts"]
        return out

    def stop(self):
        return self._script("stop")

    def resume(self):
        return self._script("resume")

    def close(self):
        try:
            self._script("stop")
        except Exception:
            pass
        pid_file = os.path.join(self.dir, "prosody.pid")
        if os.path.exists(pid_file):  # stop failed: kill what we started
            try:
                os.kill(int(open(pid_file).read().strip()), signal.SIGKILL)
            except (OSError, ValueError):
                pass
        shutil.rmtree(self.root, ignore_errors=True)


class EjabberdLab(_LabBase):
    """An ejabberd node on 127.0.0.1 in a temporary folder, set up by
    wexlab's own code as a session's node is (lab/servers/ejabberd: its
    ejabberd.yml and ejabberdctl.cfg, the cookie, the lab's policy module
    letting the bot talk with each participant), with the same four
    accounts as Lab, imported as wexlab imports a session's. The one
    test-only change is OVERRIDES: ejabberd's default presence-flood
    counter (mod_pres_counter: five subscription stanzas a minute each way)
    instead of the session's raised one."""

    DOMAIN = "lab.wex"
    NAMES = {"bot": "selkbot", "subject1": "alice", "subject2": "bob",
             "moderator": "moderator"}
    OVERRIDES = {"mod_pres_counter": " {}"}

    def __init__(self, launcher=LAUNCHER):
        load_wexlab(launcher)
        self.plain = False
        self.root = tempfile.mkdtemp(prefix="wex-e2e-ejabberd-")
        self.dir = os.path.join(self.root, "server")
        self.port = free_port()
        self.service = f"xmpp:{self.DOMAIN}@127.0.0.1:{self.port};trust=any"
        self.config = os.path.join(self.root, "bot.conf")
        self.log = os.path.join(self.dir, "node1", "logs", "ejabberd.log")
        self.accounts = {}
        # What wexlab's ejabberd code reads of a session's record: one node,
        # talking Erlang distribution on a port of its own without epmd.
        from wexlab.model.record import Lab, Node
        self.record = Lab(domain=self.DOMAIN, address="127.0.0.1", port=self.port,
                          nodes=[Node(f"wex{self.port}@localhost", self.port)],
                          cluster_port=free_port(), epmd_port=None)

    def start(self):
        from wexlab.model.files import make_private_dir, write_private
        from wexlab.model.record import Account
        from wexlab.servers import policy
        from wexlab.servers.ejabberd import cluster
        lab = self.record
        cluster.check_folder(self.root)
        for sub in ("", "home", "certs"):
            make_private_dir(os.path.join(self.dir, sub))
        write_private(os.path.join(self.dir, "home", ".erlang.cookie"),
                      os.urandom(16).hex().upper())
        cluster.prepare_module(self.dir)
        crt = os.path.join(self.dir, "certs", self.DOMAIN + ".crt")
        key = os.path.join(self.dir, "certs", self.DOMAIN + ".key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                        "2", "-keyout", key, "-out", crt, "-subj", "/CN=" + self.DOMAIN],
                       check=True, capture_output=True, timeout=60)
        policy.write_policy(self.dir, policy.default_policy(self.NAMES))
        cluster.write_node_files(lab, self.root, 0, crt, key, self.OVERRIDES)
        try:
            cluster.start_node(lab, self.root, 0)
        except Exception as e:
            raise Failure(f"ejabberd did not start: {e}\n{self.server_log()}")
        passwords = {role: secrets.token_hex(8) for role in self.NAMES}
        lab.accounts = {name: Account(name, f"{name}@{self.DOMAIN}", passwords[role])
                        for role, name in self.NAMES.items()}
        cluster.register(lab, self.root)
        for role, name in self.NAMES.items():
            self.accounts[role] = {"jid": f"{name}@{self.DOMAIN}", "password": passwords[role]}
        with open(os.path.join(self.root, "passwords.txt"), "w") as f:
            f.write(f"{passwords['bot']}\nLAB-KEY\n")
        self._write_bot_config()

    def server_log(self):
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def log_tail(self):
        return "\n".join(f"  ejabberd| {line}" for line in self.server_log().splitlines()[-40:])

    def close(self):
        """Stops the node as wexlab does (SIGTERM: the Erlang VM then stops
        in order; SIGKILL after a bounded wait)."""
        from wexlab.servers.ejabberd import cluster
        cluster.stop(self.record, self.root)
        shutil.rmtree(self.root, ignore_errors=True)


class Program:
    """A program under test whose standard output is read line by line."""

    def __init__(self, name):
        self.name = name
        self.proc = None
        self.lines = []
        self._seen = 0
        self._reader = None
        self._new_line = asyncio.Event()

    async def start(self, argv, cwd, env=None):
        self.proc = await asyncio.create_subprocess_exec(
            *argv, cwd=cwd, env=env, stdin=asyncio.subprocess.PIPE,
            stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.STDOUT)
        self._reader = asyncio.ensure_future(self._read())

    async def _read(self):
        while True:
            line = await self.proc.stdout.readline()
            if not line:
                break
            self.lines.append(line.decode("utf-8", "replace").rstrip("\n"))
            self._new_line.set()
        self._new_line.set()

    async def expect(self, pattern, timeout=15):
        """Waits for the next line (after those already matched) that matches
        pattern; returns the match."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while True:
            while self._seen < len(self.lines):
                line = self.lines[self._seen]
                self._seen += 1
                match = regex.search(line)
                if match:
                    return match
            if self._reader.done():
                raise Failure(f"{self.name} ended before a line matching {pattern!r}")
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"{self.name}: no line matching {pattern!r} within {timeout} s")
            self._new_line.clear()
            try:
                await asyncio.wait_for(self._new_line.wait(), left)
            except asyncio.TimeoutError:
                pass

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())

    async def wait(self, timeout=15):
        try:
            code = await asyncio.wait_for(self.proc.wait(), timeout)
        except asyncio.TimeoutError:
            raise Failure(f"{self.name} did not end within {timeout} s")
        await asyncio.wait_for(self._reader, 5)
        return code

    async def close(self):
        if self.proc is None:
            return
        if self.proc.returncode is None:
            self.proc.kill()
            await self.proc.wait()
        if self._reader is not None:
            self._reader.cancel()

    def transcript(self):
        return "\n".join(f"  {self.name}| {line}" for line in self.lines)


class Peer(slixmpp.ClientXMPP):
    """One participant's XMPP client."""

    def __init__(self, jid, password, port, plain=False):
        super().__init__(jid, password)
        self.port = port
        self.plain = plain
        self.inbox = asyncio.Queue()
        self.received = []  # (sender's bare address, body) of every message with a body
        self.presences = asyncio.Queue()
        self.ready = asyncio.Event()
        # Tests judge the bot's answers themselves.
        self.auto_authorize = None
        self.auto_subscribe = False
        self.ssl_context.check_hostname = False
        self.ssl_context.verify_mode = ssl.CERT_NONE
        self.register_plugin("xep_0199")
        self.add_event_handler("session_start", self._started)
        self.add_event_handler("message", self._message)
        for kind in ("presence_subscribe", "presence_subscribed", "presence_available"):
            self.add_event_handler(kind, lambda p, k=kind: self.presences.put_nowait((k, p)))

    def _message(self, msg):
        if msg["body"]:
            self.received.append((msg["from"].bare, msg["body"]))
        self.inbox.put_nowait(msg)

    async def _started(self, _):
        self.send_presence()
        await self.get_roster()
        self.ready.set()

    async def online(self, timeout=15):
        self.connect(("127.0.0.1", self.port), force_starttls=not self.plain,
                     disable_starttls=self.plain)
        try:
            await asyncio.wait_for(self.ready.wait(), timeout)
        except asyncio.TimeoutError:
            raise Failure(f"{self.boundjid.bare} could not sign on")
        return self

    async def message(self, timeout=15, sender=None):
        """The next chat message with a body (from sender, when given)."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                msg = await asyncio.wait_for(self.inbox.get(), max(left, 0))
            except asyncio.TimeoutError:
                raise Failure(f"{self.boundjid.bare}: no message within {timeout} s")
            if msg["body"] and (sender is None or msg["from"].bare == sender):
                return msg

    async def presence(self, kind, timeout=15):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                got, presence = await asyncio.wait_for(self.presences.get(), max(left, 0))
            except asyncio.TimeoutError:
                raise Failure(f"{self.boundjid.bare}: no {kind} within {timeout} s")
            if got == kind:
                return presence

    async def subscribe(self, to):
        """Asks to see `to`; returns once `to` has agreed and asked back."""
        self.send_presence_subscription(pto=to)
        await self.presence("presence_subscribed")
        await self.presence("presence_subscribe")

    def say(self, to, text, kind="chat"):
        self.send_message(mto=to, mbody=text, mtype=kind)

    async def close(self):
        if self.is_connected():
            self.disconnect()
            try:
                await asyncio.wait_for(self.disconnected, 5)
            except Exception:
                pass


def page_header_faults(origin, context=None):
    """What is wrong with the headers of the seat page's files at origin:
    each must forbid framing in a Content-Security-Policy header and
    X-Frame-Options, allow no other origin (no Access-Control-Allow-Origin,
    even to a request that names one), and carry a Cache-Control suited to
    it (seat.json never stored). A list of faults, empty when sound."""
    import urllib.request
    from wexlab.servers import web_page
    faults = []
    for path in ("/", "/index.html", "/main.js", "/seat.json"):
        request = urllib.request.Request(origin + path,
                                         headers={"Origin": "http://other.example"})
        with urllib.request.urlopen(request, context=context, timeout=30) as answer:
            headers = answer.headers
            answer.read()
        csp = headers.get("Content-Security-Policy")
        if csp != web_page.CONTENT_SECURITY_POLICY or "frame-ancestors 'none'" not in csp:
            faults.append(f"{path}: Content-Security-Policy {csp!r}")
        if headers.get("X-Frame-Options") != "DENY":
            faults.append(f"{path}: X-Frame-Options {headers.get('X-Frame-Options')!r}")
        if headers.get("Access-Control-Allow-Origin") is not None:
            faults.append(f"{path}: Access-Control-Allow-Origin "
                          f"{headers.get('Access-Control-Allow-Origin')!r}")
        cache = headers.get("Cache-Control")
        wanted = ("no-store",) if path == "/seat.json" else ("no-cache", "no-store")
        if cache not in wanted:
            faults.append(f"{path}: Cache-Control {cache!r}, not {' or '.join(wanted)}")
    return faults


def load_wexlab(launcher):
    """The package wexlab (lab/), loaded by the code of the launcher at this
    path (scripts/wexlab), as the program itself loads it."""
    import importlib.machinery
    import importlib.util
    if "wexlab" in sys.modules:
        return sys.modules["wexlab"]
    sys.dont_write_bytecode = True
    loader = importlib.machinery.SourceFileLoader("wexlab_launcher", launcher)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module.load_wexlab()


def run_case(cases, argv):
    """Runs the case named by --case with the paths given on the command
    line; the exit status says pass (0), fail (1) or skip (77)."""
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(cases))
    parser.add_argument("--lab-script", required=True)
    parser.add_argument("--driver")
    parser.add_argument("--bot")
    parser.add_argument("--case-seconds", type=int, default=CASE_SECONDS,
                        help="the case's time limit, below CTest's TIMEOUT")
    args = parser.parse_args(argv)
    # A case names the server programs it needs; Prosody's by default.
    needs = getattr(cases[args.case], "needs", ("prosody", "prosodyctl"))
    missing = [program for program in needs if shutil.which(program) is None]
    if missing:
        print(f"{' and '.join(missing)} not installed: skipped")
        return SKIP
    started = time.monotonic()
    try:
        asyncio.run(asyncio.wait_for(cases[args.case](args), args.case_seconds))
    except asyncio.TimeoutError:
        print(f"FAILED: the case took more than {args.case_seconds} s")
        return 1
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    print(f"passed in {time.monotonic() - started:.1f} s")
    return 0


class Scene:
    """One test's world: its lab server, programs and peers, all closed on
    the way out; the programs' output is shown when the test fails."""

    def __init__(self, args, plain=True, lab=None):
        self.args = args
        self.lab = lab or Lab(args.lab_script, plain)
        self.programs = []
        self.peers = []

    async def __aenter__(self):
        self.lab.start()
        return self

    async def __aexit__(self, exc_type, exc, tb):
        if exc_type is not None:
            for program in self.programs:
                print(program.transcript())
            tail = self.lab.log_tail()
            if tail:
                print(tail)
        for peer in self.peers:
            await peer.close()
        for program in self.programs:
            await program.close()
        self.lab.close()
        return False

    async def peer(self, role, received=None):
        """role's client, signed on. received, when given, is the list that
        records its messages (from before sign-on: a list kept across
        sign-ons keeps what was stored while the client was away)."""
        peer = Peer(self.lab.jid(role), self.lab.password(role), self.lab.port, self.lab.plain)
        if received is not None:
            peer.received = received
        self.peers.append(peer)
        return await peer.online()

    async def program(self, name, argv, env=None):
        program = Program(name)
        self.programs.append(program)
        await program.start(argv, self.lab.root, env)
        return program

    async def driver(self, *options, service=None, password=None):
        """The service driver, signed on as the bot's account."""
        argv = [self.args.driver, service or self.lab.service, "selkbot",
                password or self.lab.password("bot"), *options]
        return await self.program("driver", argv)

    async def bot(self):
        env = dict(os.environ, WEX_SETTINGS_DIR=os.path.join(self.lab.root, "settings"),
                   TZ="UTC")
        return await self.program("wexbot", [self.args.bot, self.lab.config], env)


def browser(args, profile):
    """Headless Chromium through Selenium for a page test: a fresh profile,
    no background traffic, and a dead proxy for all but 127.0.0.1, so any
    outside fetch fails the test."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = args.chromium
    for flag in ("--headless", "--no-sandbox", "--disable-gpu",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--no-first-run", f"--user-data-dir={profile}",
                 "--proxy-server=127.0.0.1:9", "--proxy-bypass-list=127.0.0.1",
                 "--window-size=1400,900"):
        options.add_argument(flag)
    # chromedriver's port chosen as the servers' are (see free_port).
    return webdriver.Chrome(service=Service(args.chromedriver, port=free_port()),
                            options=options)


AXE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "web",
                   "node_modules", "axe-core", "axe.min.js")


def axe_violations(driver, tags=("wcag2a", "wcag2aa", "wcag21a", "wcag21aa", "wcag22aa")):
    """axe-core's WCAG violations on the page the driver shows, each as
    "rule: target, ..." (empty when none). axe comes from web/node_modules
    (pinned by the lockfile), injected by the driver, not by the page."""
    with open(AXE, encoding="utf-8") as f:
        driver.execute_script(f.read())
    driver.set_script_timeout(30)
    found = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document, {runOnly: {type: 'tag', values: arguments[0]}})"
        ".then(r => done(r.violations.map(v => v.id + ': ' +"
        " v.nodes.map(n => n.target.join(' ')).join(', '))),"
        " e => done(['axe failed: ' + e]));", list(tags))
    return found


# The game keys of the one-pair lab sessions (ann and ben, seed 4) that the
# page tests start; a case overrides or adds keys.
LAB_GAME = {"ModeratorName": "moderator", "LogFile": "transcript", "NRounds": "10",
            "ConversationInterval": "5", "MarketBase": "1", "MarketNoiseScale": "0.4",
            "MarketNoise": "0.25,0.75", "MaxChatTime": "300", "MaxChatIdle": "60"}


def one_pair_session(**keys):
    """A wexlab session file's text for ann and ben on free ports of
    127.0.0.1: LAB_GAME with keys over it."""
    values = dict(LAB_GAME, **{key: str(value) for key, value in keys.items()})
    lines = [f"Service xmpp:lab.wex@127.0.0.1:{free_port()};trust=any"]
    lines += [f"{key} {value}" for key, value in values.items()]
    lines += ["Subjects ann ben", "Seed 4", f"Web {free_port()}"]
    return "\n".join(lines) + "\n"


def run_in_folder(prefix, run, keep=False, settings=False):
    """Runs run(root) in a new temporary folder, wexbot's settings store
    inside it when settings is set; returns the exit status of a case: 0,
    or 1 after printing the Failure. The folder goes unless keep."""
    root = tempfile.mkdtemp(prefix=prefix)
    if settings:
        os.environ["WEX_SETTINGS_DIR"] = os.path.join(root, "settings")
    try:
        run(root)
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        if keep:
            print(f"kept {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    return 0
