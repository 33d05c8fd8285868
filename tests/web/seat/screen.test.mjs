// The game screen on a stand-in document: the panel drawn from the newest
// state, the warning written once, "More time" sending once, the hint
// described to the entry, the end screen closing the game once.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { GAME } from "../../../web/seat/game.js";
import { GameScreen } from "../../../web/seat/screen.js";

// Just enough of a DOM element for the screen.
class Node {
  constructor(tag) {
    this.tagName = tag.toUpperCase();
    this.children = [];
    this.attributes = new Map();
    this.listeners = new Map();
    this.hidden = false;
    this.className = "";
    this.ownText = "";
    this.value = "";
    const node = this;
    this.classList = {
      add: (name) => this.classList.toggle(name, true),
      contains: (name) => node.className.split(" ").includes(name),
      toggle(name, on) {
        const names = node.className.split(" ").filter((n) => n && n !== name);
        node.className = (on ? [...names, name] : names).join(" ");
      },
    };
  }
  get textContent() {
    return this.ownText + this.children.map((c) => c.textContent).join("");
  }
  set textContent(text) {
    this.ownText = String(text);
    this.children = [];
  }
  append(...nodes) {
    this.children.push(...nodes);
  }
  replaceChildren(...nodes) {
    this.ownText = "";
    this.children = nodes;
  }
  setAttribute(name, value) {
    this.attributes.set(name, String(value));
  }
  getAttribute(name) {
    return this.attributes.has(name) ? this.attributes.get(name) : null;
  }
  removeAttribute(name) {
    this.attributes.delete(name);
  }
  addEventListener(kind, run) {
    this.listeners.set(kind, [...(this.listeners.get(kind) || []), run]);
  }
  fire(kind) {
    for (const run of this.listeners.get(kind) || []) run({});
  }
  focus() {
    this.focused = true;
  }
  find(className) {
    if (this.classList.contains(className)) return this;
    for (const child of this.children) {
      const found = child.find(className);
      if (found) return found;
    }
    return null;
  }
}

function page(extra = {}) {
  const ids = { panel: new Node("aside"), entry: new Node("input"), hint: new Node("p"),
    form: new Node("form") };
  for (const [id, node] of Object.entries(ids)) node.id = id;
  ids.panel.hidden = ids.hint.hidden = true;
  const doc = { getElementById: (id) => ids[id], createElement: (tag) => new Node(tag) };
  const timers = { cleared: [], setInterval: () => 7, clearInterval(id) { this.cleared.push(id); } };
  const clock = { now: 0 };
  const sent = [];
  const finished = [];
  const hooks = { send: (text) => sent.push(text) > 0, finish: () => finished.push(true),
    ...extra };
  const screen = new GameScreen(doc, hooks, () => clock.now, timers);
  return { ids, screen, timers, clock, sent, finished };
}

// A message from the bot with the game state `attributes`.
function message(attributes) {
  const game = { nodeType: 1, localName: "game", namespaceURI: GAME,
    hasAttribute: (n) => Object.hasOwn(attributes, n), getAttribute: (n) => attributes[n] };
  return { childNodes: [game] };
}

const ASKING = { round: "2", rounds: "10", phase: "expectation", owed: "expectation", min: "0",
  max: "60", "deadline-seconds": "30", deadline: "2026-12-08T10:00:30Z", extend: "30" };

describe("the game screen", () => {
  it("shows the panel only once a state came, from the newest state", () => {
    const p = page();
    p.screen.take({ childNodes: [] }, true);
    assert.equal(p.ids.panel.hidden, true);
    p.screen.take(message({ ...ASKING, round: "1" }), true);
    p.screen.take(message(ASKING), true);
    assert.equal(p.ids.panel.hidden, false);
    assert.equal(p.ids.panel.getAttribute("aria-label"), "The game");
    assert.match(p.ids.panel.find("head").textContent, /^Round 2 of 10Your expectation/);
    assert.equal(p.ids.panel.find("timer").textContent, "Time left to answer: 0:30");
  });

  it("writes the warning once and sends more time once", () => {
    const p = page();
    p.screen.take(message(ASKING), true);
    const warning = p.ids.panel.find("warning");
    const more = p.ids.panel.find("more");
    assert.equal([warning.textContent, more.hidden].join("|"), "|true");
    p.clock.now = 12000;
    p.screen.tick();
    assert.equal(warning.textContent,
      "Less than 20 seconds left to answer. You can ask once for 30 more seconds.");
    assert.equal(more.hidden, false);
    // Written once: a later tick leaves what a screen reader was told alone.
    warning.ownText = "as announced";
    p.clock.now = 13000;
    p.screen.tick();
    assert.equal(warning.textContent, "as announced");
    more.fire("click");
    more.fire("click");
    assert.deepEqual(p.sent, ["more time"]);
    assert.equal(more.hidden, true);
    p.clock.now = 31000;
    p.screen.tick();
    assert.equal(warning.textContent, "");
  });

  it("hints at a number out of range, described to the entry, and drops it when sent", () => {
    const p = page();
    p.screen.take(message(ASKING), true);
    p.ids.entry.value = "61";
    p.ids.entry.fire("input");
    assert.equal(p.ids.hint.hidden, false);
    assert.equal(p.ids.hint.textContent, "Please enter a whole number from 0 to 60.");
    assert.equal(p.ids.entry.getAttribute("aria-describedby"), "hint");
    p.ids.entry.value = ""; // the view empties the entry of a sent text
    p.ids.form.fire("submit");
    assert.equal(p.ids.hint.hidden, true);
    assert.equal(p.ids.entry.getAttribute("aria-describedby"), null);
  });

  it("ends once: the end screen, the clock stopped, nothing taken after", () => {
    const p = page();
    p.screen.take(message(ASKING), true);
    p.ids.entry.value = "61";
    p.ids.entry.fire("input");
    p.screen.take(message({ phase: "over", ended: "completed", "final-credits": "400.00",
      payout: "12.00" }), true);
    assert.equal(p.ids.panel.textContent,
      "The game is overYour final credits: 400.00Your payout: $12.00You may now close this window.");
    assert.equal(p.ids.panel.classList.contains("ended"), true);
    assert.equal(p.ids.panel.children[0].focused, true);
    assert.deepEqual(p.timers.cleared, [7]);
    assert.equal(p.ids.hint.hidden, true);
    p.screen.take(message(ASKING), true);
    p.screen.take(message({ phase: "over", ended: "stopped" }), true);
    assert.match(p.ids.panel.textContent, /Your payout: \$12\.00/);
    assert.deepEqual(p.finished, [true]);
  });

  it("a paid end shows the link's completion code and the way back, not the close line", () => {
    const completion = { code: "C0DE-7", url: "https://study.example/done?cc=C0DE-7" };
    for (const [state, first] of [
      [{ phase: "over", ended: "completed", payout: "12.00" }, "Your payout: $12.00"],
      [{ phase: "over", ended: "paid_now", payout: "3.00" }, "The session is over."],
      // A stand-in plays on for the partner: the state says so before the game is over.
      [{ phase: "investment", round: "4", ended: "replaced", "final-credits": "80.00",
        payout: "4.00" }, "You were away too long, so a stand-in played for you."],
    ]) {
      const p = page({ completion, clipboard: null });
      p.screen.take(message(state), true);
      const text = p.ids.panel.textContent;
      assert.ok(text.includes(first), text);
      assert.ok(text.includes("Your completion code: C0DE-7"), text);
      assert.ok(!text.includes("close this window"), text);
      assert.equal(p.ids.panel.find("return").getAttribute("href"), completion.url);
      assert.ok(p.ids.panel.find("copy"), "a copy button");
      assert.deepEqual(p.finished, [true], state.ended);
    }
  });

  it("a stopped game, or a link without a code, shows no completion block", () => {
    const p = page({ completion: { code: "C0DE-7", url: "https://study.example/" } });
    p.screen.take(message({ phase: "over", ended: "stopped" }), true);
    assert.equal(p.ids.panel.find("completion"), null);
    const q = page({ completion: { code: undefined, url: undefined } });
    q.screen.take(message({ phase: "over", ended: "completed", payout: "2.00" }), true);
    assert.equal(q.ids.panel.find("completion"), null);
    assert.match(q.ids.panel.textContent, /You may now close this window\.$/);
  });
});
