// The countdowns on a clock of the test's own: relative times for live
// states and absolute ones for archived states, the warning 20 s before a
// deadline announced once, more time asked for once per deadline.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { Countdown, MORE_TIME, clock, countdownOf } from "../../../web/seat/countdown.js";
import { Latest } from "../../../web/seat/game.js";

const BOT_NOW = Date.parse("2026-12-08T10:00:00Z"); // the bot's clock when it sent
const ASKING = { round: "2", rounds: "10", phase: "investment", owed: "investment",
  deadline: "2026-12-08T10:00:40Z", deadlineSeconds: "40" };

function latest(game, at, live) {
  const state = new Latest();
  state.take(game, at, live);
  return state;
}

describe("when a countdown ends", () => {
  it("live: the seconds left count from the arrival, whatever the clocks say", () => {
    const arrived = BOT_NOW + 7000; // the page's clock is 7 s ahead of the bot's
    const running = countdownOf(ASKING, arrived, true);
    assert.equal(running.kind, "answer");
    assert.equal(running.end, arrived + 40000);
  });

  it("archived: the absolute time, however late the page read it", () => {
    const running = countdownOf(ASKING, BOT_NOW + 600000, false);
    assert.equal(running.end, BOT_NOW + 40000);
    const onlySeconds = { round: "2", owed: "investment", deadlineSeconds: "40" };
    assert.equal(countdownOf(onlySeconds, BOT_NOW, false), null);
    assert.equal(countdownOf(onlySeconds, BOT_NOW, true).end, BOT_NOW + 40000);
  });

  it("a break's end, and none without one or once the game is over", () => {
    const pause = { phase: "break", owed: "done", breakEnds: "2026-12-08T10:05:00Z",
      breakSeconds: "300" };
    assert.deepEqual(countdownOf(pause, BOT_NOW + 2000, true),
      { kind: "break", end: BOT_NOW + 302000, key: "break/2026-12-08T10:05:00Z" });
    assert.equal(countdownOf(pause, BOT_NOW, false).end, BOT_NOW + 300000);
    assert.equal(countdownOf({ phase: "investment", owed: "investment" }, 0, true), null);
    assert.equal(countdownOf({ ...ASKING, phase: "over" }, 0, true), null);
    assert.equal(countdownOf({ deadline: "not a time" }, 0, false), null);
  });

  it("is shown as minutes and seconds", () => {
    assert.deepEqual([0, 9, 60, 65, 300].map(clock), ["0:00", "0:09", "1:00", "1:05", "5:00"]);
  });
});

describe("the warning", () => {
  it("comes 20 s before the deadline and is announced once", () => {
    const countdown = new Countdown();
    const state = latest(ASKING, 0, true);
    const seen = [0, 19000, 19999, 20000, 25000, 39500, 40000, 45000].map((now) => {
      const shown = countdown.at(state, now);
      return [shown.seconds, shown.warning !== null, shown.announce];
    });
    assert.deepEqual(seen, [
      [40, false, false], [21, false, false], [21, false, false], [20, true, true],
      [15, true, false], [1, true, false], [0, false, false], [0, false, false]]);
    assert.equal(countdown.at(state, 10000).text, "Time left to answer: 0:30");
    assert.equal(countdown.at(state, 25000).warning, "Less than 20 seconds left to answer.");
  });

  it("is not announced again when the same deadline comes again", () => {
    const countdown = new Countdown();
    assert.equal(countdown.at(latest(ASKING, 0, true), 30000).announce, true);
    // The question asked again after a reload, now from the archive.
    const again = latest(ASKING, BOT_NOW + 31000, false);
    assert.equal(countdown.at(again, BOT_NOW + 31000).announce, false);
    // A new deadline (the next question) is warned of anew.
    const next = latest({ ...ASKING, owed: "expectation", round: "3",
      deadline: "2026-12-08T10:02:00Z", deadlineSeconds: "40" }, 100000, true);
    assert.equal(countdown.at(next, 125000).announce, true);
  });

  it("a break has no warning", () => {
    const countdown = new Countdown();
    const pause = latest({ phase: "break", owed: "done", breakSeconds: "30" }, 0, true);
    const shown = countdown.at(pause, 15000);
    assert.deepEqual([shown.text, shown.warning, shown.announce, shown.extend],
      ["Break time left: 0:15", null, false, null]);
  });
});

describe("more time", () => {
  it("is offered with the warning when the deadline allows it, and sent once", () => {
    const countdown = new Countdown();
    const state = latest({ ...ASKING, extend: "30" }, 0, true);
    assert.equal(countdown.at(state, 5000).extend, null);
    assert.equal(countdown.at(state, 25000).extend, 30);
    const sent = [];
    const send = (text) => sent.push(text) > 0;
    assert.equal(countdown.askMore(state, send), true);
    assert.equal(countdown.askMore(state, send), false);
    assert.deepEqual(sent, [MORE_TIME]);
    assert.equal(MORE_TIME, "more time");
    assert.equal(countdown.at(state, 26000).extend, null);
  });

  it("is not offered without extend, nor at 0, nor after the deadline", () => {
    const countdown = new Countdown();
    assert.equal(countdown.at(latest(ASKING, 0, true), 25000).extend, null);
    assert.equal(countdown.at(latest({ ...ASKING, extend: "0" }, 0, true), 25000).extend, null);
    assert.equal(countdown.at(latest({ ...ASKING, extend: "30" }, 0, true), 41000).extend, null);
    assert.equal(countdown.askMore(latest(ASKING, 0, true), () => true), false);
  });

  it("counts as asked only when it went out", () => {
    const countdown = new Countdown();
    const state = latest({ ...ASKING, extend: "30" }, 0, true);
    assert.equal(countdown.askMore(state, () => false), false); // offline
    assert.equal(countdown.askMore(state, () => true), true);
  });
});
