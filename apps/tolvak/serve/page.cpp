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
  section { margin-bottom: 2rem; }
  h2 { font-size: 1.2rem; font-weight: normal; color: #eee; margin: 0 0 0.5rem; }
  .display { background: #000; border: 2px solid #333; border-radius: 6px; padding: 1.5rem;
             display: flex; justify-content: flex-end; gap: 0.6rem; min-height: 9rem; }
  .display svg { height: 9rem; width: auto; }
  .seg { fill: #2a0000; }
  .seg.on { fill: #ff2020; filter: drop-shadow(0 0 4px #ff0000); }
  .status { display: flex; gap: 2rem; margin-top: 1rem; flex-wrap: wrap; align-items: center; }
  .mark { font-weight: bold; padding: 0.2rem 0.8rem; border-radius: 4px; }
  .mark.stable { background: #0a5; color: #fff; }
  .mark.motion { background: #a60; color: #fff; }
  .mark.none { background: #333; color: #888; }
  .port.connected { color: #5c5; }
  .port.waiting, .port.closed, .port.blocked { color: #fa3; }
  .port.offline { color: #f55; }
</style>
</head>
<body>
<main>
  <h1>Tolvak: the weight on the scale</h1>
  <div id="scales"></div>
</main>
<template id="scale">
  <section>
    <h2 class="name"></h2>
    <div class="display" role="img" aria-label="weight"></div>
    <div class="status">
      <span class="mark none">no reading</span>
      <span>Port: <span class="port">connecting</span></span>
      <span>Last reading: <span class="time">none</span></span>
    </div>
  </section>
</template>
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
// One panel a scale; the default scale's parts keep the ids of the one-scale page.
const panels = new Map();
let defaultScale = null;
function panel(name) {
  if (panels.has(name)) return panels.get(name);
  const section = document.getElementById("scale").content.firstElementChild.cloneNode(true);
  const part = cls => section.querySelector("." + cls);
  const p = { display: part("display"), mark: part("mark"), port: part("port"),
              time: part("time") };
  part("name").textContent = name;
  if (name === defaultScale || defaultScale === null) {
    defaultScale = name;
    for (const [id, el] of Object.entries(p)) el.id = id;
  }
  document.getElementById("scales").appendChild(section);
  panels.set(name, p);
  show(p, "8888888");
  return p;
}
function show(p, text) {
  const display = p.display;
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
  const el = panel(port.scale).port;
  el.className = "port " + port.state;
  el.textContent = port.diagnosis ? port.diagnosis : port.error && port.state !== "connected"
    ? port.message + " (" + (port.hint || port.error) + ")" : port.message;
}
function showReading(r) {
  const p = panel(r.scale);
  show(p, r.weight);
  p.mark.className = "mark " + (r.stable ? "stable" : "motion");
  p.mark.textContent = r.stable ? "STABLE" : "MOTION";
  p.time.textContent = new Date(r.time).toLocaleTimeString();
}
function listen() {
  const events = new EventSource("api/events?scale=*");
  events.addEventListener("reading", e => showReading(JSON.parse(e.data)));
  events.addEventListener("port", e => showPort(JSON.parse(e.data)));
  events.onerror = () => {
    for (const p of panels.values()) {
      p.port.className = "port offline";
      p.port.textContent = "no connection to tolvak serve (retrying)";
    }
  };
}
// The scales in the server's order first; the events then fill them in.
fetch("api/scales").then(r => r.json()).then(list => {
  defaultScale = list.default;
  for (const s of list.scales) panel(s.name);
}).catch(() => {}).finally(listen);
</script>
</body>
</html>
)PAGE";

} // namespace tolvak::cli
