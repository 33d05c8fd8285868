#!/usr/bin/python3
"""The desk's page and report.html in headless Chromium (Selenium), with
the desk's web server run here over a session folder of one pair in its
break (a journal written by this test) and a stand-in for its XMPP
account, so no lab server is needed and every step is certain:

- the token leaves the address bar at once and a reload still works;
- a page served on another loopback port posts a text/plain form and a
  no-cors fetch to /api/say: both are refused (desk.log says so) and
  nothing is sent, while the desk's own hurry button is sent;
- a chat line with a right-to-left override reads on the desk, and in
  report.html, with the transcript's visible escape \\u{202E};
- the treatment column shows the pair's treatment, and axe-core finds no
  WCAG violation on the desk, before and after an alert;
- Tab alone reaches pair 1's pay now, its focus ring shows, and Enter
  asks first (a cancelled confirmation sends nothing);
- "stop without paying" asks first, naming the pair and saying nobody
  in it will be paid, and the stop (written to the journal as the bot
  would) raises the banner."""

import argparse
import asyncio
import http.server
import importlib.util
import json
import os
import re
import shutil
import sys
import threading
import time
import zlib

from harness import (Failure, axe_violations, browser, check, free_port,  # noqa: E402
                     load_wexlab, run_in_folder)  # (beside this file)

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
TOKEN = "browser-test-token"
LAB = {"log_file": "lab", "rounds": 4, "address": "127.0.0.1", "port": 1,
       "treatments": [{"name": "generous", "values": {"CreditValue": "0.01"}}], "pairs": [
           {"index": 1, "bot": "pair01", "subject1": "ann", "subject2": "bob",
            "treatment": "generous"}]}
JOURNAL = os.path.join("pair01", "lab_20260101_100000.journal")
BIDI = "see photo\u202egnp.exe"
SHOWN = "see photo\\u{202E}gnp.exe"


def journal_line(kind, t, **keys):
    text = json.dumps(dict({"kind": kind, "t": t}, **keys), separators=(",", ":"))
    return f"{zlib.crc32(text.encode()):08x} {text}\n"


def write_session(folder):
    """Pair 1 in the break after round 1, a chat line of ann's in it, and
    its chat data file for the report."""
    os.makedirs(os.path.join(folder, "pair01"))
    t = time.time() - 30
    lines = [journal_line("start", t, BotUsername="pair01", Subject1Name="ann",
                          Subject2Name="bob", ModeratorName="mod", NRounds=4,
                          MaxChatTime=300, MaxChatIdle=60),
             journal_line("join", t + 1, subject=1, round=0),
             journal_line("join", t + 1, subject=2, round=1)]
    for subject in (1, 2):
        for what in ("expectation", "investment"):
            lines.append(journal_line("answer", t + 2, subject=subject, what=what, value=10,
                                      round=1))
    lines += [journal_line("close", t + 3, round=1, **{"break": True}),
              journal_line("chat", t + 4, round=1, subject=1, text=BIDI)]
    with open(os.path.join(folder, JOURNAL), "w", encoding="utf-8") as f:
        f.writelines(lines)
    with open(os.path.join(folder, "pair01", "lab_20260101_100000_chat.csv"), "w",
              encoding="utf-8", newline="") as f:
        f.write(f"time,round,from,text\r\n10:00:04,2,ann,{BIDI}\r\n")


class FakeClient:
    """The desk's XMPP account: records the commands, answers s, and for
    e writes the journal's stop entry as the bot does."""

    def __init__(self, desk):
        self.desk = desk
        self.sent = []
        self.ready = asyncio.Event()
        self.ready.set()

    def command(self, bot, text):
        self.sent.append((bot, text))
        if text == "s":
            asyncio.get_running_loop().call_soon(self.desk.answer, bot,
                                                 "okay, sent speed up message.")
        if text == "e":
            with open(os.path.join(self.desk.folder, JOURNAL), "a", encoding="utf-8") as f:
                f.write(journal_line("stop", time.time(), round=2))
            asyncio.get_running_loop().call_soon(self.desk.answer, bot, "Okay, Ending Game")


class DeskThread:
    """The desk's web server and its refresh loop on a loop of their own."""

    def __init__(self, folder):
        from wexlab.model import record
        from wexlab.web import desk
        self.desk = desk.Desk(folder, record.from_json(LAB), TOKEN)
        self.port = free_port()
        self.loop = asyncio.new_event_loop()
        threading.Thread(target=self.loop.run_forever, daemon=True).start()
        self.runner = self.call(self._start())

    def call(self, coroutine):
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop).result(20)

    async def _start(self):
        from aiohttp import web
        self.desk.client = FakeClient(self.desk)
        runner = web.AppRunner(self.desk.app(), access_log=None)
        await runner.setup()
        await web.TCPSite(runner, "127.0.0.1", self.port).start()
        self.refresher = asyncio.ensure_future(self.desk.refresh_loop())
        return runner

    async def _stop(self):
        self.refresher.cancel()
        await self.desk.shut()
        await asyncio.sleep(0.3)  # the event streams end
        await self.runner.cleanup()

    def stop(self):
        self.call(self._stop())
        self.loop.call_soon_threadsafe(self.loop.stop)


def attack_page(desk_base):
    target = f"{desk_base}/api/say?token={TOKEN}"
    return f"""<!DOCTYPE html><html><head><title>cute cats</title></head><body>
<iframe name="sink"></iframe>
<form id="f" method="POST" enctype="text/plain" target="sink" action="{target}">
<input name='{{"pairs":[1],"text":"b form-marker","x":"' value='"}}'></form>
<script>
fetch("{target}", {{method: "POST", mode: "no-cors",
  body: JSON.stringify({{pairs: [1], text: "b fetch-marker"}})}})
  .then(() => {{ document.title = "fetched"; }}, () => {{ document.title = "failed"; }});
document.getElementById("f").submit();
</script></body></html>"""


def serve_attack(page):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = page.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", free_port()), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def wait_for(what, condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = condition()
        except Exception:  # an element replaced while read: look again
            value = None
        if value:
            return value
        time.sleep(0.05)
    raise Failure(f"timed out waiting for {what}")


def texts(driver, selector):
    from selenium.webdriver.common.by import By
    return " ".join(e.text for e in driver.find_elements(By.CSS_SELECTOR, selector))


def desk_log(folder):
    try:
        with open(os.path.join(folder, "desk.log"), encoding="utf-8") as f:
            return f.read()
    except OSError:
        return ""


def check_address_and_reload(driver, base):
    driver.get(f"{base}/?token={TOKEN}")
    wait_for("pair 1's row", lambda: texts(driver, "#pair-1 .round"), 15)
    check(driver.current_url == base + "/", f"the address still holds the token: "
          f"{driver.current_url}")
    kept = driver.execute_script("return sessionStorage.getItem('wexDeskToken')")
    check(kept == TOKEN, f"the tab kept {kept!r}")
    driver.refresh()
    wait_for("pair 1's row after a reload", lambda: texts(driver, "#pair-1 .round"), 15)
    check(driver.current_url == base + "/", f"after the reload: {driver.current_url}")


def check_bidi_on_desk(driver):
    shown = wait_for("the chat line", lambda: texts(driver, "#pair-1 .chat"), 15)
    check(SHOWN in shown and "\u202e" not in shown, f"the desk's chat reads {shown!r}")
    print(f"desk chat line as rendered: {shown!r}")


def check_cross_site(driver, folder, desk_thread, base):
    sent = desk_thread.desk.client.sent
    attacker = serve_attack(attack_page(base))
    desk_tab = driver.current_window_handle
    try:
        driver.switch_to.new_window("tab")
        driver.get(f"http://127.0.0.1:{attacker.server_port}/")
        wait_for("the no-cors fetch", lambda: driver.title in ("fetched", "failed"), 15)
        wait_for("two refusals in desk.log",
                 lambda: desk_log(folder).count("refused POST /api/say") >= 2, 15)
        time.sleep(0.5)  # anything sent would be recorded by now
        driver.close()
    finally:
        driver.switch_to.window(desk_tab)
        attacker.shutdown()
    log = desk_log(folder)
    check(sent == [], f"the cross-site posts were sent: {sent}")
    check("marker" not in log.replace("refused", ""), f"desk.log:\n{log}")
    refusals = [line for line in log.splitlines() if "refused POST" in line]
    print("refusals in desk.log:\n  " + "\n  ".join(refusals))


def check_own_button(driver, desk_thread):
    from selenium.webdriver.common.by import By
    driver.find_element(By.CSS_SELECTOR, "#pair-1 button[data-cmd='s']").click()
    wait_for("the hurry's answer in the row", lambda: "okay, sent speed up message" in
             texts(driver, "#pair-1 .result"), 15)
    check(desk_thread.desk.client.sent == [("pair01", "s")],
          f"sent: {desk_thread.desk.client.sent}")


def check_treatment_and_axe(driver, when):
    # Read as wait_for reads: a row replaced while read is read again.
    shown = wait_for("the treatment cell", lambda: texts(driver, "#pair-1 .treatment"), 10)
    check(shown == "generous", f"the treatment column reads {shown!r}")
    found = axe_violations(driver)
    check(found == [], f"axe-core on the desk {when}:\n  " + "\n  ".join(found))
    print(f"axe-core on the desk {when}: no violations")


def check_keyboard(driver, desk_thread):
    """Tab alone reaches pair 1's pay now, with a visible focus ring;
    Enter asks first, and a cancelled confirmation sends nothing."""
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.common.by import By
    driver.find_element(By.TAG_NAME, "h1").click()  # Tab starts from the top
    wanted = "#pair-1 button[data-cmd='p']"
    stops = []
    for _ in range(60):
        ActionChains(driver).send_keys(Keys.TAB).perform()
        focused = driver.execute_script(
            "const e = document.activeElement; const s = getComputedStyle(e);"
            "return [e.matches(arguments[0]), e.textContent || e.getAttribute('aria-label'),"
            " s.outlineStyle, s.outlineWidth]", wanted)
        stops.append((focused[1] or "(text field)").strip()[:30])
        if focused[0]:
            break
    check(focused[0], f"Tab never reached pair 1's pay now; it went through {stops}")
    check(focused[2] == "solid" and focused[3] == "3px",
          f"pay now's focus ring: {focused[2]} {focused[3]}")
    sent = len(desk_thread.desk.client.sent)
    ActionChains(driver).send_keys(Keys.ENTER).perform()
    asked = wait_for("the confirmation", lambda: driver.switch_to.alert.text, 10)
    check("Pay now" in asked and "ann and bob" in asked, f"the confirmation reads {asked!r}")
    driver.switch_to.alert.dismiss()
    time.sleep(0.5)
    check(len(desk_thread.desk.client.sent) == sent,
          f"a cancelled pay now was sent: {desk_thread.desk.client.sent}")
    check("stop without paying" in stops[:len(stops) - 1],
          f"Tab skipped the all-pairs controls: {stops}")
    print(f"keyboard: pay now reached in {len(stops)} Tab presses ({stops}), focus ring "
          f"{focused[2]} {focused[3]}; confirmation {asked!r} cancelled, nothing sent")


def check_stop_without_paying(driver, desk_thread):
    from selenium.webdriver.common.by import By
    driver.find_element(By.CSS_SELECTOR, "#pair-1 button[data-cmd='e']").click()
    asked = wait_for("the confirmation", lambda: driver.switch_to.alert.text, 10)
    check("without paying" in asked and "Nobody in pair 1 (ann and bob) will be paid" in asked,
          f"the confirmation reads {asked!r}")
    driver.switch_to.alert.accept()
    banner = wait_for("the stopped pair's banner", lambda: [
        t for t in texts(driver, "#alerts .alert[role=alert]").split("dismiss")
        if "stopped" in t], 15)[0]
    check("pair 1 (pair01) was stopped without payouts: nobody in it (ann and bob) will be "
          "paid" in banner, f"the banner reads {banner!r}")
    wait_for("the row's phase", lambda: "stopped without payouts" in
             texts(driver, "#pair-1 .phase"), 15)
    # 24-hour times, whatever the browser's language: no AM or PM.
    shown = texts(driver, "#alerts .alert time")
    check(re.fullmatch(r"(\d\d:\d\d:\d\d ?)+", shown), f"the alerts' times read {shown!r}")
    hour = driver.execute_script("return new Date(2026, 0, 1, 15, 4, 5)"
                                 ".toLocaleTimeString([], {hourCycle: 'h23'})")
    check(hour.startswith("15"), f"3 pm reads {hour!r}")
    check(desk_thread.desk.client.sent[-1] == ("pair01", "e"),
          f"sent: {desk_thread.desk.client.sent}")
    print(f"confirmation: {asked!r}; banner: {banner!r}")


def check_zoomed(driver, shots):
    """At 200 % zoom (700 CSS px of a 1400 px window) the page itself does
    not scroll sideways: only the pairs' table scrolls, in its own region,
    and the all-pairs controls stay within the window."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": 700, "height": 450, "deviceScaleFactor": 2, "mobile": False})
    try:
        time.sleep(0.3)
        wide, window = driver.execute_script(
            "return [document.documentElement.scrollWidth, window.innerWidth]")
        check(wide <= window, f"the page is {wide} px wide in a {window} px window")
        outside = driver.execute_script(
            "return [...document.querySelectorAll('#all button, #all input')]"
            ".filter(e => e.getBoundingClientRect().right > window.innerWidth)"
            ".map(e => e.textContent || e.placeholder)")
        check(outside == [], f"controls outside the window at 200 %: {outside}")
        if shots:
            driver.save_screenshot(os.path.join(shots, "desk-200-percent.png"))
    finally:
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
    print("at 200 %: no sideways scrolling of the page")


def check_bidi_in_report(driver, folder):
    from wexlab.data import collect, report, report_summary
    from wexlab.model import record
    lab = record.from_json(LAB)
    tables = collect.collect(folder, lab)
    path = os.path.join(folder, "report.html")
    with open(path, "w", encoding="utf-8") as f:
        f.write(report.render(lab, tables, lab.rounds, "",
                              report_summary.render_bottom(lab, tables)))
    driver.get("file://" + path)
    shown = wait_for("the report's chat", lambda: texts(driver, "table.chat"), 15)
    check(SHOWN in shown and "\u202e" not in shown, f"the report's chat reads {shown!r}")
    print(f"report chat line as rendered: {shown!r}")


def run(args, root):
    folder = os.path.join(root, "session")
    os.makedirs(folder)
    write_session(folder)
    desk_thread = DeskThread(folder)
    base = f"http://127.0.0.1:{desk_thread.port}"
    driver = browser(args, os.path.join(root, "profile"))
    try:
        check_address_and_reload(driver, base)
        check_bidi_on_desk(driver)
        check_cross_site(driver, folder, desk_thread, base)
        check_own_button(driver, desk_thread)
        check_treatment_and_axe(driver, "in a break")
        check_keyboard(driver, desk_thread)
        check_stop_without_paying(driver, desk_thread)
        check_treatment_and_axe(driver, "with an alert")
        check_zoomed(driver, args.shots)
        check_bidi_in_report(driver, folder)
    finally:
        driver.quit()
        desk_thread.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wexlab", required=True)
    parser.add_argument("--shots", help="save the page at 200 % zoom here")
    parser.add_argument("--chromium", default=shutil.which("chromium") or "chromium")
    parser.add_argument("--chromedriver", default=shutil.which("chromedriver") or "chromedriver")
    args = parser.parse_args()
    missing = [m for m in ("aiohttp", "selenium", "slixmpp") if importlib.util.find_spec(m) is None]
    if missing:
        print(f"skipped: needs the Python modules {', '.join(missing)}")
        return SKIP
    if not all(shutil.which(p) for p in (args.chromium, args.chromedriver)):
        print("skipped: needs chromium and chromedriver")
        return SKIP
    load_wexlab(args.wexlab)
    if run_in_folder("desk-browser-e2e-", lambda root: run(args, root)):
        return 1
    print("desk browser e2e: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
