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

// 24-hour times in the browser's own language (h23: 00 to 23).
function clock(t) {
  return new Date(t * 1000).toLocaleTimeString([], {hourCycle: "h23"});
}

function duration(s) {
  if (s === null || s === undefined) return "–";
  return s < 120 ? s + " s" : Math.floor(s / 60) + " min " + (s % 60) + " s";
}

function phaseText(p) {
  if (p.phase === "break") {
    return p.break_left_s === null ? "break" : "break, " + duration(p.break_left_s) + " left";
  }
  if (p.phase === "reported" && p.ended === "paid_now") return "paid now";
  return {ended: "stopped without payouts", reported: "completed"}[p.phase] || p.phase;
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

const SVG = "http://www.w3.org/2000/svg";

function svgEl(tag, attrs, text) {
  const node = document.createElementNS(SVG, tag);
  for (const [key, value] of Object.entries(attrs)) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Both subjects' investments by round: rounds on the x axis, 0 to the
// highest value seen on the y axis, and a legend naming the subjects.
function chart(p) {
  const w = 190, h = 84, left = 26, right = 8, top = 6, bottom = 24;
  const series = p.subjects.map((s) => s.investments.filter((v) => typeof v === "number"));
  const most = Math.max(1, ...series.flat());
  const n = Math.max(2, p.nrounds);
  const x = (r) => left + (r - 1) * (w - left - right) / (n - 1);
  const y = (v) => h - bottom - v * (h - top - bottom) / most;
  const said = p.subjects.map((s, i) => s.name + ": " + (series[i].join(", ") || "none yet"));
  const svg = svgEl("svg", {class: "chart", width: w, height: h, role: "img",
    "aria-label": "investments by round, " + said.join("; ")});
  svg.append(svgEl("line", {class: "axis", x1: left, y1: h - bottom, x2: w - right,
    y2: h - bottom}));
  svg.append(svgEl("line", {class: "axis", x1: left, y1: top, x2: left, y2: h - bottom}));
  svg.append(svgEl("text", {x: left - 3, y: top + 8, "text-anchor": "end"}, most));
  svg.append(svgEl("text", {x: left - 3, y: h - bottom + 3, "text-anchor": "end"}, 0));
  const step = Math.max(1, Math.ceil(p.nrounds / 6));
  for (let r = 1; r <= p.nrounds; r += step) {
    svg.append(svgEl("text", {x: x(r), y: h - bottom + 11, "text-anchor": "middle"}, r));
  }
  svg.append(svgEl("text", {x: (left + w - right) / 2, y: h - 2, "text-anchor": "middle"},
    "round"));
  series.forEach((values, i) => {
    const points = values.map((v, k) => x(k + 1).toFixed(1) + "," + y(v).toFixed(1));
    svg.append(svgEl("polyline", {class: "s" + (i + 1), points: points.join(" ")}));
    // A dot per round, so a single round shows too.
    values.forEach((v, k) => svg.append(svgEl("circle", {class: "s" + (i + 1),
      cx: x(k + 1).toFixed(1), cy: y(v).toFixed(1), r: 2.5})));
  });
  const legend = el("div", {class: "legend", "aria-hidden": "true"},
    ...p.subjects.map((s, i) => el("span", {class: "key k" + (i + 1)}, s.name)));
  return el("div", {class: "chart-box"}, svg, legend);
}

// Each pair's actions cell is made once and moved into each new row, so
// a button or a half-typed text survives the updates.
const actionCells = new Map();

function actions(p) {
  if (!actionCells.has(p.pair)) actionCells.set(p.pair, makeActions(p));
  const cell = actionCells.get(p.pair);
  // A game that has ended can be neither hurried nor paid nor stopped again.
  for (const b of cell.querySelectorAll("button[data-cmd]")) {
    if ("snpe".includes(b.dataset.cmd)) b.disabled = p.ended !== "running";
  }
  return cell;
}

function makeActions(p) {
  const names = p.subjects.map((s) => s.name).join(" and ");
  const text = el("input", {type: "text", placeholder: "text to broadcast",
    "aria-label": "text to broadcast to pair " + p.pair});
  const result = el("div", {class: "result", role: "status"});
  const button = (cmd, label, title, cls) => {
    const b = el("button", {type: "button", title: title, class: cls || "", "data-cmd": cmd,
      "aria-label": label + ", pair " + p.pair}, label);
    b.addEventListener("click", () => act([p.pair], cmd, text, result, names));
    return b;
  };
  return el("td", {class: "actions"},
    button("s", "hurry", "s: hurry the subjects"),
    button("n", "end break", "n: end the break"),
    button("?", "ask", "?: ask the bot where the game stands"), el("br"),
    button("p", "pay now", "p: end the game now and pay both subjects what they have earned",
      "pay"),
    button("e", "stop without paying", "e: stop the game; nobody in this pair is paid",
      "danger"), el("br"),
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
    el("th", {scope: "row"}, p.pair, " ", el("span", {class: "botname"}, p.bot)),
    el("td", {class: "treatment"}, p.treatment || "–"),
    el("td", {class: "round"}, p.round + " / " + p.nrounds),
    el("td", {class: "phase phase-" + p.phase}, phaseText(p), chat),
    el("td", {}, ...p.subjects.map((s) => subjectCell(s, now)), answer),
    el("td", {class: "bot"}, bot),
    el("td", {}, chart(p)),
    actions(p));
}

// An online session's room: the study link and who waits, who is paired
// and who has left with the show-up fee.
function drawRoom(room) {
  const box = document.getElementById("room");
  box.hidden = !room;
  if (!room) return;
  box.textContent =
    "Study link: " + room.link + " · " + room.waiting + " waiting · " + room.paired +
    " paired in " + room.pairs + " of " + room.max_pairs + " pairs · " + room.exits +
    " left with the fee" + (room.closed ? " · closed" : "");
}

// A row is replaced when its pair's state changed; its actions cell stays.
function draw(state) {
  clockOffset = state.now - Date.now() / 1000;
  const s = state.session;
  const stopped = state.pairs.filter((p) => p.ended === "stopped").length;
  document.getElementById("session").textContent =
    s.finished + " of " + s.pairs + " pairs finished" +
    (stopped ? " (" + stopped + " stopped without payouts)" : "") + " · " +
    s.rounds_closed + " of " + s.rounds_all + " rounds closed · " + duration(s.elapsed_s) +
    " since the start";
  drawRoom(state.room);
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
    announceChat(p);
  }
  drawAlerts(state.alerts);
}

// New break chat lines are read out once (the rows are redrawn often, so
// they are not live regions themselves).
const chatSeen = new Set();

function announceChat(p) {
  for (const c of p.chat) {
    const key = p.pair + "|" + c.t + "|" + c.name + "|" + c.text;
    if (chatSeen.has(key)) continue;
    chatSeen.add(key);
    const line = el("div", {}, "pair " + p.pair + ", " + c.name + ": " + c.text);
    const box = document.getElementById("announce");
    box.append(line);
    while (box.childElementCount > 10) box.firstElementChild.remove();
  }
}

// Each alert is a banner of its own (role=alert): one that stays is left
// in place, so a screen reader announces only the new ones.
function drawAlerts(alerts) {
  const box = document.getElementById("alerts");
  const ids = new Set(alerts.map((a) => a.id));
  for (const old of [...box.children]) {
    if (!ids.has(old.dataset.id)) old.remove();
  }
  for (const a of alerts) {
    const shown = [...box.children].find((c) => c.dataset.id === a.id);
    if (shown) {
      shown.querySelector(".text").textContent = a.text;
      continue;
    }
    const dismiss = el("button", {type: "button", "aria-label": "dismiss: " + a.text},
      "dismiss");
    dismiss.addEventListener("click", () => post("/api/dismiss", {id: a.id}));
    const kind = a.id.split(":")[0];
    box.append(el("div", {class: "alert alert-" + kind, role: "alert", "data-id": a.id},
      el("time", {}, clock(a.t)), el("span", {class: "text"}, a.text), dismiss));
  }
}

async function post(path, body) {
  const response = await fetch(api(path), {method: "POST", body: JSON.stringify(body),
    headers: {"Content-Type": "application/json"}});
  if (!response.ok) throw new Error(await response.text());
  return response.json();
}

// What a command that ends games asks before it is sent; null for the rest.
function confirmation(cmd, pairs, names) {
  if (cmd === "p") {
    return pairs === "all" ?
      "Pay now: end the game of every pair that is still playing and pay its subjects " +
      "what they have earned so far?" :
      "Pay now: end pair " + pairs.join(", ") + "'s game and pay " + names +
      " what they have earned so far?";
  }
  if (cmd === "e") {
    return pairs === "all" ?
      "Stop every pair's game without paying? Nobody in any pair will be paid." :
      "Stop pair " + pairs.join(", ") + "'s game without paying? Nobody in pair " +
      pairs.join(", ") + " (" + names + ") will be paid.";
  }
  return null;
}

async function act(pairs, cmd, textField, result, names) {
  let text = cmd;
  if (cmd === "b") {
    if (!textField.value.trim()) { result.textContent = "type the text first"; return; }
    text = "b " + textField.value.trim();
  }
  const question = confirmation(cmd, pairs, names);
  if (question !== null && !confirm(question)) return;
  // Pay now for all goes only to the games still running.
  const target = pairs === "all" && cmd === "p" ? "unfinished" : pairs;
  const whom = pairs === "all" ? (cmd === "p" ? "every unfinished pair" : "every pair") :
    "pair " + pairs.join(", ");
  result.textContent = "sending " + text + " to " + whom + "…";
  try {
    const answer = await post("/api/say", {pairs: target, text: text});
    if (cmd === "b") textField.value = "";
    result.textContent = answer.sent.length ? answer.sent.map((s) => s.bot + ": " +
      (s.answer === null ? "sent" : s.answer.split("\n")[0])).join("; ") :
      "no pair is still playing";
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
