// The subject's panel beside the chat: the round, what the game asks now
// and the range of a number, the last round's result, the credits so far
// and the next bonus, all read from the newest game state (game.js).

import { t } from "./i18n.js";
import { decimal } from "./lang.js";

// What the game asks of the subject now, in words.
export function askedText(game) {
  const range = game.min !== undefined && game.max !== undefined;
  const params = { min: game.min, max: game.max };
  if (game.owed === "expectation") {
    return range
      ? t("Your expectation: how much will the other player invest? A whole number from {min} to {max}.", params)
      : t("Your expectation: how much will the other player invest?");
  }
  if (game.owed === "investment") {
    return range
      ? t("Your investment: how much do you invest? A whole number from {min} to {max}.", params)
      : t("Your investment: how much do you invest?");
  }
  if (game.owed === "done" || (game.phase === "break" && game.owed === undefined)) {
    return t("Break: chat with the other player. Type done when you have finished chatting.");
  }
  if (game.phase === "break") return t("Break: waiting for the other player to finish chatting.");
  if (game.phase === "joining") return t("Waiting for the other player to join.");
  if (game.owed === "none") return t("Waiting for the other player.");
  return null;
}

// "Next bonus in N rounds", or null when the element does not say.
export function bonusText(bonusIn) {
  if (bonusIn === undefined || !/^\d+$/.test(bonusIn)) return null;
  const count = Number(bonusIn);
  if (count === 0) return t("A bonus is paid at the end of this round.");
  if (count === 1) return t("Next bonus in 1 round.");
  return t("Next bonus in {count} rounds.", { count });
}

// The last closed round's result: {heading, lines}, or null before the
// first round closes.
export function lastRoundTexts(game) {
  if (game.lastRound === undefined) return null;
  const lines = [];
  if (game.lastOwn !== undefined) lines.push(t("You invested: {value}", { value: game.lastOwn }));
  if (game.lastPartner !== undefined) {
    lines.push(t("Your partner invested: {value}", { value: game.lastPartner }));
  }
  if (game.lastEarnings !== undefined) {
    lines.push(t("Your earnings: {value}", { value: decimal(game.lastEarnings) }));
  }
  if (game.lastBonus !== undefined) lines.push(t("Your bonus: {value}", { value: decimal(game.lastBonus) }));
  return { heading: t("Result of round {round}", { round: game.lastRound }), lines };
}

// Every text of the panel for a game state; a part the state does not
// tell is null.
export function panelTexts(game) {
  const started = game.round !== undefined && Number(game.round) >= 1;
  return {
    round: started && game.rounds !== undefined
      ? t("Round {round} of {rounds}", { round: game.round, rounds: game.rounds })
      : null,
    asked: askedText(game),
    last: lastRoundTexts(game),
    credits: game.credits !== undefined
      ? t("Your credits so far: {credits}", { credits: decimal(game.credits) })
      : null,
    bonus: bonusText(game.bonusIn),
  };
}

function element(doc, tag, className, text) {
  const node = doc.createElement(tag);
  node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// Renders panelTexts with textContent only: the round and what is asked
// into `head`, the last result, credits and bonus into `tail` (the
// countdown stands between them and keeps its own elements).
export function renderPanel(doc, head, tail, game) {
  const texts = panelTexts(game);
  const top = [];
  if (texts.round) top.push(element(doc, "h2", "round", texts.round));
  if (texts.asked) top.push(element(doc, "p", "asked", texts.asked));
  head.replaceChildren(...top);
  const rest = [];
  if (texts.last) {
    const section = element(doc, "section", "last");
    const list = element(doc, "ul", "lines");
    for (const line of texts.last.lines) list.append(element(doc, "li", "line", line));
    section.append(element(doc, "h3", "heading", texts.last.heading), list);
    rest.push(section);
  }
  if (texts.credits) rest.push(element(doc, "p", "credits", texts.credits));
  if (texts.bonus) rest.push(element(doc, "p", "bonus", texts.bonus));
  tail.replaceChildren(...rest);
}
