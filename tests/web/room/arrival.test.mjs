// Who arrives: the session of the path, the label of the query, the
// browser's kept token, the seat links the page follows.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import {
  BROWSER_KEY, browserToken, isSeatLink, labelOf, newToken, sessionOf,
} from "../../../web/room/arrival.js";

class FakeStorage {
  constructor(items = {}, refuse = false) {
    this.items = new Map(Object.entries(items));
    this.refuse = refuse;
  }
  getItem(key) {
    if (this.refuse) throw new Error("SecurityError");
    return this.items.has(key) ? this.items.get(key) : null;
  }
  setItem(key, value) {
    if (this.refuse) throw new Error("SecurityError");
    this.items.set(key, String(value));
  }
}

// A random source that counts up from start, so tokens differ and are known.
function counting(start) {
  let next = start;
  return { getRandomValues(bytes) { bytes.fill(0).forEach((_, i) => { bytes[i] = next++ & 255; }); } };
}

describe("the study link", () => {
  it("names its session in the path", () => {
    assert.equal(sessionOf("/join/s20261208a"), "s20261208a");
    assert.equal(sessionOf("/join/s%20x/"), "s x");
    for (const path of ["/join/", "/join", "/", "/join/a/b", "/room/join/x", "/join/%E0"]) {
      assert.equal(sessionOf(path), null, path);
    }
  });

  it("carries the label under the session's parameter only", () => {
    const search = "?PROLIFIC_PID=5f3a%2B9&STUDY_ID=abc&label=other";
    assert.equal(labelOf(search, "PROLIFIC_PID"), "5f3a+9");
    assert.equal(labelOf(search, "label"), "other");
    assert.equal(labelOf(search, "workerId"), "");
    assert.equal(labelOf("?label=%20P1%20", "label"), "P1");
    assert.equal(labelOf(search, undefined), "");
  });
});

describe("the browser's token", () => {
  it("is made once and kept", () => {
    const storage = new FakeStorage();
    const first = browserToken(storage, counting(0));
    assert.equal(first, "000102030405060708090a0b0c0d0e0f");
    assert.equal(storage.getItem(BROWSER_KEY), first);
    assert.equal(browserToken(storage, counting(100)), first);
  });

  it("is made anew when the kept one is not a token", () => {
    const storage = new FakeStorage({ [BROWSER_KEY]: "<script>" });
    const token = browserToken(storage, counting(16));
    assert.equal(token, newToken(counting(16)));
    assert.match(token, /^[0-9a-f]{32}$/);
    assert.equal(storage.getItem(BROWSER_KEY), token);
  });

  it("still exists when the browser keeps nothing", () => {
    assert.equal(browserToken(new FakeStorage({}, true), counting(1)), newToken(counting(1)));
  });
});

describe("a seat link", () => {
  it("is followed only within this origin", () => {
    assert.equal(isSeatLink("/#n=seat3&p=x&c=bot2&code=C1"), true);
    for (const link of ["//evil.example/#n=a", "https://evil.example/", "javascript:alert(1)",
      "/\\evil.example", "", null, 5]) {
      assert.equal(isSeatLink(link), false, String(link));
    }
  });
});
