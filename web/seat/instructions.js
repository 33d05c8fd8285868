// The instructions before the game: a subject who has not yet written to
// the bot (nothing in the archive) sees the lab's instructions first, with
// a Start button whose message joins the game; anyone else goes straight
// to the chat. The Instructions button above the chat shows them again,
// then with a button back to the chat.

import { t } from "./i18n.js";
import { renderMarkdown } from "./markdown.js";

// Where the pair's instructions lie on the server (wexlab writes one file
// per pair, with the pair's values filled in).
export function instructionsPath(contact) {
  return `instructions/${encodeURIComponent(contact)}.md`;
}

// What a seat shows once signed in: "instructions" for a subject whose
// chat holds no message yet and who has not pressed Start in this tab,
// else "chat".
export function firstScreen({ subject, messages, started }) {
  return subject && !messages && !started ? "instructions" : "chat";
}

export class Instructions {
  // start() sends the first message and says whether it went out.
  constructor(doc, start) {
    this.doc = doc;
    this.start = start;
    this.text = null; // the Markdown, once loaded
    this.first = false; // shown before the game: the button is Start
    this.byId("instructions-button").addEventListener("click", () => this.pressed());
    this.byId("instructions-open").addEventListener("click", () => this.show(false));
    this.byId("instructions").addEventListener("keydown", (event) => {
      if (event.key === "Escape" && !this.first) this.hide();
    });
  }

  byId(id) {
    return this.doc.getElementById(id);
  }

  // Fetches the pair's instructions; false when there are none.
  async load(contact, fetcher = fetch) {
    try {
      const answer = await fetcher(instructionsPath(contact), { cache: "no-cache" });
      if (!answer.ok) return false;
      this.text = await answer.text();
    } catch (e) {
      return false;
    }
    this.byId("instructions-text").replaceChildren(renderMarkdown(this.doc, this.text));
    return true;
  }

  get shown() {
    return !this.byId("instructions").hidden;
  }

  // Before the game (first) or again from the chat.
  show(first) {
    if (this.text === null) return;
    this.first = first;
    const button = this.byId("instructions-button");
    button.textContent = first ? t("Start") : t("Back to the chat");
    this.byId("main").hidden = true;
    this.byId("instructions").hidden = false;
    this.byId("instructions-title").focus();
  }

  hide() {
    this.byId("instructions").hidden = true;
    this.byId("main").hidden = false;
    this.byId("instructions-open").hidden = this.text === null;
    this.byId("entry").focus();
  }

  pressed() {
    if (this.first && !this.start()) return; // not connected: stay
    this.first = false;
    this.hide();
  }
}
