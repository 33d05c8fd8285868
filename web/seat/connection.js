// The seat's XMPP connection over the lab server's websocket (strophe.js,
// loaded before the page's modules as the global Strophe): signing in,
// signing in again after a lost connection, and reading a chat's archive page by page.

import { MAM, PAGE_SIZE, RSM, Results, newQueryId } from "./archive.js";

export const IQ_TIMEOUT = 30000; // ms an archive page may take
const LONGEST_WAIT = 10000; // ms between attempts, at most

// The wait before the next attempt after `retries` failed ones: 1 s, then
// twice as long each time, at most 10 s.
export function retryDelay(retries) {
  return Math.min(1000 * 2 ** retries, LONGEST_WAIT);
}

// The websocket's URL on the page's own origin.
export function websocketUrl(location, path) {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  return `${scheme}://${location.host}${path}`;
}

// A resource of its own for each tab of the page.
export function newResource(random = Math.random) {
  return "web-" + random().toString(36).slice(2, 8);
}

const RESOURCE_KEY = "wex-seat-resource";

// The tab's resource, kept in its session storage: a reload or a new
// attempt signs in under the same one, so the server takes it for this
// tab's own return, never for the seat opened in another window.
export function tabResource(storage, random = Math.random) {
  let resource = storage.getItem(RESOURCE_KEY);
  if (!/^web-[0-9a-z]{1,6}$/.test(resource || "")) {
    resource = newResource(random);
    storage.setItem(RESOURCE_KEY, resource);
  }
  return resource;
}

// One account's connection, made anew for every attempt. hooks.connected
// (conn) runs on each sign-in, hooks.refused() when the server refuses the
// password, hooks.replaced() when the server closes the stream with a
// conflict because the account signed in elsewhere (the connection stops
// for good after either: signing in again would take the seat back from
// the newer window), hooks.lost() when the connection fails or drops
// (another attempt follows by itself).
export class Connection {
  constructor(url, jid, password, hooks, strophe = globalThis.Strophe, timers = globalThis) {
    this.url = url;
    this.jid = jid;
    this.password = password;
    this.hooks = hooks;
    this.strophe = strophe;
    this.timers = timers;
    this.resource = newResource(); // the same for every attempt
    this.conn = null; // the Strophe connection of the latest attempt
    this.retries = 0;
    this.timer = null;
    this.stopped = false;
  }

  get connected() {
    return Boolean(this.conn && this.conn.connected);
  }

  connect() {
    if (this.conn) this.conn.reset();
    this.conn = new this.strophe.Connection(this.url);
    this.conn.connect(`${this.jid}/${this.resource}`, this.password,
      (status, condition) => this.onStatus(status, condition));
  }

  // No more attempts after this one's end: the game is over and a seat
  // that lost its server has nothing left to wait for.
  stopReconnecting() {
    this.stopped = true;
    if (this.timer) this.timers.clearTimeout(this.timer);
    this.timer = null;
  }

  // The network is back: try at once rather than wait for the timer.
  retryNow() {
    if (!this.stopped && this.conn && !this.conn.connected) this.connect();
  }

  onStatus(status, condition) {
    const S = this.strophe.Status;
    if (this.stopped) return;
    if (status === S.CONNECTED) {
      this.retries = 0;
      this.hooks.connected(this.conn);
    } else if (status === S.AUTHFAIL) {
      this.stopped = true;
      this.hooks.refused();
      this.conn.reset();
    } else if (condition === "conflict" && (status === S.ERROR || status === S.CONNFAIL)) {
      this.stopped = true;
      this.hooks.replaced();
    } else if (status === S.CONNFAIL || status === S.DISCONNECTED || status === S.ERROR) {
      this.hooks.lost();
      this.reconnectLater();
    }
  }

  reconnectLater() {
    if (this.timer) return;
    const wait = retryDelay(this.retries);
    this.retries += 1;
    this.timer = this.timers.setTimeout(() => {
      this.timer = null;
      this.connect();
    }, wait);
  }
}

function sendIq(conn, iq) {
  return new Promise((resolve, reject) => conn.sendIQ(iq, resolve, reject, IQ_TIMEOUT));
}

// The end of an archive page, as History.update reads it.
function finOf(answer) {
  const fin = answer.getElementsByTagNameNS(MAM, "fin")[0];
  if (!fin) return null;
  const first = fin.getElementsByTagName("first")[0];
  return { complete: fin.getAttribute("complete") === "true", first: first ? first.textContent : null };
}

// One page of the conversation with `other` (a bare JID): the PAGE_SIZE
// messages before the archive id `before`, or the newest for "".
// Resolves to {entries: [message, archive id] oldest first, fin}.
export async function loadPage(conn, other, before) {
  const results = new Results(newQueryId());
  const handler = conn.addHandler((message) => {
    const result = message.getElementsByTagNameNS(MAM, "result")[0];
    if (result) {
      const inner = result.getElementsByTagName("message")[0];
      results.take(result.getAttribute("queryid"), inner, result.getAttribute("id"));
    }
    return true;
  }, MAM, "message");
  try {
    const iq = $iq({ type: "set" }).c("query", { xmlns: MAM, queryid: results.query })
      .c("x", { xmlns: "jabber:x:data", type: "submit" })
      .c("field", { var: "FORM_TYPE", type: "hidden" }).c("value").t(MAM).up().up()
      .c("field", { var: "with" }).c("value").t(other).up().up().up()
      .c("set", { xmlns: RSM }).c("max").t(String(PAGE_SIZE)).up()
      .c("before").t(before);
    const fin = finOf(await sendIq(conn, iq));
    return { entries: results.entries, fin };
  } finally {
    conn.deleteHandler(handler);
  }
}
