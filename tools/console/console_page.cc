#include "console_page.h"

namespace rondel {
namespace tools {

// Every text from the venue goes in through textContent, never as markup.
const char kConsolePage[] = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Rondel venue console</title>
<style>
body { font: 14px/1.4 sans-serif; margin: 0; background: #f4f4f2; color: #222; }
#banner { padding: 14px 20px; color: #fff; background: #666; }
#banner.database { background: #1e7b34; }
#banner.offline { background: #b45f06; }
#banner.nothing { background: #b3261e; }
#banner.lost { background: #555; }
#verdict { font-size: 20px; font-weight: bold; }
#since { opacity: 0.9; }
main { display: grid; grid-template-columns: repeat(auto-fill, minmax(380px, 1fr));
  gap: 12px; padding: 12px; }
section { background: #fff; border: 1px solid #ddd; border-radius: 4px; padding: 8px 12px; }
section.wide { grid-column: 1 / -1; }
h2 { font-size: 15px; margin: 0 0 6px; }
.bad { color: #b3261e; font-weight: bold; }
.good { color: #1e7b34; font-weight: bold; }
.warn { color: #b45f06; }
table { border-collapse: collapse; width: 100%; }
td, th { text-align: left; padding: 1px 6px 1px 0; vertical-align: top; }
td.n { text-align: right; }
#datagrams { font-family: monospace; font-size: 12px; max-height: 260px; overflow-y: auto; }
#datagrams div.failure { color: #b3261e; }
#chart rect.all { fill: #4a7ab5; }
#chart rect.failures { fill: #b3261e; }
#chart { background: #fafafa; }
#chart-scale { font-size: 12px; color: #555; }
</style>
</head>
<body>
<div id="banner"><div id="verdict">asking the venue...</div><div id="since"></div></div>
<main>
<section><h2>Database</h2><div id="database"></div></section>
<section><h2>Plays</h2><div><span id="kept-count">-</span> kept for the database</div>
  <div id="kept-oldest"></div><div id="set-aside"></div></section>
<section><h2>Fire alarm</h2><div id="fire-alarm"></div></section>
<section><h2>Snapshot set</h2><div id="snapshots"></div></section>
<section class="wide"><h2>Recent errors in the log</h2><div id="errors"></div></section>
<section class="wide"><h2>Diagnostic datagrams</h2>
  <svg id="chart" width="100%" height="80" viewBox="0 0 600 74" preserveAspectRatio="none"></svg>
  <div id="chart-scale"></div>
  <div><label>Filter <input id="filter" placeholder="text to look for"></label>
    <span id="datagram-count"></span></div>
  <div id="datagrams"></div></section>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}
function fill(id, ...children) { $(id).replaceChildren(...children); }
function line(...parts) {
  const d = el("div");
  for (const p of parts) d.append(typeof p === "string" ? document.createTextNode(p) : p);
  return d;
}
function age(iso, now) {
  if (!iso) return "";
  const s = Math.max(0, (Date.parse(now) - Date.parse(iso)) / 1000);
  const [n, unit] = s < 120 ? [s, "second"] : s < 7200 ? [s / 60, "minute"]
      : s < 172800 ? [s / 3600, "hour"] : [s / 86400, "day"];
  const k = Math.floor(n);
  return " (" + k + " " + unit + (k === 1 ? "" : "s") + " ago)";
}
function play(p) {
  return "media " + p.media_id + " in room " + p.room_address + ", " + p.begin_time +
      " to " + p.end_time;
}

function showStatus(s, live) {
  const banner = $("banner");
  banner.className = s.verdict;
  $("verdict").textContent = s.summary;
  $("since").textContent = (live.since_change ? "since " + live.since
      : "since at least " + live.since + ", when the console first looked") +
      (s.log.last_change ? "; last change in the log: " + s.log.last_change : "");

  const db = s.database;
  let state;
  if (db.logged_in) state = el("span", "reachable, login accepted in " + db.login_ms + " ms", "good");
  else if (!db.reachable) state = el("span", "unreachable: " + db.connect_error, "bad");
  else state = el("span", "refuses: " + (db.server_messages.map(
      (m) => m.number + " " + m.text).join("; ") || "no login"), "bad");
  fill("database", line(db.target + " \u201c" + db.database + "\u201d as " + db.user + ": ", state),
       line("last success: " + (live.last_success || "not since the console started")));

  const plays = s.plays;
  $("kept-count").textContent = plays.kept;
  fill("kept-oldest", plays.oldest ? line("oldest: " + play(plays.oldest)) : line(""));
  const aside = el("div", plays.set_aside.length + " set aside (refused by the server)");
  const list = el("ul");
  for (const p of plays.set_aside) list.append(el("li", play(p)));
  fill("set-aside", aside, list);

  const fire = s.fire_alarm;
  const fireLines = [line(fire.answers === "whole"
      ? "answers remembered for " + fire.rooms + (fire.rooms === 1 ? " room" : " rooms") +
        ", written " + fire.written
      : "no answers remembered (" + fire.answers + ")")];
  if (fire.answers === "whole") {
    fireLines.push(line("default: " + (fire.default ?? "none")), line("page: " + (fire.page ?? "none")));
  }
  for (const w of s.settings.warnings) {
    if (w.includes("FileServerIP")) fireLines.push(el("div", w, "bad"));
  }
  fill("fire-alarm", ...fireLines);

  const snap = s.snapshots;
  const counts = Object.entries(snap.records).map(([t, n]) => t + " " + (n ?? "damaged")).join(", ");
  fill("snapshots", line(snap.directory + ": " + (snap.exists ? (snap.writable ? "writable" : "NOT writable") : "absent")),
       line("written " + (snap.written ? snap.written + age(snap.written, s.gathered) : "never")),
       line(counts || "no tables"),
       el("div", "verify: " + (snap.verify || "-"), snap.loads ? "good" : "bad"));

  const rows = s.log.problems.slice().reverse().map((p) => {
    const tr = el("tr");
    tr.append(el("td", p.count, "n"), el("td", p.level, p.level === "error" ? "bad" : "warn"),
              el("td", p.text), el("td", p.first + " \u2026 " + p.last));
    return tr;
  });
  const table = el("table");
  table.append(...rows);
  fill("errors", rows.length ? table : el("div", "no errors in " + s.log.file));
}

const kept = [];
let next = 0;
function showDatagrams() {
  const filter = $("filter").value.toLowerCase();
  const shown = kept.filter((d) => !filter || d.text.toLowerCase().includes(filter));
  fill("datagrams", ...shown.slice(-200).reverse().map(
      (d) => el("div", d.time + " " + d.sender + " " + d.text, d.failure ? "failure" : "")));
  $("datagram-count").textContent = " " + next + " received, " + shown.length + " shown";
}
function showChart(minutes) {
  const svg = $("chart"), ns = "http://www.w3.org/2000/svg";
  const top = Math.max(1, ...minutes.map((m) => m.datagrams));
  const w = 600 / minutes.length, h = 74;
  const parts = [];
  minutes.forEach((m, i) => {
    for (const [cls, n] of [["all", m.datagrams], ["failures", m.failures]]) {
      if (!n) continue;
      const r = document.createElementNS(ns, "rect");
      const bar = (n / top) * h;
      r.setAttribute("class", cls);
      r.setAttribute("x", i * w + 1); r.setAttribute("width", w - 2);
      r.setAttribute("y", h - bar); r.setAttribute("height", bar);
      const tip = document.createElementNS(ns, "title");
      tip.textContent = m.start + ": " + m.datagrams + " datagrams, " + m.failures + " failures";
      r.append(tip);
      parts.push(r);
    }
  });
  $("chart-scale").textContent = "datagrams per minute, " + minutes[0].start + " to " +
      minutes[minutes.length - 1].start + " (highest " + top + "; failures in red)";
  svg.replaceChildren(...parts);
}

async function refresh() {
  try {
    const [status, live] = await Promise.all([
      fetch("/status.json", {cache: "no-store"}).then((r) => r.json()),
      fetch("/live.json?after=" + next, {cache: "no-store"}).then((r) => r.json())]);
    showStatus(status, live);
    kept.push(...live.datagrams);
    if (kept.length > 500) kept.splice(0, kept.length - 500);
    next = live.next;
    showDatagrams();
    showChart(live.minutes);
  } catch (e) {
    $("banner").className = "lost";
    $("since").textContent = "the console does not answer (" + e + "); trying again";
  }
  setTimeout(refresh, 2000);
}
$("filter").addEventListener("input", showDatagrams);
refresh();
</script>
</body>
</html>
)page";

}  // namespace tools
}  // namespace rondel
