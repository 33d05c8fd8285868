// What a subject who leaves paid takes back to the study site: the
// completion code, with a button that copies it, and a link (drawn as a
// button) to the site's return address. Both the seat's end screen and the
// room's exit pages show it. Written with textContent and setAttribute.

import { N_, t } from "./i18n.js";

export const COPY = N_("Copy the code");
export const COPIED = N_("The code is copied.");
export const NOT_COPIED = N_("The code could not be copied: please write it down.");

// The address as a link may carry it: an absolute http(s) URL, else null
// (a javascript: or other address from an altered link never becomes one).
export function safeUrl(text) {
  if (typeof text !== "string" || !text) return null;
  try {
    const url = new URL(text);
    return url.protocol === "https:" || url.protocol === "http:" ? url.href : null;
  } catch (e) {
    return null;
  }
}

function element(doc, tag, className, text) {
  const node = doc.createElement(tag);
  node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// "Your completion code: CODE" with the code in a <code> of its own, so
// that it stands out and is selected apart from the words around it.
function codeLine(doc, code) {
  const line = element(doc, "p", "code-line");
  const [before, ...after] = t("Your completion code: {code}").split("{code}");
  line.append(element(doc, "span", "", before), element(doc, "code", "code", code),
    element(doc, "span", "", after.join(code)));
  return line;
}

// Copies code through clipboard (navigator.clipboard) and says in status
// whether it went; the result is the promise of that.
export async function copyCode(clipboard, code, status) {
  try {
    if (!clipboard) throw new Error("no clipboard");
    await clipboard.writeText(code);
    status.textContent = t(COPIED);
    return true;
  } catch (e) {
    status.textContent = t(NOT_COPIED);
    return false;
  }
}

// The block for {code, url} (either may be missing), or null when there
// is neither. clipboard is navigator.clipboard (or a stand-in).
export function renderCompletion(doc, { code, url }, clipboard) {
  const link = safeUrl(url);
  if (!code && !link) return null;
  const block = element(doc, "div", "completion");
  if (code) {
    const line = codeLine(doc, code);
    const copy = element(doc, "button", "copy", t(COPY));
    copy.type = "button";
    // Says once whether the copy worked; empty until then.
    const status = element(doc, "p", "copy-status");
    status.setAttribute("role", "status");
    copy.addEventListener("click", () => copyCode(clipboard, code, status));
    block.append(line, copy, status);
  }
  if (link) {
    const back = element(doc, "a", "return", t("Return to the study site"));
    back.setAttribute("href", link);
    back.setAttribute("rel", "noreferrer");
    block.append(back);
  }
  return block;
}
