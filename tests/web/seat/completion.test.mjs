// The completion block: the code, its copy button saying whether the copy
// worked, and the return link only for an http(s) address.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { copyCode, renderCompletion, safeUrl } from "../../../web/seat/completion.js";
import { setCatalogue } from "../../../web/seat/i18n.js";
import { FakeDocument, FakeNode } from "./fake_dom.mjs";

function parts(block) {
  const found = {};
  for (const e of block.elements()) if (e.className) found[e.className] = e;
  return found;
}

describe("the return address", () => {
  it("is an absolute http(s) URL, else none", () => {
    assert.equal(safeUrl("https://app.example/c?cc=X1&pid=P%201"), "https://app.example/c?cc=X1&pid=P%201");
    assert.equal(safeUrl("http://127.0.0.1:8/x"), "http://127.0.0.1:8/x");
    for (const bad of ["javascript:alert(1)", "JavaScript:alert(1)", "data:text/html,hi",
      "/relative", "ftp://x.example/", "", undefined, 7]) {
      assert.equal(safeUrl(bad), null, String(bad));
    }
  });
});

describe("the completion block", () => {
  it("shows the code, a copy button and the return link", () => {
    setCatalogue({});
    const block = renderCompletion(new FakeDocument(),
      { code: "AB-12", url: "https://app.example/done" }, null);
    const p = parts(block);
    assert.equal(p["code-line"].textContent, "Your completion code: AB-12");
    // The code alone in an element of its own.
    assert.equal(p.code.tagName, "code");
    assert.equal(p.code.textContent, "AB-12");
    assert.equal(p.copy.textContent, "Copy the code");
    assert.equal(p.copy.type, "button");
    assert.equal(p["copy-status"].attributes.role, "status");
    assert.equal(p.return.attributes.href, "https://app.example/done");
    assert.equal(p.return.textContent, "Return to the study site");
  });

  it("has only what is set, and nothing for neither or a bad address alone", () => {
    const doc = new FakeDocument();
    assert.deepEqual(Object.keys(parts(renderCompletion(doc, { code: "AB" }, null))).sort(),
      ["code", "code-line", "copy", "copy-status"]);
    assert.deepEqual(Object.keys(parts(renderCompletion(doc, { url: "https://a.example/" }, null))),
      ["return"]);
    assert.equal(renderCompletion(doc, {}, null), null);
    assert.equal(renderCompletion(doc, { url: "javascript:alert(1)" }, null), null);
    const withBad = parts(renderCompletion(doc, { code: "AB", url: "javascript:x" }, null));
    assert.equal(withBad.return, undefined);
  });

  it("says whether the copy worked", async () => {
    const status = new FakeNode("p");
    const copied = [];
    assert.equal(await copyCode({ writeText: async (t) => copied.push(t) }, "AB", status), true);
    assert.deepEqual(copied, ["AB"]);
    assert.equal(status.textContent, "The code is copied.");
    assert.equal(await copyCode({ writeText: async () => { throw new Error("denied"); } }, "AB",
      status), false);
    assert.equal(status.textContent, "The code could not be copied: please write it down.");
    assert.equal(await copyCode(undefined, "AB", status), false);
  });

  it("is in the lab's language", () => {
    setCatalogue({ "Your completion code: {code}": "Ihr Abschlusscode: {code}" });
    const p = parts(renderCompletion(new FakeDocument(), { code: "AB" }, null));
    assert.equal(p["code-line"].textContent, "Ihr Abschlusscode: AB");
    // A language may put the code in the middle.
    setCatalogue({ "Your completion code: {code}": "Le code {code} termine l'étude." });
    const q = parts(renderCompletion(new FakeDocument(), { code: "AB" }, null));
    assert.equal(q["code-line"].textContent, "Le code AB termine l'étude.");
    assert.equal(q.code.textContent, "AB");
    setCatalogue({});
  });
});
