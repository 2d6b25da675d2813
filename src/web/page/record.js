// The "Napló" tab: the record of acts (who did what to whom, why and when), newest first,
// filtered by player and by operator as one types. Also what a viewer ("figyelő") may not do:
// his act controls are disabled, since the robot refuses his acts.
"use strict";

(() => {
  const kShown = 200;
  const kTypingMs = 250;
  const byId = (id) => document.getElementById(id);
  let typing = 0;
  let asked = 0;

  function cell(text) {
    const td = document.createElement("td");
    td.textContent = text;
    return td;
  }

  async function load() {
    const serial = ++asked;
    const query = new URLSearchParams({player: byId("record-player").value,
                                       by: byId("record-by").value, limit: String(kShown)});
    let answer;
    try {
      const response = await fetch("/api/record?" + query.toString(), {credentials: "same-origin"});
      if (response.status === 401) {
        location.href = "/";
        return;
      }
      answer = await response.json();
    } catch (e) {
      byId("record-count").textContent = "A robot nem érhető el.";
      return;
    }
    if (serial !== asked)
      return; // a later question is on its way
    const body = byId("record-table").tBodies[0];
    body.replaceChildren();
    for (const act of answer.acts) {
      const row = document.createElement("tr");
      const who = act.where ? act.who + " (" + act.where + ")" : act.who;
      const whom = act.name || act.address
                       ? (act.slot ? act.slot + ". " : "") + act.name +
                             (act.address ? " (" + act.address + ")" : "")
                       : "";
      row.append(cell(act.when), cell(who), cell(act.what), cell(whom), cell(act.why));
      body.appendChild(row);
    }
    byId("record-count").textContent = answer.matched > answer.acts.length
        ? "A legújabb " + answer.acts.length + " a " + answer.matched + " találatból."
        : answer.matched + " bejegyzés.";
  }

  function later() {
    clearTimeout(typing);
    typing = setTimeout(load, kTypingMs);
  }

  // Every act control outside the tabs, the header, the menu's "Mégse" and this tab.
  function disableActs() {
    for (const control of document.querySelectorAll("main button, main input, main select")) {
      if (control.closest("#page-naplo") || control.id === "menu-cancel")
        continue;
      control.disabled = true;
    }
  }

  async function applyRole() {
    let state;
    try {
      const response = await fetch("/api/state", {credentials: "same-origin"});
      state = await response.json();
    } catch (e) {
      return;
    }
    const who = state.operator || {};
    if (who.role !== "figyelő")
      return;
    document.body.classList.add("viewer");
    const note = document.createElement("p");
    note.id = "viewer-note";
    note.setAttribute("role", "note");
    note.textContent = "Figyelőként (" + who.name + ") mindent láthatsz, de nem cselekedhetsz.";
    document.querySelector("main").before(note);
    disableActs();
    // The table menu and the ban list are rebuilt as the robot's state changes.
    new MutationObserver(disableActs).observe(document.querySelector("main"),
                                              {childList: true, subtree: true});
  }

  byId("tab-naplo").addEventListener("click", load);
  byId("record-refresh").addEventListener("click", load);
  byId("record-player").addEventListener("input", later);
  byId("record-by").addEventListener("input", later);
  applyRole();
})();
