// The page's presence: visibility on every change, `active` on input at
// most once every 5 s, and only counted when it went out.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { ACTIVE_EVERY_MS, INPUT_EVENTS, Presence } from "../../../web/room/presence.js";
import { FakeNode } from "../seat/fake_dom.mjs";

function setup() {
  const doc = new FakeNode("document");
  doc.visibilityState = "visible";
  const sent = [];
  const link = { up: true };
  const clock = { now: 100000 };
  const presence = new Presence(doc, (frame) => {
    if (!link.up) return false;
    sent.push(frame);
    return true;
  }, () => clock.now);
  presence.start();
  return { doc, sent, link, clock, presence };
}

describe("presence", () => {
  it("says the visibility on each change", () => {
    const { doc, sent, presence } = setup();
    presence.report();
    doc.visibilityState = "hidden";
    doc.fire("visibilitychange");
    doc.visibilityState = "visible";
    doc.fire("visibilitychange");
    assert.deepEqual(sent, [{ type: "presence", visible: true },
      { type: "presence", visible: false }, { type: "presence", visible: true }]);
  });

  it("says active on input, at most once every 5 s", () => {
    const { doc, sent, clock } = setup();
    for (const kind of INPUT_EVENTS) assert.ok(doc.listeners[kind], kind);
    doc.fire("keydown");
    doc.fire("pointermove");
    clock.now += ACTIVE_EVERY_MS - 1;
    doc.fire("wheel");
    assert.equal(sent.length, 1);
    clock.now += 1;
    doc.fire("touchstart");
    assert.deepEqual(sent, [{ type: "active" }, { type: "active" }]);
  });

  it("says active on the next input when the last one could not go out", () => {
    const { doc, sent, link, clock } = setup();
    link.up = false;
    doc.fire("keydown");
    link.up = true;
    clock.now += 10;
    doc.fire("keydown");
    assert.deepEqual(sent, [{ type: "active" }]);
  });
});
