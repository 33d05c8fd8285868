// The room's exit pages: why, the show-up fee in the lab's money, the
// completion code with its copy button and the way back to the study site.
import { describe, it } from "node:test";
import assert from "node:assert/strict";

import { useSeatRoot } from "./seat_root.mjs";

useSeatRoot();
const { exitTexts, showExit } = await import("../../../web/room/exit.js");
const { setCatalogue } = await import("../../../web/seat/i18n.js");
const { FakeDocument } = await import("../seat/fake_dom.mjs");

const URL_BACK = "https://app.prolific.com/submissions/complete?cc=C0DE";

describe("the exit's texts", () => {
  it("of a subject who waited out: why, the fee, the code and the address", () => {
    setCatalogue({});
    assert.deepEqual(exitTexts({ type: "exit", outcome: "waited_out", fee: "1.00", code: "NP42",
      url: URL_BACK }), { heading: "No other participant arrived in time.",
      lines: ["You are paid a show-up fee of $1.00."], code: "NP42", url: URL_BACK });
  });

  it("of a subject after the cap says the study is full", () => {
    const texts = exitTexts({ type: "exit", outcome: "full", fee: "0.50", code: "NP42" });
    assert.equal(texts.heading, "The study is full.");
    assert.deepEqual(texts.lines, ["You are paid a show-up fee of $0.50."]);
  });

  it("speaks of no fee when there is none", () => {
    for (const fee of ["0", "0.00", "", undefined]) {
      assert.deepEqual(exitTexts({ type: "exit", outcome: "full", fee, code: "X" }).lines, [],
        String(fee));
    }
  });

  it("of a label whose game is over says so and gives the code again", () => {
    assert.deepEqual(exitTexts({ type: "finished", code: "DONE1", url: URL_BACK }),
      { heading: "You have already taken part.", lines: [], code: "DONE1", url: URL_BACK });
  });

  it("of an unknown outcome is none", () => {
    assert.equal(exitTexts({ type: "exit", outcome: "toString", fee: "1.00" }), null);
    assert.equal(exitTexts({ type: "exit", outcome: "later" }), null);
  });

  it("are in the lab's language, with its money and decimal separator", () => {
    setCatalogue({ ".": ",", "${amount}": "{amount} €",
      "You are paid a show-up fee of {amount}.": "Sie erhalten {amount} für Ihr Kommen." });
    assert.deepEqual(exitTexts({ type: "exit", outcome: "waited_out", fee: "1.50" }).lines,
      ["Sie erhalten 1,50 € für Ihr Kommen."]);
    setCatalogue({});
  });
});

function exitPage() {
  const doc = new FakeDocument(["exit", "exit-title", "exit-lines"]);
  doc.getElementById("exit").hidden = true;
  return doc;
}

describe("the exit page", () => {
  it("shows the heading, the lines, the code with its copy button and the return link", async () => {
    setCatalogue({});
    const doc = exitPage();
    const copied = [];
    const clipboard = { writeText: async (text) => copied.push(text) };
    showExit(doc, exitTexts({ type: "exit", outcome: "waited_out", fee: "1.00", code: "NP42",
      url: URL_BACK }), clipboard);
    assert.equal(doc.getElementById("exit").hidden, false);
    assert.equal(doc.getElementById("exit-title").textContent,
      "No other participant arrived in time.");
    assert.equal(doc.getElementById("exit-title").focused, true);
    const all = doc.getElementById("exit-lines").elements();
    const of = (className) => all.find((e) => e.className === className);
    assert.equal(of("line").textContent, "You are paid a show-up fee of $1.00.");
    assert.equal(of("code-line").textContent, "Your completion code: NP42");
    assert.equal(of("return").attributes.href, URL_BACK);
    assert.equal(of("return").textContent, "Return to the study site");
    of("copy").fire("click");
    await new Promise((done) => setImmediate(done));
    assert.deepEqual(copied, ["NP42"]);
    assert.equal(of("copy-status").textContent, "The code is copied.");
  });

  it("without code or address, and no fee, tells the subject to close the window", () => {
    const doc = exitPage();
    showExit(doc, exitTexts({ type: "exit", outcome: "full", fee: "0.00" }), null);
    assert.deepEqual(doc.getElementById("exit-lines").elements().map((e) => e.textContent),
      ["You may now close this window."]);
  });
});
