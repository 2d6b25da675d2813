// The robot's web page: the player table with its menu, the console with the command and chat
// boxes, and the ban list, kept live over one WebSocket. Every act is a POST carrying the
// session's anti-forgery token; the robot answers with {"ok":true} or {"error":"..."}.
"use strict";

const kConsoleKept = 2000;  // lines the page keeps; the robot sends the last 1,000 at start
const kRetryMs = 2000;

let token = "";
let captions = null;
let consoleNext = 0;        // index of the console line after the last one shown
let shownRows = "";
let shownBans = "";
let offered = null;         // the player the open menu acts on: {slot, name, address}
let feed = null;

const $ = (id) => document.getElementById(id);

function showMessage(text, ok) {
  const box = $("message");
  box.textContent = text;
  box.className = ok ? "ok" : "";
  box.hidden = !text;
}

async function post(path, body) {
  let response;
  try {
    response = await fetch(path, {
      method: "POST",
      credentials: "same-origin",
      headers: {"Content-Type": "application/json", "X-Vigilor-Token": token},
      body: JSON.stringify(body),
    });
  } catch (e) {
    showMessage("A robot nem érhető el.");
    return false;
  }
  if (response.status === 401) {
    location.href = "/";
    return false;
  }
  let answer = {};
  try {
    answer = await response.json();
  } catch (e) {
    answer = {};
  }
  if (!response.ok) {
    showMessage(answer.error || ("Hiba: " + response.status));
    return false;
  }
  showMessage("");
  return true;
}

// ---- tabs ------------------------------------------------------------------------------------

function selectTab(tab) {
  for (const button of document.querySelectorAll("nav [role=tab]")) {
    const selected = button === tab;
    button.setAttribute("aria-selected", selected ? "true" : "false");
    $(button.getAttribute("aria-controls")).hidden = !selected;
  }
  if (tab.id === "tab-konzol")
    scrollConsoleToEnd();
}

// ---- the link and the player table -------------------------------------------------------------

function showLink(state) {
  const link = $("link-state");
  link.textContent = state.link.text;
  link.className = state.link.connected ? "on" : "off";
  $("server-address").textContent = state.link.address;
  $("player-count").textContent = String(state.players);
}

function showRows(rows) {
  const text = JSON.stringify(rows);
  if (text === shownRows)
    return;
  shownRows = text;
  const body = $("Table").tBodies[0];
  body.replaceChildren();
  for (const cells of rows) {
    const row = body.insertRow();
    row.tabIndex = 0;
    for (const cell of cells)
      row.insertCell().textContent = cell;
    // The menu acts on the player as this row shows him now, whatever the row shows later.
    const player = {slot: cells[0], name: cells[3], address: cells[4]};
    row.addEventListener("click", () => openMenu(player));
    row.addEventListener("keydown", (event) => {
      if (event.key === "Enter" || event.key === " ") {
        event.preventDefault();
        openMenu(player);
      }
    });
  }
}

function buildMenu() {
  const items = $("menu-items");
  items.replaceChildren();
  for (const item of captions.menu) {
    if (item.kind === "separator") {
      items.appendChild(document.createElement("hr"));
    } else if (item.kind === "heading") {
      const heading = document.createElement("div");
      heading.className = "heading";
      heading.textContent = item.caption;
      items.appendChild(heading);
    } else {
      const button = document.createElement("button");
      button.type = "button";
      button.setAttribute("role", "menuitem");
      button.textContent = item.caption;
      button.dataset.item = item.id;
      button.addEventListener("click", () => runMenuItem(item));
      items.appendChild(button);
    }
  }
}

function openMenu(player) {
  offered = player;
  $("menu-player").textContent = player.slot + ". " + player.name;
  $("ListMenu").hidden = false;
  const first = $("menu-items").querySelector("button");
  if (first)
    first.focus();
}

function closeMenu() {
  offered = null;
  $("ListMenu").hidden = true;
}

async function runMenuItem(item) {
  const player = offered;
  closeMenu();
  if (!player)
    return;
  if (await post("/api/roster", {item: item.id, slot: player.slot, name: player.name,
                                 address: player.address}))
    showMessage(item.caption + ": " + player.name, true);
  if (item.id === "Dump")
    selectTab($("tab-konzol"));
}

// ---- the console -------------------------------------------------------------------------------

function consoleAtEnd() {
  const box = $("console");
  return box.scrollHeight - box.scrollTop - box.clientHeight < 30;
}

function scrollConsoleToEnd() {
  const box = $("console");
  box.scrollTop = box.scrollHeight;
}

// Lines from index `first` on; lines already shown are skipped, a reset starts afresh.
function addConsoleLines(first, lines, reset) {
  const box = $("console");
  const follow = consoleAtEnd();
  if (reset) {
    box.replaceChildren();
    consoleNext = first;
  }
  const skip = Math.max(0, consoleNext - first);
  const fragment = document.createDocumentFragment();
  for (let i = skip; i < lines.length; ++i) {
    const line = document.createElement("div");
    line.textContent = lines[i];
    fragment.appendChild(line);
  }
  box.appendChild(fragment);
  consoleNext = Math.max(consoleNext, first + lines.length);
  while (box.childElementCount > kConsoleKept)
    box.firstElementChild.remove();
  if (follow || reset)
    scrollConsoleToEnd();
}

// ---- the ban list ------------------------------------------------------------------------------

function gradeSelect(grade) {
  const select = document.createElement("select");
  captions.grades.forEach((caption, index) => {
    const option = document.createElement("option");
    option.value = String(index);
    option.textContent = caption;
    select.appendChild(option);
  });
  select.value = grade >= 0 ? String(grade) : "";
  return select;
}

function showBans(bans) {
  const text = JSON.stringify(bans);
  if (text === shownBans)
    return;
  shownBans = text;
  const list = $("banlistbox");
  list.replaceChildren();
  bans.forEach((entry, row) => {
    const item = document.createElement("li");
    const line = document.createElement("span");
    line.className = "entry";
    line.textContent = entry.line;
    const select = gradeSelect(entry.grade);
    select.setAttribute("aria-label", "Fokozat: " + entry.line);
    select.addEventListener("change", () =>
      post("/api/bans/grade", {row: row, line: entry.line, grade: Number(select.value)}));
    const remove = document.createElement("button");
    remove.type = "button";
    remove.textContent = "-";
    remove.title = "Bejegyzés törlése";
    remove.setAttribute("aria-label", "Törlés: " + entry.line);
    remove.addEventListener("click", () =>
      post("/api/bans/remove", {row: row, line: entry.line}));
    item.append(line, select, remove);
    list.appendChild(item);
  });
}

// ---- state and the live feed -------------------------------------------------------------------

function showState(state) {
  showLink(state);
  showRows(state.rows);
  showBans(state.bans);
}

function openFeed() {
  const scheme = location.protocol === "https:" ? "wss://" : "ws://";
  const socket = new WebSocket(scheme + location.host + "/live?token=" + encodeURIComponent(token));
  socket.binaryType = "arraybuffer";
  const decoder = new TextDecoder();
  socket.addEventListener("open", () => { $("feed-state").textContent = "Élő"; });
  socket.addEventListener("message", (event) => {
    const message = JSON.parse(typeof event.data === "string" ? event.data
                                                              : decoder.decode(event.data));
    if (message.type === "hello") {
      showState(message.state);
      addConsoleLines(message.console.first, message.console.lines, true);
    } else if (message.type === "state") {
      showState(message.state);
    } else if (message.type === "console") {
      addConsoleLines(message.first, message.lines, message.reset === true);
    }
  });
  socket.addEventListener("close", () => {
    if (feed !== socket)
      return;
    feed = null;
    $("feed-state").textContent = "Az élő kapcsolat megszakadt, újrakapcsolódás…";
    setTimeout(start, kRetryMs);
  });
  feed = socket;
}

async function start() {
  let response;
  try {
    response = await fetch("/api/state", {credentials: "same-origin"});
  } catch (e) {
    $("feed-state").textContent = "A robot nem érhető el, újrapróbálás…";
    setTimeout(start, kRetryMs);
    return;
  }
  if (response.status === 401) {
    location.href = "/";
    return;
  }
  const answer = await response.json();
  token = answer.token;
  if (!captions) {
    captions = answer.captions;
    const head = $("Table").tHead.rows[0];
    for (const column of captions.columns) {
      const cell = document.createElement("th");
      cell.scope = "col";
      cell.textContent = column;
      head.appendChild(cell);
    }
    buildMenu();
    const grades = $("ComboBox1");
    captions.grades.forEach((caption, index) => {
      const option = document.createElement("option");
      option.value = String(index);
      option.textContent = caption;
      grades.appendChild(option);
    });
  }
  showState(answer);
  openFeed();
}

function setUp() {
  for (const tab of document.querySelectorAll("nav [role=tab]"))
    tab.addEventListener("click", () => selectTab(tab));
  $("menu-cancel").addEventListener("click", closeMenu);
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape")
      closeMenu();
  });
  $("send-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const box = $("Edit4");
    if (await post("/api/command", {command: box.value}))
      box.value = "";
  });
  $("say-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const box = $("Edit6");
    if (box.value)
      post("/api/say", {text: box.value});
  });
  $("ban-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const box = $("Edit5");
    if (await post("/api/bans/add", {text: box.value, grade: Number($("ComboBox1").value)}))
      box.value = "";
  });
  $("logout").addEventListener("click", async () => {
    await post("/logout", {});
    location.href = "/";
  });
  start();
}

setUp();
