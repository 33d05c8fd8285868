// A lab seat: signs in with the account of the link, shows one chat per
// contact the seat talks to (a subject: its pair's bot; the moderator:
// every bot and wexlab's notices), reconnects by itself and rebuilds the
// conversation from the server's message archive after every sign-in.
"use strict";

const STORE = "wex-seat";
const BAD_LINK = "This link does not work. Please ask the experimenter for a new card.";
const MAM = "urn:xmpp:mam:2";
const RSM = "http://jabber.org/protocol/rsm";

const seat = {
  config: null,   // seat.json: domain, websocket path, bots
  login: null,    // {n, p, c} from the link, kept for the tab
  conn: null,
  chats: new Map(), // contact name -> {log, button, unread}
  current: null,
  seen: new Set(), // archive ids shown
  retries: 0,
  stopped: false,
};

const $ = (id) => document.getElementById(id);

// The link's fragment never reaches a server; it is kept in sessionStorage
// (this tab only, gone when the tab closes) so that a reload signs back in,
// and taken out of the address bar so the password is not on screen.
function readLogin() {
  const hash = location.hash.slice(1);
  if (hash) {
    const fields = new URLSearchParams(hash);
    const login = { n: fields.get("n") || "", p: fields.get("p") || "", c: fields.get("c") || "" };
    if (login.n && login.p) {
      sessionStorage.setItem(STORE, JSON.stringify(login));
    } else {
      sessionStorage.removeItem(STORE);
    }
    history.replaceState(null, "", location.pathname);
  }
  try {
    return JSON.parse(sessionStorage.getItem(STORE));
  } catch (e) {
    return null;
  }
}

function showFault(text) {
  seat.stopped = true;
  $("main").hidden = true;
  $("status").hidden = true;
  $("fault").textContent = text;
  $("fault").hidden = false;
}

function setStatus(up, text) {
  $("status").className = up ? "up" : "down";
  $("status").textContent = text;
  $("entry").disabled = !up;
  $("send").disabled = !up;
}

function contactJid(name) {
  return `${name}@${seat.config.domain}`;
}

function buildChats() {
  const login = seat.login;
  const names = login.c ? [login.c] : [...seat.config.bots, seat.config.notifier];
  for (const name of names) {
    const log = document.createElement("ol");
    log.className = "log";
    log.dataset.chat = name;
    log.hidden = true;
    $("logs").append(log);
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = name;
    button.addEventListener("click", () => select(name));
    $("chats").append(button);
    seat.chats.set(name, { log, button });
  }
  $("chats").hidden = names.length < 2;
  select(names[0]);
  $("main").hidden = false;
}

function select(name) {
  seat.current = name;
  for (const [other, chat] of seat.chats) {
    chat.log.hidden = other !== name;
    chat.button.classList.toggle("current", other === name);
    if (other === name) chat.button.classList.remove("unread");
  }
  const chat = seat.chats.get(name);
  chat.log.scrollTop = chat.log.scrollHeight;
  $("entry").focus();
}

function show(name, kind, text) {
  const chat = seat.chats.get(name);
  if (!chat) return;
  const item = document.createElement("li");
  item.className = `msg ${kind}`;
  const who = document.createElement("span");
  who.className = "who";
  who.textContent = kind === "mine" ? "You" : kind === "note" ? "Note" :
    seat.login.c ? "Game" : name;
  const body = document.createElement("span");
  body.className = "text";
  body.textContent = text;
  item.append(who, body);
  const log = chat.log;
  const atEnd = log.scrollHeight - log.scrollTop - log.clientHeight < 80;
  log.append(item);
  if (atEnd || kind === "mine") log.scrollTop = log.scrollHeight;
  if (name !== seat.current) chat.button.classList.add("unread");
}

function node(jid) {
  return Strophe.getNodeFromJid(jid);
}

function bodyOf(message) {
  const body = message.getElementsByTagName("body")[0];
  return body ? body.textContent : null;
}

// A message of the archive or of the stream, shown in its contact's chat.
function record(message, id) {
  const text = bodyOf(message);
  if (text === null || (id && seat.seen.has(id))) return;
  if (id) seat.seen.add(id);
  const from = Strophe.getBareJidFromJid(message.getAttribute("from") || "");
  const mine = from === seat.conn.authzid || from === Strophe.getBareJidFromJid(seat.conn.jid);
  const other = node(mine ? message.getAttribute("to") || "" : from);
  show(other, mine ? "mine" : "theirs", text);
}

function stanzaId(message) {
  const me = Strophe.getBareJidFromJid(seat.conn.jid);
  for (const sid of message.getElementsByTagName("stanza-id")) {
    if (sid.getAttribute("by") === me) return sid.getAttribute("id");
  }
  return null;
}

function onMessage(message) {
  if (message.getAttribute("type") === "error") {
    const from = node(message.getAttribute("from") || "");
    const text = message.getElementsByTagName("text")[0];
    show(seat.chats.has(from) ? from : seat.current, "note",
      "Not delivered" + (text ? `: ${text.textContent}` : "."));
    return true;
  }
  if (message.getElementsByTagNameNS(MAM, "result").length) return true;
  record(message, stanzaId(message));
  return true;
}

function sendIq(iq) {
  return new Promise((resolve, reject) => seat.conn.sendIQ(iq, resolve, reject, 30000));
}

// The whole conversation of this account, page by page, oldest first.
async function loadArchive() {
  const results = [];
  const query = "q" + Math.random().toString(36).slice(2);
  const handler = seat.conn.addHandler((message) => {
    const result = message.getElementsByTagNameNS(MAM, "result")[0];
    const inner = result && result.getElementsByTagName("message")[0];
    if (result && result.getAttribute("queryid") === query && inner) {
      results.push([inner, result.getAttribute("id")]);
    }
    return true;
  }, MAM, "message");
  try {
    let after = null;
    for (let page = 0; page < 50; page++) {
      const iq = $iq({ type: "set" }).c("query", { xmlns: MAM, queryid: query })
        .c("set", { xmlns: RSM }).c("max").t("500");
      if (after) iq.up().c("after").t(after);
      const answer = await sendIq(iq);
      const fin = answer.getElementsByTagNameNS(MAM, "fin")[0];
      const last = fin && fin.getElementsByTagName("last")[0];
      if (!fin || fin.getAttribute("complete") === "true" || !last) break;
      after = last.textContent;
    }
  } finally {
    seat.conn.deleteHandler(handler);
  }
  return results;
}

async function ready() {
  try {
    const archived = await loadArchive();
    for (const chat of seat.chats.values()) chat.log.replaceChildren();
    seat.seen.clear();
    for (const [message, id] of archived) record(message, id);
  } catch (e) {
    // Without the archive the page still works; it shows what arrives.
  }
  seat.conn.addHandler(onMessage, null, "message");
  seat.conn.send($pres());
  setStatus(true, "Connected");
  select(seat.current);
}

function onStatus(status) {
  const S = Strophe.Status;
  if (status === S.CONNECTED) {
    seat.retries = 0;
    ready();
  } else if (status === S.AUTHFAIL) {
    sessionStorage.removeItem(STORE);
    showFault(BAD_LINK);
    seat.conn.reset();
  } else if (status === S.CONNFAIL || status === S.DISCONNECTED || status === S.ERROR) {
    if (seat.stopped) return;
    setStatus(false, "Not connected \u2013 reconnecting\u2026");
    reconnectLater();
  }
}

function reconnectLater() {
  if (seat.timer) return;
  const wait = Math.min(1000 * 2 ** seat.retries, 10000);
  seat.retries += 1;
  seat.timer = setTimeout(() => {
    seat.timer = null;
    connect();
  }, wait);
}

function connect() {
  if (seat.conn) seat.conn.reset();
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  seat.conn = new Strophe.Connection(`${scheme}://${location.host}${seat.config.websocket}`);
  const resource = "web-" + Math.random().toString(36).slice(2, 8);
  seat.conn.connect(`${contactJid(seat.login.n)}/${resource}`, seat.login.p, onStatus);
}

function send(event) {
  event.preventDefault();
  const text = $("entry").value.trim();
  if (!text || !seat.conn || !seat.conn.connected) return;
  const to = contactJid(seat.current);
  seat.conn.send($msg({ to, type: "chat" }).c("body").t(text));
  show(seat.current, "mine", text);
  $("entry").value = "";
}

async function start() {
  // A new link opened in this tab changes only the fragment: sign in anew.
  window.addEventListener("hashchange", () => {
    readLogin();
    location.reload();
  });
  seat.login = readLogin();
  if (!seat.login) return showFault(BAD_LINK);
  try {
    const answer = await fetch("seat.json", { cache: "no-store" });
    seat.config = await answer.json();
  } catch (e) {
    setStatus(false, "The lab server does not answer. Reload the page in a moment.");
    return;
  }
  buildChats();
  $("form").addEventListener("submit", send);
  window.addEventListener("online", () => seat.conn && !seat.conn.connected && connect());
  connect();
}

start();
