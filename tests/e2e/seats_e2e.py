#!/usr/bin/python3
"""End-to-end tests of the seats in a browser: wexlab sessions whose
participants play through the lab server's web page in headless Chromium.

game: two subjects and the moderator, each in a Chromium, play a 3-round
game with a break against the real wexbot; one subject reloads its page
mid-round and finishes; a restart of the server is seen and recovered from
without a reload; a wrong link shows the plain message; a message
to the other subject is refused by the server's policy (websocket sessions
are held to it too); every request of every page goes to 127.0.0.1.
tls: with WebTls on the page and its websocket use HTTPS and wss, the
page's files come with headers that forbid framing and other origins (and
seat.json is never stored), and a second session gets the same
certificate.
flood: a subject's seat that sent 10,000 messages to its bot, and the
moderator's that sent as many to wexlab's notices, reload ready in seconds,
not minutes, with their newest messages, and show earlier ones on demand;
flood_ejabberd: the same on `Server ejabberd`, with 1,000 messages.
contact: a subject's link whose c= names the other subject or the
moderator, or has none, and the moderator's link with a c=, sign in to
nothing and show the plain message; the true link still works in that tab.
rehearse: `wexlab rehearse --browser --pairs 2 --rounds 2` reaches every
pair's payouts with pair 1's subjects in Chromium.
two_tabs: one link in two tabs: the newer takes the seat, the older says
so and stays signed out, and the supervisor tells it once; a reload of
the newer one is no second notice.
instructions: each subject first sees the pair's instructions with its
values (rounds, bonus interval, pay rule), Start sends the first message
and the bot's first question follows; they open again from the chat; a
reload after Start goes to the chat; the moderator's seat opens on its
chats; axe-core finds no WCAG violation on any of these screens. instructions_de: the same with `Language de`: the page's
texts German and <html lang="de">. --screenshots DIR keeps both screens
at 1400 and 360 px wide."""

import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

SKIP = 77
BAD_LINK = "This link does not work. Please ask the experimenter for a new card."
REFUSAL = "Messages to this account are not allowed in this session."


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class World:
    """A session folder under a temporary root, with wexlab's data folder
    there too, and the Chromiums opened on it; all gone on close."""

    def __init__(self, args):
        self.args = args
        self.root = tempfile.mkdtemp(prefix="wex-e2e-seats-")
        # wexlab's data folder, for wexlab here and in the programs started.
        os.environ["WEX_DATA_DIR"] = os.path.join(self.root, "data")
        self.env = dict(os.environ)
        self.seats = []
        self.started = False

    def wexlab(self, *argv, timeout=120):
        done = subprocess.run([sys.executable, self.args.wexlab, *argv], cwd=self.root,
                              env=self.env, capture_output=True, text=True, timeout=timeout)
        return done.returncode, done.stdout + done.stderr

    def start(self, text):
        with open(os.path.join(self.root, "session.conf"), "w", encoding="utf-8") as f:
            f.write(text)
        self.started = True
        code, out = self.wexlab("start", "session.conf", "--bot", self.args.bot)
        check(code == 0, f"wexlab start failed:\n{out}")
        with open(os.path.join(self.root, "seats.csv"), encoding="utf-8") as f:
            return {row["name"]: row for row in csv.DictReader(f)}

    def seat(self):
        seat = self.lib.browser.Seat()
        self.seats.append(seat)
        return seat

    def close(self, failed):
        for seat in self.seats:
            seat.close()
        if self.started:
            self.wexlab("stop")
        if failed:
            for name in ("supervisor.log", "server/prosody.err", "pair01/console.log"):
                path = os.path.join(self.root, name)
                if os.path.exists(path):
                    with open(path, encoding="utf-8", errors="replace") as f:
                        print(f"--- {name}\n{f.read()[-3000:]}")
        shutil.rmtree(self.root, ignore_errors=True)


class Player:
    """A subject in its page: answers each question of the bot in turn and
    writes done in a break, reading the chat from the DOM."""

    def __init__(self, seat, robots, value):
        self.seat, self.robots, self.value = seat, robots, value
        self.handled = 0
        self.closed = False
        self.answers = 0

    def found(self, patterns, text):
        return any(pattern.search(text) for pattern in patterns)

    def step(self):
        theirs = [text for kind, text in self.seat.messages("pair01") if kind == "theirs"]
        for text in theirs[self.handled:]:
            self.handled += 1
            if self.found(self.robots.BREAK, text):
                self.seat.say("pair01", "done")
            if self.found(self.robots.ASKS_EXPECTATION, text):
                self.seat.say("pair01", str(self.value))
                self.answers += 1
            elif self.found(self.robots.ASKS_INVESTMENT, text):
                self.seat.say("pair01", str(self.value + 5))
                self.answers += 1
            if self.found(self.robots.CLOSED, text):
                self.closed = True


def outside(urls):
    """The network requests that went anywhere but 127.0.0.1."""
    bad = []
    for url in urls:
        parts = urllib.parse.urlsplit(url or "")
        if parts.scheme in ("http", "https", "ws", "wss", "ftp") and parts.hostname != "127.0.0.1":
            bad.append(url)
    return bad


def session(**keys):
    """The page tests' one-pair session: three rounds, a break after two."""
    from harness import one_pair_session  # beside this file
    return one_pair_session(NRounds=3, ConversationInterval=2, **keys)


def case_game(world):
    rows = world.start(session())
    lib = world.lib
    ann, ben, moderator = world.seat(), world.seat(), world.seat()

    # A wrong password, then the right link in the same tab.
    ann.open(rows["ann"]["link"].replace("&p=", "&p=x"))
    ann.wait(lambda: ann.state()["fault"], 30, "the wrong link's message")
    check(ann.state()["fault"] == BAD_LINK, f"wrong link shows {ann.state()}")
    opened = time.monotonic()
    ann.open(rows["ann"]["link"])
    ann.wait_ready()
    print(f"ann's link to a ready chat: {time.monotonic() - opened:.2f} s")
    ben.open(rows["ben"]["link"])
    moderator.open(rows["moderator"]["link"])
    ben.wait_ready()
    moderator.wait_ready()

    # The server holds a web seat to the policy like any other client.
    ann.driver.execute_script("seat.conn.send($msg({to: 'ben@lab.wex', type: 'chat'})"
                              ".c('body').t('psst'))")
    ann.wait(lambda: [m for m in ann.messages("pair01") if m[0] == "note" and REFUSAL in m[1]],
             30, "the refusal of a message to the other subject")
    with open(os.path.join(world.root, "server", "refused.log"), encoding="utf-8") as f:
        check("ben@lab.wex" in f.read(), "refused.log does not name the refused message")

    players = [Player(ann, lib.robots, 20), Player(ben, lib.robots, 30)]
    ann.say("pair01", "hello")
    ben.say("pair01", "hello")
    reloaded = False
    asked = False
    deadline = time.monotonic() + 150
    while not all(p.closed for p in players):
        check(time.monotonic() < deadline, "the game did not end: "
              f"{[m[1][:60] for m in ben.messages('pair01')[-6:]]}")
        for player in players:
            player.step()
        if not reloaded and players[1].answers == 1:
            # Mid-round: the bot's next question may come while ben is away.
            before = len(ben.messages("pair01"))
            ben.driver.refresh()
            ben.wait_ready()
            ben.wait(lambda: len(ben.messages("pair01")) >= before, 30, "the history")
            reloaded = True
        if not asked and players[0].answers >= 2:
            moderator.say("pair01", "?")
            asked = True
        time.sleep(0.2)
    check(reloaded, "ben never reloaded")

    def payouts():
        lines = [text for kind, text in moderator.messages("pair01") if kind == "theirs"]
        return [line for line in lines
                if any(pattern.match(line) for pattern in lib.robots.PAYOUT)]
    moderator.wait(lambda: len(payouts()) == 2, 60, "both payouts in the moderator's chat")
    statuses = [text for kind, text in moderator.messages("pair01") if text.startswith("Status")]
    check(statuses, "the moderator's ? was not answered")
    # Each round began once in ben's chat; the reload while the bot waited
    # for ben's answer may add the one question asked again ("Current
    # round: 1"), never more.
    begun = [int(n) for kind, text in ben.messages("pair01") if kind == "theirs"
             for pattern in lib.robots.ROUND for n in pattern.findall(text)]
    collapsed = [n for i, n in enumerate(begun) if i == 0 or n != begun[i - 1]]
    check(collapsed == [1, 2, 3] and len(begun) <= 4,
          f"ben's chat shows the rounds begin as {begun}")

    # Only the pages' accounts keep an archive; a bot's own copy of every
    # message would double the server's writes and is never read.
    archive = os.path.join(world.root, "server", "data", "lab%2ewex", "archive")
    check(os.path.exists(os.path.join(archive, "ben.list")), "ben's messages are not archived")
    check(not os.path.exists(os.path.join(archive, "pair01.list")),
          "the bot's messages are archived for the bot")

    # The server restarts: the moderator's page says it is down, comes back
    # by itself and still shows the whole conversation. (A subject's page
    # has ended with the game and no longer reconnects.)
    def conversation():  # the page's own notes are not part of it
        return [m for m in moderator.messages("pair01") if m[0] != "note"]
    shown = conversation()
    lib.server.stop_folder(world.root)
    moderator.wait(lambda: moderator.state()["status"] == "down", 30,
                   "the page to see the server gone")
    lib.server.for_lab(lib.record.load(world.root), world.root).start()
    moderator.wait_ready(60)
    try:
        moderator.wait(lambda: conversation() == shown, 30, "the conversation after reconnecting")
    except lib.browser.BrowserError:
        raise Failure(f"after reconnecting the moderator's chat shows {conversation()[-4:]} "
                      f"of {len(conversation())}, not {shown[-4:]} of {len(shown)}")
    for name, seat in (("ann", ann), ("ben", ben), ("moderator", moderator)):
        urls = seat.requests()
        check(any(u.startswith("ws://127.0.0.1") for u in urls), f"{name}: no websocket seen")
        check(not outside(urls), f"{name}'s page asked outside the lab: {outside(urls)}")
    code, out = world.wexlab("stop")
    world.started = False
    check(code == 0, f"wexlab stop failed:\n{out}")


def case_tls(world):
    """WebTls on: the page over HTTPS and its websocket over wss on the same
    origin, with the machine's certificate, the same in a second session."""
    text = session() + "WebTls on\n"
    rows = world.start(text)
    check(rows["ann"]["link"].startswith("https://127.0.0.1:"), f"link {rows['ann']['link']}")
    lib = world.lib
    # A plain HTTPS request, as another site's page or frame would make it.
    import ssl
    from harness import page_header_faults
    context = ssl.create_default_context(cafile=lib.record.load(world.root).certificate)
    origin = rows["ann"]["link"].split("/#")[0]
    faults = page_header_faults(origin, context)
    check(not faults, f"the page's headers: {faults}")
    lib.browser.FLAGS += ("--ignore-certificate-errors",)
    ann = world.seat()
    ann.open(rows["ann"]["link"])
    ann.wait_ready()
    ann.say("pair01", "hello")
    ann.wait(lambda: [m for m in ann.messages("pair01") if m[0] == "theirs"], 30, "the bot")
    urls = ann.requests()
    check(any(u.startswith("wss://127.0.0.1") for u in urls), f"no wss in {urls}")
    check(not outside(urls), f"the page asked outside the lab: {outside(urls)}")
    # A blocked script or style (the page's own policy) is a console error.
    errors = [e["message"] for e in ann.driver.get_log("browser") if e["level"] == "SEVERE"]
    check(not errors, f"the page's console shows errors: {errors}")
    first = lib.record.load(world.root).fingerprints
    code, out = world.wexlab("stop")
    world.started = False
    check(code == 0, f"wexlab stop failed:\n{out}")
    again = os.path.join(world.root, "again")
    os.makedirs(again)
    keys = lib.bot_check.key_table(world.args.bot)
    lab = lib.plan.new_lab(lib.session.parse_session(text, os.path.join(again, "s.conf"), keys),
                           None)
    lib.server.for_lab(lab, again).set_up(False)
    check(lab.fingerprints == first, "the second session has another certificate")


# Sends arguments[1] messages to arguments[0]@lab.wex from the page, the
# last one arguments[2], then waits for the server's answer to a ping,
# which comes after it has taken (and archived) every message before it.
FLOOD = """
const [to, count, last, done] = arguments;
for (let i = 1; i < count; i++) {
  seat.conn.send($msg({to: to + '@lab.wex', type: 'chat'}).c('body').t('flood ' + i));
}
seat.conn.send($msg({to: to + '@lab.wex', type: 'chat'}).c('body').t(last));
seat.conn.sendIQ($iq({type: 'get', to: 'lab.wex'}).c('ping', {xmlns: 'urn:xmpp:ping'}),
                 () => done(true), () => done(true), 120000);
"""
FLOOD_SIZE = 10000
# A bound that tells a page that renders the whole archive (minutes, or
# never) from one that renders a page of it; the time itself is printed
# (about 0.6 to 2 s here) and is not a pass mark on a busy CI machine.
READY_SECONDS = 10.0
PAGE = 200  # the messages of a chat a seat shows after a sign-in


def seat_errors(seat):
    """A wait that timed out, or a page too busy to answer the driver."""
    from selenium.common.exceptions import WebDriverException
    return sys.modules[type(seat).__module__].BrowserError, WebDriverException


def settled(seat, chat):
    """The last messages of a chat once nothing new came to it for 3 s."""
    seen, since = None, time.monotonic()
    while time.monotonic() - since < 3:
        now = len(seat.messages(chat))
        if now != seen:
            seen, since = now, time.monotonic()
        time.sleep(0.5)
    return seat.messages(chat)[-5:]


def reload_over_flood(seat, chat):
    """Reloads a flooded seat: the seconds until it is ready with its newest
    messages shown, the chat's length then, then after asking for earlier
    messages twice."""
    from selenium.webdriver.common.by import By
    # The flood went past the view: the newest message is the bot's last
    # answer shown live, if any, else the flood's last line; that line is
    # among the newest page either way.
    last = ["mine", f"last of {chat}"]
    newest = (settled(seat, chat) or [last])[-1]
    # Reopened in the same tab (the login is kept for it): the time is the
    # new page's, not the old one's unloading.
    address = seat.driver.current_url
    seat.open("about:blank")
    opened = time.monotonic()
    seat.open(address)
    try:
        seat.wait(lambda: seat.state()["ready"] and seat.messages(chat)[-1:] == [newest] and
                  last in seat.messages(chat), 30,
                  f"{chat}'s newest messages after the reload")
    except seat_errors(seat) as e:
        raise Failure(f"{chat}'s seat not ready with its newest message {newest} "
                      f"{time.monotonic() - opened:.1f} s after reopening it: {e}")
    took = time.monotonic() - opened
    lengths = [len(seat.messages(chat))]
    for button in seat.driver.find_elements(By.CSS_SELECTOR, "#chats button"):
        if button.text == chat:
            button.click()  # the moderator's chat of that contact
    for _ in range(2):
        button = seat.driver.find_element(
            By.CSS_SELECTOR, f'.log[data-chat="{chat}"] .earlier button')
        check(button.is_displayed(), f"{chat}: no button for earlier messages")
        button.click()
        seat.wait(lambda: len(seat.messages(chat)) > lengths[-1], 10, "earlier messages")
        lengths.append(len(seat.messages(chat)))
    return took, lengths


def case_flood(world, server="", size=FLOOD_SIZE):
    rows = world.start(session() + server)
    ann, moderator = world.seat(), world.seat()
    ann.open(rows["ann"]["link"])
    moderator.open(rows["moderator"]["link"])
    ann.wait_ready()
    moderator.wait_ready()
    for seat, to in ((ann, "pair01"), (moderator, "wexlab")):
        sent = time.monotonic()
        seat.driver.set_script_timeout(180)
        seat.driver.execute_async_script(FLOOD, to, size, f"last of {to}")
        print(f"{size} messages to {to} taken by the server in "
              f"{time.monotonic() - sent:.1f} s")
    for name, seat, chat in (("ann", ann, "pair01"), ("moderator", moderator, "wexlab")):
        took, lengths = reload_over_flood(seat, chat)
        print(f"{name}'s seat reloaded over {size} messages: ready in {took:.2f} s, "
              f"{lengths[0]} messages shown, {lengths[1]} and {lengths[2]} after asking "
              "for earlier ones twice")
        check(took < READY_SECONDS, f"{name}'s seat took {took:.2f} s to be ready")
        check(lengths[0] <= PAGE + 20, f"{name}'s seat shows {lengths[0]} messages at first")
        check(lengths[1] - lengths[0] >= PAGE - 20 and lengths[2] - lengths[1] >= PAGE - 20,
              f"{name}'s earlier pages added {lengths}")
        texts = [text for kind, text in seat.messages(chat) if kind == "mine"]
        numbers = [int(t.split()[1]) for t in texts if t.startswith("flood ")]
        check(numbers == sorted(numbers) and len(set(numbers)) == len(numbers),
              f"{name}'s earlier messages are out of order or twice")
        check(numbers[-1] == size - 1, f"{name}'s newest flood line is {numbers[-1]}")


def case_flood_ejabberd(world):
    # ejabberd takes a websocket flood far more slowly (10,000 messages
    # did not settle in two minutes): fewer, still three pages and more.
    case_flood(world, "Server ejabberd\n", 1000)


def case_contact(world):
    rows = world.start(session())
    ann = world.seat()
    link = rows["ann"]["link"]
    check("c=pair01" in link, f"ann's link {link}")
    for altered in (link.replace("c=pair01", "c=ben"), link.replace("c=pair01", "c=moderator"),
                    link.replace("&c=pair01", ""), rows["moderator"]["link"] + "&c=pair01"):
        ann.open("about:blank")
        ann.open(altered)
        ann.wait(lambda: ann.state()["fault"], 30, f"the message for {altered}")
        check(ann.state()["fault"] == BAD_LINK, f"{altered} shows {ann.state()}")
        # It signed in to nothing: no websocket was opened.
        check(not [u for u in ann.requests() if u.startswith("ws")],
              f"{altered} opened a websocket")
    ann.open(link)
    ann.wait_ready()
    ann.say("pair01", "hello")
    ann.wait(lambda: [m for m in ann.messages("pair01") if m[0] == "theirs"], 30, "the bot")


REPLACED = "This seat was opened in another window."


def case_two_tabs(world):
    """One link opened in a second tab of the same browser: the newer tab
    takes the seat and works; the older one says so and stays signed out
    (past the page's longest wait between attempts); the moderator and
    the desk's state are told once, naming the subject."""
    rows = world.start(session())
    link = rows["ann"]["link"]
    ann = world.seat()
    driver = ann.driver
    ann.open(link)
    ann.wait_ready()
    ann.say("pair01", "hello")  # joined: the bot tells the moderator of her presence
    ann.wait(lambda: [m for m in ann.messages("pair01") if m[0] == "theirs"], 30,
             "the bot's answer in the first tab")
    first = driver.current_window_handle
    driver.switch_to.new_window("tab")
    ann.open(link)
    ann.wait_ready()
    second = driver.current_window_handle
    driver.switch_to.window(first)
    ann.wait(lambda: ann.state()["fault"], 30, "the older tab to give up its seat")
    check(ann.state()["fault"] == REPLACED, f"the older tab shows {ann.state()}")
    time.sleep(12)  # longer than the page's longest wait before signing in again
    check(ann.state()["fault"] == REPLACED, f"the older tab shows {ann.state()} later")
    driver.switch_to.window(second)
    check(ann.state()["ready"] and not ann.state()["fault"],
          f"the newer tab lost the seat: {ann.state()}")
    heard = len([m for m in ann.messages("pair01") if m[0] == "theirs"])
    ann.say("pair01", "hello from the newer tab")
    ann.wait(lambda: len([m for m in ann.messages("pair01") if m[0] == "theirs"]) > heard, 30,
             "the bot's answer in the newer tab")
    supervisor = os.path.join(world.root, "supervisor.log")

    def told():
        with open(supervisor, encoding="utf-8") as f:
            return [line for line in f if "subject ann opened the seat in another window" in line]
    deadline = time.monotonic() + 10
    while not told() and time.monotonic() < deadline:
        time.sleep(0.2)
    check(len(told()) == 1, f"supervisor.log tells it {len(told())} times")
    # What the bot saw of it (its own PRES lines), for the record.
    import glob
    for path in glob.glob(os.path.join(world.root, "pair01", "transcript_*.log")):
        with open(path, encoding="utf-8") as f:
            print("bot's transcript:", [line.strip() for line in f if " PRES " in line])
    # A reload signs in again as the same tab: nobody is told.
    driver.refresh()
    ann.wait_ready()
    time.sleep(3)
    check(len(told()) == 1, f"after a reload supervisor.log tells it {len(told())} times")
    with open(os.path.join(world.root, "server", "replaced.log"), encoding="utf-8") as f:
        closed = f.read().splitlines()
    check(len(closed) == 1, f"replaced.log after a reload: {closed}")
    code, out = world.wexlab("status")
    check(code == 0 and "ALERT" in out and "ann opened the seat in another window" in out,
          f"wexlab status shows no alert of the seat:\n{out}")


def case_rehearse(world):
    folder = os.path.join(world.root, "rehearsal")
    code, out = world.wexlab("rehearse", "--browser", "--pairs", "2", "--rounds", "2",
                             "--dir", folder, "--bot", world.args.bot, timeout=170)
    check(code == 0, f"rehearse --browser failed ({code}):\n{out}")
    for pair in ("pair01", "pair02"):
        check(f"{pair}: reached the payouts" in out, f"{pair} did not finish:\n{out}")
    check("in Chromium" in out, f"rehearse did not say it used the browser:\n{out}")


FIRST_QUESTION = {"en": "How much do you think your partner will invest?"}
# What the page says in each language: the Start button, the reopening
# button and a phrase of the default instructions with the pair's values.
PAGE_TEXTS = {
    "en": ("Start", "Instructions", ["3 rounds", "Every 2 rounds", "0.01 dollars per credit",
                                     "at least 10.00 and at most 30.00", "up to 300 seconds"]),
    "de": ("Starten", "Anleitung", ["3 Runden", "Alle 2 Runden", "0,01 Dollar pro Punkt",
                                    "mindestens jedoch 10,00 und höchstens 30,00"]),
}
SCREEN = """
const text = (id) => document.getElementById(id).textContent;
return {lang: document.documentElement.lang, title: document.title,
        instructions: !document.getElementById('instructions').hidden,
        main: !document.getElementById('main').hidden,
        text: text('instructions-text'), button: text('instructions-button'),
        open: text('instructions-open'), send: text('send'),
        placeholder: document.getElementById('entry').placeholder};
"""


def shoot(world, seat, name):
    """A screenshot at 1400 and at 360 px wide into --screenshots, if given."""
    folder = world.args.screenshots
    if not folder:
        return
    os.makedirs(folder, exist_ok=True)
    for width, height in ((1400, 900), (360, 780)):
        seat.driver.set_window_size(width, height)
        time.sleep(0.3)
        seat.driver.save_screenshot(os.path.join(folder, f"{name}-{width}.png"))
        if name.startswith("instructions"):  # and its end, with Start
            seat.driver.execute_script("const i = document.getElementById('instructions');"
                                       " i.scrollTop = i.scrollHeight;")
            seat.driver.save_screenshot(os.path.join(folder, f"{name}-{width}-end.png"))
    # 200 % zoom of the 1400 px window: half as many CSS pixels, each twice
    # the size.
    seat.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": 700, "height": 450, "deviceScaleFactor": 2, "mobile": False})
    time.sleep(0.3)
    seat.driver.save_screenshot(os.path.join(folder, f"{name}-zoom200.png"))
    seat.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    seat.driver.set_window_size(1400, 900)


def no_axe_violations(seat, where):
    from harness import axe_violations  # beside this file
    found = axe_violations(seat.driver)
    check(found == [], f"axe-core finds on {where}: {found}")


def instructions_then_start(world, lang):
    extra = "" if lang == "en" else f"Language {lang}\n"
    rows = world.start(session(CreditValue="0.01", MaxPayout=30) + extra)
    ann, ben = world.seat(), world.seat()
    start, reopen, phrases = PAGE_TEXTS[lang]
    for seat, name in ((ann, "ann"), (ben, "ben")):
        seat.driver.set_window_size(1400, 900)
        opened = time.monotonic()
        seat.open(rows[name]["link"])
        seat.wait(seat.before_game, 30, "the instructions before the game")
        print(f"{name}'s link to the instructions: {time.monotonic() - opened:.2f} s")
    with open(os.path.join(world.root, "cards.html"), encoding="utf-8") as f:
        check(f'<html lang="{lang}">' in f.read(), f"cards.html is not in {lang}")
    screen = ann.driver.execute_script(SCREEN)
    check(screen["lang"] == lang, f"<html lang> is {screen['lang']!r}, not {lang}")
    check(screen["instructions"] and not screen["main"], f"not the instructions: {screen}")
    check(screen["button"] == start, f"the button says {screen['button']!r}")
    for phrase in phrases:
        check(phrase in screen["text"], f"the instructions lack {phrase!r}: {screen['text']}")
    check(ann.messages("pair01") == [], "the chat is not empty before Start")
    no_axe_violations(ann, "the instructions")
    shoot(world, ann, f"instructions-{lang}")

    # Start sends the first message: both joined, the bot asks round 1.
    # ann uses the keyboard alone: from the heading, Tab reaches Start.
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    active = ann.driver.switch_to.active_element
    check(active.get_attribute("id") == "instructions-title", "the heading has no focus")
    active.send_keys(Keys.TAB)
    active = ann.driver.switch_to.active_element
    check(active.get_attribute("id") == "instructions-button",
          f"Tab from the heading reaches {active.get_attribute('id')!r}, not Start")
    active.send_keys(Keys.ENTER)
    ben.say("pair01", "ignored")  # on the instructions: presses Start
    for seat in (ann, ben):
        seat.wait(lambda seat=seat: not seat.before_game(), 10, "the chat after Start")
        seat.wait(lambda seat=seat: len([m for m in seat.messages("pair01")
                                         if m[0] == "theirs"]) >= 1, 30, "the bot's question")
    mine = [m[1] for m in ann.messages("pair01") if m[0] == "mine"]
    check(mine == [start], f"Start sent {mine}, not the one message {start!r}")
    theirs = "\n".join(m[1] for m in ben.messages("pair01") if m[0] == "theirs")
    if lang in FIRST_QUESTION:
        check(FIRST_QUESTION[lang] in theirs, f"no first question: {theirs}")
    screen = ann.driver.execute_script(SCREEN)
    check(screen["main"] and screen["open"] == reopen, f"the chat after Start: {screen}")
    page = {"en": ("Lab chat", "Send"), "de": ("Labor-Chat", "Senden")}[lang]
    check((screen["title"], screen["send"]) == page, f"the page's texts: {screen}")
    no_axe_violations(ann, "the chat")
    shoot(world, ann, f"chat-{lang}")

    # The instructions again from the chat, and back; a reload goes to the chat.
    ann.driver.find_element(By.ID, "instructions-open").click()
    screen = ann.driver.execute_script(SCREEN)
    check(screen["instructions"] and screen["button"] != start, f"reopened: {screen}")
    ann.driver.find_element(By.ID, "instructions-button").click()
    check(ann.driver.execute_script(SCREEN)["main"], "Back did not return to the chat")
    ann.driver.refresh()
    ann.wait_ready()
    ann.wait(lambda: ann.messages("pair01"), 30, "the history after a reload")
    check(not ann.before_game(), "a reload after Start shows the instructions first")

    # The moderator's seat has no instructions: its chats at once, in the
    # language too.
    moderator = world.seat()
    moderator.open(rows["moderator"]["link"])
    moderator.wait_ready()
    screen = moderator.driver.execute_script(SCREEN)
    check(screen["main"] and not screen["instructions"] and screen["lang"] == lang,
          f"the moderator's seat: {screen}")
    no_axe_violations(moderator, "the moderator's seat")


def case_instructions(world):
    instructions_then_start(world, "en")


def case_instructions_de(world):
    instructions_then_start(world, "de")


CASES = {"game": case_game, "tls": case_tls, "rehearse": case_rehearse, "flood": case_flood,
         "flood_ejabberd": case_flood_ejabberd, "contact": case_contact,
         "two_tabs": case_two_tabs, "instructions": case_instructions,
         "instructions_de": case_instructions_de}


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--screenshots", help="save the instructions cases' screenshots here")
    args = parser.parse_args(argv)
    args.wexlab, args.bot = os.path.abspath(args.wexlab), os.path.abspath(args.bot)
    missing = [p for p in ("prosody", "chromium", "chromedriver") if not shutil.which(p)]
    if args.case == "flood_ejabberd" and not os.path.exists("/usr/sbin/ejabberdctl"):
        missing.append("ejabberd")
    try:
        from harness import load_wexlab  # beside this file
        load_wexlab(args.wexlab)
        from wexlab.model import plan, record, session_file
        from wexlab.rehearsal import browser, robots
        from wexlab.runtime import bot_check
        from wexlab.servers import server, web_page
        if not os.path.exists(os.path.join(web_page.web_root(), "node_modules")):
            missing.append("web/node_modules (scripts/install-deps.sh)")
    except ImportError as e:
        missing.append(str(e))
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return SKIP
    world = World(args)
    world.lib = argparse.Namespace(bot_check=bot_check, browser=browser, plan=plan,
                                   record=record, robots=robots, server=server,
                                   session=session_file)
    started = time.monotonic()
    failed = True
    try:
        CASES[args.case](world)
        failed = False
    except (Failure, browser.BrowserError) as e:
        print(f"FAILED: {e}")
    finally:
        world.close(failed)
    if not failed:
        print(f"passed in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
