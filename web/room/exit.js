// The room's last pages: a paid exit without a game (no partner came in
// time, or the study is full) and a label whose game is over already.
// Each shows why, the show-up fee when there is one, and the completion
// code with its way back to the study site (the seat's completion.js).

import { renderCompletion } from "/completion.js";
import { money } from "/end.js";
import { N_, t } from "/i18n.js";

// Why an exit came before any game, by its outcome.
const REASONS = {
  waited_out: N_("No other participant arrived in time."),
  full: N_("The study is full."),
};

// A fee worth paying: a number above zero.
function paidFee(fee) {
  return typeof fee === "string" && Number(fee) > 0;
}

// {heading, lines, code, url} of an `exit` or `finished` frame; null for
// an exit whose outcome this page does not know.
export function exitTexts(frame) {
  if (frame.type === "finished") {
    return { heading: t("You have already taken part."), lines: [], code: frame.code,
      url: frame.url };
  }
  if (!Object.hasOwn(REASONS, frame.outcome)) return null;
  const heading = t(REASONS[frame.outcome]);
  const lines = paidFee(frame.fee)
    ? [t("You are paid a show-up fee of {amount}.", { amount: money(frame.fee) })] : [];
  return { heading, lines, code: frame.code, url: frame.url };
}

// Puts texts into the exit section (heading, lines, completion block),
// shows it and moves the focus to its heading.
export function showExit(doc, texts, clipboard) {
  const title = doc.getElementById("exit-title");
  title.textContent = texts.heading;
  const lines = texts.lines.map((text) => {
    const line = doc.createElement("p");
    line.className = "line";
    line.textContent = text;
    return line;
  });
  const completion = renderCompletion(doc, { code: texts.code, url: texts.url }, clipboard);
  if (!completion && !texts.lines.length) {
    const close = doc.createElement("p");
    close.className = "line";
    close.textContent = t("You may now close this window.");
    lines.push(close);
  }
  doc.getElementById("exit-lines").replaceChildren(...lines, ...(completion ? [completion] : []));
  doc.getElementById("exit").hidden = false;
  title.focus();
}
