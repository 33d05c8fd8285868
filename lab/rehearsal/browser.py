"""Headless Chromium on a seat's page, driven through Selenium: for
`wexlab rehearse --browser` and the tests of the page.

Chromium gets a fresh profile and a dead proxy for every address but
127.0.0.1, so a page that fetched anything from outside the lab machine
would fail; requests() lists what the page asked for."""

import json
import os
import shutil
import tempfile
import time

from ..servers import net

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run",
         "--disable-dev-shm-usage", "--proxy-server=127.0.0.1:9",
         "--proxy-bypass-list=127.0.0.1", "--window-size=1000,760")
# The text of every message of one chat, read from the DOM (an element
# scrolled out of view still has its textContent).
READ_CHAT = """
const log = document.querySelector(`.log[data-chat="${arguments[0]}"]`);
if (!log) return null;
return [...log.querySelectorAll('.msg')].map(m => [m.classList.contains('mine') ? 'mine' :
  m.classList.contains('note') ? 'note' : 'theirs', m.querySelector('.text').textContent]);
"""
STATE = """
const fault = document.getElementById('fault');
return {status: document.getElementById('status').className,
        fault: fault.hidden ? null : fault.textContent,
        ready: !document.getElementById('entry').disabled};
"""

# Whether the seat shows the instructions before the game, with Start.
BEFORE_GAME = """
const shown = window.seat && window.seat.instructions;
return Boolean(shown && shown.shown && shown.first);
"""


class BrowserError(Exception):
    pass


class Seat:
    """One Chromium with one seat's page."""

    def __init__(self):
        try:
            from selenium import webdriver
            from selenium.webdriver.chrome.service import Service
        except ImportError:
            raise BrowserError("Selenium is missing (apt-get install python3-selenium "
                               "chromium chromium-driver)")
        self.profile = tempfile.mkdtemp(prefix="wex-seat-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument(f"--user-data-dir={self.profile}")
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        # Chromium keeps its certificate store under HOME whatever the
        # profile: give it the profile's folder instead.
        env = dict(os.environ, HOME=self.profile, XDG_DATA_HOME=self.profile,
                   XDG_CONFIG_HOME=self.profile, XDG_CACHE_HOME=self.profile)
        try:
            # Its port chosen as the servers' are (see net.free_port).
            service = Service(CHROMEDRIVER, port=net.free_port(), env=env)
            self.driver = webdriver.Chrome(service=service, options=options)
        except Exception as e:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise BrowserError(f"Chromium did not start: {e}")
        self.driver.set_page_load_timeout(30)
        self.requested = []

    def open(self, url):
        self.driver.get(url)

    def state(self):
        return self.driver.execute_script(STATE)

    def wait(self, test, timeout=30, what="the page"):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = test()
            if value:
                return value
            time.sleep(0.1)
        raise BrowserError(f"timed out waiting for {what}: {self.state()}")

    def wait_ready(self, timeout=30):
        return self.wait(lambda: self.state()["ready"], timeout, "the chat to be ready")

    def messages(self, chat):
        return self.driver.execute_script(READ_CHAT, chat) or []

    def before_game(self):
        return self.driver.execute_script(BEFORE_GAME)

    def say(self, chat, text):
        """Types text into the chat of contact chat and sends it. On the
        instructions before the game it presses Start instead, whose
        message is the subject's first, the one that joins the game."""
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        if self.before_game():
            self.driver.find_element(By.ID, "instructions-button").click()
            return
        buttons = self.driver.find_elements(By.CSS_SELECTOR, "#chats button")
        for button in buttons:
            if button.text == chat and "current" not in button.get_attribute("class"):
                button.click()
        entry = self.driver.find_element(By.ID, "entry")
        entry.send_keys(text + Keys.ENTER)

    def requests(self):
        """The URL of every request the page made so far (each read once
        from Chromium's log, so keep calling this and add up)."""
        for entry in self.driver.get_log("performance"):
            event = json.loads(entry["message"])["message"]
            if event["method"] in ("Network.requestWillBeSent",
                                   "Network.webSocketCreated"):
                params = event["params"]
                self.requested.append(params.get("request", {}).get("url") or params.get("url"))
        return self.requested

    def loaded(self):
        """(name, bytes) of each resource the page loaded, from the
        browser's own timing records."""
        return self.driver.execute_script(
            "return performance.getEntriesByType('resource').concat("
            "performance.getEntriesByType('navigation')).map(e => [e.name, e.transferSize,"
            " e.encodedBodySize])")

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
