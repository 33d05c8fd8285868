// The waiting room's websocket (/room/ws): JSON frames both ways. Each
// time it opens the page says hello first (the session, the label and the
// browser's token), and the server answers with the subject's latest
// state. A lost socket is opened again after a pause that grows to 10 s,
// until the page stops it (a final state: seat, exit, finished, error).

// Seconds before each new attempt; the last one repeats.
export const RETRY_SECONDS = [1, 2, 4, 8, 10];

// ws:// or wss:// to /room/ws of the page's own origin.
export function socketUrl(location) {
  const scheme = location.protocol === "https:" ? "wss:" : "ws:";
  return `${scheme}//${location.host}/room/ws`;
}

// A frame's message when it is a JSON object with a string type, else null.
export function readFrame(data) {
  try {
    const message = JSON.parse(data);
    return message && typeof message === "object" && typeof message.type === "string"
      ? message : null;
  } catch (e) {
    return null;
  }
}

export class RoomSocket {
  // hello: the first frame of every connection. handlers: up() once a
  // connection said hello, message(m) for each server frame, down() when
  // a connection is lost and a new attempt is coming.
  constructor(url, hello, handlers, { WebSocket = globalThis.WebSocket, timers = globalThis } = {}) {
    this.url = url;
    this.hello = hello;
    this.handlers = handlers;
    this.WebSocket = WebSocket;
    this.timers = timers;
    this.socket = null;
    this.open = false;
    this.failures = 0; // attempts lost in a row, for the pause
    this.retry = null;
    this.stopped = false;
  }

  connect() {
    if (this.stopped) return;
    this.retry = null;
    let socket;
    try {
      socket = new this.WebSocket(this.url);
    } catch (e) {
      this.lost();
      return;
    }
    this.socket = socket;
    socket.onopen = () => {
      this.open = true;
      this.failures = 0;
      socket.send(JSON.stringify(this.hello));
      this.handlers.up();
    };
    socket.onmessage = (event) => {
      const message = readFrame(event.data);
      if (message && !this.stopped) this.handlers.message(message);
    };
    socket.onclose = () => {
      if (this.socket !== socket) return;
      this.socket = null;
      this.lost();
    };
  }

  lost() {
    this.open = false;
    if (this.stopped) return;
    const pause = RETRY_SECONDS[Math.min(this.failures, RETRY_SECONDS.length - 1)];
    this.failures += 1;
    this.handlers.down();
    this.retry = this.timers.setTimeout(() => this.connect(), pause * 1000);
  }

  // An attempt now instead of after the pause, when one is waiting.
  retryNow() {
    if (this.retry === null || this.stopped) return false;
    this.timers.clearTimeout(this.retry);
    this.connect();
    return true;
  }

  // Sends a frame when connected; returns whether it went out.
  send(frame) {
    if (!this.open || !this.socket) return false;
    this.socket.send(JSON.stringify(frame));
    return true;
  }

  // No more frames nor attempts: the page has its final state.
  stop() {
    this.stopped = true;
    this.open = false;
    if (this.retry !== null) this.timers.clearTimeout(this.retry);
    this.retry = null;
    const socket = this.socket;
    this.socket = null;
    if (socket) socket.close();
  }
}
