// The message archive's logic: results of this query, duplicates between
// pages and live messages, and paging from the newest page back to the
// archive's start on demand.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import {
  History, PAGE_SIZE, Results, Seen, newQueryId, readPage,
} from "../../../web/seat/archive.js";

// What the page shows of [text, id] messages, in turn, through one Seen.
function shown(seen, messages) {
  return messages.filter(([text, id]) => seen.admit(text, id)).map(([text]) => text);
}

describe("messages shown once", () => {
  it("an id on two archive pages shows once, where it came first", () => {
    const seen = new Seen();
    const first = shown(seen, [["a", "1"], ["b", "2"]]);
    const second = shown(seen, [["b", "2"], ["c", "3"]]);
    assert.deepEqual([...first, ...second], ["a", "b", "c"]);
  });

  it("a live message then the same from the archive shows once", () => {
    const seen = new Seen();
    assert.deepEqual(shown(seen, [["live", "7"]]), ["live"]);
    assert.deepEqual(shown(seen, [["older", "6"], ["live", "7"], ["newer", "8"]]), ["older", "newer"]);
  });

  it("an archived message delivered again live shows once", () => {
    const seen = new Seen();
    assert.deepEqual(shown(seen, [["a", "1"], ["b", "2"]]), ["a", "b"]);
    assert.deepEqual(shown(seen, [["b", "2"], ["c", "3"]]), ["c"]);
  });

  it("keeps the archive's order, messages without an id included", () => {
    const seen = new Seen();
    const messages = [["1st", "x"], ["2nd", null], ["3rd", "y"], ["2nd", null], ["4th", "z"]];
    assert.deepEqual(shown(seen, messages), ["1st", "2nd", "3rd", "2nd", "4th"]);
  });

  it("never shows a message without a text, nor remembers its id", () => {
    const seen = new Seen();
    assert.equal(seen.admit(null, "5"), false);
    assert.equal(seen.admit("now with a text", "5"), true);
    assert.equal(seen.admit("now with a text", "5"), false);
  });

  it("shows everything again after a sign-in clears it", () => {
    const seen = new Seen();
    shown(seen, [["a", "1"], ["b", "2"]]);
    seen.clear();
    assert.deepEqual(shown(seen, [["a", "1"], ["b", "2"]]), ["a", "b"]);
  });
});

describe("the results of a query", () => {
  it("are this query's alone, in the order they arrive", () => {
    const results = new Results("q1");
    results.take("q1", "m1", "1");
    results.take("q0", "old", "9"); // an earlier sign-in's query
    results.take("q1", "m2", "2");
    results.take("q1", undefined, "3"); // a result without its message
    results.take(null, "m4", "4");
    assert.deepEqual(results.entries, [["m1", "1"], ["m2", "2"]]);
  });

  it("have a query id of their own", () => {
    assert.equal(newQueryId(() => 0.5), "qi"); // 0.5 is 0.i in base 36
    assert.match(newQueryId(), /^q[0-9a-z]+$/);
    assert.notEqual(newQueryId(), newQueryId());
  });
});

// An archive of `count` messages served as RSM pages it backwards: before
// "" the newest PAGE_SIZE, before an id the PAGE_SIZE ahead of it, oldest
// first, complete on the page that holds the first message.
function archive(count, size = PAGE_SIZE) {
  const ids = Array.from({ length: count }, (_, i) => `id${i + 1}`);
  const asked = [];
  async function askPage(before) {
    asked.push(before);
    const end = before === "" ? ids.length : ids.indexOf(before);
    const start = Math.max(0, end - size);
    const entries = ids.slice(start, end).map((id) => [`text of ${id}`, id]);
    return { entries, fin: { complete: start === 0, first: entries.length ? ids[start] : null } };
  }
  return { askPage, asked };
}

// Reads pages until the history has no more, the ids of each page.
async function readAll(history, askPage) {
  const pages = [];
  for (let entries; (entries = await readPage(history, askPage)) !== null;) {
    pages.push(entries.map(([, id]) => id));
  }
  return pages;
}

describe("paging from the newest messages back", () => {
  it("asks first for the newest page alone, whatever the archive holds", async () => {
    const served = archive(10000);
    const history = new History();
    const entries = await readPage(history, served.askPage);
    assert.deepEqual(served.asked, [""]);
    assert.equal(entries.length, PAGE_SIZE);
    assert.equal(entries[0][1], `id${10000 - PAGE_SIZE + 1}`);
    assert.equal(entries.at(-1)[1], "id10000");
    assert.equal(history.more, true);
  });

  it("asks for the page before the oldest shown until the archive's start", async () => {
    const served = archive(2 * PAGE_SIZE + 1);
    const history = new History();
    const pages = await readAll(history, served.askPage);
    assert.deepEqual(served.asked, ["", `id${PAGE_SIZE + 2}`, "id2"]);
    assert.deepEqual(pages.map((p) => p.length), [PAGE_SIZE, PAGE_SIZE, 1]);
    // Every message once, newest page first.
    const ids = [...pages].reverse().flat();
    assert.deepEqual(ids, Array.from({ length: 2 * PAGE_SIZE + 1 }, (_, i) => `id${i + 1}`));
    assert.equal(history.more, false);
    assert.equal(await readPage(history, served.askPage), null);
    assert.equal(served.asked.length, 3, "asked again after the start");
  });

  it("asks once for a short, a full or an empty archive", async () => {
    for (const count of [0, 1, PAGE_SIZE]) {
      const served = archive(count);
      const history = new History();
      assert.equal((await readAll(history, served.askPage)).length, 1, `${count} messages`);
      assert.deepEqual(served.asked, [""]);
    }
  });

  it("takes a page without an end or a first id as the start", () => {
    for (const fin of [null, { complete: false, first: null }, { complete: false, first: "" },
      { complete: true, first: "id9" }]) {
      const history = new History();
      history.update(fin);
      assert.equal(history.more, false, JSON.stringify(fin));
      assert.equal(history.nextBefore(), null);
    }
    const history = new History();
    history.update({ complete: false, first: "id9" });
    assert.equal(history.nextBefore(), "id9");
  });

  it("asks nothing while a page is on its way", async () => {
    const served = archive(1000);
    const history = new History();
    let release;
    const slow = (before) => new Promise((resolve) => {
      release = () => resolve(served.askPage(before));
    });
    const first = readPage(history, slow);
    assert.equal(await readPage(history, slow), null);
    release();
    assert.equal((await first).length, PAGE_SIZE);
    assert.equal(history.nextBefore(), `id${1000 - PAGE_SIZE + 1}`);
  });

  it("passes on a page that fails and can ask for it again", async () => {
    const history = new History();
    await assert.rejects(readPage(history, async () => {
      throw new Error("timed out");
    }), /timed out/);
    assert.equal(history.nextBefore(), "");
    const served = archive(3);
    assert.equal((await readPage(history, served.askPage)).length, 3);
  });
});
