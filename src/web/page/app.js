// The robot's web page: the server at a glance in the header, the player table (sorted and
// filtered, updated in place) with its menu, the console with the command and chat boxes, and
// the ban list (filtered, sorted, paged), kept live over one WebSocket. Every act is a POST carrying the
// session's anti-forgery token; the robot answers with {"ok":true} or {"error":"..."}.
"use strict";

const kConsoleKept = 2000;  // lines the page keeps; the robot sends the last 1,000 at start
const kRetryMs = 2000;

let token = "";
let captions = null;
let consoleNext = 0;        // index of the console line after the last one shown
const kBansPerPage = 200;
const kNumberColumns = new Set([0, 1, 2, 5]);  // slot, score, ping, rate
const kShownName = 6;                           // a row's last cell: the name in its colours
const kWideColumns = new Set([4, 5]);          // left to a tap on a phone: address, rate
const kConfirmed = new Set(["KickItem", "BanNameItem", "BanIPItem"]);

let shownRows = null;       // the rows as last drawn, by slot
let rowsData = [];
let bansData = [];
let shownBans = "";
let sortColumn = -1;        // -1: the robot's order
let sortDown = false;
let banPage = 0;
let rawColours = false;
let offered = null;         // the player the open menu acts on: {slot, name, address, cells}
let chosenSlot = null;      // the row last tapped
let pendingAct = null;      // the act the confirmation dialog asks about: {item, player}
let lastState = null;
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

// ---- colour codes ------------------------------------------------------------------------------

// The text with its CoD colour codes (^0..^9) drawn as colours: text nodes in spans, never
// markup. With the switch on, the codes are shown as they are.
function colourText(text) {
  const fragment = document.createDocumentFragment();
  if (rawColours || text.indexOf("^") < 0) {
    fragment.appendChild(document.createTextNode(text));
    return fragment;
  }
  let colour = "";
  let run = "";
  const flush = () => {
    if (!run)
      return;
    if (colour) {
      const span = document.createElement("span");
      span.className = "c" + colour;
      span.textContent = run;
      fragment.appendChild(span);
    } else {
      fragment.appendChild(document.createTextNode(run));
    }
    run = "";
  };
  for (let i = 0; i < text.length; ++i) {
    const next = text[i + 1];
    if (text[i] === "^" && next >= "0" && next <= "9") {
      flush();
      colour = next === "7" ? "" : next;
      ++i;
    } else {
      run += text[i];
    }
  }
  flush();
  return fragment;
}

function setColoured(element, text) {
  element.replaceChildren(colourText(text));
}

// The text as the game shows it, without its codes: what a search matches.
function plainText(text) {
  return text.replace(/\^[0-9]/g, "");
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

// ---- the header -------------------------------------------------------------------------------

function showHeader(state) {
  const link = $("link-state");
  link.textContent = state.link.text;
  link.className = state.link.connected ? "on" : "off";
  $("link-since").textContent = state.link.since ? "(" + state.link.since + " óta)" : "";
  $("server-address").textContent = state.link.address;
  $("player-count").textContent = String(state.players);
  const server = state.server || {};
  setColoured($("server-name"), server.name || "Vigilor");
  document.title = (server.name ? plainText(server.name) + " – " : "") + "Vigilor";
  $("server-map").textContent = server.map || "–";
  $("server-gametype").textContent = server.gameType || "–";
  $("player-max").textContent = server.maxPlayers ? String(server.maxPlayers) : "?";
  const next = state.nextTask || {};
  $("next-task").textContent = next.at ? next.at + " – " + next.text : "nincs";
}

// ---- the player table --------------------------------------------------------------------------

function compareCells(a, b, column) {
  if (kNumberColumns.has(column)) {
    const x = Number(a), y = Number(b);
    const xn = Number.isNaN(x), yn = Number.isNaN(y);
    if (xn || yn)
      return xn === yn ? a.localeCompare(b) : (xn ? 1 : -1);  // CNCT, ZMBI after the numbers
    return x - y;
  }
  return plainText(a).localeCompare(plainText(b), "hu", {sensitivity: "base"});
}

function rowMatches(cells, needle) {
  if (!needle)
    return true;
  return plainText(cells[3]).toLowerCase().includes(needle) ||
         cells[4].toLowerCase().includes(needle);
}

function playerOf(row) {
  const cells = JSON.parse(row.dataset.cells);
  // name: as the robot reads it, which names the player in an act; shown: with its colours.
  return {slot: cells[0], name: cells[3], shown: cells[kShownName] || cells[3], address: cells[4],
          cells: cells};
}

function makeRow() {
  const row = document.createElement("tr");
  row.tabIndex = 0;
  for (let column = 0; column < captions.columns.length; ++column) {
    const cell = row.insertCell();
    if (kNumberColumns.has(column))
      cell.className = "number";
    if (kWideColumns.has(column))
      cell.classList.add("wide");
  }
  // The menu acts on the player as this row shows him when it is opened.
  row.addEventListener("click", () => openMenu(row));
  row.addEventListener("keydown", (event) => {
    if (event.key === "Enter" || event.key === " ") {
      event.preventDefault();
      openMenu(row);
    }
  });
  return row;
}

// The table is updated in place: a player's row stays the same element while he is on the
// server, so a focused or tapped row keeps its focus across refreshes.
function showRows(rows) {
  rowsData = rows;
  const body = $("Table").tBodies[0];
  const focused = document.activeElement;
  const known = shownRows || new Map();
  const next = new Map();
  for (const cells of rows) {
    let row = known.get(cells[0]);
    if (!row)
      row = makeRow();
    const text = JSON.stringify(cells);
    if (row.dataset.cells !== text || row.dataset.raw !== String(rawColours)) {
      row.dataset.cells = text;
      row.dataset.raw = String(rawColours);
      for (let column = 0; column < row.cells.length; ++column) {
        const cell = row.cells[column];
        const value = cells[column];
        if (column === 3)
          setColoured(cell, cells[kShownName] || value);
        else if (cell.textContent !== value)
          cell.textContent = value;
      }
    }
    row.classList.toggle("chosen", cells[0] === chosenSlot);
    next.set(cells[0], row);
  }
  for (const [slot, row] of known)
    if (!next.has(slot))
      row.remove();
  shownRows = next;
  arrangeRows();
  if (focused && focused.parentNode === body && document.activeElement !== focused)
    focused.focus({preventScroll: true});
}

// Sorts and filters the rows drawn, moving only those out of place.
function arrangeRows() {
  if (!shownRows)
    return;
  const body = $("Table").tBodies[0];
  const focused = document.activeElement;
  const needle = $("player-filter").value.trim().toLowerCase();
  const order = rowsData.map((cells, index) => ({cells, index}));
  if (sortColumn >= 0)
    order.sort((a, b) => {
      const by = compareCells(a.cells[sortColumn], b.cells[sortColumn], sortColumn);
      return (sortDown ? -by : by) || a.index - b.index;
    });
  let at = body.firstElementChild;
  for (const {cells} of order) {
    const row = shownRows.get(cells[0]);
    row.hidden = !rowMatches(cells, needle);
    if (row === at)
      at = at.nextElementSibling;
    else
      body.insertBefore(row, at);
  }
  if (focused && focused.parentNode === body && document.activeElement !== focused)
    focused.focus({preventScroll: true});
}

function buildHeader() {
  const head = $("Table").tHead.rows[0];
  captions.columns.forEach((column, index) => {
    const cell = document.createElement("th");
    cell.scope = "col";
    if (kNumberColumns.has(index))
      cell.className = "number";
    if (kWideColumns.has(index))
      cell.classList.add("wide");
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = column;
    button.title = "Rendezés: " + column;
    button.addEventListener("click", () => {
      if (sortColumn === index) {
        sortDown = !sortDown;
      } else {
        sortColumn = index;
        sortDown = false;
      }
      for (const th of head.cells)
        th.removeAttribute("aria-sort");
      cell.setAttribute("aria-sort", sortDown ? "descending" : "ascending");
      arrangeRows();
    });
    cell.appendChild(button);
    head.appendChild(cell);
  });
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

function openMenu(row) {
  const player = playerOf(row);
  offered = player;
  chosenSlot = player.slot;
  for (const other of row.parentNode.rows)
    other.classList.toggle("chosen", other === row);
  const title = $("menu-player");
  title.replaceChildren(document.createTextNode(player.slot + ". "), colourText(player.shown));
  // Everything the row holds, also the columns a phone leaves out.
  const details = $("menu-details");
  details.replaceChildren();
  captions.columns.forEach((column, index) => {
    const term = document.createElement("dt");
    term.textContent = column;
    const value = document.createElement("dd");
    value.appendChild(index === 3 ? colourText(player.shown) : document.createTextNode(player.cells[index]));
    details.append(term, value);
  });
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
  if (kConfirmed.has(item.id)) {
    askConfirmation(item, player);
    return;
  }
  await sendAct(item, player, null);
}

async function sendAct(item, player, reason) {
  const body = {item: item.id, slot: player.slot, name: player.name, address: player.address};
  if (reason !== null)
    body.reason = reason;
  if (await post("/api/roster", body))
    showMessage(item.caption + ": " + plainText(player.shown), true);
  if (item.id === "Dump")
    selectTab($("tab-konzol"));
}

// Kicks and bans ask first, and take an optional reason.
function askConfirmation(item, player) {
  pendingAct = {item, player};
  $("confirm-title").replaceChildren(
    document.createTextNode(item.caption + " – " + player.slot + ". "), colourText(player.shown),
    document.createTextNode(" (" + player.address + ")?"));
  $("confirm-ok").textContent = item.caption;
  $("act-reason").value = "";
  $("confirm").hidden = false;
  $("act-reason").focus();
}

function closeConfirmation() {
  pendingAct = null;
  $("confirm").hidden = true;
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
    line.dataset.text = lines[i];
    line.appendChild(colourText(lines[i]));
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
  bansData = bans;
  drawBans();
}

// The entries that match the search, in the order asked for, one page of them at a time. Each
// keeps its row in the robot's list, by which it is named to the robot.
function drawBans() {
  const needle = $("ban-filter").value.trim().toLowerCase();
  const order = $("ban-sort").value;
  let shown = bansData.map((entry, row) => ({entry, row}))
    .filter(({entry}) => !needle || plainText(entry.line).toLowerCase().includes(needle));
  if (order === "text")
    shown.sort((a, b) => plainText(a.entry.text).localeCompare(plainText(b.entry.text), "hu",
                                                             {sensitivity: "base"}) || a.row - b.row);
  else if (order === "grade")
    shown.sort((a, b) => a.entry.grade - b.entry.grade || a.row - b.row);
  const pages = Math.max(1, Math.ceil(shown.length / kBansPerPage));
  banPage = Math.min(banPage, pages - 1);
  $("ban-page").textContent = (banPage + 1) + "/" + pages + ". oldal (" + shown.length + " bejegyzés)";
  $("ban-prev").disabled = banPage === 0;
  $("ban-next").disabled = banPage >= pages - 1;
  $("ban-prev").parentNode.hidden = pages < 2;
  shown = shown.slice(banPage * kBansPerPage, (banPage + 1) * kBansPerPage);

  const list = $("banlistbox");
  list.replaceChildren();
  for (const {entry, row} of shown) {
    const item = document.createElement("li");
    const line = document.createElement("span");
    line.className = "entry";
    line.dataset.text = entry.line;
    line.appendChild(colourText(entry.line));
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
  }
}

// The switch between colours and raw codes redraws every coloured text.
function redrawColours() {
  if (lastState) {
    showHeader(lastState);
    showRows(lastState.rows);
  }
  drawBans();
  for (const line of $("console").children)
    line.replaceChildren(colourText(line.dataset.text));
}

// ---- state and the live feed -------------------------------------------------------------------

function showState(state) {
  lastState = state;
  showHeader(state);
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
    buildHeader();
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
  $("confirm-cancel").addEventListener("click", closeConfirmation);
  $("confirm-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const act = pendingAct;
    const reason = $("act-reason").value.trim();
    closeConfirmation();
    if (act)
      sendAct(act.item, act.player, reason);
  });
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape") {
      closeMenu();
      closeConfirmation();
    }
  });
  $("player-filter").addEventListener("input", arrangeRows);
  $("ban-filter").addEventListener("input", () => { banPage = 0; drawBans(); });
  $("ban-sort").addEventListener("change", () => { banPage = 0; drawBans(); });
  $("ban-prev").addEventListener("click", () => { banPage = Math.max(0, banPage - 1); drawBans(); });
  $("ban-next").addEventListener("click", () => { ++banPage; drawBans(); });
  $("raw-colours").addEventListener("change", () => {
    rawColours = $("raw-colours").checked;
    redrawColours();
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
