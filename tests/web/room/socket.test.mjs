// The room's websocket: hello first on every connection, frames read as
// JSON objects with a type, a lost connection tried again after a growing
// pause, nothing after stop.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { RETRY_SECONDS, RoomSocket, readFrame, socketUrl } from "../../../web/room/socket.js";

// WebSocket stand-ins; each one made is kept in made, with what it sent.
function fakeSockets() {
  const made = [];
  class FakeWebSocket {
    constructor(url) {
      this.url = url;
      this.sent = [];
      this.closed = false;
      made.push(this);
    }
    send(text) {
      this.sent.push(JSON.parse(text));
    }
    close() {
      this.closed = true;
    }
  }
  return { made, FakeWebSocket };
}

// setTimeout that only records; run() fires the pending one.
function fakeTimers() {
  return {
    pending: new Map(),
    next: 1,
    setTimeout(run, ms) {
      this.pending.set(this.next, { run, ms });
      return this.next++;
    },
    clearTimeout(id) {
      this.pending.delete(id);
    },
    fire() {
      const [id, timer] = this.pending.entries().next().value;
      this.pending.delete(id);
      timer.run();
      return timer.ms;
    },
  };
}

const HELLO = { type: "hello", session: "s1", label: "P1", browser: "ab" };

function opened() {
  const { made, FakeWebSocket } = fakeSockets();
  const timers = fakeTimers();
  const seen = [];
  const socket = new RoomSocket("ws://h/room/ws", HELLO, {
    up: () => seen.push("up"),
    down: () => seen.push("down"),
    message: (m) => seen.push(m),
  }, { WebSocket: FakeWebSocket, timers });
  socket.connect();
  return { socket, made, timers, seen };
}

describe("the room's address", () => {
  it("is /room/ws of the page's origin, wss under https", () => {
    assert.equal(socketUrl({ protocol: "https:", host: "lab.example:8443" }),
      "wss://lab.example:8443/room/ws");
    assert.equal(socketUrl({ protocol: "http:", host: "127.0.0.1:5291" }),
      "ws://127.0.0.1:5291/room/ws");
  });
});

describe("a frame", () => {
  it("is a JSON object with a type, else nothing", () => {
    assert.deepEqual(readFrame('{"type":"waiting","since":1}'), { type: "waiting", since: 1 });
    for (const data of ["", "not json", "null", "[1]", '{"kind":"x"}', '{"type":3}', '"type"']) {
      assert.equal(readFrame(data), null, data);
    }
  });
});

describe("the room's socket", () => {
  it("says hello first, then is up and passes the server's frames on", () => {
    const { socket, made, seen } = opened();
    assert.equal(made.length, 1);
    assert.equal(made[0].url, "ws://h/room/ws");
    assert.equal(socket.send({ type: "active" }), false, "nothing goes out before open");
    made[0].onopen();
    assert.deepEqual(made[0].sent, [HELLO]);
    assert.equal(socket.send({ type: "presence", visible: true }), true);
    assert.deepEqual(made[0].sent[1], { type: "presence", visible: true });
    made[0].onmessage({ data: '{"type":"waiting","since":10,"now":12}' });
    made[0].onmessage({ data: "garbage" });
    assert.deepEqual(seen, ["up", { type: "waiting", since: 10, now: 12 }]);
  });

  it("tries again after a growing pause and says hello on each new socket", () => {
    const { made, timers, seen } = opened();
    const pauses = [];
    for (let i = 0; i < RETRY_SECONDS.length + 1; i++) {
      made[made.length - 1].onclose();
      pauses.push(timers.fire());
    }
    assert.deepEqual(pauses, [1000, 2000, 4000, 8000, 10000, 10000]);
    assert.equal(made.length, RETRY_SECONDS.length + 2);
    // A connection that opens starts the pauses over.
    const last = made[made.length - 1];
    last.onopen();
    assert.deepEqual(last.sent, [HELLO]);
    last.onclose();
    assert.equal(timers.fire(), 1000);
    assert.equal(seen.filter((s) => s === "down").length, RETRY_SECONDS.length + 2);
  });

  it("once stopped, closes, drops late frames and tries no more", () => {
    const { socket, made, timers, seen } = opened();
    made[0].onopen();
    socket.stop();
    assert.equal(made[0].closed, true);
    made[0].onmessage({ data: '{"type":"exit","outcome":"full"}' });
    made[0].onclose();
    assert.equal(timers.pending.size, 0);
    assert.equal(socket.send({ type: "active" }), false);
    assert.deepEqual(seen, ["up"]);
  });

  it("stopped while waiting to try again, does not try", () => {
    const { socket, made, timers } = opened();
    made[0].onclose();
    assert.equal(timers.pending.size, 1);
    socket.stop();
    assert.equal(timers.pending.size, 0);
    socket.connect();
    assert.equal(made.length, 1);
  });

  it("tries at once when asked while it waits, and only then", () => {
    const { socket, made, timers } = opened();
    assert.equal(socket.retryNow(), false, "connecting already");
    made[0].onclose();
    assert.equal(socket.retryNow(), true);
    assert.equal(timers.pending.size, 0);
    assert.equal(made.length, 2);
    assert.equal(socket.retryNow(), false);
    assert.equal(made.length, 2);
  });
});
