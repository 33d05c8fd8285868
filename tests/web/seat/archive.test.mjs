// The message archive's logic: results of this query, duplicates between
// pages and live messages, and paging to the archive's end.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import {
  MAX_PAGES, PAGE_SIZE, Results, Seen, newQueryId, nextAfter, readPages,
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

// An archive of `count` messages served PAGE_SIZE at a time, as RSM pages
// it: after an id, the page that follows it, and complete on the last.
function archive(count, size = PAGE_SIZE) {
  const ids = Array.from({ length: count }, (_, i) => `id${i + 1}`);
  const asked = [];
  const delivered = [];
  async function askPage(after) {
    asked.push(after);
    const start = after === null ? 0 : ids.indexOf(after) + 1;
    const page = ids.slice(start, start + size);
    delivered.push(...page);
    const complete = start + size >= ids.length;
    return { complete, last: page.length ? page[page.length - 1] : null };
  }
  return { askPage, asked, delivered };
}

describe("paging", () => {
  it("asks for the page after the last id of each page until complete", async () => {
    const served = archive(1201);
    assert.equal(await readPages(served.askPage), 3);
    assert.deepEqual(served.asked, [null, "id500", "id1000"]);
    assert.equal(served.delivered.length, 1201);
    assert.equal(served.delivered.at(-1), "id1201");
  });

  it("asks once for a short or an empty archive", async () => {
    for (const count of [0, 1, PAGE_SIZE]) {
      const served = archive(count);
      assert.equal(await readPages(served.askPage), 1, `${count} messages`);
      assert.deepEqual(served.asked, [null]);
    }
  });

  it("stops at a page without an end or a last id", () => {
    assert.equal(nextAfter(null), null);
    assert.equal(nextAfter({ complete: false, last: null }), null);
    assert.equal(nextAfter({ complete: false, last: "" }), null);
    assert.equal(nextAfter({ complete: true, last: "id9" }), null);
    assert.equal(nextAfter({ complete: false, last: "id9" }), "id9");
  });

  it("gives up after MAX_PAGES on a server that never says complete", async () => {
    let pages = 0;
    const count = await readPages(async () => ({ complete: false, last: `id${++pages}` }));
    assert.equal(count, MAX_PAGES);
    assert.equal(pages, MAX_PAGES);
  });

  it("passes on a page that fails", async () => {
    let asked = 0;
    const failing = async (after) => {
      asked += 1;
      if (after) throw new Error("timed out");
      return { complete: false, last: "id500" };
    };
    await assert.rejects(readPages(failing), /timed out/);
    assert.equal(asked, 2);
  });
});
