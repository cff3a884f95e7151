// Headless operation of the real program: --start with a good, a broken and
// an unknown configuration, one GGA request, then SIGTERM: the program must
// end with status 0 and write the request total back. Then the same with the
// panel: a stop, the file opened and saved unchanged must keep the total.
//
//   node headless.test.mjs <Tarvik executable>

import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const exe = process.argv[2];
let passed = 0, failures = 0;
const check = (c, what) => { if (c) { passed++; console.log("ok   " + what); } else { failures++; console.log("FAIL " + what); } };

async function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer();
    s.listen(0, "127.0.0.1", () => { const p = s.address().port; s.close(() => resolve(p)); });
  });
}
function nmea(body) {
  let x = 0;
  for (const ch of body) x ^= ch.charCodeAt(0);
  return "$" + body + "*" + x.toString(16).toUpperCase().padStart(2, "0");
}
function request(port) {
  return new Promise((resolve, reject) => {
    const sock = net.connect(port, "127.0.0.1");
    let got = "";
    const timer = setTimeout(() => { sock.destroy(); reject(new Error("no answer")); }, 20000);
    sock.on("connect", () => sock.write(nmea("GPGGA,120000.00,4812.0000,N,01622.0000,E,1,08,1.0,200.0,M,45.0,M,,")));
    sock.on("data", (d) => { got += d.toString("latin1"); if (!sock.q) { sock.q = true; setTimeout(() => sock.end(), 300); } });
    sock.on("close", () => { clearTimeout(timer); resolve(got); });
    sock.on("error", (e) => { clearTimeout(timer); reject(e); });
  });
}

const home = fs.mkdtempSync(path.join(os.tmpdir(), "tarvik-headless-"));
const template = fs.readFileSync(path.join(here, "browser", "ConfigurationTemplate.ini"), "utf8");
const port = await freePort();
const portBad = await freePort();
const write = (name, text) => {
  fs.mkdirSync(path.join(home, "Configs", name), { recursive: true });
  fs.writeFileSync(path.join(home, "Configs", name, name + ".ini"), text);
};
write("Nord", template.replace("PORTNUM=0", "PORTNUM=" + port).replace("TotalNumberOfRequests=0", "TotalNumberOfRequests=41"));
write("Bad", template.replace("PORTNUM=0", "PORTNUM=" + portBad).replace(/^S=1\.0$/m, "S="));
const editor = path.join(home, "editor.sh");
fs.writeFileSync(editor, '#!/bin/sh\necho "; edited" >> "$1"\n', { mode: 0o755 });
fs.writeFileSync(path.join(home, "Tarvik_General.ini"),
  "[ApplicationSettings]\nTextEditor=" + editor + "\n[ServerSettings]\nRTCMFormat=ASCII\n[Configurations]\nPath=.\\Configs\nConfiguration1=Nord\nConfiguration2=Bad\n");

// --edit runs the TextEditor of the general settings on the file and reads it again.
{
  const r = spawnSync(exe, ["--home", home, "--edit", "Nord"], { encoding: "utf8", timeout: 30000 });
  check(r.status === 0, "--edit ends with status 0");
  check(fs.readFileSync(path.join(home, "Configs", "Nord", "Nord.ini"), "utf8").includes("; edited"), "--edit ran the editor on the file");
  check(r.stdout.includes("Configuration Nord read without problems."), "--edit reads the file again");
}

// Daily log files beyond the retention (30 days unless the settings say
// otherwise) go at start; other files in the log folders stay.
const oldLogs = [path.join(home, "Log", "PelLog_02.01.2020.log"), path.join(home, "Log", "Nord", "PelLog_Nord_01.01.2020.log")];
const foreignLog = path.join(home, "Log", "Nord", "notes_01.01.2020.log");
fs.mkdirSync(path.join(home, "Log", "Nord"), { recursive: true });
for (const f of [...oldLogs, foreignLog]) fs.writeFileSync(f, "old\n");

const proc = spawn(exe, ["--home", home, "--start", "Nord", "--start", "Bad", "--start", "Nowhere"],
                   { stdio: ["ignore", "pipe", "pipe"] });
let out = "", err = "";
proc.stdout.on("data", (d) => { out += d; });
proc.stderr.on("data", (d) => { err += d; });
const exited = new Promise((resolve) => proc.on("exit", (code, sig) => resolve(code ?? sig)));

try {
  await new Promise((resolve, reject) => {
    const t = setTimeout(() => reject(new Error("not started: " + out + err)), 30000);
    // The refusals come after the started configuration; the last is Nowhere.
    const poll = setInterval(() => { if (out.includes("serves on port") && err.includes("Nowhere")) { clearInterval(poll); clearTimeout(t); resolve(); } }, 50);
  });
  check(out.includes(`configuration Nord serves on port ${port}`), "valid configuration started");
  check(!out.includes("Bad serves"), "broken configuration not started");
  check(err.includes("Bad has problems") && err.includes("Information about transformation is missing."), "refusal with its reason");
  check(err.includes("Nowhere is not in the configuration list"), "unknown name refused");
  const logDir = path.join(home, "Log");
  const programLog = fs.readdirSync(logDir).filter((f) => f.startsWith("PelLog_")).map((f) => fs.readFileSync(path.join(logDir, f), "utf8")).join("");
  check(programLog.includes("Starting Tarvik....") && programLog.includes("Bad has problems"), "program log tells what was refused");
  check(oldLogs.every((f) => !fs.existsSync(f)) && fs.existsSync(foreignLog), "expired daily logs removed at start, other files kept");
  check(programLog.includes("Log retention: removed 2 daily log files (keeping 30 days)."), "program log tells what retention removed");

  const answer = await request(port);
  check(answer.length > 0, "the started configuration answers");
  await new Promise((r) => setTimeout(r, 300));
  proc.kill("SIGTERM");
  const code = await Promise.race([exited, new Promise((r) => setTimeout(() => r("timeout"), 20000))]);
  check(code === 0, "SIGTERM ends the program with status 0 (" + code + ")");
  const total = /^TotalNumberOfRequests=(.*)$/m.exec(fs.readFileSync(path.join(home, "Configs", "Nord", "Nord.ini"), "utf8"));
  check(total && total[1] === "42", "total written back (" + (total && total[1]) + ")");

  // Stop, open the file and save it as it is, in the panel: every write of
  // the total on the way must leave the count as it is.
  const panelPort = await freePort();
  const p2 = spawn(exe, ["--home", home, "--start", "Nord", "--panel", "--panel-port", String(panelPort)],
                   { stdio: ["ignore", "pipe", "pipe"] });
  let out2 = "";
  p2.stdout.on("data", (d) => { out2 += d; });
  p2.stderr.on("data", (d) => { out2 += d; });
  const exited2 = new Promise((resolve) => p2.on("exit", (code, sig) => resolve(code ?? sig)));
  try {
    await new Promise((resolve, reject) => {
      const t = setTimeout(() => reject(new Error("panel not started: " + out2)), 30000);
      const poll = setInterval(() => { if (/Access token: \S+/.test(out2)) { clearInterval(poll); clearTimeout(t); resolve(); } }, 50);
    });
    const token = /Access token: (\S+)/.exec(out2)[1];
    const api = async (method, route, body) => {
      const r = await fetch(`http://127.0.0.1:${panelPort}${route}`, {
        method, headers: { "X-Tarvik-Token": token, "Content-Type": "application/json" },
        body: body === undefined ? undefined : JSON.stringify(body) });
      return r.json();
    };
    await request(port);
    await request(port);
    check((await api("POST", "/api/stop", { name: "Nord" })).ok, "panel stops the configuration");
    const file = await api("GET", "/api/file?name=Nord");
    check(file.ok, "panel reads the file");
    check((await api("POST", "/api/file", { name: "Nord", text: file.text })).ok, "panel saves the file");
    const nord = (await api("GET", "/api/state")).configurations.find((c) => c.name === "Nord");
    check(nord && nord.totalRequests === 44, "the total counts each request once (" + (nord && nord.totalRequests) + ")");
    p2.kill("SIGTERM");
    const code2 = await Promise.race([exited2, new Promise((r) => setTimeout(() => r("timeout"), 20000))]);
    check(code2 === 0, "SIGTERM ends the program with its panel (" + code2 + ")");
    const total2 = /^TotalNumberOfRequests=(.*)$/m.exec(fs.readFileSync(path.join(home, "Configs", "Nord", "Nord.ini"), "utf8"));
    check(total2 && total2[1] === "44", "total on disk (" + (total2 && total2[1]) + ")");
  } finally {
    if (p2.exitCode === null) p2.kill("SIGKILL");
  }
} catch (e) {
  failures++;
  console.log("FAIL " + e.stack + "\nstdout:\n" + out + "\nstderr:\n" + err);
} finally {
  if (proc.exitCode === null) proc.kill("SIGKILL");
  if (failures === 0) fs.rmSync(home, { recursive: true, force: true });
  else console.log("program folder kept: " + home);
}
console.log(`${passed} passed, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
