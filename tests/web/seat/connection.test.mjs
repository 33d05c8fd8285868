// The seat's connection: signing in, signing in again after a lost
// connection with a growing wait, and stopping for good on a refused
// password or a seat taken by another window; Strophe and the timers are
// stand-ins.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { Connection, retryDelay, tabResource, websocketUrl } from "../../../web/seat/connection.js";

const Status = { ERROR: 0, CONNFAIL: 2, AUTHFAIL: 4, CONNECTED: 5, DISCONNECTED: 6 };

// Strophe with a record of every connection made, and timers that run
// only when the test says.
function world() {
  const made = [];
  class FakeStrophe {
    constructor(url) {
      this.url = url;
      this.connected = false;
      this.resets = 0;
      made.push(this);
    }
    connect(jid, password, onStatus) {
      Object.assign(this, { jid, password, onStatus });
    }
    reset() {
      this.resets += 1;
    }
    status(status, condition) {
      this.connected = status === Status.CONNECTED;
      this.onStatus(status, condition);
    }
  }
  const timers = {
    pending: [],
    setTimeout(run, wait) {
      this.pending.push({ run, wait });
      return this.pending.length;
    },
    clearTimeout(id) {
      this.pending[id - 1].cleared = true;
    },
    fire() {
      const timer = this.pending.shift();
      timer.run();
      return timer.wait;
    },
  };
  const events = [];
  const hooks = {
    connected: (conn) => events.push(["connected", conn]),
    refused: () => events.push(["refused"]),
    lost: () => events.push(["lost"]),
    replaced: () => events.push(["replaced"]),
  };
  const connection = new Connection("ws://10.0.0.5:5280/xmpp-websocket", "ann@lab.wex", "pw",
    hooks, { Connection: FakeStrophe, Status }, timers);
  return { made, timers, events, connection, last: () => made[made.length - 1] };
}

describe("the wait between attempts", () => {
  it("doubles from 1 s up to 10 s", () => {
    assert.deepEqual([0, 1, 2, 3, 4, 5, 20].map(retryDelay),
      [1000, 2000, 4000, 8000, 10000, 10000, 10000]);
  });
});

describe("the websocket", () => {
  it("is on the page's origin, secure when the page is", () => {
    assert.equal(websocketUrl({ protocol: "http:", host: "10.0.0.5:5280" }, "/xmpp-websocket"),
      "ws://10.0.0.5:5280/xmpp-websocket");
    assert.equal(websocketUrl({ protocol: "https:", host: "[::1]:5281" }, "/ws"),
      "wss://[::1]:5281/ws");
  });
});

describe("the tab's resource", () => {
  it("is made once per tab and kept in its storage", () => {
    const kept = new Map();
    const storage = { getItem: (k) => kept.get(k) ?? null, setItem: (k, v) => kept.set(k, v) };
    const first = tabResource(storage, () => 0.5);
    assert.match(first, /^web-[0-9a-z]{1,6}$/);
    assert.equal(tabResource(storage, () => 0.25), first);
    // A damaged value is replaced, never sent as the resource.
    kept.set("wex-seat-resource", "web-x/../evil");
    assert.equal(tabResource(storage, () => 0.25), "web-" + (0.25).toString(36).slice(2, 8));
  });
});

describe("a connection", () => {
  it("signs in with the account, a resource of its own and the password", () => {
    const w = world();
    w.connection.connect();
    assert.equal(w.last().url, "ws://10.0.0.5:5280/xmpp-websocket");
    assert.match(w.last().jid, /^ann@lab\.wex\/web-[0-9a-z]{1,6}$/);
    assert.equal(w.last().password, "pw");
    w.last().status(Status.CONNECTED);
    assert.deepEqual(w.events, [["connected", w.last()]]);
    assert.equal(w.connection.connected, true);
  });

  it("when lost, waits longer at each failed attempt and starts over once signed in", () => {
    const w = world();
    w.connection.connect();
    const waits = [];
    for (let attempt = 0; attempt < 5; attempt++) {
      w.last().status(attempt === 0 ? Status.DISCONNECTED : Status.CONNFAIL);
      waits.push(w.timers.fire());
    }
    assert.deepEqual(waits, [1000, 2000, 4000, 8000, 10000]);
    assert.equal(w.made.length, 6);
    // Each attempt drops the one before it.
    assert.deepEqual(w.made.map((conn) => conn.resets), [1, 1, 1, 1, 1, 0]);
    // Every attempt signs in under the same resource.
    assert.equal(new Set(w.made.map((conn) => conn.jid)).size, 1);
    w.last().status(Status.CONNECTED);
    w.last().status(Status.ERROR);
    assert.equal(w.timers.fire(), 1000);
    assert.equal(w.events.filter(([what]) => what === "lost").length, 6);
  });

  it("has one attempt pending at a time", () => {
    const w = world();
    w.connection.connect();
    w.last().status(Status.CONNFAIL);
    w.last().status(Status.DISCONNECTED);
    assert.equal(w.timers.pending.length, 1);
    w.timers.fire();
    assert.equal(w.made.length, 2);
  });

  it("stops for good when the password is refused", () => {
    const w = world();
    w.connection.connect();
    w.last().status(Status.AUTHFAIL);
    assert.deepEqual(w.events, [["refused"]]);
    assert.equal(w.last().resets, 1);
    w.last().status(Status.DISCONNECTED);
    assert.deepEqual(w.timers.pending, []);
    assert.deepEqual(w.events, [["refused"]]);
  });

  it("stops for good when the server says the seat signed in elsewhere", () => {
    const w = world();
    w.connection.connect();
    w.last().status(Status.CONNECTED);
    // The stream error comes as ERROR with its condition, then the close.
    w.last().status(Status.ERROR, "conflict");
    w.last().status(Status.DISCONNECTED);
    assert.deepEqual(w.events.slice(1), [["replaced"]]);
    assert.deepEqual(w.timers.pending, []);
    w.connection.retryNow(); // the network coming back does not sign in again
    assert.equal(w.made.length, 1);
    // Before the sign-in completes the same error comes as CONNFAIL.
    const v = world();
    v.connection.connect();
    v.last().status(Status.CONNFAIL, "conflict");
    assert.deepEqual(v.events, [["replaced"]]);
    assert.deepEqual(v.timers.pending, []);
  });

  it("takes any other stream error as a lost connection", () => {
    const w = world();
    w.connection.connect();
    w.last().status(Status.CONNECTED);
    w.last().status(Status.ERROR, "system-shutdown");
    assert.deepEqual(w.events.slice(1), [["lost"]]);
    assert.equal(w.timers.pending.length, 1);
  });

  it("tries at once when the network is back, only if not connected", () => {
    const w = world();
    w.connection.connect();
    w.last().status(Status.CONNECTED);
    w.connection.retryNow();
    assert.equal(w.made.length, 1);
    w.last().status(Status.DISCONNECTED);
    w.connection.retryNow();
    assert.equal(w.made.length, 2);
    assert.equal(w.connection.connected, false);
  });

  it("signs in no more once the game is over, the pending attempt dropped", () => {
    const w = world();
    w.connection.connect();
    w.last().status(Status.CONNECTED);
    w.last().status(Status.DISCONNECTED); // lost: an attempt is pending
    w.connection.stopReconnecting();
    assert.equal(w.timers.pending[0].cleared, true);
    // The server goes for good: nothing is told, nothing is tried.
    w.last().status(Status.CONNFAIL);
    w.connection.retryNow();
    assert.deepEqual(w.events.map(([what]) => what), ["connected", "lost"]);
    assert.equal(w.made.length, 1);
    assert.equal(w.timers.pending.length, 1);
  });
});
