#!/usr/bin/python3
"""End-to-end test of wexlab's desk: a session of three pairs (by default)
in two treatments on a Prosody of its own, played by slow robot subjects, with the desk open
in headless Chromium (Selenium).

It checks that the page shows each pair's round soon after the journal
entry that changes it (and prints the delays), that the hurry button of
pair 2 reaches pair 2's subjects and not pair 1's while the human
moderator's account gets nothing, that the token leaves the address bar
once the page is loaded, that a subject going offline raises
the alert (OfflineAlert 3), that a request without the token gets 403,
that /api/pairs agrees with the journals, that "pay now" on pair 1 (one
subject offline) pays both (the pair's payouts file), that "stop without
paying" on pair 3 raises its alert, that the treatment column matches
lab.json, that axe-core finds no WCAG violation on the desk, that
`wexlab status` answers quickly without sending anything and shows the
treatments, and that report.html's attrition table counts the completed,
paid-now and stopped pairs. With --shots DIR it saves the desk after the
pay-now and the report's treatments and attrition tables there."""

import argparse
import asyncio
import csv
import glob
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
import zlib

from harness import (Failure, axe_violations, browser, check, free_port,  # noqa: E402
                     load_wexlab, run_in_folder)  # (beside this file)
from harness import wait_for as harness_wait_for  # noqa: E402

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
load_wexlab(os.path.join(HERE, "..", "..", "scripts", "wexlab"))

ANSWER_DELAY = 2.5  # seconds a robot subject takes to answer
HURRY = "I am on a tight schedule! Please send me your decision!"


def session_text(pairs, rounds):
    names = " ".join(f"sub{i:02d}" for i in range(1, 2 * pairs + 1))
    return (f"Service xmpp:lab.wex@127.0.0.1:{free_port()};trust=any\nModeratorName moderator\n"
            f"LogFile transcript\nNRounds {rounds}\nConversationInterval 2\nMarketBase 1\n"
            "MarketNoiseScale 0.4\nMarketNoise 0.25,0.75\nMaxChatTime 40\nMaxChatIdle 20\n"
            f"Subjects {names}\nSeed 3\nDesk {free_port()}\nOfflineAlert 3\nStallAlert 600\n"
            "Web off\nTreatment base\nTreatment rich CreditValue 0.01\nTreatments base rich\n")


# Robots: subjects that answer slowly, and the moderator's account, which
# only listens.

class Robots:
    def __init__(self, lab, answers_left=None):
        """lab: the session's record (wexlab.model.record.Lab); answers_left:
        name -> how many questions that subject answers before it falls
        silent (its game then waits for it)."""
        self.answers_left = dict(answers_left or {})
        from wexlab.runtime import xmpp
        self.xmpp = xmpp
        self.lab = lab
        self.loop = asyncio.new_event_loop()
        self.received = {}  # account -> texts received
        self.clients = {}
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)

    def start(self):
        self.thread.start()
        return asyncio.run_coroutine_threadsafe(self._start(), self.loop).result(60)

    async def _start(self):
        for pair in self.lab.pairs:
            for name in (pair.subject1, pair.subject2):
                await self._sign_on(name, pair.bot)
        await self._sign_on(self.lab.moderator, None)

    async def _sign_on(self, name, bot):
        client = self.xmpp.Client(self.lab, name, self.lab.accounts[name].password,
                                  "robot")
        self.received[name] = []
        client.add_event_handler("message", lambda msg: self._message(client, name, bot, msg))
        self.clients[name] = client
        await client.online(30)
        if bot:
            self._say(client, bot, "hello", 0.2)

    def _say(self, client, bot, text, delay):
        self.loop.call_later(delay, lambda: client.send_message(
            mto=f"{bot}@{self.lab.domain}", mbody=text, mtype="chat"))

    def _message(self, client, name, bot, msg):
        if not msg["body"]:
            return
        self.received[name].append(msg["body"])
        if bot is None or msg["from"].user != bot:
            return
        text = msg["body"]
        if "type 'done'" in text:
            self._say(client, bot, "done", ANSWER_DELAY)
        elif text.rstrip().endswith(("?", ":")) and "invest" in text:
            if self.answers_left.get(name, 1) <= 0:
                return
            if name in self.answers_left:
                self.answers_left[name] -= 1
            self._say(client, bot, str(len(self.received[name]) % 10 + 1), ANSWER_DELAY)

    def go_offline(self, name):
        client = self.clients[name]
        asyncio.run_coroutine_threadsafe(client.close(), self.loop).result(20)

    def stop(self):
        async def close_all():
            for client in self.clients.values():
                await client.close()
        try:
            asyncio.run_coroutine_threadsafe(close_all(), self.loop).result(30)
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)


# The journals, read here on their own (not through the desk's code).

def journal(folder, bot):
    found = sorted(glob.glob(os.path.join(folder, bot, "transcript_*.journal")))
    entries = []
    for line in open(found[-1], encoding="utf-8").read().splitlines() if found else []:
        crc, _, text = line.partition(" ")
        if int(crc, 16) == zlib.crc32(text.encode()):
            entries.append(json.loads(text))
    return entries


def closed_rounds(folder, bot):
    return max([e["round"] for e in journal(folder, bot) if e["kind"] == "close"], default=0)


def get(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as r:
            return r.status, r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode()


def wait_for(what, condition, timeout):
    return harness_wait_for(what, condition, timeout, every=0.05)


def click(driver, selector):
    """Clicks the element, looking it up again if a row update replaced it."""
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    for _ in range(20):
        try:
            driver.find_element(By.CSS_SELECTOR, selector).click()
            return
        except StaleElementReferenceException:
            time.sleep(0.05)
    raise Failure(f"could not click {selector}")


def row_text(driver, selector):
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.common.by import By
    try:
        return " ".join(e.text for e in driver.find_elements(By.CSS_SELECTOR, selector))
    except StaleElementReferenceException:
        return ""


def alert_text(driver):
    from selenium.common.exceptions import NoAlertPresentException
    try:
        return driver.switch_to.alert.text
    except NoAlertPresentException:
        return None


def page_round(driver, pair):
    return row_text(driver, f"#pair-{pair} .round")


def measure_round_delays(args, driver, folder, lab, until_round):
    """For each round close seen in a journal, the seconds until the page
    shows the next round; returns the delays."""
    delays = []
    seen = {p["index"]: 0 for p in lab["pairs"]}
    deadline = time.monotonic() + args.play_seconds
    while min(seen.values()) < until_round and time.monotonic() < deadline:
        for pair in lab["pairs"]:
            closed = closed_rounds(folder, pair["bot"])
            if closed > seen[pair["index"]]:
                seen[pair["index"]] = closed
                noticed = time.monotonic()
                shown = f"{min(closed + 1, lab['rounds'])} / {lab['rounds']}"
                wait_for(f"pair {pair['index']}'s round {shown} on the page",
                         lambda: page_round(driver, pair["index"]) == shown, 10)
                delays.append(time.monotonic() - noticed)
        time.sleep(0.02)
    check(min(seen.values()) >= until_round, f"rounds closed only {seen}")
    return delays


def run(args, root):
    from selenium.webdriver.common.by import By
    folder = os.path.join(root, "session")
    os.makedirs(folder)
    with open(os.path.join(folder, "lab.conf"), "w") as f:
        f.write(session_text(args.pairs, args.rounds))
    wexlab = [sys.executable, args.wexlab]
    done = subprocess.run(wexlab + ["start", "lab.conf", "--bot", args.bot], cwd=folder,
                          capture_output=True, text=True, timeout=90)
    check(done.returncode == 0, f"wexlab start failed:\n{done.stdout}{done.stderr}")
    check("The desk: http://127.0.0.1:" in done.stdout, f"no desk address:\n{done.stdout}")
    url = subprocess.run(wexlab + ["desk"], cwd=folder, capture_output=True, text=True,
                         timeout=20).stdout.strip()
    check(url.startswith("http://127.0.0.1:") and "?token=" in url, f"wexlab desk: {url}")
    base, token = url.split("/?token=")
    from wexlab.model import record
    lab_record = record.load(folder)
    lab = record.to_json(lab_record)  # lab.json's data, as the checks read it

    # The token guards everything.
    for path in ("/", "/api/pairs", "/desk.js", "/api/events", "/api/pairs?token=wrong"):
        code, _ = get(base + path)
        check(code == 403, f"{path} without the token gave {code}")
    code, body = get(f"{base}/?token={token}")
    check(code == 200 and "desk.js" in body, f"the page gave {code}")

    # Pair 1's second subject and pair 3 answer two rounds only, so their
    # games wait in round 3 for the pay-now and the stop; pair 2 plays on.
    quiet = [lab_record.pairs[0].subject2] + list(lab_record.pairs[2].subjects())
    robots = Robots(lab_record, {name: 4 for name in quiet})
    robots.start()
    profile = tempfile.mkdtemp(prefix="desk-chromium-", dir=root)
    driver = browser(args, profile)
    try:
        driver.get(url)
        wait_for("a row per pair", lambda: len(driver.find_elements(
            By.CSS_SELECTOR, "#pairs tbody tr")) == args.pairs, 20)
        check(driver.current_url == base + "/", f"the token stays in the address bar: "
              f"{driver.current_url}")
        delays = measure_round_delays(args, driver, folder, lab, 1)

        # Hurry pair 2 from its row.
        before = {name: len(texts) for name, texts in robots.received.items()}
        click(driver, "#pair-2 button[data-cmd='s']")
        pair1, pair2 = lab["pairs"][0], lab["pairs"][1]
        for name in (pair2["subject1"], pair2["subject2"]):
            wait_for(f"the hurry at {name}", lambda: HURRY in robots.received[name][before[name]:],
                     15)
        wait_for("the hurry's answer in the row", lambda: "okay, sent speed up message" in
                 row_text(driver, "#pair-2 .result"), 15)
        # Ask pair 1 through the API: its answer comes back and into the row.
        request = urllib.request.Request(f"{base}/api/say?token={token}", method="POST",
                                         data=json.dumps({"pairs": [1], "text": "?"}).encode(),
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=20) as r:
            said = json.loads(r.read())
        check(said["sent"][0]["bot"] == pair1["bot"] and
              said["sent"][0]["answer"].startswith("Status"), f"/api/say: {said}")
        wait_for("pair 1's ? answer in its row", lambda: "Status:" in row_text(driver,
                                                                               "#pair-1"), 10)
        delays += measure_round_delays(args, driver, folder, lab, 2)
        for name in (pair1["subject1"], pair1["subject2"]):
            check(HURRY not in robots.received[name], f"{name} of pair 1 was hurried")
        moderator = robots.received[lab["moderator"]]
        check(moderator == [], f"the moderator's account got: {moderator}")

        # A subject goes offline: the alert shows within OfflineAlert and a bit.
        gone = pair1["subject2"]
        robots.go_offline(gone)
        wait_for("the offline alert", lambda: f"{gone} (pair 1) offline" in
                 row_text(driver, "#alerts .alert"), 30)
        if args.screenshot:
            driver.save_screenshot(args.screenshot)

        # /api/pairs agrees with the journals.
        code, body = get(f"{base}/api/pairs?token={token}")
        check(code == 200, f"/api/pairs gave {code}")
        for p in json.loads(body)["pairs"]:
            bot = lab["pairs"][p["pair"] - 1]["bot"]
            closed = closed_rounds(folder, bot)
            check(p["rounds_closed"] == closed and p["round"] == min(closed + 1, lab["rounds"])
                  and p["nrounds"] == lab["rounds"] and p["bot"] == bot,
                  f"/api/pairs says {p}, the journal {closed} rounds closed")
            check(all(set(s) >= {"name", "online", "owes", "last_message_s"}
                      for s in p["subjects"]), f"subjects: {p['subjects']}")

        pay_now_and_stop(args, driver, folder, lab, robots)
        check_treatments_and_axe(driver, lab)

        # status reads the files: quick, and nothing reaches the moderator.
        started = time.monotonic()
        done = subprocess.run(wexlab + ["status"], cwd=folder, capture_output=True, text=True,
                              timeout=30)
        took = time.monotonic() - started
        check(done.returncode == 0 and "rounds closed" in done.stdout,
              f"wexlab status:\n{done.stdout}{done.stderr}")
        for p in lab["pairs"]:
            check(re.search(rf"^{p['bot']} +{p['treatment']} ", done.stdout, re.M),
                  f"wexlab status has no treatment {p['treatment']} for {p['bot']}:\n"
                  f"{done.stdout}")
        check(took < 10, f"wexlab status took {took:.1f} s")
        time.sleep(1.5)
        # The moderator gets the bots' own notices and final reports, but
        # no reply to the desk's commands.
        replies = ("okay, sent speed up", "Okay, Ending Game", "Status:", "was broadcast")
        check(not any(r in t for t in robots.received[lab["moderator"]] for r in replies),
              f"the moderator's account got: {robots.received[lab['moderator']]}")
        print(f"desk: journal entry to page, {len(delays)} rounds: "
              f"max {max(delays):.2f} s, mean {sum(delays) / len(delays):.2f} s; "
              f"wexlab status took {took:.2f} s")
        print(done.stdout)
        robots.stop()
        robots = None
        subprocess.run(wexlab + ["stop"], cwd=folder, capture_output=True, timeout=120)
        check_report(args, driver, folder)
    finally:
        driver.quit()
        if robots is not None:
            robots.stop()
        subprocess.run(wexlab + ["stop"], cwd=folder, capture_output=True, timeout=120)
    check(subprocess.run(wexlab + ["desk"], cwd=folder, capture_output=True,
                         timeout=20).returncode == 1, "the desk still runs after wexlab stop")


def payout_names(folder, bot):
    """The names in a pair's payouts file (read by column name)."""
    found = sorted(glob.glob(os.path.join(folder, bot, "transcript_*_payouts.csv")))
    if not found:
        return set()
    with open(found[-1], encoding="utf-8", newline="") as f:
        return {row["name"] for row in csv.DictReader(f)}


def confirm(driver, *wanted):
    """Accepts the page's confirmation after checking its text."""
    text = wait_for("the confirmation", lambda: alert_text(driver), 10)
    for part in wanted:
        check(part in text, f"the confirmation says {text!r}, not {part!r}")
    driver.switch_to.alert.accept()
    print(f"confirmation: {text}")


def pay_now_and_stop(args, driver, folder, lab, robots):
    """Pay now on pair 1, whose second subject is offline: the payouts
    file holds both subjects. Then stop pair 3 without paying: its alert."""
    one, three = lab["pairs"][0], lab["pairs"][2]
    click(driver, "#pair-1 button[data-cmd='p']")
    confirm(driver, "Pay now", "pair 1", f"{one['subject1']} and {one['subject2']}")
    wait_for("pair 1's payouts file with both subjects", lambda: payout_names(
        folder, one["bot"]) == {one["subject1"], one["subject2"]}, 20)
    wait_for("pair 1 paid now on the page", lambda: "paid now" in
             row_text(driver, "#pair-1 .phase"), 15)
    wait_for("pay now's answer in the row", lambda: "paying out now" in
             row_text(driver, "#pair-1 .result"), 15)
    if args.shots:
        driver.save_screenshot(os.path.join(args.shots, "desk-paid-now.png"))
    click(driver, "#pair-3 button[data-cmd='e']")
    confirm(driver, "without paying", "Nobody in pair 3", three["subject1"])
    banner = wait_for("the stopped pair's alert", lambda: row_text(
        driver, "#alerts .alert[role=alert]").find("pair 3 (pair03) was stopped without "
                                                   "payouts") >= 0, 15)
    check(banner, "no banner")
    wait_for("pair 3 stopped on the page", lambda: "stopped without payouts" in
             row_text(driver, "#pair-3 .phase"), 15)
    # Pair 2 plays on to the end.
    wait_for("pair 2's game completed", lambda: "completed" in
             row_text(driver, "#pair-2 .phase"), args.play_seconds)
    if args.shots:
        driver.save_screenshot(os.path.join(args.shots, "desk.png"))


def check_treatments_and_axe(driver, lab):
    for p in lab["pairs"]:
        shown = wait_for("the treatment cell", lambda: row_text(
            driver, f"#pair-{p['index']} .treatment"), 10)
        check(shown == p["treatment"], f"pair {p['index']}'s treatment reads {shown!r}, "
              f"lab.json says {p['treatment']!r}")
    found = axe_violations(driver)
    check(found == [], "axe-core on the desk:\n  " + "\n  ".join(found))
    print("axe-core on the desk: no violations")


def check_report(args, driver, folder):
    """The report: a chart per treatment, pair 3 flagged as stopped
    without payouts, and the attrition table's endings."""
    from selenium.webdriver.common.by import By
    page = open(os.path.join(folder, "report.html"), encoding="utf-8").read()
    check('<table id="summary">' in page and 'id="mean-investment-base"' in page and
          'id="mean-investment-rich"' in page, "report.html has no chart per treatment")
    line = page.split('<tr data-pair="3">', 1)[-1].split("</tr>", 1)[0]
    check("stopped without payouts" in line and "NO PAYOUTS" in line,
          f"report.html's line of pair 3: {line}")
    table = page.split('<table id="attrition">', 1)[-1].split("</table>", 1)[0]
    totals = [0, 0, 0]
    for row in re.findall(r'<tr data-treatment="\w+">(.*?)</tr>', table):
        cells = [int(v) for v in re.findall(r'<td class="n">(\d+)</td>', row)[1:4]]
        totals = [a + b for a, b in zip(totals, cells)]
    check(totals == [1, 1, 1], f"attrition (completed, paid now, stopped): {totals}\n{table}")
    driver.get("file://" + os.path.join(folder, "report.html"))
    if args.shots:
        driver.save_screenshot(os.path.join(args.shots, "report-top.png"))
        for name in ("treatments", "attrition"):
            driver.find_element(By.ID, name).screenshot(
                os.path.join(args.shots, f"report-{name}.png"))
    print("report attrition:", re.sub(r"<[^>]+>", " ", table))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--bot", required=True)
    parser.add_argument("--pairs", type=int, default=3)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--play-seconds", type=float, default=60)
    parser.add_argument("--screenshot", help="save the page mid-session here")
    parser.add_argument("--keep", action="store_true", help="keep the session folder")
    parser.add_argument("--shots", help="save the desk's and the report's screenshots here")
    parser.add_argument("--chromium", default=shutil.which("chromium") or "chromium")
    parser.add_argument("--chromedriver", default=shutil.which("chromedriver") or "chromedriver")
    args = parser.parse_args()
    missing = [m for m in ("aiohttp", "selenium", "slixmpp") if importlib.util.find_spec(m) is None]
    if missing:
        print(f"skipped: needs the Python modules {', '.join(missing)}")
        return SKIP
    if not all(shutil.which(p) for p in ("prosody", "prosodyctl", args.chromium,
                                         args.chromedriver)):
        print("skipped: needs prosody, chromium and chromedriver")
        return SKIP
    if run_in_folder("desk-e2e-", lambda root: run(args, root), args.keep, settings=True):
        return 1
    print("desk e2e: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
