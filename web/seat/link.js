// The sign-in link: its fragment (after #) holds the account (n), the
// password (p) and, for a subject, its one chat (c); a link from the
// waiting room of an online session may add the completion code (code)
// and the study site's return address (url) for the end screen. The fragment never
// reaches a server; the login is kept in sessionStorage (this tab only,
// gone when the tab closes) so that a reload signs back in, and taken out
// of the address bar so the password is not on screen.

import { N_ } from "./i18n.js";

export const STORE = "wex-seat";
export const BAD_LINK = N_("This link does not work. Please ask the experimenter for a new card.");

// The login of a fragment (without its #), or null when it lacks the
// account or the password.
export function parseFragment(fragment) {
  const fields = new URLSearchParams(fragment);
  const login = { n: fields.get("n") || "", p: fields.get("p") || "", c: fields.get("c") || "" };
  for (const name of ["code", "url"]) {
    if (fields.get(name)) login[name] = fields.get(name);
  }
  return login.n && login.p ? login : null;
}

// The login of this tab: a link's fragment replaces (or, when it is bad,
// forgets) the stored one and leaves the address bar; without a fragment
// the stored login, or null. The page passes window.location, history and
// sessionStorage.
export function readLogin({ location, history, storage }) {
  const fragment = location.hash.slice(1);
  if (fragment) {
    const login = parseFragment(fragment);
    if (login) {
      storage.setItem(STORE, JSON.stringify(login));
    } else {
      storage.removeItem(STORE);
    }
    history.replaceState(null, "", location.pathname);
  }
  try {
    return JSON.parse(storage.getItem(STORE));
  } catch (e) {
    return null;
  }
}

// A login the server refused is not tried again on a reload.
export function forgetLogin(storage) {
  storage.removeItem(STORE);
}

// The chats of a login by seat.json ({bots, notifier, moderator, contacts:
// each subject's pair's bot}), or null when the link's contact is not the
// participant's own: a subject's one chat is its pair's bot, the
// moderator (no contact) has every bot's and the notices'. A link with an
// altered contact, or of an account the session does not seat, signs in
// to nothing.
export function chatsOf(login, config) {
  const contacts = config.contacts || {};
  if (Object.hasOwn(contacts, login.n)) return login.c === contacts[login.n] ? [login.c] : null;
  if (login.n === config.moderator && !login.c) return [...config.bots, config.notifier];
  return null;
}
