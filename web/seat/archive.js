// The message archive's logic, apart from the XMPP calls (connection.js):
// which results belong to this sign-in's query, which page to ask for
// next, and which messages are new to the page. After every sign-in the
// page asks for the whole conversation, oldest first, page by page; the
// server gives each message an archive id, in the archive's results and as
// the stanza-id of a live message, so a message that comes both ways is
// shown once.

export const MAM = "urn:xmpp:mam:2";
export const RSM = "http://jabber.org/protocol/rsm";
export const PAGE_SIZE = 500; // the lab server's largest page
export const MAX_PAGES = 50; // a bound on a server that never says complete

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

// The `after` of the next page from the end of a page ({complete, last}, or
// null when the answer had none), or null when the archive has no more.
export function nextAfter(fin) {
  if (!fin || fin.complete || !fin.last) return null;
  return fin.last;
}

// Asks for page after page until the archive has no more: askPage(after)
// asks for the page after that id (the first page for null) and resolves
// to its end. Returns the number of pages asked for.
export async function readPages(askPage) {
  let after = null;
  let pages = 0;
  while (pages < MAX_PAGES) {
    const fin = await askPage(after);
    pages += 1;
    after = nextAfter(fin);
    if (after === null) break;
  }
  return pages;
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
