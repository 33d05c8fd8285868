// The seat's sign-in link: reading the fragment, keeping the login for the
// tab, taking it out of the address bar.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import {
  STORE, chatsOf, forgetLogin, parseFragment, readLogin,
} from "../../../web/seat/link.js";

// sessionStorage as the page sees it: strings in, null for a missing key.
class FakeStorage {
  constructor(items = {}) {
    this.items = new Map(Object.entries(items));
  }
  getItem(key) {
    return this.items.has(key) ? this.items.get(key) : null;
  }
  setItem(key, value) {
    this.items.set(key, String(value));
  }
  removeItem(key) {
    this.items.delete(key);
  }
}

// A tab opened at /#fragment, with what history.replaceState was asked;
// replacing the address takes the fragment away as a browser does.
function tab(hash, stored) {
  const replaced = [];
  const location = { hash, pathname: "/" };
  return {
    location,
    history: {
      replaceState: (...args) => {
        replaced.push(args);
        location.hash = "";
      },
    },
    storage: new FakeStorage(stored === undefined ? {} : { [STORE]: stored }),
    replaced,
  };
}

const ANN = { n: "ann", p: "s3cret", c: "pair01" };

describe("a link's fragment", () => {
  it("signs in a subject with its one chat and is kept for the tab", () => {
    const t = tab("#n=ann&p=s3cret&c=pair01");
    assert.deepEqual(readLogin(t), ANN);
    assert.deepEqual(JSON.parse(t.storage.getItem(STORE)), ANN);
  });

  it("without c is the moderator's, with every chat", () => {
    const t = tab("#n=moderator&p=pw");
    assert.deepEqual(readLogin(t), { n: "moderator", p: "pw", c: "" });
  });

  it("from the waiting room adds the completion code and return address, kept too", () => {
    const url = "https://study.example/done?cc=C0DE&pid=P 1";
    const t = tab(`#n=seat3&p=pw&c=bot2&code=C0DE&url=${encodeURIComponent(url)}`);
    const login = { n: "seat3", p: "pw", c: "bot2", code: "C0DE", url };
    assert.deepEqual(readLogin(t), login);
    assert.deepEqual(readLogin(tab("", t.storage.getItem(STORE))), login);
    // Empty ones are left out, as a link without them.
    assert.deepEqual(parseFragment("n=a&p=b&c=bot1&code=&url="), { n: "a", p: "b", c: "bot1" });
  });

  it("is decoded as a query string", () => {
    assert.deepEqual(parseFragment("n=ann&p=a%26b%3Dc+d&c=pair01"),
      { n: "ann", p: "a&b=c d", c: "pair01" });
  });

  it("replaces the login kept from an earlier link", () => {
    const t = tab("#n=ben&p=other", JSON.stringify(ANN));
    assert.deepEqual(readLogin(t), { n: "ben", p: "other", c: "" });
  });

  for (const [what, hash] of [["account", "#p=s3cret&c=pair01"], ["password", "#n=ann&c=pair01"],
    ["empty account", "#n=&p=s3cret"], ["empty password", "#n=ann&p="]]) {
    it(`without its ${what} is no login and forgets the kept one`, () => {
      const t = tab(hash, JSON.stringify(ANN));
      assert.equal(readLogin(t), null);
      assert.equal(t.storage.getItem(STORE), null);
      assert.deepEqual(t.replaced, [[null, "", "/"]]);
    });
  }

  it("leaves the address bar, good or bad", () => {
    for (const hash of ["#n=ann&p=s3cret", "#junk"]) {
      const t = tab(hash);
      t.location.pathname = "/seat/";
      readLogin(t);
      assert.deepEqual(t.replaced, [[null, "", "/seat/"]], hash);
    }
  });
});

describe("a page without a fragment (a reload)", () => {
  it("signs in with the kept login and leaves the address bar alone", () => {
    for (const hash of ["", "#"]) {
      const t = tab(hash, JSON.stringify(ANN));
      assert.deepEqual(readLogin(t), ANN, `hash '${hash}'`);
      assert.deepEqual(t.replaced, []);
    }
  });

  it("has no login when none was kept", () => {
    assert.equal(readLogin(tab("")), null);
  });

  it("has no login when the kept one is not JSON", () => {
    assert.equal(readLogin(tab("", "{n: ann")), null);
  });

  it("has no login once the refused one is forgotten", () => {
    const t = tab("#n=ann&p=wrong");
    assert.equal(readLogin(t).p, "wrong");
    assert.equal(t.location.hash, "");
    forgetLogin(t.storage);
    assert.equal(readLogin(t), null);
  });
});

// seat.json of a session with two pairs.
const CONFIG = {
  domain: "lab.wex", websocket: "/xmpp-websocket", bots: ["pair01", "pair02"],
  notifier: "wexlab", moderator: "mod",
  contacts: { ann: "pair01", ben: "pair01", cy: "pair02", dee: "pair02" },
};

describe("a link's contact", () => {
  it("of a subject is its own pair's bot, its one chat", () => {
    assert.deepEqual(chatsOf({ n: "ann", p: "pw", c: "pair01" }, CONFIG), ["pair01"]);
    assert.deepEqual(chatsOf({ n: "dee", p: "pw", c: "pair02" }, CONFIG), ["pair02"]);
  });

  it("of the moderator is none: every bot's chat and the notices", () => {
    assert.deepEqual(chatsOf({ n: "mod", p: "pw", c: "" }, CONFIG), ["pair01", "pair02", "wexlab"]);
  });

  it("altered to any other account signs in to nothing", () => {
    for (const c of ["pair02", "ben", "cy", "mod", "wexlab", "wexdesk", "nobody", ""]) {
      assert.equal(chatsOf({ n: "ann", p: "pw", c }, CONFIG), null, `ann with c=${c}`);
    }
    for (const c of ["pair01", "wexlab", "ann"]) {
      assert.equal(chatsOf({ n: "mod", p: "pw", c }, CONFIG), null, `mod with c=${c}`);
    }
  });

  it("of an account the session does not seat is refused", () => {
    assert.equal(chatsOf({ n: "wexdesk", p: "pw", c: "" }, CONFIG), null);
    assert.equal(chatsOf({ n: "pair01", p: "pw", c: "pair01" }, CONFIG), null);
    // Names that are properties of every object are not subjects.
    assert.equal(chatsOf({ n: "constructor", p: "pw", c: "" }, CONFIG), null);
    assert.equal(chatsOf({ n: "toString", p: "pw", c: "pair01" }, CONFIG), null);
  });
});
