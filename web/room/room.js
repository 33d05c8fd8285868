// The waiting room of an online session, opened from the study link
// /join/SESSION?LABEL_PARAMETER=...: the instructions with a Continue
// button, then "Waiting for another participant…" with the time waited,
// until the room pairs the subject (the page goes to its seat) or lets it
// go paid (the exit page with the completion code). The room's state
// comes over /room/ws (socket.js), which the page opens at once so that
// a returning subject is sent on without reading anything again; the
// page's presence goes with it (presence.js).
//
// The seat's modules are served at / on the same origin.

import { browserToken, isSeatLink, labelOf, sessionOf } from "./arrival.js";
import { exitTexts, showExit } from "./exit.js";
import { Presence } from "./presence.js";
import { RoomSocket, socketUrl } from "./socket.js";
import { Waiting } from "./waiting.js";
import { N_, t } from "/i18n.js";
import { loadLanguage } from "/lang.js";
import { renderMarkdown } from "/markdown.js";

// Shown when the session has no instructions of its own.
const GENERAL = N_("In this study you are paired with another participant for an online " +
  "game. When you continue, please wait on the next page until another participant arrives; " +
  "the game then starts by itself. Keep the page open and visible while you wait.");

const byId = (id) => document.getElementById(id);

// The page's state; window.room for the console and the end-to-end tests.
const room = {
  config: null, // /room/config.json: session, label_parameter, wait_timeout, lang
  socket: null,
  presence: null,
  waiting: new Waiting({ view: byId("waiting"), time: byId("waited"), said: byId("waited-said"),
    limit: byId("wait-limit") }),
  continued: false, // Continue was pressed (kept for the tab)
  state: null, // the latest `waiting` frame, shown once the subject continues
  done: false, // a final state is shown
};
window.room = room;

function continuedKey() {
  return `wex-room-continued:${room.config.session}`;
}

// The texts of index.html in the lab's language.
function translatePage() {
  document.title = t("Waiting room");
  byId("instructions-title").textContent = t("Instructions");
  byId("continue").textContent = t("Continue");
  byId("waiting-title").textContent = t("Waiting for another participant\u2026");
  byId("waiting-note").textContent = t("Please keep this page open. The game starts as soon " +
    "as another participant arrives.");
}

function showFault(text) {
  for (const id of ["instructions", "waiting", "exit", "status"]) byId(id).hidden = true;
  byId("fault").textContent = text;
  byId("fault").hidden = false;
}

function setStatus(up) {
  const status = byId("status");
  status.hidden = up || room.done;
  status.textContent = up ? "" : t("Not connected \u2013 reconnecting\u2026");
}

// The instructions, or the general text when the session has none.
async function loadInstructions() {
  let text = null;
  try {
    const answer = await fetch("/room/instructions.md", { cache: "no-cache" });
    if (answer.ok) text = await answer.text();
  } catch (e) {
    text = null;
  }
  const body = byId("instructions-text");
  if (text === null) {
    const paragraph = document.createElement("p");
    paragraph.textContent = t(GENERAL);
    body.replaceChildren(paragraph);
  } else {
    body.replaceChildren(renderMarkdown(document, text));
  }
}

function showWaiting() {
  if (room.done || !room.continued || !room.state) return;
  const first = byId("waiting").hidden;
  room.waiting.show(room.state);
  if (first) byId("waiting-title").focus();
}

// Whether Continue was pressed in this tab before (a reload).
function wasContinued() {
  try {
    return sessionStorage.getItem(continuedKey()) === "1";
  } catch (e) {
    return false; // storage refused: the instructions once more
  }
}

function onContinue() {
  room.continued = true;
  try {
    sessionStorage.setItem(continuedKey(), "1");
  } catch (e) {
    // Not kept: a reload shows the instructions again.
  }
  byId("instructions").hidden = true;
  showWaiting();
  if (!room.state && !room.done) {
    // Connected soon: the wait is shown as its frame comes.
    byId("waiting").hidden = false;
    byId("waiting-title").focus();
  }
}

// A final state: no more waiting, no more frames.
function finish() {
  room.done = true;
  room.socket.stop();
  room.waiting.stop();
  byId("instructions").hidden = true;
  byId("status").hidden = true;
}

function onFrame(frame) {
  if (room.done) return;
  if (frame.type === "waiting") {
    room.state = frame;
    showWaiting();
  } else if (frame.type === "seat") {
    if (!isSeatLink(frame.link)) return;
    finish();
    window.location.assign(frame.link);
  } else if (frame.type === "exit" || frame.type === "finished") {
    const texts = exitTexts(frame);
    if (!texts) return;
    finish();
    showExit(document, texts, navigator.clipboard);
  } else if (frame.type === "error") {
    finish();
    showFault(typeof frame.text === "string" && frame.text ? frame.text :
      t("This link does not work."));
  }
}

async function readConfig() {
  try {
    const answer = await fetch("/room/config.json", { cache: "no-store" });
    return answer.ok ? await answer.json() : null;
  } catch (e) {
    return null;
  }
}

async function start() {
  const [, config] = await Promise.all([
    loadLanguage(document, (path, options) => fetch(`/${path}`, options)), readConfig()]);
  translatePage();
  const session = sessionOf(window.location.pathname);
  if (!session) return showFault(t("This link does not work."));
  if (!config) return showFault(t("The study server does not answer. Reload the page in a moment."));
  room.config = config;
  room.continued = wasContinued();
  const hello = {
    type: "hello",
    session,
    label: labelOf(window.location.search, config.label_parameter),
    browser: browserToken(window.localStorage),
  };
  room.socket = new RoomSocket(socketUrl(window.location), hello, {
    up() {
      setStatus(true);
      room.presence.report();
    },
    down() {
      setStatus(false);
    },
    message: onFrame,
  });
  room.presence = new Presence(document, (frame) => room.socket.send(frame));
  room.presence.start();
  // Back online, or shown again after the browser froze the page (and its
  // socket): no pause before the next attempt.
  window.addEventListener("online", () => room.socket.retryNow());
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "visible") room.socket.retryNow();
  });
  room.socket.connect();
  byId("continue").addEventListener("click", onContinue);
  await loadInstructions();
  if (room.done) return;
  if (room.continued) {
    onContinue();
  } else {
    byId("instructions").hidden = false;
    byId("instructions-title").focus();
  }
}

start();
