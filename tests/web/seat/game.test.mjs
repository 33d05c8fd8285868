// Reading the game state off the bot's messages: every attribute, absent
// ones, the newest element winning, messages that carry the element alone.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { GAME, Latest, readGame } from "../../../web/seat/game.js";
import { Seen } from "../../../web/seat/archive.js";

// A stand-in for a DOM element: what readGame and the page read of one.
function element(localName, namespaceURI, attributes = {}, children = []) {
  return {
    nodeType: 1, localName, namespaceURI, childNodes: children,
    hasAttribute: (name) => Object.hasOwn(attributes, name),
    getAttribute: (name) => (Object.hasOwn(attributes, name) ? attributes[name] : null),
  };
}

function message(attributes, body = "text") {
  const children = [];
  if (body !== null) children.push(element("body", "jabber:client", {}, [{ nodeType: 3 }]));
  if (attributes) children.push(element("game", GAME, attributes));
  return element("message", "jabber:client", { type: "chat" }, children);
}

describe("the game element", () => {
  it("reads every attribute, named in camel case", () => {
    const game = readGame(message({
      round: "3", rounds: "10", phase: "investment", owed: "investment", min: "0", max: "60",
      "last-round": "2", "last-own": "20", "last-partner": "35", "last-earnings": "61.50",
      "last-bonus": "100.00", credits: "185.33", "bonus-in": "2",
      "break-ends": "2026-12-08T10:05:00Z", "break-seconds": "300",
      deadline: "2026-12-08T10:06:00Z", "deadline-seconds": "40", extend: "30",
      "final-credits": "400.10", payout: "12.50", ended: "completed",
    }));
    assert.deepEqual(game, {
      round: "3", rounds: "10", phase: "investment", owed: "investment", min: "0", max: "60",
      lastRound: "2", lastOwn: "20", lastPartner: "35", lastEarnings: "61.50",
      lastBonus: "100.00", credits: "185.33", bonusIn: "2",
      breakEnds: "2026-12-08T10:05:00Z", breakSeconds: "300",
      deadline: "2026-12-08T10:06:00Z", deadlineSeconds: "40", extend: "30",
      finalCredits: "400.10", payout: "12.50", ended: "completed",
    });
  });

  it("leaves absent attributes out and ignores unknown ones", () => {
    const game = readGame(message({ round: "0", phase: "joining", colour: "red" }));
    assert.deepEqual(game, { round: "0", phase: "joining" });
    assert.equal("lastRound" in game, false);
  });

  it("is null without the element, or with one of another namespace", () => {
    assert.equal(readGame(message(null)), null);
    const other = element("message", "jabber:client", {}, [element("game", "urn:other", { round: "1" })]);
    assert.equal(readGame(other), null);
  });

  it("is the message's own child, not one inside a forwarded message", () => {
    const inner = message({ round: "9" });
    const forwarded = element("forwarded", "urn:xmpp:forward:0", {}, [inner]);
    assert.equal(readGame(element("message", "jabber:client", {}, [forwarded])), null);
    assert.deepEqual(readGame(inner), { round: "9" });
  });
});

describe("the newest state", () => {
  it("is the last element taken, whatever came without one after it", () => {
    const latest = new Latest();
    const taken = [
      message({ round: "1", owed: "expectation" }),
      message(null, "a chat line without state"),
      message({ round: "1", owed: "investment" }),
      message(null),
    ].map((m, i) => latest.take(readGame(m), 1000 + i, false));
    assert.deepEqual(taken, [true, false, true, false]);
    assert.deepEqual(latest.game, { round: "1", owed: "investment" });
    assert.equal(latest.at, 1002);
  });

  it("a live element after the archive's wins, and says it came live", () => {
    const latest = new Latest();
    latest.take(readGame(message({ round: "2" })), 5, false);
    latest.take(readGame(message({ round: "3" })), 9, true);
    assert.deepEqual([latest.game.round, latest.at, latest.live], ["3", 9, true]);
  });

  it("a body-less message gives its state but no chat line", () => {
    const bare = message({ phase: "over", ended: "stopped" }, null);
    assert.deepEqual(readGame(bare), { phase: "over", ended: "stopped" });
    // What the page shows of it: a message without a text never is.
    assert.equal(new Seen().admit(null, "id-1"), false);
  });
});
