// The game's state as the bot sends it beside its texts: each message to
// a subject carries one <game xmlns="urn:wex:game:1" .../> whose
// attributes say the round, what is owed, the last round's result, the
// credits, the running deadline and, at the end, the payout. The page
// renders its panel from the newest one; a message may carry the element
// alone, without a text to show.

export const GAME = "urn:wex:game:1";

// The element's attributes, every one optional; read into an object whose
// keys are their names in camel case ("last-own" as lastOwn).
const NAMES = [
  "round", "rounds", "phase", "owed", "min", "max",
  "last-round", "last-own", "last-partner", "last-earnings", "last-bonus",
  "credits", "bonus-in", "break-ends", "break-seconds",
  "deadline", "deadline-seconds", "extend",
  "final-credits", "payout", "ended",
];

function camel(name) {
  return name.replace(/-([a-z])/g, (whole, letter) => letter.toUpperCase());
}

// The message's own <game/> child, not one nested deeper (in a forwarded
// message, say), or null.
function gameElement(message) {
  for (const child of message.childNodes || []) {
    if (child.nodeType === 1 && child.localName === "game" && child.namespaceURI === GAME) {
      return child;
    }
  }
  return null;
}

// The game state of a message as a plain object of strings (an absent
// attribute is an absent key), or null when the message carries none.
export function readGame(message) {
  const element = gameElement(message);
  if (!element) return null;
  const game = {};
  for (const name of NAMES) {
    if (element.hasAttribute(name)) game[camel(name)] = element.getAttribute(name);
  }
  return game;
}

// The newest game state seen: each message's element replaces the one
// before, in the order the page takes them (the archive's page oldest
// first, then live messages). `at` is when the page took it (ms on the
// page's clock) and `live` whether it came live: a live message's
// relative times count from `at`, an archived one's from its absolute ones.
export class Latest {
  constructor() {
    this.game = null;
    this.at = 0;
    this.live = false;
  }

  // Takes a message's state; returns whether there was one.
  take(game, at, live) {
    if (!game) return false;
    this.game = game;
    this.at = at;
    this.live = live;
    return true;
  }
}
