// The desk page: the session's state arrives as server-sent events from
// /api/events and is drawn as one row per pair; the buttons post the
// moderator's commands to /api/say. Everything needs the page's token,
// which is kept for this tab and taken out of the address bar at once, so
// the browser's history does not hold it.
"use strict";

const token = new URLSearchParams(location.search).get("token") ||
  sessionStorage.getItem("wexDeskToken") || "";
if (token) sessionStorage.setItem("wexDeskToken", token);
if (location.search) history.replaceState(null, "", location.pathname);
const api = (path) => path + "?token=" + encodeURIComponent(token);
let clockOffset = 0;  // server time minus this browser's, in seconds

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (key === "class") node.className = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) {
    if (child !== null && child !== undefined) {
      node.append(child instanceof Node ? child : String(child));
    }
  }
  return node;
}

function clock(t) {
  return new Date(t * 1000).toLocaleTimeString();
}

function duration(s) {
  if (s === null || s === undefined) return "–";
  return s < 120 ? s + " s" : Math.floor(s / 60) + " min " + (s % 60) + " s";
}

function phaseText(p) {
  if (p.phase === "break") {
    return p.break_left_s === null ? "break" : "break, " + duration(p.break_left_s) + " left";
  }
  return {ended: "ended by e", reported: "reported"}[p.phase] || p.phase;
}

function subjectCell(s, now) {
  const state = s.online === true ? ["online", "online"] :
    s.online === false ? ["offline", "offline"] : ["unknown", "presence not known"];
  const since = s.since ? " since " + clock(s.since) : "";
  const owes = s.owes.length ? "owes " + s.owes.join(" and ") : "owes nothing";
  const last = s.last_message_s === null ? "no message yet" :
    "last message " + duration(s.last_message_s) + " ago";
  const toggled = s.presence_changes ? "; " + s.presence_changes + " presence changes in bursts" : "";
  return el("div", {class: "subject", "data-name": s.name},
    el("b", {}, s.name), " ",
    el("span", {class: state[0]}, state[1] + since), "; ",
    el("span", {class: s.owes.length ? "owes" : ""}, owes), "; ",
    el("span", {class: s.last_message_s > 60 && s.owes.length ? "slow" : ""}, last), toggled);
}

function chart(p) {
  // Both subjects' investments by round, 0 to the highest seen.
  const w = 140, h = 44, ns = "http://www.w3.org/2000/svg";
  const svg = document.createElementNS(ns, "svg");
  svg.setAttribute("class", "chart");
  svg.setAttribute("width", w);
  svg.setAttribute("height", h);
  const series = p.subjects.map((s) => s.investments.filter((v) => typeof v === "number"));
  const top = Math.max(1, ...series.flat());
  const n = Math.max(2, p.nrounds);
  series.forEach((values, i) => {
    const line = document.createElementNS(ns, "polyline");
    line.setAttribute("class", "s" + (i + 1));
    line.setAttribute("points", values.map((v, r) =>
      (4 + r * (w - 8) / (n - 1)).toFixed(1) + "," + (h - 4 - v * (h - 8) / top).toFixed(1)).join(" "));
    const title = document.createElementNS(ns, "title");
    title.textContent = p.subjects[i].name + ": " + values.join(", ");
    line.append(title);
    svg.append(line);
  });
  return svg;
}

// Each pair's actions cell is made once and moved into each new row, so
// a button or a half-typed text survives the updates.
const actionCells = new Map();

function actions(p) {
  if (!actionCells.has(p.pair)) actionCells.set(p.pair, makeActions(p));
  return actionCells.get(p.pair);
}

function makeActions(p) {
  const text = el("input", {type: "text", placeholder: "text to broadcast"});
  const result = el("div", {class: "result"});
  const button = (cmd, label, title, cls) => {
    const b = el("button", {title: title, class: cls || "", "data-cmd": cmd}, label);
    b.addEventListener("click", () => act([p.pair], cmd, text, result));
    return b;
  };
  return el("td", {class: "actions"},
    button("s", "hurry", "s: hurry the subjects"),
    button("n", "end break", "n: end the break"),
    button("?", "ask", "?: ask the bot where the game stands"),
    button("e", "end game", "e: end the game", "danger"), el("br"),
    text, button("b", "broadcast", "b: send the text to both subjects"), result);
}

function row(p, now) {
  const chat = p.chat.length ? el("div", {class: "chat"},
    ...p.chat.map((c) => el("div", {}, el("b", {}, c.name + ": "), el("bdi", {}, c.text)))) :
    null;
  const answer = p.answer ? el("div", {class: "answer"},
    "? at " + clock(p.answer.t) + ":\n" + p.answer.text) : null;
  const bot = p.bot_state + (p.restarts ? ", restarted " + p.restarts + "×" : "");
  return el("tr", {id: "pair-" + p.pair},
    el("td", {}, el("b", {}, p.pair), " ", p.bot),
    el("td", {class: "round"}, p.round + " / " + p.nrounds),
    el("td", {class: "phase phase-" + p.phase}, phaseText(p), chat),
    el("td", {}, ...p.subjects.map((s) => subjectCell(s, now)), answer),
    el("td", {class: "bot"}, bot),
    el("td", {}, chart(p)),
    actions(p));
}

// A row is replaced when its pair's state changed; its actions cell stays.
function draw(state) {
  clockOffset = state.now - Date.now() / 1000;
  const s = state.session;
  document.getElementById("session").textContent =
    s.finished + " of " + s.pairs + " pairs finished · " + s.rounds_closed + " of " +
    s.rounds_all + " rounds closed · " + duration(s.elapsed_s) + " since the start";
  const body = document.querySelector("#pairs tbody");
  for (const p of state.pairs) {
    const key = JSON.stringify(p);
    const old = document.getElementById("pair-" + p.pair);
    if (old && old.dataset.key === key) continue;
    const focused = document.activeElement;
    const fresh = row(p, state.now);
    fresh.dataset.key = key;
    if (old) old.replaceWith(fresh); else body.append(fresh);
    if (focused && fresh.contains(focused)) focused.focus();
  }
  drawAlerts(state.alerts);
}

function drawAlerts(alerts) {
  const box = document.getElementById("alerts");
  box.replaceChildren(...alerts.map((a) => {
    const dismiss = el("button", {}, "dismiss");
    dismiss.addEventListener("click", () => post("/api/dismiss", {id: a.id}));
    return el("div", {class: "alert", "data-id": a.id}, el("time", {}, clock(a.t)), a.text,
      dismiss);
  }));
}

async function post(path, body) {
  const response = await fetch(api(path), {method: "POST", body: JSON.stringify(body),
    headers: {"Content-Type": "application/json"}});
  if (!response.ok) throw new Error(await response.text());
  return response.json();
}

async function act(pairs, cmd, textField, result) {
  let text = cmd;
  if (cmd === "b") {
    if (!textField.value.trim()) { result.textContent = "type the text first"; return; }
    text = "b " + textField.value.trim();
  }
  const whom = pairs === "all" ? "every pair" : "pair " + pairs.join(", ");
  if (cmd === "e" && !confirm("End the game of " + whom + "?")) return;
  result.textContent = "sending " + text + " to " + whom + "…";
  try {
    const answer = await post("/api/say", {pairs: pairs, text: text});
    if (cmd === "b") textField.value = "";
    result.textContent = answer.sent.map((s) => s.bot + ": " +
      (s.answer === null ? "sent" : s.answer.split("\n")[0])).join("; ");
  } catch (e) {
    result.textContent = "not sent: " + e.message;
  }
}

function listen() {
  const link = document.getElementById("link");
  const source = new EventSource(api("/api/events"));
  source.onmessage = (event) => {
    link.textContent = "live";
    link.className = "ok";
    draw(JSON.parse(event.data));
  };
  source.onerror = () => {
    link.textContent = "desk unreachable: is wexlab's desk running? (wexlab resume)";
    link.className = "down";
  };
}

document.addEventListener("DOMContentLoaded", () => {
  for (const b of document.querySelectorAll("#all button")) {
    b.addEventListener("click", () => act("all", b.dataset.all,
      document.getElementById("all-text"), document.getElementById("all-result")));
  }
  listen();
});
