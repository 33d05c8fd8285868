// The instructions' Markdown subset: its blocks and spans, and that no
// markup, script or link of the file becomes an element of the page.
import { test } from "node:test";
import assert from "node:assert/strict";

import { parseBlocks, parseInline, renderMarkdown } from "../../../web/seat/markdown.js";
import { FakeDocument } from "./fake_dom.mjs";

function render(text) {
  const doc = new FakeDocument();
  const root = doc.createElement("div");
  root.append(renderMarkdown(doc, text));
  return root;
}

test("headings, paragraphs and both kinds of list become their elements", () => {
  const root = render("# How it works\n\nYou play **10 rounds**\nwith a partner.\n\n" +
    "## Each round\n- first *guess*\n- then\n  invest\n\n1. one\n2) two\n### Pay\nLast _line_.");
  assert.equal(root.children.map((c) => c.outline()).join("\n"), [
    'h2("How it works")',
    'p("You play " strong("10 rounds") " with a partner.")',
    'h3("Each round")',
    'ul(li("first " em("guess")) li("then" " invest"))',
    'ol(li("one") li("two"))',
    'h4("Pay")',
    'p("Last " em("line") ".")',
  ].join("\n"));
});

test("a list right after a paragraph line starts a list; a blank line ends it", () => {
  const blocks = parseBlocks("Please note:\n- a\n\nafter");
  assert.deepEqual(blocks.map((b) => b.kind), ["paragraph", "list", "paragraph"]);
  assert.deepEqual(parseBlocks("- a\n1. b").map((b) => b.ordered), [false, true]);
  assert.deepEqual(parseBlocks("\r\n\r\n"), []);
});

test("lone stars, arithmetic and unmatched markers stay text", () => {
  assert.deepEqual(parseInline("2 * 3 = 6 and a*b"), [{ kind: "text", text: "2 * 3 = 6 and a*b" }]);
  assert.deepEqual(parseInline("**open"), [{ kind: "text", text: "**open" }]);
  assert.deepEqual(parseInline("snake_case_name"), [{ kind: "text", text: "snake_case_name" }]);
});

test("no HTML, script or link reaches the page: all of it stays text", () => {
  const hostile = [
    "<script>alert(1)</script>",
    '<img src=x onerror="alert(1)">',
    "[click here](javascript:alert(document.cookie))",
    "**<b onmouseover=alert(1)>bold</b>**",
    "# <iframe src=javascript:alert(1)>",
    "- <a href=\"javascript:alert(1)\">x</a>",
  ].join("\n\n");
  const root = render(hostile);
  const tags = root.elements().map((e) => e.tagName);
  assert.deepEqual([...new Set(tags)].sort(), ["h2", "li", "p", "strong", "ul"]);
  const text = root.textContent;
  assert.ok(text.includes("<script>alert(1)</script>"));
  assert.ok(text.includes('<img src=x onerror="alert(1)">'));
  assert.ok(text.includes("<iframe src=javascript:alert(1)>"));
  // A link shows its words only, never its target.
  assert.ok(text.includes("click here"));
  assert.ok(!text.includes("document.cookie"));
  for (const element of root.elements()) assert.deepEqual(element.attributes, {});
});
