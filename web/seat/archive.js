// The message archive's logic, apart from the XMPP calls (connection.js):
// which results belong to a query, which page of a chat to ask for next,
// and which messages are new to the page. After every sign-in the page
// asks, for each chat, for its newest PAGE_SIZE messages (the last page,
// RSM's empty <before/>), and for older ones page by page only when the
// participant asks, so a long archive costs nothing until then. The server
// gives each message an archive id, in the archive's results and as the
// stanza-id of a live message, so a message that comes both ways is shown
// once.

export const MAM = "urn:xmpp:mam:2";
export const RSM = "http://jabber.org/protocol/rsm";
export const PAGE_SIZE = 200; // messages of a chat per page, the newest first

// A query id of its own, so that results of an earlier query are told apart.
export function newQueryId(random = Math.random) {
  return "q" + random().toString(36).slice(2);
}

// The archive's results for one query, in the order they arrive.
export class Results {
  constructor(query) {
    this.query = query;
    this.entries = []; // [message, archive id]
  }

  take(queryid, message, id) {
    if (queryid === this.query && message) this.entries.push([message, id]);
  }
}

// Where one chat stands in the archive: the archive id of its oldest
// message shown, and whether the archive holds older ones.
export class History {
  constructor() {
    this.first = null;
    this.complete = false;
    this.loading = false; // a page is on its way
  }

  // The RSM `before` of the next page to ask for: "" (the newest page) at
  // first, then the oldest id shown; null when there is nothing older or
  // a page is already on its way.
  nextBefore() {
    if (this.loading || this.complete) return null;
    return this.first === null ? "" : this.first;
  }

  // Takes the end of a page ({complete, first}, or null when the answer
  // had none): a page without a first id, or one the server calls
  // complete, is the archive's start.
  update(fin) {
    if (!fin || fin.complete || !fin.first) {
      this.complete = true;
    } else {
      this.first = fin.first;
    }
  }

  // Whether older messages remain to be asked for.
  get more() {
    return !this.complete;
  }
}

// Asks for the next page of a chat: askPage(before) resolves to the page's
// {entries, fin}. Resolves to the page's entries, oldest first, or null
// when there was nothing to ask for (no older messages, or a page on its
// way). A page that fails leaves the history as it was.
export async function readPage(history, askPage) {
  const before = history.nextBefore();
  if (before === null) return null;
  history.loading = true;
  try {
    const page = await askPage(before);
    history.update(page.fin);
    return page.entries;
  } finally {
    history.loading = false;
  }
}

// The archive ids of the messages shown since the last sign-in.
export class Seen {
  constructor() {
    this.ids = new Set();
  }

  // Whether a message with this text and archive id is to be shown, which
  // remembers the id: a message without a text never is, one without an id
  // always is, one whose id was shown is not again.
  admit(text, id) {
    if (text === null || (id && this.ids.has(id))) return false;
    if (id) this.ids.add(id);
    return true;
  }

  clear() {
    this.ids.clear();
  }
}
