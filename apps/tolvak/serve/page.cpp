#include "tolvak/serve/page.h"

namespace tolvak::cli {

const char* const kWebPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tolvak</title>
<style>
  body { margin: 0; background: #111; color: #ccc; font: 16px system-ui, sans-serif; }
  main { max-width: 60rem; margin: 2rem auto; padding: 0 1rem; }
  h1 { font-size: 1rem; font-weight: normal; color: #888; margin: 0 0 1rem; }
  #display { background: #000; border: 2px solid #333; border-radius: 6px; padding: 1.5rem;
             display: flex; justify-content: flex-end; gap: 0.6rem; min-height: 9rem; }
  #display svg { height: 9rem; width: auto; }
  .seg { fill: #2a0000; }
  .seg.on { fill: #ff2020; filter: drop-shadow(0 0 4px #ff0000); }
  #status { display: flex; gap: 2rem; margin-top: 1rem; flex-wrap: wrap; align-items: center; }
  #mark { font-weight: bold; padding: 0.2rem 0.8rem; border-radius: 4px; }
  #mark.stable { background: #0a5; color: #fff; }
  #mark.motion { background: #a60; color: #fff; }
  #mark.none { background: #333; color: #888; }
  #port.connected { color: #5c5; }
  #port.waiting, #port.closed, #port.blocked { color: #fa3; }
  #port.offline { color: #f55; }
</style>
</head>
<body>
<main>
  <h1>Tolvak: the weight on the scale</h1>
  <div id="display" role="img" aria-label="weight"></div>
  <div id="status">
    <span id="mark" class="none">no reading</span>
    <span>Port: <span id="port">connecting</span></span>
    <span>Last reading: <span id="time">none</span></span>
  </div>
</main>
<script>
"use strict";
// Seven segments a to g, and the decimal point, on a 60 x 110 box.
const SEGMENTS = {
  a: "10,4 50,4 44,10 16,10", b: "52,6 52,52 46,48 46,12", c: "52,58 52,104 46,98 46,62",
  d: "10,106 50,106 44,100 16,100", e: "8,58 8,104 14,98 14,62", f: "8,6 8,52 14,48 14,12",
  g: "10,55 16,50 44,50 50,55 44,60 16,60"
};
const GLYPHS = {
  "0": "abcdef", "1": "bc", "2": "abdeg", "3": "abcdg", "4": "bcfg", "5": "acdfg",
  "6": "acdefg", "7": "abc", "8": "abcdefg", "9": "abcdfg", "-": "g", "E": "adefg",
  "+": "", " ": ""
};
const NS = "http://www.w3.org/2000/svg";
function digit(ch, point) {
  const svg = document.createElementNS(NS, "svg");
  svg.setAttribute("viewBox", "0 0 68 110");
  const lit = GLYPHS[ch] !== undefined ? GLYPHS[ch] : "g";
  for (const [name, points] of Object.entries(SEGMENTS)) {
    const p = document.createElementNS(NS, "polygon");
    p.setAttribute("points", points);
    p.setAttribute("class", lit.includes(name) ? "seg on" : "seg");
    svg.appendChild(p);
  }
  const dp = document.createElementNS(NS, "circle");
  dp.setAttribute("cx", "61"); dp.setAttribute("cy", "103"); dp.setAttribute("r", "5");
  dp.setAttribute("class", point ? "seg on" : "seg");
  svg.appendChild(dp);
  return svg;
}
function show(text) {
  const display = document.getElementById("display");
  display.replaceChildren();
  display.setAttribute("aria-label", text);
  display.dataset.weight = text;
  const chars = [...text.trim()];
  for (let i = 0; i < chars.length; ++i) {
    if (chars[i] === ".") continue;
    display.appendChild(digit(chars[i], chars[i + 1] === "."));
  }
}
function showPort(port) {
  const el = document.getElementById("port");
  el.className = port.state;
  el.textContent = port.diagnosis ? port.diagnosis : port.error && port.state !== "connected"
    ? port.message + " (" + (port.hint || port.error) + ")" : port.message;
}
function showReading(r) {
  show(r.weight);
  const mark = document.getElementById("mark");
  mark.className = r.stable ? "stable" : "motion";
  mark.textContent = r.stable ? "STABLE" : "MOTION";
  document.getElementById("time").textContent = new Date(r.time).toLocaleTimeString();
}
show("8888888");
const events = new EventSource("api/events");
events.addEventListener("reading", e => showReading(JSON.parse(e.data)));
events.addEventListener("port", e => showPort(JSON.parse(e.data)));
events.onerror = () => {
  const el = document.getElementById("port");
  el.className = "offline";
  el.textContent = "no connection to tolvak serve (retrying)";
};
</script>
</body>
</html>
)PAGE";

} // namespace tolvak::cli
