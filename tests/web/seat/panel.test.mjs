// The panel's texts for each phase of the game, from the game state alone.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { setCatalogue } from "../../../web/seat/i18n.js";
import { panelTexts } from "../../../web/seat/panel.js";

const RANGE = { min: "0", max: "60" };

describe("the panel", () => {
  it("before both joined says so and shows no round", () => {
    setCatalogue({});
    const texts = panelTexts({ round: "0", rounds: "10", phase: "joining", owed: "none" });
    assert.deepEqual(texts, {
      round: null, asked: "Waiting for the other player to join.", last: null, credits: null,
      bonus: null,
    });
  });

  it("in round 1 asks for the expectation with its range", () => {
    const texts = panelTexts({ round: "1", rounds: "10", phase: "expectation",
      owed: "expectation", ...RANGE, credits: "0.00", bonusIn: "4" });
    assert.equal(texts.round, "Round 1 of 10");
    assert.equal(texts.asked, "Your expectation: how much will the other player invest? " +
      "A whole number from 0 to 60.");
    assert.equal(texts.last, null);
    assert.equal(texts.credits, "Your credits so far: 0.00");
    assert.equal(texts.bonus, "Next bonus in 4 rounds.");
  });

  it("asks for the investment, or says it waits for the partner", () => {
    const asked = (owed, phase = "investment") => panelTexts({ round: "3", rounds: "10", phase, owed,
      ...RANGE }).asked;
    assert.equal(asked("investment"),
      "Your investment: how much do you invest? A whole number from 0 to 60.");
    assert.equal(asked("none"), "Waiting for the other player.");
    assert.equal(asked("none", "expectation"), "Waiting for the other player.");
    assert.equal(panelTexts({ owed: "investment" }).asked, "Your investment: how much do you invest?");
  });

  it("shows the last closed round: own and partner's investment, earnings, bonus", () => {
    const texts = panelTexts({ round: "3", rounds: "10", phase: "expectation", owed: "expectation",
      ...RANGE, lastRound: "2", lastOwn: "20", lastPartner: "35", lastEarnings: "61.50",
      credits: "120.25", bonusIn: "1" });
    assert.deepEqual(texts.last, { heading: "Result of round 2", lines: [
      "You invested: 20", "Your partner invested: 35", "Your earnings: 61.50"] });
    assert.equal(texts.bonus, "Next bonus in 1 round.");
    const bonus = panelTexts({ lastRound: "5", lastOwn: "0", lastBonus: "100.00", bonusIn: "0" });
    assert.deepEqual(bonus.last.lines, ["You invested: 0", "Your bonus: 100.00"]);
    assert.equal(bonus.bonus, "A bonus is paid at the end of this round.");
  });

  it("in a break asks for done, then waits once it was written", () => {
    const owing = panelTexts({ round: "5", rounds: "10", phase: "break", owed: "done" });
    assert.equal(owing.asked,
      "Break: chat with the other player. Type done when you have finished chatting.");
    const written = panelTexts({ round: "5", rounds: "10", phase: "break", owed: "none" });
    assert.equal(written.asked, "Break: waiting for the other player to finish chatting.");
  });

  it("leaves out what the state does not tell, a bad count included", () => {
    assert.deepEqual(panelTexts({}), { round: null, asked: null, last: null, credits: null,
      bonus: null });
    assert.equal(panelTexts({ round: "2" }).round, null);
    assert.equal(panelTexts({ bonusIn: "soon" }).bonus, null);
  });

  it("takes its texts from the catalogue", () => {
    setCatalogue({ "Round {round} of {rounds}": "Runde {round} von {rounds}",
      "Next bonus in {count} rounds.": "Nächster Bonus in {count} Runden." });
    const texts = panelTexts({ round: "3", rounds: "10", bonusIn: "2" });
    assert.equal(texts.round, "Runde 3 von 10");
    assert.equal(texts.bonus, "Nächster Bonus in 2 Runden.");
    setCatalogue({});
  });

  it("writes credits, earnings and bonus with the language's decimal separator", () => {
    setCatalogue({ ".": "," });
    const texts = panelTexts({ round: "3", rounds: "10", lastRound: "2", lastOwn: "20",
      lastPartner: "35", lastEarnings: "189.55", lastBonus: "100.00", credits: "291.21" });
    assert.deepEqual(texts.last.lines, ["You invested: 20", "Your partner invested: 35",
      "Your earnings: 189,55", "Your bonus: 100,00"]);
    assert.equal(texts.credits, "Your credits so far: 291,21");
    setCatalogue({});
  });
});
