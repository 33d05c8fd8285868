// A hint under the entry while the game waits for a number and what is
// typed is not one the bot takes: a whole number from min to max, in
// digits alone (the entry's spaces around it are trimmed when it is
// sent). It never stops the text from going out: the bot judges every
// answer, and says so itself.

import { MORE_TIME } from "./countdown.js";
import { t } from "./i18n.js";

function isNumberOwed(game) {
  return Boolean(game) && (game.owed === "expectation" || game.owed === "investment") &&
    /^\d+$/.test(game.min || "") && /^\d+$/.test(game.max || "");
}

// The hint for `text` typed under the game state `game`, or null when it
// needs none: nothing typed, no number owed (words in a break are never
// hinted), a fitting number, or the request for more time where the
// deadline offers it.
export function hintFor(text, game) {
  const typed = text.trim();
  if (!typed || !isNumberOwed(game)) return null;
  if (game.extend && typed.toLowerCase() === MORE_TIME) return null;
  const min = Number(game.min);
  const max = Number(game.max);
  // No more digits than the largest value has: the bot reads "007" as no number.
  const digits = String(max).length;
  if (typed.length <= digits && /^\d+$/.test(typed)) {
    const value = Number(typed);
    if (value >= min && value <= max) return null;
  }
  return t("Please enter a whole number from {min} to {max}.", { min, max });
}
