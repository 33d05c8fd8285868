// The hint under the entry: numbers the bot would refuse while it waits
// for one, nothing for fitting numbers nor for words in a break.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { hintFor } from "../../../web/seat/hint.js";

const OWED = { round: "1", phase: "expectation", owed: "expectation", min: "0", max: "60" };
const HINT = "Please enter a whole number from 0 to 60.";

describe("the hint", () => {
  it("is none for whole numbers within the range, the edges included", () => {
    for (const text of ["0", "60", "7", " 7 ", "05", "30\n"]) {
      assert.equal(hintFor(text, OWED), null, JSON.stringify(text));
    }
  });

  it("is given for numbers out of range, fractions, signs and words", () => {
    for (const text of ["-1", "61", "2.5", "+5", "100", "007", "seven", "7 credits", "1e1"]) {
      assert.equal(hintFor(text, OWED), HINT, JSON.stringify(text));
    }
  });

  it("follows the range the state gives, for the investment too", () => {
    const state = { ...OWED, owed: "investment", min: "5", max: "100" };
    assert.equal(hintFor("4", state), "Please enter a whole number from 5 to 100.");
    assert.equal(hintFor("100", state), null);
  });

  it("is none while nothing is typed or no number is owed", () => {
    assert.equal(hintFor("", OWED), null);
    assert.equal(hintFor("   ", OWED), null);
    assert.equal(hintFor("61", null), null);
    for (const owed of ["done", "none"]) {
      assert.equal(hintFor("hello there, 2.5 or 61?", { phase: "break", owed }), null, owed);
    }
    assert.equal(hintFor("61", { ...OWED, owed: "none" }), null);
    assert.equal(hintFor("61", { owed: "expectation" }), null); // no range told
  });

  it("lets the request for more time pass where the deadline offers it", () => {
    assert.equal(hintFor(" More Time ", { ...OWED, extend: "30" }), null);
    assert.equal(hintFor("more time", OWED), HINT);
  });
});
