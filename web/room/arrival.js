// Who arrives: the session of the study link (/join/SESSION), the
// participant's label from the query parameter the session names (the
// crowd platform fills it in), and a random token this browser keeps, so
// that one without a label comes back to the same place.

export const BROWSER_KEY = "wex-room-browser";

// The session id of a path /join/SESSION, or null.
export function sessionOf(pathname) {
  const found = /^\/join\/([^/]+)\/?$/.exec(pathname);
  if (!found) return null;
  try {
    return decodeURIComponent(found[1]);
  } catch (e) {
    return null;
  }
}

// The label in the query string (with its ?) under parameter; "" when absent.
export function labelOf(search, parameter) {
  if (typeof parameter !== "string" || !parameter) return "";
  return (new URLSearchParams(search).get(parameter) || "").trim();
}

// 32 hex digits from the browser's random source.
export function newToken(random = globalThis.crypto) {
  const bytes = new Uint8Array(16);
  random.getRandomValues(bytes);
  return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
}

// The browser's token from storage (localStorage), made and kept on the
// first visit. A browser that keeps nothing gets a new one each time.
export function browserToken(storage, random = globalThis.crypto) {
  try {
    const kept = storage.getItem(BROWSER_KEY);
    if (kept && /^[0-9a-f]{32}$/.test(kept)) return kept;
  } catch (e) {
    // Storage refused (private mode, say): a token for this visit only.
  }
  const token = newToken(random);
  try {
    storage.setItem(BROWSER_KEY, token);
  } catch (e) {
    // As above.
  }
  return token;
}

// Whether a seat link is one to follow: a path of this origin ("/..." but
// not "//host"), never another site nor a javascript: address.
export function isSeatLink(link) {
  return typeof link === "string" && link.startsWith("/") && !link.startsWith("//") &&
    !link.includes("\\");
}
