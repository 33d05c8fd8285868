// The time waited: counted from the server's clock, shown each second,
// said to screen readers once a minute.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { useSeatRoot } from "./seat_root.mjs";

useSeatRoot();
const { Waiting, limitLine, waitedText } = await import("../../../web/room/waiting.js");
const { setCatalogue } = await import("../../../web/seat/i18n.js");
const { FakeNode } = await import("../seat/fake_dom.mjs");

function setup() {
  const elements = { view: new FakeNode("section"), time: new FakeNode("p"),
    said: new FakeNode("p"), limit: new FakeNode("p") };
  elements.view.hidden = true;
  const clock = { now: 5000000 };
  const timers = { started: 0, cleared: [], setInterval() { this.started += 1; return 9; },
    clearInterval(id) { this.cleared.push(id); } };
  const waiting = new Waiting(elements, () => clock.now, timers);
  return { elements, clock, timers, waiting };
}

describe("the time waited", () => {
  it("reads m:ss, and h:mm:ss from an hour on", () => {
    assert.deepEqual([0, 5, 83, 600, 3599, 3600, 7322, -3, 59.9].map(waitedText),
      ["0:00", "0:05", "1:23", "10:00", "59:59", "1:00:00", "2:02:02", "0:00", "0:59"]);
  });

  it("counts on from the server's since and now, whatever the browser's clock", () => {
    setCatalogue({});
    const { elements, clock, timers, waiting } = setup();
    // The server says the wait began 83 s before its now.
    waiting.show({ type: "waiting", since: 1700000000, now: 1700000083, wait_timeout: 300 });
    assert.equal(elements.view.hidden, false);
    assert.equal(elements.time.textContent, "You have waited 1:23.");
    assert.equal(elements.limit.textContent, "You wait at most 5:00.");
    clock.now += 2000;
    waiting.tick();
    assert.equal(elements.time.textContent, "You have waited 1:25.");
    // A new frame (after a reconnect) sets the count again, one timer only.
    waiting.show({ type: "waiting", since: 1700000000, now: 1700000010 });
    assert.equal(elements.time.textContent, "You have waited 0:10.");
    assert.equal(timers.started, 1);
    waiting.stop();
    assert.deepEqual(timers.cleared, [9]);
    assert.equal(elements.view.hidden, true);
  });

  it("has its limit said only when the frame gives one", () => {
    assert.deepEqual([limitLine(300), limitLine(45), limitLine(undefined), limitLine(0),
      limitLine("x")], ["You wait at most 5:00.", "You wait at most 0:45.", "", "", ""]);
  });

  it("is said once a minute, not every second", () => {
    setCatalogue({});
    const { elements, clock, waiting } = setup();
    waiting.show({ since: 100, now: 150 });
    const said = [];
    for (let second = 0; second < 130; second++) {
      clock.now += 1000;
      waiting.tick();
      if (elements.said.textContent !== (said[said.length - 1] || "")) {
        said.push(elements.said.textContent);
      }
    }
    assert.deepEqual(said, ["You have waited 1:00.", "You have waited 2:00.",
      "You have waited 3:00."]);
  });

  it("is in the lab's language", () => {
    setCatalogue({ "You have waited {time}.": "Sie warten seit {time}." });
    const { elements, waiting } = setup();
    waiting.show({ since: 10, now: 15 });
    assert.equal(elements.time.textContent, "Sie warten seit 0:05.");
    setCatalogue({});
  });
});
