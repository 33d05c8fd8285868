// Whether the subject is really there: the room pairs only subjects whose
// page is visible, or who used it within the last 30 s. The page says
// `presence` on every change of visibility (and after each hello), and
// `active` on input, at most once every 5 s.

export const ACTIVE_EVERY_MS = 5000;

// What counts as input: keys, pointer, touch, wheel and scrolling.
export const INPUT_EVENTS = ["keydown", "pointerdown", "pointermove", "touchstart", "wheel",
  "scroll"];

export class Presence {
  // send(frame) sends a frame and says whether it went out; clock() is
  // the time in ms.
  constructor(doc, send, clock = () => Date.now()) {
    this.doc = doc;
    this.send = send;
    this.clock = clock;
    this.lastActive = null; // when the last `active` went out
  }

  // Listens to the document: visibility changes and input.
  start(target = this.doc) {
    this.doc.addEventListener("visibilitychange", () => this.report());
    for (const kind of INPUT_EVENTS) {
      target.addEventListener(kind, () => this.active(), { passive: true, capture: true });
    }
  }

  visible() {
    return this.doc.visibilityState === "visible";
  }

  // Says whether the page is visible now.
  report() {
    return this.send({ type: "presence", visible: this.visible() });
  }

  // Input: `active`, unless one went out less than 5 s ago.
  active() {
    const now = this.clock();
    if (this.lastActive !== null && now - this.lastActive < ACTIVE_EVERY_MS) return false;
    if (!this.send({ type: "active" })) return false;
    this.lastActive = now;
    return true;
  }
}
