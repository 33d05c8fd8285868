// The page's DOM (index.html): the status line, one chat per contact with
// a button to pick it and, at its top, one to show earlier messages, the
// entry, and the fault that replaces them all.

import { N_, t } from "./i18n.js";

export const EARLIER = N_("Show earlier messages");

export class View {
  constructor(doc = document) {
    this.doc = doc;
    this.chats = new Map(); // contact name -> {log, button, earlier}
    this.wantEarlier = () => {};
    this.current = null;
    this.subject = false; // a subject's chat names its contact "Game"
    this.ended = false; // the game is over: the entry stays closed
  }

  byId(id) {
    return this.doc.getElementById(id);
  }

  showFault(text) {
    this.byId("main").hidden = true;
    this.byId("status").hidden = true;
    this.byId("fault").textContent = text;
    this.byId("fault").hidden = false;
  }

  setStatus(up, text) {
    this.byId("status").className = up ? "up" : "down";
    this.byId("status").textContent = text;
    this.byId("entry").disabled = !up || this.ended;
    this.byId("send").disabled = !up || this.ended;
  }

  // The game is over: the entry closes for good and the connection's
  // status goes, as no attempt to sign in again follows.
  finish() {
    this.ended = true;
    this.byId("entry").disabled = true;
    this.byId("send").disabled = true;
    this.byId("status").hidden = true;
  }

  // One chat per name, the first one open; the buttons only for two or more.
  build(names, subject) {
    this.subject = subject;
    for (const name of names) {
      const log = this.doc.createElement("ol");
      log.className = "log";
      log.dataset.chat = name;
      log.setAttribute("aria-label", subject ? t("Messages") : name);
      log.tabIndex = 0; // scrollable by keyboard
      log.hidden = true;
      log.tabIndex = 0; // scrolled by keyboard too, on a small screen above all
      const earlier = this.earlierItem(name);
      log.append(earlier);
      this.byId("logs").append(log);
      const button = this.doc.createElement("button");
      button.type = "button";
      button.textContent = name;
      button.addEventListener("click", () => this.select(name));
      this.byId("chats").append(button);
      this.chats.set(name, { log, button, earlier });
    }
    this.byId("chats").hidden = names.length < 2;
    this.select(names[0]);
    this.byId("main").hidden = false;
  }

  select(name) {
    this.current = name;
    for (const [other, chat] of this.chats) {
      chat.log.hidden = other !== name;
      chat.button.classList.toggle("current", other === name);
      if (other === name) chat.button.classList.remove("unread");
    }
    const chat = this.chats.get(name);
    chat.log.scrollTop = chat.log.scrollHeight;
    this.byId("entry").focus();
  }

  has(name) {
    return this.chats.has(name);
  }

  // The first item of a chat: its button for earlier messages, hidden
  // until the archive is known to hold some.
  earlierItem(name) {
    const item = this.doc.createElement("li");
    item.className = "earlier";
    item.hidden = true;
    const button = this.doc.createElement("button");
    button.type = "button";
    button.textContent = t(EARLIER);
    button.addEventListener("click", () => this.wantEarlier(name));
    item.append(button);
    return item;
  }

  // want(name) runs when the participant asks for name's earlier messages.
  onEarlier(want) {
    this.wantEarlier = want;
  }

  // Whether name's chat offers its earlier messages.
  setEarlier(name, more) {
    const chat = this.chats.get(name);
    if (chat) chat.earlier.hidden = !more;
  }

  message(name, kind, text) {
    const item = this.doc.createElement("li");
    item.className = `msg ${kind}`;
    const who = this.doc.createElement("span");
    who.className = "who";
    who.textContent = kind === "mine" ? t("You") : kind === "note" ? t("Note") :
      this.subject ? t("Game") : name;
    const body = this.doc.createElement("span");
    body.className = "text";
    body.textContent = text;
    item.append(who, body);
    return item;
  }

  // Adds a message to name's chat: kind is mine, theirs or note (the
  // page's own). The chat follows it when it was at its end; another
  // chat's button is marked unread.
  show(name, kind, text) {
    const chat = this.chats.get(name);
    if (!chat) return;
    const log = chat.log;
    const atEnd = log.scrollHeight - log.scrollTop - log.clientHeight < 80;
    log.append(this.message(name, kind, text));
    if (atEnd || kind === "mine") log.scrollTop = log.scrollHeight;
    if (name !== this.current) chat.button.classList.add("unread");
  }

  // Puts earlier messages ([kind, text], oldest first) above name's
  // messages, leaving in view what the participant was reading.
  showEarlier(name, messages) {
    const chat = this.chats.get(name);
    if (!chat || !messages.length) return;
    const log = chat.log;
    const fromEnd = log.scrollHeight - log.scrollTop;
    chat.earlier.after(...messages.map(([kind, text]) => this.message(name, kind, text)));
    log.scrollTop = log.scrollHeight - fromEnd;
  }

  clear() {
    for (const chat of this.chats.values()) chat.log.replaceChildren(chat.earlier);
  }

  // send(text) runs for each trimmed, non-empty entry; the entry is
  // emptied when it returns true (the text went out).
  onSend(send) {
    this.byId("form").addEventListener("submit", (event) => {
      event.preventDefault();
      const entry = this.byId("entry");
      const text = entry.value.trim();
      if (text && send(text)) entry.value = "";
    });
  }
}
