// A small Markdown subset for the lab's instructions: headings (#, ##,
// ###), paragraphs, lists (- * + or 1.), **bold** and *emphasis* (or
// _emphasis_, not inside a word). Everything becomes DOM nodes whose text
// is set with textContent, so no HTML, script or link of the file reaches
// the page: a tag shows as the text it is, a link as its words alone.

const HEADING = /^(#{1,3})\s+(.*?)\s*#*\s*$/;
const BULLET = /^\s*[-*+]\s+(.*)$/;
const NUMBERED = /^\s*\d{1,9}[.)]\s+(.*)$/;
const INLINE = /\*\*(.+?)\*\*|(?<!\w)__(.+?)__(?!\w)|\*([^*\s](?:[^*]*[^*\s])?)\*|(?<!\w)_([^_\s](?:[^_]*[^_\s])?)_(?!\w)|\[([^\]]*)\]\((?:[^()]|\([^()]*\))*\)/g;

// The spans of a line: [{kind: "text" | "strong" | "em", text}].
export function parseInline(line) {
  const spans = [];
  let at = 0;
  for (const found of line.matchAll(INLINE)) {
    if (found.index > at) spans.push({ kind: "text", text: line.slice(at, found.index) });
    const [, strong, strong2, em, em2, linkText] = found;
    if (strong !== undefined || strong2 !== undefined) {
      spans.push({ kind: "strong", text: strong ?? strong2 });
    } else if (em !== undefined || em2 !== undefined) {
      spans.push({ kind: "em", text: em ?? em2 });
    } else {
      spans.push({ kind: "text", text: linkText });
    }
    at = found.index + found[0].length;
  }
  if (at < line.length) spans.push({ kind: "text", text: line.slice(at) });
  return spans;
}

// The blocks of a text: {kind: "heading", level, spans}, {kind:
// "paragraph", spans} or {kind: "list", ordered, items: [spans]}.
export function parseBlocks(text) {
  const blocks = [];
  let paragraph = null; // lines of the open paragraph
  let list = null; // the open list
  const close = () => {
    if (paragraph) blocks.push({ kind: "paragraph", spans: parseInline(paragraph.join(" ")) });
    paragraph = null;
    list = null;
  };
  for (const raw of String(text).replace(/\r\n?/g, "\n").split("\n")) {
    const line = raw.trimEnd();
    const heading = HEADING.exec(line);
    const bullet = BULLET.exec(line);
    const numbered = bullet ? null : NUMBERED.exec(line);
    if (!line.trim()) {
      close();
    } else if (heading) {
      close();
      blocks.push({ kind: "heading", level: heading[1].length, spans: parseInline(heading[2]) });
    } else if (bullet || numbered) {
      const ordered = Boolean(numbered);
      if (paragraph || !list || list.ordered !== ordered) {
        close();
        list = { kind: "list", ordered, items: [] };
        blocks.push(list);
      }
      list.items.push(parseInline((bullet || numbered)[1].trim()));
    } else if (list && /^\s+/.test(raw)) {
      // An indented line goes on with the list's last item.
      const last = list.items[list.items.length - 1];
      last.push(...parseInline(" " + line.trim()));
    } else {
      list = null;
      if (!paragraph) paragraph = [];
      paragraph.push(line.trim());
    }
  }
  close();
  return blocks;
}

function appendSpans(doc, parent, spans) {
  for (const span of spans) {
    if (span.kind === "text") {
      parent.append(doc.createTextNode(span.text));
    } else {
      const element = doc.createElement(span.kind);
      element.textContent = span.text;
      parent.append(element);
    }
  }
}

// The text's nodes in a fragment. Headings start at headingBase (h2 for
// "#" by default, below the page's own h1).
export function renderMarkdown(doc, text, headingBase = 2) {
  const fragment = doc.createDocumentFragment();
  for (const block of parseBlocks(text)) {
    let element;
    if (block.kind === "heading") {
      element = doc.createElement(`h${Math.min(6, headingBase + block.level - 1)}`);
      appendSpans(doc, element, block.spans);
    } else if (block.kind === "paragraph") {
      element = doc.createElement("p");
      appendSpans(doc, element, block.spans);
    } else {
      element = doc.createElement(block.ordered ? "ol" : "ul");
      for (const spans of block.items) {
        const item = doc.createElement("li");
        appendSpans(doc, item, spans);
        element.append(item);
      }
    }
    fragment.append(element);
  }
  return fragment;
}
