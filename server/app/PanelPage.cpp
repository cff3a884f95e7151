// The control panel page: one document with its style and script inline,
// so the panel works without any network beyond the loopback connection.
#include "app/CTarvikDlg.h"

namespace tarvik {

const char* PanelPageHtml() {
  return R"TARVIKPAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tarvik control panel</title>
<style>
:root { --ink:#1d2733; --muted:#5f6b7a; --line:#d5dbe3; --panel:#ffffff; --back:#eef2f6;
        --accent:#1f6fb2; --accent-dark:#17578c; --run:#2e9d57; --ready:#6b7f96; --bad:#d0812b; --sel:#dceaf7; }
* { box-sizing: border-box; }
body { margin:0; font:14px/1.4 "Segoe UI", "DejaVu Sans", Arial, sans-serif; color:var(--ink); background:var(--back); }
header { display:flex; align-items:center; gap:14px; padding:12px 22px; background:linear-gradient(90deg,#17456f,#1f6fb2); color:#fff; }
header .logo { width:34px; height:34px; }
header h1 { font-size:19px; margin:0; font-weight:600; letter-spacing:.3px; }
header .sub { font-size:12.5px; opacity:.85; }
header .status { margin-left:auto; font-size:12.5px; padding:3px 10px; border-radius:12px; background:rgba(255,255,255,.16); }
header .status.lost { background:#b4432f; }
main { max-width:1100px; margin:18px auto; padding:0 18px; }
.card { background:var(--panel); border:1px solid var(--line); border-radius:8px; box-shadow:0 1px 3px rgba(20,40,70,.06); }
.toolbar { display:flex; flex-wrap:wrap; gap:8px; padding:12px; border-bottom:1px solid var(--line); }
.toolbar .spacer { flex:1; }
button { font:inherit; padding:6px 14px; border-radius:5px; border:1px solid #b9c3cf; background:#f7f9fb; color:var(--ink); cursor:pointer; }
button:hover:not(:disabled) { background:#e9eef4; }
button:disabled { color:#a5aeb9; background:#f3f4f6; border-color:#dde1e6; cursor:default; }
button.primary { background:var(--accent); border-color:var(--accent-dark); color:#fff; }
button.primary:hover:not(:disabled) { background:var(--accent-dark); }
button.primary:disabled { background:#9fbfdb; border-color:#9fbfdb; color:#eef4fa; }
table { width:100%; border-collapse:collapse; table-layout:fixed; }
th, td { text-align:left; padding:7px 12px; border-bottom:1px solid var(--line); border-right:1px solid #edf0f3; white-space:nowrap; overflow:hidden; text-overflow:ellipsis; }
th { font-weight:600; font-size:12.5px; color:var(--muted); background:#f6f8fa; }
td.num, th.num { text-align:right; font-variant-numeric: tabular-nums; }
tbody tr { cursor:pointer; }
tbody tr:hover { background:#f3f7fb; }
tbody tr.selected { background:var(--sel); }
td.name { font-weight:600; }
td.name .icon { vertical-align:-3px; margin-right:8px; }
.icon { width:16px; height:16px; flex:none; }
.empty { padding:22px; color:var(--muted); text-align:center; }
.logbox { margin-top:16px; }
.logbox .head { display:flex; justify-content:space-between; padding:8px 12px; border-bottom:1px solid var(--line); font-size:12.5px; color:var(--muted); }
canvas#rateChart { display:block; width:100%; height:150px; }
.chartbox .legend { flex-wrap:wrap; }
.chartbox .legend .swatch { width:12px; height:3px; border-radius:1px; }
pre#log { margin:0; height:300px; overflow:auto; padding:8px 12px; font-family:"Courier New", Courier, monospace; font-size:11px; font-weight:normal; line-height:1.35; background:#fbfcfd; white-space:pre; }
.legend { display:flex; gap:16px; padding:8px 12px; font-size:12px; color:var(--muted); }
.legend span { display:flex; align-items:center; gap:5px; }
.ntrip { padding:0 12px 10px; font-size:12px; color:var(--muted); }
dialog { border:1px solid var(--line); border-radius:8px; padding:0; min-width:360px; max-width:90vw; box-shadow:0 10px 40px rgba(20,40,70,.25); }
dialog::backdrop { background:rgba(20,35,55,.35); }
dialog h2 { margin:0; padding:12px 16px; font-size:15px; border-bottom:1px solid var(--line); background:#f6f8fa; }
dialog .body { padding:16px; }
dialog .buttons { display:flex; justify-content:flex-end; gap:8px; padding:10px 16px; border-top:1px solid var(--line); background:#fafbfc; }
dialog label { display:block; margin:0 0 12px; font-size:13px; color:var(--muted); }
dialog input { display:block; width:100%; margin-top:4px; padding:6px 8px; font:inherit; border:1px solid #b9c3cf; border-radius:4px; }
dialog .text { white-space:pre-wrap; margin:0; font:inherit; }
textarea#editorText { width:min(860px,82vw); height:60vh; font-family:"Courier New", Courier, monospace; font-size:12.5px; padding:8px; border:1px solid #b9c3cf; border-radius:4px; }
footer { text-align:center; color:var(--muted); font-size:12px; margin:18px 0 30px; }
</style>
</head>
<body>
<header>
  <svg class="logo" viewBox="0 0 34 34" aria-hidden="true"><circle cx="17" cy="17" r="15" fill="none" stroke="#fff" stroke-width="2"/><path d="M17 5v24M5 17h24" stroke="#fff" stroke-width="1.2" opacity=".7"/><circle cx="17" cy="17" r="5" fill="#fff"/></svg>
  <div><h1>Tarvik</h1><div class="sub">Transformation message server &middot; control panel</div></div>
  <div id="status" class="status">connecting&hellip;</div>
</header>
<main>
  <div class="card">
    <div class="toolbar">
      <button id="btnAdd">Add ...</button>
      <button id="btnCopy">Copy ...</button>
      <button id="btnRemove">Remove</button>
      <button id="btnConfigure">Configure ...</button>
      <button id="btnProblems">Problems ...</button>
      <button id="btnStart" class="primary">Start</button>
      <span class="spacer"></span>
      <button id="btnAbout">About ...</button>
      <button id="btnExit">Exit</button>
    </div>
    <table id="list">
      <colgroup><col style="width:calc(20% - 12px)"><col style="width:calc(20% - 15px)"><col style="width:calc(20% + 20px)"><col style="width:calc(20% - 4px)"><col style="width:calc(20% - 10px)"></colgroup>
      <thead><tr><th>Name</th><th class="num">Port</th><th>StartTime</th><th class="num">Requests since start</th><th class="num">TotalRequests</th></tr></thead>
      <tbody id="rows"></tbody>
    </table>
    <div id="empty" class="empty" hidden>No configurations yet. Press &ldquo;Add ...&rdquo; to create one.</div>
    <div id="ntrip" class="ntrip"></div>
    <div class="legend">
      <span><svg class="icon" viewBox="0 0 16 16"><use href="#i0"/></svg>running</span>
      <span><svg class="icon" viewBox="0 0 16 16"><use href="#i2"/></svg>ready</span>
      <span><svg class="icon" viewBox="0 0 16 16"><use href="#i1"/></svg>problems</span>
    </div>
  </div>
  <div class="card logbox chartbox">
    <div class="head"><span>Requests per second</span><span id="chartNote">last 2 minutes, from /metrics</span></div>
    <canvas id="rateChart" aria-label="requests per second of each configuration"></canvas>
    <div id="chartLegend" class="legend"></div>
  </div>
  <div class="card logbox">
    <div class="head"><span id="logTitle">Log</span><span id="logFile"></span></div>
    <pre id="log" aria-label="log of the selected configuration"></pre>
  </div>
  <footer>Refreshes every 2 seconds &middot; served by Tarvik on this machine</footer>
</main>

<svg width="0" height="0" style="position:absolute">
  <defs>
    <g id="i0"><circle cx="8" cy="8" r="7" fill="#2e9d57"/><path d="M6 4.5l5 3.5-5 3.5z" fill="#fff"/></g>
    <g id="i2"><circle cx="8" cy="8" r="7" fill="#6b7f96"/><rect x="5" y="5" width="6" height="6" rx="1" fill="#fff"/></g>
    <g id="i1"><path d="M8 1.2l7 13H1z" fill="#d0812b"/><rect x="7.2" y="5.2" width="1.6" height="5" fill="#fff"/><rect x="7.2" y="11.3" width="1.6" height="1.6" fill="#fff"/></g>
  </defs>
</svg>

<dialog id="settingsDlg">
  <form method="dialog" id="settingsForm">
    <h2>Transformation Module Settings</h2>
    <div class="body">
      <label>Name<input id="setName" autocomplete="off"></label>
      <label>Port<input id="setPort" type="number" min="1" max="65535"></label>
    </div>
    <div class="buttons"><button type="button" id="setOk" class="primary">OK</button><button type="button" id="setCancel">Cancel</button></div>
  </form>
</dialog>
<dialog id="msgDlg">
  <h2 id="msgTitle">Tarvik</h2>
  <div class="body"><pre class="text" id="msgText"></pre></div>
  <div class="buttons" id="msgButtons"></div>
</dialog>
<dialog id="editorDlg">
  <h2 id="editorTitle">Configuration file</h2>
  <div class="body"><textarea id="editorText" spellcheck="false"></textarea></div>
  <div class="buttons"><button type="button" id="editorSave" class="primary">Save</button><button type="button" id="editorCancel">Cancel</button></div>
</dialog>
<dialog id="tokenDlg">
  <h2>Access token</h2>
  <div class="body"><label>Token printed by Tarvik at start<input id="tokenInput" autocomplete="off"></label></div>
  <div class="buttons"><button type="button" id="tokenOk" class="primary">OK</button></div>
</dialog>

<script>
"use strict";
const $ = (id) => document.getElementById(id);
let token = "";
let state = { configurations: [], anyRunning: false, noSelection: {} };
let selected = null;          // name of the selected configuration
let logState = { name: null, file: "", offset: 0 };
let busy = false;

(function readToken() {
  const m = /(?:^#|&)token=([0-9a-fA-F]+)/.exec(location.hash);
  if (m) { token = m[1]; sessionStorage.setItem("tarvikToken", token); history.replaceState(null, "", location.pathname); }
  else token = sessionStorage.getItem("tarvikToken") || "";
})();

async function api(method, path, body) {
  const opts = { method, headers: { "X-Tarvik-Token": token } };
  if (body !== undefined) { opts.headers["Content-Type"] = "application/json"; opts.body = JSON.stringify(body); }
  const res = await fetch(path, opts);
  if (res.status === 403) { askToken(); throw new Error("token"); }
  const data = await res.json().catch(() => ({ ok: false, message: "Unexpected answer." }));
  if (!res.ok && res.status !== 404) throw new Error(data.message || "error");
  return data;
}

function setStatus(text, lost) { const s = $("status"); s.textContent = text; s.classList.toggle("lost", !!lost); }

function askToken() {
  const d = $("tokenDlg");
  if (!d.open) { $("tokenInput").value = ""; d.showModal(); }
}
$("tokenOk").onclick = () => {
  token = $("tokenInput").value.trim(); sessionStorage.setItem("tarvikToken", token);
  $("tokenDlg").close(); refresh();
};

// Message boxes: resolve with the pressed button's text.
function messageBox(text, buttons = ["OK"], title = "Tarvik") {
  return new Promise((resolve) => {
    const d = $("msgDlg");
    $("msgTitle").textContent = title; $("msgText").textContent = text;
    const box = $("msgButtons"); box.innerHTML = "";
    buttons.forEach((b, i) => {
      const el = document.createElement("button"); el.type = "button"; el.textContent = b;
      if (i === 0) el.className = "primary";
      el.onclick = () => { d.close(); resolve(b); };
      box.appendChild(el);
    });
    d.oncancel = (e) => { e.preventDefault(); d.close(); resolve(buttons[buttons.length - 1]); };
    d.showModal();
    box.firstChild.focus();
  });
}

// The settings dialog: resolves with {name, port} or null on Cancel.
function settingsDialog(name, port) {
  return new Promise((resolve) => {
    const d = $("settingsDlg");
    $("setName").value = name; $("setPort").value = port ? String(port) : "";
    $("setOk").onclick = () => { d.close(); resolve({ name: $("setName").value, port: $("setPort").value }); };
    $("setCancel").onclick = () => { d.close(); resolve(null); };
    d.oncancel = (e) => { e.preventDefault(); d.close(); resolve(null); };
    d.showModal(); $("setName").focus();
  });
}

function current() { return state.configurations.find((c) => c.name === selected) || null; }

function iconSvg(icon) { return '<svg class="icon" viewBox="0 0 16 16"><use href="#i' + icon + '"/></svg>'; }

function render() {
  const rows = $("rows");
  rows.textContent = "";
  for (const c of state.configurations) {
    const tr = document.createElement("tr");
    tr.dataset.name = c.name;
    tr.dataset.state = c.state;
    if (c.name === selected) tr.className = "selected";
    const cells = [c.name, String(c.port), c.startTime, String(c.requestsSinceStart), String(c.totalRequests)];
    cells.forEach((v, i) => {
      const td = document.createElement("td");
      if (i === 0) { td.className = "name"; td.innerHTML = iconSvg(c.icon); td.title = c.state; td.appendChild(document.createTextNode(v)); }
      else { td.textContent = v; if (i !== 2) td.className = "num"; }
      tr.appendChild(td);
    });
    tr.onclick = () => select(c.name);
    rows.appendChild(tr);
  }
  $("empty").hidden = state.configurations.length > 0;
  // The caster's port and the mount point of every configuration it can serve.
  const mounts = state.configurations.filter((m) => m.mountPoint)
    .map((m) => m.mountPoint + (m.mountPoint !== m.name ? " (" + m.name + ")" : "") + (m.state === "running" ? "" : " [stopped]"));
  $("ntrip").textContent = state.ntripCasterPort
    ? "NTRIP caster on port " + state.ntripCasterPort + " \u00b7 mount points: " + (mounts.length ? mounts.join(", ") : "none")
    : "NTRIP caster off";
  const c = current();
  const b = c ? c.buttons : state.noSelection;
  $("btnAdd").disabled = !b.add;
  $("btnCopy").disabled = !b.copy;
  $("btnRemove").disabled = !b.remove;
  $("btnConfigure").disabled = !b.configure;
  $("btnProblems").disabled = !b.problems;
  $("btnStart").disabled = !b.startStop;
  $("btnStart").textContent = b.startStopText || "Start";
  $("btnExit").disabled = !b.exit;
  $("logTitle").textContent = c ? "Log of " + c.name : "Log (select a configuration)";
}

function select(name) {
  if (selected === name) return;
  selected = name;
  logState = { name, file: "", offset: 0 };
  $("log").textContent = "";
  render();
  followLog();
}

async function followLog() {
  const name = selected;
  if (!name) { $("logFile").textContent = ""; return; }
  const q = "/api/log?name=" + encodeURIComponent(name) + "&file=" + encodeURIComponent(logState.file) + "&offset=" + logState.offset;
  const data = await api("GET", q);
  if (selected !== name || data.file === undefined) return;
  const box = $("log");
  if (data.reset) box.textContent = "";
  if (data.text) box.appendChild(document.createTextNode(data.text));
  logState.file = data.file; logState.offset = data.offset;
  $("logFile").textContent = data.file;
  if (data.text || data.reset) box.scrollTop = box.scrollHeight;
}

async function refresh() {
  if (busy) return;
  try {
    state = await api("GET", "/api/state");
    if (selected && !current()) { selected = null; $("log").textContent = ""; }
    render();
    setStatus(state.anyRunning ? "serving" : "idle");
    await followLog();
  } catch (e) {
    if (e.message !== "token") setStatus("connection lost", true);
  }
}

// Runs one operation with the list refresh held back meanwhile.
async function operation(fn) {
  busy = true;
  try { await fn(); } catch (e) { if (e.message !== "token") await messageBox(e.message); }
  finally { busy = false; await refresh(); }
}

async function settingsLoop(name, port, send) {
  for (;;) {
    const v = await settingsDialog(name, port);
    if (!v) return;
    name = v.name; port = v.port;
    if (name.trim() === "") { await messageBox("Please specify a name."); continue; }
    const r = await send(name, port);
    if (r.ok) { if (r.message) await messageBox(r.message); selected = name; logState = { name, file: "", offset: 0 }; $("log").textContent = ""; return; }
    await messageBox(r.message);
  }
}

$("btnAdd").onclick = () => operation(() =>
  settingsLoop("", "", (name, port) => api("POST", "/api/add", { name, port })));

$("btnCopy").onclick = () => operation(async () => {
  const c = current(); if (!c) return;
  await settingsLoop(c.name, c.port, (name, port) => api("POST", "/api/copy", { source: c.name, name, port }));
});

$("btnRemove").onclick = () => operation(async () => {
  const c = current(); if (!c) return;
  if (await messageBox("Really remove configuration " + c.name, ["Yes", "No"]) !== "Yes") return;
  const r = await api("POST", "/api/remove", { name: c.name });
  if (!r.ok) await messageBox(r.message);
  else { selected = null; $("log").textContent = ""; }
});

$("btnProblems").onclick = () => operation(async () => {
  const c = current(); if (!c) return;
  const r = await api("GET", "/api/problems?name=" + encodeURIComponent(c.name));
  await messageBox(r.ok ? r.text : r.message, ["OK"], "Problems");
});

$("btnStart").onclick = () => operation(async () => {
  const c = current(); if (!c) return;
  const r = await api("POST", c.state === "running" ? "/api/stop" : "/api/start", { name: c.name });
  if (!r.ok) await messageBox(r.message);
});

$("btnConfigure").onclick = () => operation(async () => {
  const c = current(); if (!c) return;
  const r = await api("GET", "/api/file?name=" + encodeURIComponent(c.name));
  if (!r.ok) { await messageBox(r.message); return; }
  const d = $("editorDlg");
  $("editorTitle").textContent = r.path;
  $("editorText").value = r.text;
  const text = await new Promise((resolve) => {
    $("editorSave").onclick = () => { d.close(); resolve($("editorText").value); };
    $("editorCancel").onclick = () => { d.close(); resolve(null); };
    d.oncancel = (e) => { e.preventDefault(); d.close(); resolve(null); };
    d.showModal(); $("editorText").focus();
  });
  if (text === null) return;
  const s = await api("POST", "/api/file", { name: c.name, text });
  if (!s.ok) await messageBox(s.message);
});

$("btnAbout").onclick = () => operation(async () => {
  const a = await api("GET", "/api/about");
  await messageBox(a.name + " " + a.version + "\n\n" + a.family + "\n\n" + a.notice, ["OK"], "About Tarvik");
});

$("btnExit").onclick = async () => {
  busy = true;
  let r;
  try { r = await api("POST", "/api/exit", {}); } catch (e) { busy = false; return; }
  if (!r.ok) { await messageBox(r.message); busy = false; await refresh(); return; }
  clearInterval(timer);
  clearInterval(chartTimer);
  document.body.innerHTML = '<main><div class="card empty" id="ended">Tarvik has ended. You may close this window.</div></main>';
};

// --- requests per second per configuration, from the metrics page ---------
const chart = { points: 60, last: null, series: new Map() };
const chartColors = ["#1f6fb2", "#2e9d57", "#d0812b", "#8e44ad", "#c0392b", "#16a085", "#7f8c8d", "#d35400"];

function unescapeLabel(v) { return v.replace(/\\(["\\n])/g, (_, c) => (c === "n" ? "\n" : c)); }

// Requests counted per configuration (every result code), every configuration listed.
function requestTotals(text) {
  const totals = new Map();
  const label = '"((?:[^"\\\\]|\\\\.)*)"';
  const state = new RegExp("^tarvik_configuration_state\\{configuration=" + label + ",", "gm");
  const req = new RegExp("^tarvik_requests_total\\{configuration=" + label + ",code=" + label + "\\} (\\S+)$", "gm");
  let m;
  while ((m = state.exec(text))) totals.set(unescapeLabel(m[1]), 0);
  while ((m = req.exec(text))) {
    const name = unescapeLabel(m[1]);
    totals.set(name, (totals.get(name) || 0) + Number(m[3]));
  }
  return totals;
}

async function sampleRates() {
  if (!token) return;
  let text;
  try {
    const res = await fetch("/metrics", { headers: { "X-Tarvik-Token": token } });
    if (!res.ok) return;
    text = await res.text();
  } catch (e) { return; }
  const now = performance.now();
  const totals = requestTotals(text);
  const last = chart.last;
  for (const name of [...chart.series.keys()]) if (!totals.has(name)) chart.series.delete(name);
  for (const [name, total] of totals) {
    if (!chart.series.has(name)) chart.series.set(name, []);
    // A configuration that came after the last sample counted from 0 since.
    const prev = last ? last.totals.get(name) ?? 0 : undefined;
    if (prev === undefined) continue;
    const dt = (now - last.time) / 1000;
    const rate = dt > 0 && total >= prev ? (total - prev) / dt : 0;
    const s = chart.series.get(name);
    s.push(rate);
    if (s.length > chart.points) s.shift();
  }
  chart.last = { time: now, totals };
  drawChart();
}

function drawChart() {
  const canvas = $("rateChart");
  const ratio = window.devicePixelRatio || 1;
  const w = canvas.clientWidth, h = canvas.clientHeight;
  if (canvas.width !== Math.round(w * ratio)) canvas.width = Math.round(w * ratio);
  if (canvas.height !== Math.round(h * ratio)) canvas.height = Math.round(h * ratio);
  const g = canvas.getContext("2d");
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, w, h);
  let top = 0;
  for (const s of chart.series.values()) for (const v of s) top = Math.max(top, v);
  // A round top of the scale: 1, 2 or 5 times a power of ten.
  let scale = 1;
  if (top > 0) {
    const p = Math.pow(10, Math.floor(Math.log10(top)));
    scale = [1, 2, 5, 10].map((f) => f * p).find((v) => v >= top);
  }
  const left = 44, right = 10, upper = 10, lower = 18;
  const pw = Math.max(10, w - left - right), ph = Math.max(10, h - upper - lower);
  g.font = "11px sans-serif"; g.fillStyle = "#5f6b7a"; g.strokeStyle = "#e3e8ee"; g.lineWidth = 1;
  // Grid lines at round steps: a fifth of 1, 5 or 10, a quarter of 2.
  const parts = Math.round(scale / Math.pow(10, Math.floor(Math.log10(scale)))) === 2 ? 4 : 5;
  const decimals = Math.max(0, -Math.floor(Math.log10(scale / parts) + 1e-9));
  for (let i = 0; i <= parts; i++) {
    const y = upper + ph - (ph * i) / parts;
    g.beginPath(); g.moveTo(left, y + 0.5); g.lineTo(left + pw, y + 0.5); g.stroke();
    g.fillText(((scale * i) / parts).toFixed(decimals), 4, y + 4);
  }
  g.fillText("-2 min", left, h - 4);
  g.fillText("now", left + pw - 22, h - 4);
  const legend = $("chartLegend");
  legend.textContent = "";
  let i = 0;
  for (const [name, s] of chart.series) {
    const color = chartColors[i++ % chartColors.length];
    const at = (k) => [left + pw - ((s.length - 1 - k) * pw) / (chart.points - 1), upper + ph - (s[k] / scale) * ph];
    g.strokeStyle = color; g.fillStyle = color; g.lineWidth = 1.8; g.beginPath();
    s.forEach((v, k) => { const [x, y] = at(k); if (k === 0) g.moveTo(x, y); else g.lineTo(x, y); });
    g.stroke();
    if (s.length) { const [x, y] = at(s.length - 1); g.beginPath(); g.arc(x, y, 2.5, 0, 2 * Math.PI); g.fill(); }
    const item = document.createElement("span");
    const now = s.length ? s[s.length - 1] : 0;
    item.dataset.name = name;
    item.dataset.rate = String(now);
    item.dataset.peak = String(s.reduce((a, b) => Math.max(a, b), 0));
    const sw = document.createElement("span"); sw.className = "swatch"; sw.style.background = color;
    item.appendChild(sw);
    item.appendChild(document.createTextNode(name + " " + now.toFixed(now >= 10 ? 0 : 1) + "/s"));
    legend.appendChild(item);
  }
  if (!chart.series.size) legend.textContent = "No configurations.";
}

const timer = setInterval(refresh, 2000);
const chartTimer = setInterval(sampleRates, 2000);
window.addEventListener("resize", drawChart);
if (token) { refresh(); sampleRates(); } else askToken();
</script>
</body>
</html>
)TARVIKPAGE";
}

}  // namespace tarvik
