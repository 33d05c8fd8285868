// The end screen's texts: how the game ended, the final credits and the
// payout in money, and whether the subject may simply leave (not when a
// completion code or a return address is to be taken back to the study
// site: completion.js shows those below).

import { t } from "./i18n.js";
import { decimal } from "./lang.js";

// The payout as money with the language's decimal separator; the
// catalogue gives the currency's form.
export function money(amount) {
  return t("${amount}", { amount: decimal(amount) });
}

function resultLines(game) {
  const lines = [];
  if (game.finalCredits !== undefined) {
    lines.push(t("Your final credits: {credits}", { credits: decimal(game.finalCredits) }));
  }
  if (game.payout !== undefined) lines.push(t("Your payout: {amount}", { amount: money(game.payout) }));
  return lines;
}

// {heading, lines} of the end screen for a state of phase over; `ended`
// says how (a state without it counts as completed). handBack: the subject
// leaves with a completion code or a return address.
export function endTexts(game, handBack = false) {
  const heading = t("The game is over");
  const close = handBack ? [] : [t("You may now close this window.")];
  if (game.ended === "stopped") {
    return {
      heading,
      lines: [t("The game was stopped, and no payouts are made for it. Please ask the experimenter.")],
    };
  }
  if (game.ended === "session_over" || game.ended === "paid_now") {
    return { heading, lines: [t("The session is over."), ...resultLines(game), ...close] };
  }
  if (game.ended === "replaced") {
    return {
      heading,
      lines: [t("You were away too long, so a stand-in played for you."), ...resultLines(game),
        ...close],
    };
  }
  return { heading, lines: [...resultLines(game), ...close] };
}

// Whether the end pays: a payout in the state (completed, paid now,
// replaced), so a completion code goes with it.
export function isPaid(game) {
  return Boolean(game) && game.payout !== undefined;
}

// Whether a game state ends the game: the over phase, or the word that a
// stand-in played this subject's part while the game may go on for the
// partner.
export function isOver(game) {
  return Boolean(game) && (game.phase === "over" || game.ended === "replaced");
}
