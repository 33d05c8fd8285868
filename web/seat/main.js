// A lab seat: signs in with the account of the link, shows one chat per
// contact the seat talks to (a subject: its pair's bot; the moderator:
// every bot and wexlab's notices), reconnects by itself and rebuilds the
// conversation from the server's message archive after every sign-in.

import { MAM, Seen } from "./archive.js";
import { Connection, loadArchive, tabResource, websocketUrl } from "./connection.js";
import { BAD_LINK, forgetLogin, readLogin } from "./link.js";
import { View } from "./view.js";

// The server closed this seat's session: the same link signed in elsewhere.
const REPLACED = "This seat was opened in another window.";

// The page's state. It is window.seat too, for the browser's console and
// the end-to-end tests, which send through seat.conn.
const seat = {
  config: null, // seat.json: domain, websocket path, bots, notifier
  login: null, // {n, p, c} from the link, kept for the tab
  connection: null,
  view: new View(),
  seen: new Seen(), // archive ids shown since the last sign-in
  get conn() {
    return this.connection && this.connection.conn;
  },
};
window.seat = seat;

const tab = { location: window.location, history: window.history, storage: window.sessionStorage };

function contactJid(name) {
  return `${name}@${seat.config.domain}`;
}

function node(jid) {
  return Strophe.getNodeFromJid(jid);
}

function bodyOf(message) {
  const body = message.getElementsByTagName("body")[0];
  return body ? body.textContent : null;
}

// The id the server's archive gave a live message.
function stanzaId(conn, message) {
  const me = Strophe.getBareJidFromJid(conn.jid);
  for (const sid of message.getElementsByTagName("stanza-id")) {
    if (sid.getAttribute("by") === me) return sid.getAttribute("id");
  }
  return null;
}

// A message of the archive or of the stream, shown in its contact's chat.
function record(conn, message, id) {
  const text = bodyOf(message);
  if (!seat.seen.admit(text, id)) return;
  const from = Strophe.getBareJidFromJid(message.getAttribute("from") || "");
  const mine = from === conn.authzid || from === Strophe.getBareJidFromJid(conn.jid);
  const other = node(mine ? message.getAttribute("to") || "" : from);
  seat.view.show(other, mine ? "mine" : "theirs", text);
}

function onMessage(conn, message) {
  const view = seat.view;
  if (message.getAttribute("type") === "error") {
    const from = node(message.getAttribute("from") || "");
    const text = message.getElementsByTagName("text")[0];
    view.show(view.has(from) ? from : view.current, "note",
      "Not delivered" + (text ? `: ${text.textContent}` : "."));
    return true;
  }
  if (message.getElementsByTagNameNS(MAM, "result").length) return true;
  record(conn, message, stanzaId(conn, message));
  return true;
}

// Signed in: the conversation so far from the archive, then live messages.
async function ready(conn) {
  const view = seat.view;
  try {
    const archived = await loadArchive(conn);
    view.clear();
    seat.seen.clear();
    for (const [message, id] of archived) record(conn, message, id);
  } catch (e) {
    // Without the archive the page still works; it shows what arrives.
  }
  conn.addHandler((message) => onMessage(conn, message), null, "message");
  conn.send($pres());
  view.setStatus(true, "Connected");
  view.select(view.current);
}

function send(text) {
  if (!seat.connection.connected) return false;
  const to = contactJid(seat.view.current);
  seat.conn.send($msg({ to, type: "chat" }).c("body").t(text));
  seat.view.show(seat.view.current, "mine", text);
  return true;
}

function connect() {
  const url = websocketUrl(window.location, seat.config.websocket);
  seat.connection = new Connection(url, contactJid(seat.login.n), seat.login.p, {
    connected: ready,
    refused() {
      forgetLogin(tab.storage);
      seat.view.showFault(BAD_LINK);
    },
    replaced() {
      seat.view.showFault(REPLACED);
    },
    lost() {
      seat.view.setStatus(false, "Not connected \u2013 reconnecting\u2026");
    },
  });
  seat.connection.resource = tabResource(tab.storage);
  window.addEventListener("online", () => seat.connection.retryNow());
  seat.connection.connect();
}

async function start() {
  // A new link opened in this tab changes only the fragment: sign in anew.
  window.addEventListener("hashchange", () => {
    readLogin(tab);
    window.location.reload();
  });
  seat.login = readLogin(tab);
  if (!seat.login) return seat.view.showFault(BAD_LINK);
  try {
    const answer = await fetch("seat.json", { cache: "no-store" });
    seat.config = await answer.json();
  } catch (e) {
    seat.view.setStatus(false, "The lab server does not answer. Reload the page in a moment.");
    return;
  }
  const names = seat.login.c ? [seat.login.c] : [...seat.config.bots, seat.config.notifier];
  seat.view.build(names, Boolean(seat.login.c));
  seat.view.onSend(send);
  connect();
}

start();
