// The countdown of an answer deadline or a break's end, the warning
// before an answer deadline runs out, and the one request for more time.
// Only arithmetic on times given in milliseconds: the page passes its
// clock's now, the tests a clock of their own.

import { t } from "./i18n.js";

export const WARN_SECONDS = 20; // the warning comes this long before a deadline
export const MORE_TIME = "more time"; // what the bot takes as the request

// When an end falls, in ms: for a live message `seconds` after it arrived
// (the bot's and the page's clocks may differ), for an archived one at the
// absolute time, which is all that still holds for it later.
function endTime(absolute, seconds, at, live) {
  if (live && /^\d+$/.test(seconds || "")) return at + Number(seconds) * 1000;
  const parsed = absolute ? Date.parse(absolute) : NaN;
  return Number.isNaN(parsed) ? null : parsed;
}

// The running countdown of a game state taken at `at`: {kind: "answer" or
// "break", end (ms), key}, or null when none runs. key names the deadline
// itself, the same whichever way its state came.
export function countdownOf(game, at, live) {
  if (!game || game.phase === "over") return null;
  const answer = endTime(game.deadline, game.deadlineSeconds, at, live);
  if (answer !== null) {
    const key = `${game.round}/${game.owed}/${game.deadline || answer}`;
    return { kind: "answer", end: answer, key };
  }
  const pause = endTime(game.breakEnds, game.breakSeconds, at, live);
  if (pause !== null) return { kind: "break", end: pause, key: `break/${game.breakEnds || pause}` };
  return null;
}

// Whole seconds as m:ss.
export function clock(seconds) {
  const minutes = Math.floor(seconds / 60);
  return `${minutes}:${String(seconds % 60).padStart(2, "0")}`;
}

// What the page shows of the countdowns over time: each deadline's
// warning is announced once, and more time is asked for once per deadline.
export class Countdown {
  constructor() {
    this.warned = new Set(); // keys of deadlines whose warning was announced
    this.extended = new Set(); // keys of deadlines more time was asked for
  }

  // What to show at `now` for the newest state (a Latest): null when no
  // countdown runs, else {text, seconds left, warning (the text, or null),
  // announce (the first time this deadline's warning shows), extend (the
  // seconds the button offers, or null)}.
  at(latest, now) {
    const running = countdownOf(latest.game, latest.at, latest.live);
    if (!running) return null;
    const seconds = Math.max(0, Math.ceil((running.end - now) / 1000));
    if (running.kind === "break") {
      return { text: t("Break time left: {time}", { time: clock(seconds) }), seconds,
        warning: null, announce: false, extend: null };
    }
    const warn = seconds > 0 && seconds <= WARN_SECONDS;
    const announce = warn && !this.warned.has(running.key);
    if (announce) this.warned.add(running.key);
    const more = latest.game.extend;
    const offer = warn && /^\d+$/.test(more || "") && Number(more) > 0 &&
      !this.extended.has(running.key);
    return {
      text: t("Time left to answer: {time}", { time: clock(seconds) }),
      seconds,
      warning: warn ? t("Less than {seconds} seconds left to answer.", { seconds: WARN_SECONDS }) : null,
      announce,
      extend: offer ? Number(more) : null,
    };
  }

  // Asks for more time on the newest state's deadline, through send(text);
  // returns whether it did (once per deadline, and only when offered).
  askMore(latest, send) {
    const running = countdownOf(latest.game, latest.at, latest.live);
    if (!running || running.kind !== "answer" || !latest.game.extend) return false;
    if (this.extended.has(running.key)) return false;
    if (!send(MORE_TIME)) return false;
    this.extended.add(running.key);
    return true;
  }
}
