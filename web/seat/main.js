// A lab seat: signs in with the account of the link, shows one chat per
// contact the seat talks to (a subject: its pair's bot; the moderator:
// every bot and wexlab's notices), reconnects by itself and rebuilds the
// conversation from the server's message archive after every sign-in: the
// newest messages of each chat, earlier ones when the participant asks.

import { History, MAM, Seen, readPage } from "./archive.js";
import { Connection, loadPage, tabResource, websocketUrl } from "./connection.js";
import { BAD_LINK, chatsOf, forgetLogin, readLogin } from "./link.js";
import { N_, t } from "./i18n.js";
import { Instructions, firstScreen } from "./instructions.js";
import { loadLanguage, translatePage } from "./lang.js";
import { GameScreen } from "./screen.js";
import { View } from "./view.js";

// The server closed this seat's session: the same link signed in elsewhere.
const REPLACED = N_("This seat was opened in another window.");

// The page's state. It is window.seat too, for the browser's console and
// the end-to-end tests, which send through seat.conn.
const seat = {
  config: null, // seat.json: domain, websocket path, bots, notifier, moderator, contacts
  login: null, // {n, p, c, code?, url?} from the link, kept for the tab
  names: [], // the contacts of this seat's chats
  connection: null,
  view: new View(),
  instructions: null, // a subject's: shown before the game and on request
  instructionsLoaded: null, // the promise of their file
  started: false, // Start was pressed in this page
  seen: new Seen(), // archive ids shown since the last sign-in
  histories: new Map(), // contact name -> History of this sign-in
  game: null, // a subject's GameScreen: the panel, countdown, hint and end screen
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

// Where a message of the archive or of the stream goes: [chat, kind,
// text], or null when it is not to be shown (no text, or shown already).
function placeOf(conn, message, id) {
  const text = bodyOf(message);
  if (!seat.seen.admit(text, id)) return null;
  const from = Strophe.getBareJidFromJid(message.getAttribute("from") || "");
  const mine = from === conn.authzid || from === Strophe.getBareJidFromJid(conn.jid);
  const other = node(mine ? message.getAttribute("to") || "" : from);
  return [other, mine ? "mine" : "theirs", text];
}

// Shows a message of the archive's newest page or a live one (`live`);
// a subject's game state comes with its bot's messages, with a text or not.
// Returns whether a chat line was shown.
function record(conn, message, id, live) {
  const from = Strophe.getBareJidFromJid(message.getAttribute("from") || "");
  if (seat.game && from === contactJid(seat.login.c)) seat.game.take(message, live);
  const place = placeOf(conn, message, id);
  if (place) seat.view.show(...place);
  return Boolean(place);
}

// The next page of name's conversation, [message, id] oldest first; an
// empty one when the archive fails (the page still works without it).
async function readChat(conn, name, history) {
  try {
    const entries = await readPage(history, (before) => loadPage(conn, contactJid(name), before));
    return entries || [];
  } catch (e) {
    return [];
  }
}

// The participant asks for name's earlier messages: the page before the
// oldest shown, put above it. A page of an earlier sign-in is dropped.
async function showEarlier(name) {
  const conn = seat.conn;
  const history = seat.histories.get(name);
  if (!conn || !history) return;
  const entries = await readChat(conn, name, history);
  if (seat.histories.get(name) !== history) return;
  const messages = [];
  for (const [message, id] of entries) {
    const place = placeOf(conn, message, id);
    if (place && place[0] === name) messages.push([place[1], place[2]]);
  }
  seat.view.showEarlier(name, messages);
  seat.view.setEarlier(name, history.more);
}

function onMessage(conn, message) {
  const view = seat.view;
  if (message.getAttribute("type") === "error") {
    const from = node(message.getAttribute("from") || "");
    const text = message.getElementsByTagName("text")[0];
    view.show(view.has(from) ? from : view.current, "note",
      text ? t("Not delivered: {reason}", { reason: text.textContent }) : t("Not delivered."));
    return true;
  }
  if (message.getElementsByTagNameNS(MAM, "result").length) return true;
  record(conn, message, stanzaId(conn, message), true);
  return true;
}

// Signed in: the newest messages of each chat from the archive, then live
// messages.
async function ready(conn) {
  const view = seat.view;
  const histories = new Map(seat.names.map((name) => [name, new History()]));
  seat.histories = histories;
  const pages = await Promise.all(seat.names.map((name) =>
    readChat(conn, name, histories.get(name))));
  view.clear();
  seat.seen.clear();
  let messages = 0;
  for (const entries of pages) {
    for (const [message, id] of entries) messages += record(conn, message, id, false) ? 1 : 0;
  }
  for (const [name, history] of histories) view.setEarlier(name, history.more);
  conn.addHandler((message) => onMessage(conn, message), null, "message");
  conn.send($pres());
  view.setStatus(true, t("Connected"));
  view.select(view.current);
  showFirst(messages);
}

// A subject who has not yet written to the game reads the instructions
// first; the others (and one back after a reload) go straight to the chat.
async function showFirst(messages) {
  const instructions = seat.instructions;
  if (!instructions) return;
  await seat.instructionsLoaded;
  const screen = firstScreen({ subject: seat.view.subject, messages, started: seat.started });
  if (screen === "instructions") instructions.show(true);
  else if (!instructions.shown || instructions.first) instructions.hide();
}

// Start on the instructions: the first message, which joins the game.
function startGame() {
  if (!send(t("Start"))) return false;
  seat.started = true;
  return true;
}

function send(text) {
  if (!seat.connection.connected) return false;
  const to = contactJid(seat.view.current);
  seat.conn.send($msg({ to, type: "chat" }).c("body").t(text));
  seat.view.show(seat.view.current, "mine", text);
  return true;
}

// The game is over: the entry closes and the page signs in no more.
function finish() {
  seat.view.finish();
  seat.connection.stopReconnecting();
}

function connect() {
  const url = websocketUrl(window.location, seat.config.websocket);
  seat.connection = new Connection(url, contactJid(seat.login.n), seat.login.p, {
    connected: ready,
    refused() {
      forgetLogin(tab.storage);
      seat.view.showFault(t(BAD_LINK));
    },
    replaced() {
      seat.view.showFault(t(REPLACED));
    },
    lost() {
      seat.view.setStatus(false, t("Not connected \u2013 reconnecting\u2026"));
    },
  });
  seat.connection.resource = tabResource(tab.storage);
  window.addEventListener("online", () => seat.connection.retryNow());
  seat.connection.connect();
}

// seat.json, or null when the server does not answer.
async function readConfig() {
  try {
    const answer = await fetch("seat.json", { cache: "no-store" });
    return await answer.json();
  } catch (e) {
    return null;
  }
}

async function start() {
  // A new link opened in this tab changes only the fragment: sign in anew.
  window.addEventListener("hashchange", () => {
    readLogin(tab);
    window.location.reload();
  });
  seat.login = readLogin(tab);
  // The language comes with seat.json, so that even a fault is shown in it.
  const [, config] = await Promise.all([loadLanguage(document), readConfig()]);
  translatePage(document);
  if (!seat.login) return seat.view.showFault(t(BAD_LINK));
  seat.config = config;
  if (!config) {
    seat.view.setStatus(false, t("The lab server does not answer. Reload the page in a moment."));
    return;
  }
  // A link whose contact is not the participant's own signs in to nothing.
  seat.names = chatsOf(seat.login, seat.config);
  if (!seat.names) {
    forgetLogin(tab.storage);
    return seat.view.showFault(t(BAD_LINK));
  }
  seat.view.build(seat.names, Boolean(seat.login.c));
  seat.view.onSend(send);
  seat.view.onEarlier(showEarlier);
  if (seat.login.c) {
    const completion = { code: seat.login.code, url: seat.login.url };
    seat.game = new GameScreen(document, { send, finish, completion,
      clipboard: navigator.clipboard });
    seat.instructions = new Instructions(document, startGame);
    seat.instructionsLoaded = seat.instructions.load(seat.names[0]); // while signing in
  }
  connect();
}

start();
