// The end screen's texts for each way a game ends.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { endTexts, isOver, isPaid } from "../../../web/seat/end.js";
import { setCatalogue } from "../../../web/seat/i18n.js";

const CLOSE = "You may now close this window.";

describe("the end screen", () => {
  it("a completed game shows the final credits and the payout in money", () => {
    setCatalogue({});
    const texts = endTexts({ phase: "over", ended: "completed", finalCredits: "412.66",
      payout: "14.13" });
    assert.deepEqual(texts, { heading: "The game is over",
      lines: ["Your final credits: 412.66", "Your payout: $14.13", CLOSE] });
    // Without ended the game counts as completed.
    assert.deepEqual(endTexts({ phase: "over", payout: "1.00" }).lines,
      ["Your payout: $1.00", CLOSE]);
  });

  it("a stopped game says there is no payout and sends the subject to the experimenter", () => {
    const texts = endTexts({ phase: "over", ended: "stopped", finalCredits: "80.00" });
    assert.deepEqual(texts.lines, [
      "The game was stopped, and no payouts are made for it. Please ask the experimenter."]);
  });

  it("a session that is over says so, with what is known of the pay", () => {
    assert.deepEqual(endTexts({ phase: "over", ended: "session_over" }).lines,
      ["The session is over.", CLOSE]);
    assert.deepEqual(endTexts({ phase: "over", ended: "paid_now", finalCredits: "90.50",
      payout: "10.00" }).lines,
    ["The session is over.", "Your final credits: 90.50", "Your payout: $10.00", CLOSE]);
  });

  it("the catalogue gives the money's form", () => {
    setCatalogue({ "${amount}": "{amount} €", "Your payout: {amount}": "Ihre Auszahlung: {amount}" });
    assert.deepEqual(endTexts({ phase: "over", payout: "14.13" }).lines.slice(0, 1),
      ["Ihre Auszahlung: 14.13 €"]);
    setCatalogue({});
  });

  it("writes the final credits and payout with the language's decimal separator", () => {
    setCatalogue({ ".": ",", "${amount}": "{amount} $" });
    assert.deepEqual(endTexts({ phase: "over", finalCredits: "201.67", payout: "10.00" }).lines
      .slice(0, 2), ["Your final credits: 201,67", "Your payout: 10,00 $"]);
    setCatalogue({});
  });

  it("only the over phase ends the game", () => {
    assert.deepEqual([isOver({ phase: "over" }), isOver({ phase: "break" }), isOver(null)],
      [true, false, false]);
  });

  it("a replaced subject is told a stand-in played, with the payout; that end is over", () => {
    setCatalogue({});
    const game = { phase: "investment", ended: "replaced", finalCredits: "120.50",
      payout: "6.03" };
    assert.equal(isOver(game), true);
    assert.equal(isPaid(game), true);
    assert.deepEqual(endTexts(game).lines, [
      "You were away too long, so a stand-in played for you.", "Your final credits: 120.50",
      "Your payout: $6.03", CLOSE]);
  });

  it("leaves out the close line when the subject takes a code back", () => {
    assert.deepEqual(endTexts({ phase: "over", payout: "1.00" }, true).lines,
      ["Your payout: $1.00"]);
    assert.deepEqual(endTexts({ phase: "over", ended: "replaced", payout: "1.00" }, true).lines,
      ["You were away too long, so a stand-in played for you.", "Your payout: $1.00"]);
  });

  it("pays only with a payout in the state", () => {
    assert.deepEqual([isPaid({ payout: "0.00" }), isPaid({ ended: "stopped" }), isPaid(null)],
      [true, false, false]);
  });
});
