import { test } from "node:test";
import assert from "node:assert/strict";

import { setCatalogue, t } from "../../../web/seat/i18n.js";

test("a text without a translation stays English, placeholders filled", () => {
  setCatalogue({});
  assert.equal(t("Round {round} of {rounds}", { round: 3, rounds: 10 }), "Round 3 of 10");
  assert.equal(t("Keep {unknown}", {}), "Keep {unknown}");
});

test("a translation is used; an empty one or a bad catalogue falls back", () => {
  setCatalogue({ "Round {round} of {rounds}": "Runde {round} von {rounds}", Start: "" });
  assert.equal(t("Round {round} of {rounds}", { round: 3, rounds: 10 }), "Runde 3 von 10");
  assert.equal(t("Start"), "Start");
  setCatalogue(null);
  assert.equal(t("Start"), "Start");
});
