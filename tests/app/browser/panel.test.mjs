// Drives the control panel of a real Tarvik in headless chromium:
// add, configure, start, a GGA request with its counters and its rate in
// the chart, stop, copy, remove, the enabling rules, the refusal texts, the
// token and host checks, and exit. Screenshots of the main page go to the output folder.
//
//   node panel.test.mjs <Tarvik executable> <output folder>
// Exit code 77 (skipped) only when chromium is not installed.

import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const CHROMIUM = "/usr/bin/chromium";
if (!fs.existsSync(CHROMIUM)) {
  console.log("chromium is not installed; skipping the browser test");
  process.exit(77);
}
const { chromium } = await import("playwright-core").catch(() => {
  console.error("playwright-core is missing: run npm ci in tests/app/browser (tools/install-deps.sh does)");
  process.exit(1);
});

const here = path.dirname(fileURLToPath(import.meta.url));
const [exe, outDir] = process.argv.slice(2);
if (!exe || !outDir) {
  console.error("usage: node panel.test.mjs <Tarvik> <output folder>");
  process.exit(2);
}
fs.mkdirSync(outDir, { recursive: true });

let failures = 0;
let passed = 0;
function check(cond, what) {
  if (cond) { passed++; console.log("ok   " + what); }
  else { failures++; console.log("FAIL " + what); }
}

async function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.listen(0, "127.0.0.1", () => { const p = s.address().port; s.close(() => resolve(p)); });
    s.on("error", reject);
  });
}

function nmea(body) {
  let x = 0;
  for (const ch of body) x ^= ch.charCodeAt(0);
  return "$" + body + "*" + x.toString(16).toUpperCase().padStart(2, "0");
}

// One GGA request; the client then hangs up (a "quit*" would count as a request too).
function request(port) {
  return new Promise((resolve, reject) => {
    const sock = net.connect(port, "127.0.0.1");
    let got = "";
    const timer = setTimeout(() => { sock.destroy(); reject(new Error("no answer")); }, 20000);
    sock.on("connect", () => sock.write(nmea("GPGGA,120000.00,4812.0000,N,01622.0000,E,1,08,1.0,200.0,M,45.0,M,,")));
    sock.on("data", (d) => {
      got += d.toString("latin1");
      if (!sock.quitSent) { sock.quitSent = true; setTimeout(() => sock.end(), 300); }
    });
    sock.on("close", () => { clearTimeout(timer); resolve(got); });
    sock.on("error", (e) => { clearTimeout(timer); reject(e); });
  });
}

function rawHttp(port, method, pathName, headers, body) {
  return new Promise((resolve) => {
    const req = http.request({ host: "127.0.0.1", port, method, path: pathName, headers }, (res) => {
      res.resume(); res.on("end", () => resolve(res.statusCode));
    });
    req.on("error", () => resolve(-1));
    if (body) req.write(body);
    req.end();
  });
}

// --- a program folder of our own -----------------------------------------
const home = fs.mkdtempSync(path.join(os.tmpdir(), "tarvik-panel-"));
fs.mkdirSync(path.join(home, "Configs"));
fs.copyFileSync(path.join(here, "ConfigurationTemplate.ini"), path.join(home, "ConfigurationTemplate.ini"));
fs.writeFileSync(path.join(home, "Tarvik_General.ini"),
  "[ApplicationSettings]\nTextEditor=\n[ServerSettings]\nRTCMFormat=ASCII\nErrorHandling=ERRORMESSAGES\n" +
  "[Configurations]\nPath=.\\Configs\n");
const ini = (name) => fs.readFileSync(path.join(home, "Configs", name, name + ".ini"), "utf8");
const key = (text, k) => (new RegExp("^" + k + "=(.*)$", "m").exec(text) || [])[1];

const tarvik = spawn(exe, ["--home", home, "--panel-port", "0"], { stdio: ["ignore", "pipe", "pipe"] });
let output = "";
tarvik.stderr.on("data", (d) => { output += d; });
const exited = new Promise((resolve) => tarvik.on("exit", (code) => resolve(code)));
const url = await new Promise((resolve, reject) => {
  const t = setTimeout(() => reject(new Error("no panel URL; output: " + output)), 30000);
  tarvik.stdout.on("data", (d) => {
    output += d;
    const m = /Control panel: (http:\/\/\S+)/.exec(output);
    if (m) { clearTimeout(t); resolve(m[1]); }
  });
  tarvik.on("exit", () => reject(new Error("Tarvik ended early: " + output)));
});
const panelPort = Number(new URL(url).port);
const token = /#token=([0-9a-f]+)/.exec(url)[1];
check(fs.readFileSync(path.join(home, "Tarvik_Panel.token"), "utf8").trim() === token, "token stored beside the general settings");

const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), "tarvik-chromium-"));
const context = await chromium.launchPersistentContext(userDataDir, {
  executablePath: CHROMIUM,
  headless: true,
  viewport: { width: 1200, height: 820 },
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
const page = context.pages()[0] || (await context.newPage());
page.setDefaultTimeout(30000);  // generous: the suite may run beside a sanitizer build
const pageErrors = [];
page.on("pageerror", (e) => pageErrors.push(e.message));

const enabled = (id, on) => page.waitForFunction(([i, e]) => document.getElementById(i).disabled === !e, [id, on]);
const isEnabled = async (id) => !(await page.locator("#" + id).isDisabled());
async function messageBox(pressed = null) {
  await page.locator("#msgDlg[open]").waitFor();
  const text = await page.locator("#msgText").textContent();
  const buttons = page.locator("#msgButtons button");
  if (pressed) await page.locator("#msgButtons").getByRole("button", { name: pressed }).click();
  else await buttons.first().click();
  await page.locator("#msgDlg[open]").waitFor({ state: "detached" }).catch(() => {});
  await page.waitForFunction(() => !document.getElementById("msgDlg").open);
  return text;
}
async function settings(name, port) {
  await page.locator("#settingsDlg[open]").waitFor();
  await page.fill("#setName", name);
  await page.fill("#setPort", String(port));
  await page.click("#setOk");
}
const row = (name) => page.locator(`#rows tr[data-name="${name}"]`);
const cell = async (name, i) => (await row(name).locator("td").nth(i).textContent()).trim();

try {
  await page.goto(url);
  await page.locator("#status").filter({ hasText: "idle" }).waitFor();
  await page.screenshot({ path: path.join(outDir, "panel-empty.png") });

  // No selection: only Add and Exit.
  check(await isEnabled("btnAdd") && await isEnabled("btnExit"), "no selection: Add and Exit enabled");
  for (const id of ["btnCopy", "btnRemove", "btnConfigure", "btnProblems", "btnStart"])
    check(!(await isEnabled(id)), "no selection: " + id + " disabled");

  // Add with an empty name, then properly.
  const port1 = await freePort();
  await page.click("#btnAdd");
  check(await page.locator("#settingsDlg h2").textContent() === "Transformation Module Settings", "settings dialog title");
  await settings("", port1);
  check(await messageBox() === "Please specify a name.", "empty name refused with its text");
  await settings("Nord", port1);
  check(await messageBox() === "The configuration Nord was added. Please configure the module before start.", "add message");
  await row("Nord").waitFor();
  check(await cell("Nord", 1) === String(port1), "port shown");
  check(key(ini("Nord"), "PORTNUM") === String(port1), "PORTNUM written into the new file");

  // A second configuration on the same port is refused and the dialog comes back.
  await page.click("#btnAdd");
  await settings("Sued", port1);
  check(await messageBox() === `Port ${port1} is already in use. Please choose another port.`, "port refusal text");
  await page.locator("#settingsDlg[open]").waitFor();
  check(await page.inputValue("#setName") === "Sued", "dialog reopened with the values");
  await page.click("#setCancel");
  check(!fs.existsSync(path.join(home, "Configs", "Sued")), "refused configuration left no folder");

  // Select and configure: the editor writes the file and the module reads it again.
  await row("Nord").click();
  await enabled("btnStart", true);
  check(await row("Nord").getAttribute("data-state") === "ready", "new configuration is ready");
  for (const id of ["btnAdd", "btnCopy", "btnRemove", "btnConfigure"]) check(await isEnabled(id), "ready: " + id + " enabled");
  check(!(await isEnabled("btnProblems")), "ready: Problems disabled");
  await page.click("#btnConfigure");
  await page.locator("#editorDlg[open]").waitFor();
  const text = await page.inputValue("#editorText");
  check(text.includes("PORTNUM=" + port1), "editor shows the file");
  await page.fill("#editorText", text.replace("MeanGeoidHeight=48.5", "MeanGeoidHeight=47.25"));
  await page.click("#editorSave");
  await page.waitForFunction(() => !document.getElementById("editorDlg").open);
  // The dialog may close before the save's answer is in: give the file a moment.
  for (let i = 0; i < 50 && key(ini("Nord"), "MeanGeoidHeight") !== "47.25"; ++i) await page.waitForTimeout(100);
  check(key(ini("Nord"), "MeanGeoidHeight") === "47.25", "editor saved the file");

  // Start: the rules while running.
  await page.click("#btnStart");
  await page.waitForFunction(() => document.getElementById("btnStart").textContent === "Stop");
  await enabled("btnExit", false);
  for (const id of ["btnAdd", "btnCopy", "btnRemove", "btnConfigure"]) check(!(await isEnabled(id)), "running: " + id + " disabled");
  check(await row("Nord").getAttribute("data-state") === "running", "running state");
  check(/^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$/.test(await cell("Nord", 2)), "start time shown");
  check((await page.locator("#ntrip").textContent()) === "NTRIP caster off", "the NTRIP line says the caster is off");

  const answer = await request(port1);
  check(answer.length > 0, "the configuration answered a GGA request");
  await page.waitForFunction(() => {
    const r = document.querySelector('#rows tr[data-name="Nord"]');
    return r && r.children[3].textContent === "1" && r.children[4].textContent === "1";
  });
  check(true, "counters show the request");
  // The chart samples /metrics every 2 s: the request shows as a rate above 0.
  await page.waitForFunction(() => Number(document.querySelector('#chartLegend [data-name="Nord"]')?.dataset.peak) > 0);
  check(true, "chart shows the configuration's requests per second");
  const drawn = await page.locator("#rateChart").evaluate((c) => {
    const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
    for (let i = 3; i < d.length; i += 4) if (d[i] !== 0) return true;
    return false;
  });
  check(drawn, "chart drawn");
  // A page opened while configurations exist charts them from its first samples.
  await page.reload();
  await page.waitForFunction(() => document.querySelector('#chartLegend [data-name="Nord"]') !== null);
  check(true, "reloaded page charts the running configuration");
  await row("Nord").click();  // the selection does not survive the reload
  await page.waitForFunction(() => document.getElementById("log").textContent.includes("Server is ready for NMEA-Requests..."));
  check(true, "log view follows the configuration's log");
  const logBox = await page.locator("#log").evaluate((e) => e.scrollHeight - e.clientHeight - e.scrollTop);
  check(logBox <= 2, "log view scrolled to the end");
  await page.screenshot({ path: path.join(outDir, "panel-running.png") });

  // Refusals over the wire: no token, a wrong token, a foreign Host.
  check(await rawHttp(panelPort, "POST", "/api/stop", { "Content-Type": "application/json" }, '{"name":"Nord"}') === 403, "no token: refused");
  check(await rawHttp(panelPort, "POST", "/api/stop", { "X-Tarvik-Token": "0".repeat(32) }, '{"name":"Nord"}') === 403, "wrong token: refused");
  check(await rawHttp(panelPort, "GET", "/", { Host: "attacker.example:" + panelPort }) === 403, "foreign Host: refused");
  check(await rawHttp(panelPort, "GET", "/metrics", {}) === 403, "metrics on the panel port: token needed");
  check(await rawHttp(panelPort, "GET", "/metrics", { "X-Tarvik-Token": token }) === 200, "metrics with the token");
  check(await rawHttp(panelPort, "GET", "/api/file?name=..%2F..%2FTarvik_General", { "X-Tarvik-Token": token }) === 404, "no file outside the set");
  const viaPage = await page.evaluate(async () => (await fetch("/api/stop", { method: "POST", body: '{"name":"Nord"}' })).status);
  check(viaPage === 403, "page request without the token refused");
  check(await row("Nord").getAttribute("data-state") === "running", "still running after the refused stops");

  // Stop.
  await page.click("#btnStart");
  await page.waitForFunction(() => document.getElementById("btnStart").textContent === "Start");
  await enabled("btnExit", true);
  check(await cell("Nord", 2) === "", "start time empty while stopped");
  check(key(ini("Nord"), "TotalNumberOfRequests") === "1", "total written back at stop");

  // Copy: preset from the selection, new name and port.
  const port2 = await freePort();
  await page.click("#btnCopy");
  await page.locator("#settingsDlg[open]").waitFor();
  check(await page.inputValue("#setName") === "Nord" && await page.inputValue("#setPort") === String(port1), "copy dialog preset");
  await settings("Nord2", port2);
  await row("Nord2").waitFor();
  const copied = ini("Nord2");
  check(key(copied, "PORTNUM") === String(port2) && key(copied, "TotalNumberOfRequests") === "0", "copy: own port and total");
  check(key(copied, "MeanGeoidHeight") === "47.25", "copy inherits the edited settings");

  // A broken configuration shows its problems and cannot start.
  await row("Nord2").click();
  await enabled("btnConfigure", true);
  await page.click("#btnConfigure");
  await page.locator("#editorDlg[open]").waitFor();
  await page.fill("#editorText", (await page.inputValue("#editorText")).replace(/^S=1\.0$/m, "S="));
  await page.click("#editorSave");
  await page.waitForFunction(() => document.querySelector('#rows tr[data-name="Nord2"]')?.dataset.state === "problems");
  await enabled("btnProblems", true);
  check(!(await isEnabled("btnStart")), "problems: Start disabled");
  await page.screenshot({ path: path.join(outDir, "panel-problems.png") });
  await page.click("#btnProblems");
  const problems = await messageBox();
  check(problems.startsWith("Problems in configuration: \n\n") && problems.includes("Information about transformation is missing."), "problem text");

  // Remove with its question; No keeps it, Yes removes it.
  await page.click("#btnRemove");
  check(await messageBox("No") === "Really remove configuration Nord2", "remove question");
  check(await row("Nord2").count() === 1, "No keeps the configuration");
  await page.click("#btnRemove");
  await messageBox("Yes");
  await row("Nord2").waitFor({ state: "detached" });
  const left = fs.readdirSync(path.join(home, "Configs"));
  check(left.some((f) => /^Nord2__deleted__\d\d\.\d\d\.\d{4}_\d\d\.\d\d\.\d\d$/.test(f)) && !left.includes("Nord2"), "folder renamed on removal");
  const general = fs.readFileSync(path.join(home, "Tarvik_General.ini"), "utf8");
  check(key(general, "Configuration1") === "Nord" && key(general, "Configuration2") === "", "general settings rewritten");

  // About, then Exit.
  await page.click("#btnAbout");
  check((await messageBox()).startsWith("Tarvik "), "about box");
  await page.screenshot({ path: path.join(outDir, "panel-main.png") });
  await page.click("#btnExit");
  await page.locator("#ended").waitFor();
  const code = await Promise.race([exited, new Promise((r) => setTimeout(() => r("timeout"), 20000))]);
  check(code === 0, "program ended with status 0 after Exit (" + code + ")");
  check(pageErrors.length === 0, "no script errors on the page" + (pageErrors.length ? ": " + pageErrors.join("; ") : ""));
} catch (e) {
  failures++;
  console.log("FAIL " + (e && e.stack ? e.stack : e));
  await page.screenshot({ path: path.join(outDir, "panel-failure.png") }).catch(() => {});
  console.log("Tarvik output:\n" + output);
  if (pageErrors.length) console.log("script errors on the page:\n" + pageErrors.join("\n"));
} finally {
  await context.close().catch(() => {});
  if (tarvik.exitCode === null) tarvik.kill("SIGTERM");
  fs.rmSync(userDataDir, { recursive: true, force: true });
  if (failures === 0) fs.rmSync(home, { recursive: true, force: true });
  else console.log("program folder kept: " + home);
}
console.log(`${passed} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
