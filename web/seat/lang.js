// The lab's language: lang.json (written by wexlab from po/seat/CODE.po)
// is read before the page shows anything; its texts become the catalogue
// of t() and its code the page's lang. Without it the page stays English.
// The texts of index.html are set here, through t(), so that they are in
// the catalogue too.

import { N_, setCatalogue, t } from "./i18n.js";

// TRANSLATORS: the decimal separator of numbers, e.g. "," in German.
export const DECIMAL_POINT = N_(".");

// A number's text ("85.33") with the language's decimal separator.
export function decimal(text) {
  return String(text).replace(".", t(DECIMAL_POINT));
}

// The language's code as a page's lang may carry it, else null.
export function languageCode(value) {
  return typeof value === "string" && /^[a-z]{2,3}(?:[_-][A-Z]{2})?$/.test(value)
    ? value.replace("_", "-") : null;
}

// Sets the catalogue and lang from lang.json's data; returns the code.
export function useLanguage(doc, data) {
  const code = data && languageCode(data.lang);
  if (!code) return "en";
  setCatalogue(data.texts);
  doc.documentElement.lang = code;
  return code;
}

export async function loadLanguage(doc, fetcher = fetch) {
  try {
    const answer = await fetcher("lang.json", { cache: "no-store" });
    if (!answer.ok) return "en";
    return useLanguage(doc, await answer.json());
  } catch (e) {
    return "en";
  }
}

function set(doc, id, what, text) {
  const element = doc.getElementById(id);
  if (!element) return;
  if (what === "text") element.textContent = text;
  else element.setAttribute(what, text);
}

// The texts of index.html in the lab's language.
export function translatePage(doc) {
  doc.title = t("Lab chat");
  set(doc, "status", "text", t("Connecting to the lab\u2026"));
  set(doc, "entry", "aria-label", t("Your message"));
  set(doc, "entry", "placeholder", t("Type here and press Enter"));
  set(doc, "send", "text", t("Send"));
  set(doc, "chats", "aria-label", t("Chats"));
  // New messages are read out by screen readers, without interrupting.
  set(doc, "logs", "aria-label", t("Chat"));
  set(doc, "instructions-title", "text", t("Instructions"));
  set(doc, "instructions-open", "text", t("Instructions"));
}
