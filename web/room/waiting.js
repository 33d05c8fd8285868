// The waiting view: "Waiting for another participant…" and the time
// waited, counted on from the server's `waiting` frame (since and now are
// the server's clock, so a wrong clock in the browser does not matter).
// The time on screen changes each second but is no live region; a polite
// one beside it says the time waited once a minute, so a screen reader is
// told without being interrupted every second.

import { t } from "/i18n.js";

// "m:ss", or "h:mm:ss" from an hour on.
export function waitedText(seconds) {
  const whole = Math.max(0, Math.floor(seconds));
  const two = (n) => String(n).padStart(2, "0");
  const [h, m, s] = [Math.floor(whole / 3600), Math.floor(whole / 60) % 60, whole % 60];
  return h ? `${h}:${two(m)}:${two(s)}` : `${m}:${two(s)}`;
}

export function waitedLine(seconds) {
  return t("You have waited {time}.", { time: waitedText(seconds) });
}

// The longest wait the room allows, or "" when the frame does not say.
export function limitLine(waitTimeout) {
  const seconds = Number(waitTimeout);
  return seconds > 0 ? t("You wait at most {time}.", { time: waitedText(seconds) }) : "";
}

export class Waiting {
  // The elements: view (the section), time (the line shown), said (the
  // polite live region), limit (the longest wait). clock() is the time
  // in ms.
  constructor(elements, clock = () => Date.now(), timers = globalThis) {
    this.elements = elements;
    this.clock = clock;
    this.timers = timers;
    this.start = null; // when the wait began, on the page's clock (ms)
    this.minutes = 0; // the whole minutes said so far
    this.ticking = null;
  }

  // Shows the wait of a `waiting` frame: {since, now} in epoch seconds.
  show(frame) {
    const waited = Math.max(0, Number(frame.now) - Number(frame.since)) || 0;
    this.start = this.clock() - waited * 1000;
    this.minutes = Math.floor(waited / 60);
    this.elements.view.hidden = false;
    this.elements.limit.textContent = limitLine(frame.wait_timeout);
    this.tick();
    if (this.ticking === null) this.ticking = this.timers.setInterval(() => this.tick(), 1000);
  }

  seconds() {
    return (this.clock() - this.start) / 1000;
  }

  tick() {
    const seconds = this.seconds();
    this.elements.time.textContent = waitedLine(seconds);
    const minutes = Math.floor(seconds / 60);
    if (minutes > this.minutes) {
      this.minutes = minutes;
      this.elements.said.textContent = waitedLine(minutes * 60);
    }
  }

  stop() {
    if (this.ticking !== null) this.timers.clearInterval(this.ticking);
    this.ticking = null;
    this.elements.view.hidden = true;
  }
}
