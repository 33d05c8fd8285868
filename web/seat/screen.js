// A subject's game on the page: the panel (panel.js) drawn from the
// newest game state, its countdown ticking each second with the warning
// and the "More time" button (countdown.js), the hint under the entry
// (hint.js), and at the end the end screen (end.js) in the panel's place,
// with the completion code and return button of a paid end (completion.js).
// Everything is written with textContent.

import { Countdown } from "./countdown.js";
import { renderCompletion } from "./completion.js";
import { endTexts, isOver, isPaid } from "./end.js";
import { Latest, readGame } from "./game.js";
import { hintFor } from "./hint.js";
import { t } from "./i18n.js";
import { renderPanel } from "./panel.js";

function element(doc, tag, className) {
  const node = doc.createElement(tag);
  node.className = className;
  return node;
}

export class GameScreen {
  // hooks.send(text) sends a text to the bot as the subject's (true when
  // it went out); hooks.finish() runs once, when the game is over;
  // hooks.completion ({code, url} of the link, optional) is shown on a
  // paid end, with hooks.clipboard to copy the code.
  constructor(doc, hooks, clock = () => Date.now(), timers = globalThis) {
    this.doc = doc;
    this.hooks = hooks;
    this.clock = clock;
    this.timers = timers;
    this.latest = new Latest();
    this.countdown = new Countdown();
    this.ended = false;
    this.panel = doc.getElementById("panel");
    this.entry = doc.getElementById("entry");
    this.hint = doc.getElementById("hint");
    this.build();
    this.entry.addEventListener("input", () => this.updateHint());
    // After the view's own handler, which empties the entry of a sent text.
    doc.getElementById("form").addEventListener("submit", () => this.updateHint());
    this.ticking = timers.setInterval(() => this.tick(), 1000);
  }

  build() {
    const doc = this.doc;
    this.panel.tabIndex = 0; // it scrolls on a small screen: by keyboard too
    this.head = element(doc, "div", "head");
    this.timer = element(doc, "p", "timer");
    this.timer.setAttribute("role", "timer");
    this.timer.hidden = true;
    this.warning = element(doc, "p", "warning");
    this.warning.id = "warning";
    this.warning.setAttribute("role", "alert");
    this.more = element(doc, "button", "more");
    this.more.type = "button";
    this.more.setAttribute("aria-describedby", "warning");
    this.more.hidden = true;
    this.more.addEventListener("click", () => this.askMore());
    this.tail = element(doc, "div", "tail");
    this.panel.replaceChildren(this.head, this.timer, this.warning, this.more, this.tail);
  }

  // Takes a message of the subject's chat, live or from the archive.
  take(message, live) {
    if (this.ended) return;
    if (!this.latest.take(readGame(message), this.clock(), live)) return;
    if (isOver(this.latest.game)) {
      this.end();
      return;
    }
    this.show();
    renderPanel(this.doc, this.head, this.tail, this.latest.game);
    this.tick();
    this.updateHint();
  }

  // Shows the panel, labelled now rather than when built, since the
  // catalogue of the page's language may come later.
  show() {
    this.panel.hidden = false;
    this.panel.setAttribute("aria-label", t("The game"));
    this.more.textContent = t("More time");
  }

  // The countdown at this second: its text, the warning (announced by
  // role=alert when it is first written) and the button.
  tick() {
    if (this.ended) return;
    const shown = this.countdown.at(this.latest, this.clock());
    this.timer.hidden = !shown;
    this.timer.textContent = shown ? shown.text : "";
    this.timer.classList.toggle("urgent", Boolean(shown && shown.warning));
    if (!shown || !shown.warning) {
      this.warning.textContent = "";
    } else if (shown.announce) {
      const extra = shown.extend
        ? " " + t("You can ask once for {seconds} more seconds.", { seconds: shown.extend })
        : "";
      this.warning.textContent = shown.warning + extra;
    }
    this.more.hidden = !(shown && shown.extend);
  }

  askMore() {
    if (this.countdown.askMore(this.latest, this.hooks.send)) this.tick();
  }

  updateHint() {
    const hint = this.ended ? null : hintFor(this.entry.value, this.latest.game);
    this.hint.textContent = hint || "";
    this.hint.hidden = !hint;
    if (hint) {
      this.entry.setAttribute("aria-describedby", this.hint.id);
    } else {
      this.entry.removeAttribute("aria-describedby");
    }
  }

  // The end screen in the panel's place; the entry closes and the page
  // stops signing in again.
  end() {
    this.ended = true;
    this.timers.clearInterval(this.ticking);
    this.updateHint();
    const game = this.latest.game;
    const completion = isPaid(game) && this.hooks.completion
      ? renderCompletion(this.doc, this.hooks.completion, this.hooks.clipboard) : null;
    const texts = endTexts(game, Boolean(completion));
    const heading = element(this.doc, "h2", "heading");
    heading.textContent = texts.heading;
    heading.tabIndex = -1;
    const lines = texts.lines.map((line) => {
      const node = element(this.doc, "p", "line");
      node.textContent = line;
      return node;
    });
    this.panel.replaceChildren(heading, ...lines, ...(completion ? [completion] : []));
    this.panel.classList.add("ended");
    this.show();
    this.hooks.finish();
    heading.focus();
  }
}
