// A document with just what the seat's rendering modules call: elements
// with children, attributes and textContent, text nodes, fragments and
// click/keydown listeners. It has no HTML parser, so markup that reached it
// as text stays text; what became an element shows in its tag.

export class FakeNode {
  constructor(tagName, text = null) {
    this.tagName = tagName; // null: a text node; "#fragment": a fragment
    this.text = text;
    this.children = [];
    this.attributes = {};
    this.listeners = {};
    this.hidden = false;
    this.focused = false;
  }
  append(...nodes) {
    for (const node of nodes) {
      if (node.tagName === "#fragment") this.children.push(...node.children);
      else this.children.push(node);
    }
  }
  replaceChildren(...nodes) {
    this.children = [];
    this.append(...nodes);
  }
  set textContent(text) {
    this.children = [new FakeNode(null, String(text))];
  }
  get textContent() {
    return this.text !== null ? this.text : this.children.map((c) => c.textContent).join("");
  }
  setAttribute(name, value) {
    this.attributes[name] = String(value);
  }
  addEventListener(kind, listener) {
    (this.listeners[kind] ||= []).push(listener);
  }
  fire(kind, event = {}) {
    for (const listener of this.listeners[kind] || []) listener(event);
  }
  focus() {
    this.focused = true;
  }
  // Every element below (not text), depth first.
  elements() {
    return this.children.filter((c) => c.tagName)
      .flatMap((c) => [c, ...c.elements()]);
  }
  // A compact outline: tag(children) or "text".
  outline() {
    if (this.tagName === null) return JSON.stringify(this.text);
    return `${this.tagName}(${this.children.map((c) => c.outline()).join(" ")})`;
  }
}

export class FakeDocument {
  constructor(ids = []) {
    this.byIds = new Map(ids.map((id) => [id, new FakeNode("div")]));
    this.documentElement = new FakeNode("html");
    this.title = "";
  }
  createElement(tag) {
    return new FakeNode(tag);
  }
  createTextNode(text) {
    return new FakeNode(null, text);
  }
  createDocumentFragment() {
    return new FakeNode("#fragment");
  }
  getElementById(id) {
    return this.byIds.get(id) || null;
  }
}
