// The instructions before the game and the lab's language: who sees them
// first, Start and the way back, and lang.json setting the texts and lang.
import { test } from "node:test";
import assert from "node:assert/strict";

import { setCatalogue, t } from "../../../web/seat/i18n.js";
import { Instructions, firstScreen, instructionsPath } from "../../../web/seat/instructions.js";
import {
  decimal, languageCode, loadLanguage, translatePage, useLanguage,
} from "../../../web/seat/lang.js";
import { FakeDocument } from "./fake_dom.mjs";

const IDS = ["main", "entry", "instructions", "instructions-title", "instructions-text",
  "instructions-button", "instructions-open", "status", "send", "chats"];

function answer(status, body) {
  return { ok: status === 200, status, text: async () => body, json: async () => JSON.parse(body) };
}

test("only a subject with an empty chat who has not started reads them first", () => {
  assert.equal(firstScreen({ subject: true, messages: 0, started: false }), "instructions");
  assert.equal(firstScreen({ subject: true, messages: 2, started: false }), "chat");
  assert.equal(firstScreen({ subject: true, messages: 0, started: true }), "chat");
  assert.equal(firstScreen({ subject: false, messages: 0, started: false }), "chat");
  assert.equal(instructionsPath("pair01"), "instructions/pair01.md");
  assert.equal(instructionsPath("a/../b"), "instructions/a%2F..%2Fb.md");
});

test("Start sends the first message and opens the chat; the button reopens them", async () => {
  setCatalogue({});
  const doc = new FakeDocument(IDS);
  let connected = false;
  const sent = [];
  const instructions = new Instructions(doc, () => {
    if (connected) sent.push("Start");
    return connected;
  });
  const asked = [];
  const loaded = await instructions.load("pair01", async (path) => {
    asked.push(path);
    return answer(200, "# Rules\n\nYou play **3 rounds**.");
  });
  assert.ok(loaded);
  assert.deepEqual(asked, ["instructions/pair01.md"]);
  assert.equal(doc.getElementById("instructions-text").children[0].outline(), 'h2("Rules")');

  instructions.show(true);
  assert.equal(doc.getElementById("main").hidden, true);
  assert.equal(doc.getElementById("instructions").hidden, false);
  assert.equal(doc.getElementById("instructions-button").textContent, "Start");
  assert.ok(doc.getElementById("instructions-title").focused);
  // Escape does not skip Start; pressing it while not connected stays.
  doc.getElementById("instructions").fire("keydown", { key: "Escape" });
  doc.getElementById("instructions-button").fire("click");
  assert.equal(doc.getElementById("instructions").hidden, false);
  assert.deepEqual(sent, []);

  connected = true;
  doc.getElementById("instructions-button").fire("click");
  assert.deepEqual(sent, ["Start"]);
  assert.equal(doc.getElementById("instructions").hidden, true);
  assert.equal(doc.getElementById("main").hidden, false);
  assert.equal(doc.getElementById("instructions-open").hidden, false);
  assert.ok(doc.getElementById("entry").focused);

  // Reopened: the button goes back and sends nothing; so does Escape.
  doc.getElementById("instructions-open").fire("click");
  assert.equal(doc.getElementById("instructions-button").textContent, "Back to the chat");
  doc.getElementById("instructions-button").fire("click");
  assert.equal(doc.getElementById("instructions").hidden, true);
  doc.getElementById("instructions-open").fire("click");
  doc.getElementById("instructions").fire("keydown", { key: "Escape" });
  assert.equal(doc.getElementById("instructions").hidden, true);
  assert.deepEqual(sent, ["Start"]);
});

test("without an instructions file nothing is shown and no button offered", async () => {
  const doc = new FakeDocument(IDS);
  doc.getElementById("instructions").hidden = true;
  doc.getElementById("instructions-open").hidden = true;
  const instructions = new Instructions(doc, () => true);
  assert.equal(await instructions.load("pair01", async () => answer(404, "")), false);
  assert.equal(await instructions.load("pair01", async () => { throw new Error("down"); }), false);
  instructions.show(true);
  assert.equal(doc.getElementById("instructions").hidden, true);
  instructions.hide();
  assert.equal(doc.getElementById("instructions-open").hidden, true);
});

test("lang.json sets the texts and lang; a missing or odd one leaves English", async () => {
  const doc = new FakeDocument(IDS);
  const texts = { Send: "Senden", Instructions: "Anleitung", "Lab chat": "Labor-Chat" };
  const code = await loadLanguage(doc, async () => answer(200, JSON.stringify({ lang: "de", texts })));
  assert.equal(code, "de");
  assert.equal(doc.documentElement.lang, "de");
  translatePage(doc);
  assert.equal(doc.title, "Labor-Chat");
  assert.equal(doc.getElementById("send").textContent, "Senden");
  assert.equal(doc.getElementById("instructions-open").textContent, "Anleitung");
  assert.equal(doc.getElementById("entry").attributes.placeholder, "Type here and press Enter");
  assert.equal(decimal("85.33"), "85.33"); // no separator in this catalogue
  setCatalogue({ ".": "," });
  assert.equal(decimal("85.33"), "85,33");
  assert.equal(decimal(60), "60");

  setCatalogue({});
  const plain = new FakeDocument(IDS);
  assert.equal(await loadLanguage(plain, async () => answer(404, "")), "en");
  assert.equal(await loadLanguage(plain, async () => answer(200, "not json")), "en");
  assert.equal(useLanguage(plain, { lang: "<script>", texts: { Send: "x" } }), "en");
  assert.equal(t("Send"), "Send");
  assert.equal(plain.documentElement.lang, undefined);
  assert.equal(languageCode("pt_BR"), "pt-BR");
  assert.equal(languageCode("de"), "de");
  assert.equal(languageCode(""), null);
});
