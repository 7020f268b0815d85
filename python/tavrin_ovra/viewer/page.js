// The viewer page: asks the server for frames while the cursor moves and draws the panels
// on canvases. At most one frame request is in flight; when it returns, the newest cursor
// is asked for next, so a fast slider skips cursors instead of queueing them.
"use strict";

const BUY = "#2fbf71", SELL = "#ef5350", PRICE = "#ffd479", OI = "#64b5f6", FUND = "#ce93d8";
const AXIS = "#7d8da1", GRID = "#253040";
const M = { left: 64, right: 12, top: 8, bottom: 22 };
const TITLES = { footprint: "Footprint", book_heatmap: "Book heatmap",
  liquidation_map: "Liquidation map", funding_oi_divergence: "Price, open interest and funding" };
const FIELDS = { footprint: ["price_bin"], book_heatmap: ["price_bin", "bucket_ms", "depth_levels"],
  liquidation_map: ["price_bin"], funding_oi_divergence: ["bucket_ms"] };
const LABELS = { price_bin: "price bin", bucket_ms: "bucket s", depth_levels: "depth" };

const $ = (id) => document.getElementById(id);
const S = { bounds: null, spec: null, sent: null, wanted: null, busy: false, frame: null,
  readouts: {}, readoutsAt: null, frames: 0, stamps: [], playing: null, views: [] };

// -- talking to the server -------------------------------------------------------------------

async function getJson(path, init) {
  const response = await fetch(path, init);
  const text = await response.text();
  let body;
  try { body = JSON.parse(text); } catch (e) { body = { error: text }; }
  if (!response.ok || body.error !== undefined) throw new Error(body.error || response.status);
  return { body, response };
}

async function postSpec(spec) {
  const text = JSON.stringify(spec);
  if (text === S.sent) return;
  await getJson("spec", { method: "POST", headers: { "Content-Type": "application/json" }, body: text });
  S.sent = text;
}

function windowSpec(ts) {
  const spec = JSON.parse(JSON.stringify(S.spec));
  if ($("window").value === "last") {
    const minutes = Math.max(1, Number($("minutes").value) || 1);
    spec.from_ts = Math.round(ts - minutes * 60000);
  }
  return spec;
}

function want(ts) {
  const b = S.bounds;
  S.wanted = Math.round(Math.min(b.to_ts, Math.max(b.from_ts, ts)));
  $("slider").value = S.wanted;
  $("cursor").textContent = clock(S.wanted, true);
  pump();
}

async function pump() {
  if (S.busy || S.wanted === null) return;
  S.busy = true;
  const ts = S.wanted;
  try {
    await postSpec(windowSpec(ts));
    const { body, response } = await getJson("frame?ts=" + ts);
    S.frame = body;
    S.frameMs = Number(response.headers.get("X-Frame-Ms"));
    if (S.wanted === ts) S.wanted = null;
    drawAll();
    count();
    $("status").textContent = "";
    if (S.wanted === null) await fetchReadouts(ts);
  } catch (e) {
    if (S.wanted === ts) S.wanted = null;
    $("status").textContent = String(e.message || e);
  }
  S.busy = false;
  if (S.wanted !== null) pump();
}

async function fetchReadouts(ts) {
  if (!S.frame.panels.some((p) => p.kind === "footprint")) return;
  const ratio = Number($("ratio").value) / 100, least = Number($("minvol").value);
  const { body } = await getJson(`analysis?ts=${ts}&ratio=${ratio}&min_volume=${least}`);
  if (S.frame.cursor_ts !== body.cursor_ts) return;
  S.readouts = {};
  S.readoutsAt = body.cursor_ts;
  for (const r of body.footprints) S.readouts[r.panel] = r;
  drawAll();
  showReadouts();
}

function count() {
  S.frames += 1;
  const now = performance.now();
  S.stamps.push(now);
  while (S.stamps.length && now - S.stamps[0] > 1000) S.stamps.shift();
  $("timing").textContent = `frame ${S.frameMs.toFixed(1)} ms (server) · ${S.stamps.length} fps`;
  document.body.dataset.frames = S.frames;
  document.body.dataset.cursor = S.frame.cursor_ts;
  document.body.dataset.frameMs = S.frameMs;
}

// -- layout and controls ---------------------------------------------------------------------

function build() {
  $("symbol").textContent = S.spec.symbol;
  const controls = $("controls"), panels = $("panels");
  controls.innerHTML = panels.innerHTML = "";
  S.views = S.spec.panels.map((panel, index) => {
    const box = document.createElement("div");
    box.className = "panel";
    box.innerHTML = `<h2>${TITLES[panel.kind] || panel.kind}</h2><canvas></canvas>`;
    panels.appendChild(box);
    const set = document.createElement("fieldset");
    set.innerHTML = `<legend>${index + 1}. ${TITLES[panel.kind] || panel.kind}</legend>`;
    for (const name of FIELDS[panel.kind] || []) {
      const input = document.createElement("input");
      input.type = "number"; input.min = "0"; input.dataset.field = name;
      input.value = name === "bucket_ms" ? panel[name] / 1000 : panel[name];
      input.addEventListener("change", () => changeSpec(index, name, input.value));
      const label = document.createElement("label");
      label.append(LABELS[name] + " ", input, " ");
      set.appendChild(label);
    }
    if (panel.kind === "footprint" && !$("ratio")) {
      set.insertAdjacentHTML("beforeend", `<label>imbalance % <input id="ratio" type="number" value="300" min="100"></label>
        <label>min vol <input id="minvol" type="number" value="0" min="0"></label>`);
    }
    controls.appendChild(set);
    const canvas = box.querySelector("canvas");
    const view = { index, canvas, hover: null };
    canvas.addEventListener("mousemove", (ev) => hover(view, ev));
    canvas.addEventListener("mouseleave", () => { $("tip").hidden = true; });
    return view;
  });
  for (const id of ["ratio", "minvol"]) if ($(id)) $(id).addEventListener("change", () => want(S.frame ? S.frame.cursor_ts : S.bounds.to_ts));
}

async function changeSpec(index, name, value) {
  const spec = JSON.parse(JSON.stringify(S.spec));
  let number = Number(value);
  if (name === "bucket_ms") number = Math.round(number * 1000);
  if (name !== "price_bin") number = Math.round(number);
  spec.panels[index][name] = number;
  try {
    await postSpec(spec); // the module judges the value; a refusal keeps the old spec
    S.spec = spec;
    $("status").textContent = "";
  } catch (e) {
    $("status").textContent = String(e.message || e);
  }
  want(S.frame ? S.frame.cursor_ts : S.bounds.to_ts);
}

function keys(ev) {
  if (ev.target.tagName === "INPUT" && ev.target.type === "number") return;
  const step = Number($("step").value), now = S.wanted ?? Number($("slider").value);
  const moves = { ArrowLeft: -step, ArrowRight: step, PageDown: -10 * step, PageUp: 10 * step };
  if (ev.key in moves) { want(now + moves[ev.key]); ev.preventDefault(); }
  else if (ev.key === "Home") { want(S.bounds.from_ts); ev.preventDefault(); }
  else if (ev.key === "End") { want(S.bounds.to_ts); ev.preventDefault(); }
  else if (ev.key === " ") { play(); ev.preventDefault(); }
}

function play() {
  if (S.playing) { clearInterval(S.playing); S.playing = null; $("play").textContent = "▶"; return; }
  $("play").textContent = "❚❚";
  S.playing = setInterval(() => {
    if (S.busy) return; // one frame at a time: playing goes as fast as frames come back
    const next = Number($("slider").value) + Number($("step").value);
    if (next > S.bounds.to_ts) { play(); return; }
    want(next);
  }, 30);
}

// -- drawing ---------------------------------------------------------------------------------

function surface(canvas) {
  const ratio = window.devicePixelRatio || 1, w = canvas.clientWidth, h = canvas.clientHeight;
  if (canvas.width !== Math.round(w * ratio)) { canvas.width = Math.round(w * ratio); canvas.height = Math.round(h * ratio); }
  const g = canvas.getContext("2d");
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, w, h);
  g.font = "11px ui-monospace, monospace";
  return { g, w, h, x0: M.left, x1: w - M.right, y0: M.top, y1: h - M.bottom };
}

function scale(a0, a1, b0, b1) {
  const k = a1 === a0 ? 0 : (b1 - b0) / (a1 - a0);
  const f = (v) => b0 + (v - a0) * k;
  f.invert = (p) => (k === 0 ? a0 : a0 + (p - b0) / k);
  return f;
}

function timeSpan(frame) {
  let lo = Infinity;
  for (const p of frame.panels) {
    if (p.time && p.time.length) lo = Math.min(lo, p.time[0]);
    if (p.events && p.events.length) lo = Math.min(lo, p.events[0].ts);
  }
  const hi = frame.cursor_ts;
  return lo === Infinity || lo >= hi ? [hi - 60000, hi] : [lo, hi];
}

function drawAll() {
  if (!S.frame) return;
  const span = timeSpan(S.frame);
  const funding = S.frame.panels.find((p) => p.kind === "funding_oi_divergence");
  S.views.forEach((view) => {
    const panel = S.frame.panels[view.index];
    const s = surface(view.canvas);
    view.s = s; view.panel = panel; view.span = span;
    if (!panel) return;
    // readouts belong to one cursor: while scrubbing on, the bars are drawn without them
    const readout = S.readoutsAt === S.frame.cursor_ts ? S.readouts[view.index] : undefined;
    if (panel.kind === "footprint") drawFootprint(view, s, panel, readout);
    else if (panel.kind === "book_heatmap") drawHeatmap(view, s, panel, span, funding);
    else if (panel.kind === "liquidation_map") drawLiquidations(view, s, panel, span);
    else if (panel.kind === "funding_oi_divergence") drawFunding(view, s, panel, span);
  });
}

function empty(s, text) {
  s.g.fillStyle = AXIS; s.g.textAlign = "center";
  s.g.fillText(text || "no data in the frame window", (s.x0 + s.x1) / 2, (s.y0 + s.y1) / 2);
}

function priceAxis(s, y, lo, hi) {
  const g = s.g, ticks = niceTicks(lo, hi, Math.max(2, Math.floor((s.y1 - s.y0) / 40)));
  g.textAlign = "right"; g.textBaseline = "middle";
  for (const t of ticks) {
    const py = y(t);
    g.strokeStyle = GRID; g.beginPath(); g.moveTo(s.x0, py); g.lineTo(s.x1, py); g.stroke();
    g.fillStyle = AXIS; g.fillText(fmt(t), s.x0 - 4, py);
  }
  g.textBaseline = "alphabetic";
}

function timeAxis(s, x, span) {
  const g = s.g, n = Math.max(2, Math.floor((s.x1 - s.x0) / 90));
  const step = niceStep((span[1] - span[0]) / n, [1000, 5000, 10000, 30000, 60000, 300000, 600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000]);
  g.textAlign = "center"; g.fillStyle = AXIS;
  for (let t = Math.ceil(span[0] / step) * step; t <= span[1]; t += step) {
    const px = x(t);
    g.strokeStyle = GRID; g.beginPath(); g.moveTo(px, s.y0); g.lineTo(px, s.y1); g.stroke();
    g.textAlign = px > s.x1 - 20 ? "right" : "center";
    g.fillText(clock(t, false, step < 60000), Math.min(px, s.x1), s.y1 + 14);
  }
}

function drawFootprint(view, s, p, readout) {
  const n = p.price_bins.length, g = s.g;
  if (!n) return empty(s, "no trades in the window");
  const gap = n > 1 ? p.price_bins[1] - p.price_bins[0] : 1;
  const lo = p.price_bins[0], hi = p.price_bins[n - 1] + gap;
  const y = scale(lo, hi, s.y1, s.y0);
  priceAxis(s, y, lo, hi);
  const most = Math.max(1e-12, ...p.buy_vol.map(num), ...p.sell_vol.map(num));
  const mid = (s.x0 + s.x1) / 2 - 30, half = (s.x1 - s.x0) / 2 - 40;
  const rowH = Math.max(1, y(lo) - y(lo + gap));
  if (readout && readout.value_area.low !== null) {
    g.fillStyle = "#ffffff10";
    g.fillRect(s.x0, y(readout.value_area.high + gap), s.x1 - s.x0, y(readout.value_area.low) - y(readout.value_area.high + gap));
  }
  const marks = {};
  if (readout) for (const im of readout.imbalances) marks[im.side + im.price] = true;
  for (let i = 0; i < n; i++) {
    const top = y(p.price_bins[i] + gap) + (rowH > 4 ? 1 : 0), h = Math.max(1, rowH - (rowH > 4 ? 2 : 0));
    const sw = (num(p.sell_vol[i]) / most) * half, bw = (num(p.buy_vol[i]) / most) * half;
    g.fillStyle = SELL; g.fillRect(mid - sw, top, sw, h);
    g.fillStyle = BUY; g.fillRect(mid, top, bw, h);
    if (marks["sell" + p.price_bins[i]]) { g.strokeStyle = "#ffb3b0"; g.lineWidth = 2; g.strokeRect(mid - sw, top, sw, h); }
    if (marks["buy" + p.price_bins[i]]) { g.strokeStyle = "#b9f6ca"; g.lineWidth = 2; g.strokeRect(mid, top, bw, h); }
    g.lineWidth = 1;
    if (readout && rowH >= 10) {
      const d = readout.delta[i];
      g.fillStyle = d >= 0 ? BUY : SELL; g.textAlign = "right"; g.textBaseline = "middle";
      g.fillText((d >= 0 ? "+" : "") + d.toFixed(2), s.x1, top + h / 2);
      g.textBaseline = "alphabetic";
    }
  }
  if (readout && readout.poc !== null) {
    const py = y(readout.poc + gap / 2);
    g.strokeStyle = PRICE; g.setLineDash([5, 3]); g.beginPath(); g.moveTo(s.x0, py); g.lineTo(s.x1 - 60, py); g.stroke(); g.setLineDash([]);
  }
  g.strokeStyle = AXIS; g.beginPath(); g.moveTo(mid, s.y0); g.lineTo(mid, s.y1); g.stroke();
  g.fillStyle = AXIS; g.textAlign = "left"; g.fillText("sell ◀", s.x0 + 4, s.y1 + 14);
  g.textAlign = "right"; g.fillText("▶ buy   delta", s.x1, s.y1 + 14);
  view.y = y; view.gap = gap;
}

function heatColor(v) {
  // dark blue, teal, yellow, white as v goes from 0 to 1
  const stops = [[12, 18, 40], [24, 90, 140], [40, 170, 150], [250, 210, 80], [255, 255, 235]];
  const t = Math.min(1, Math.max(0, v)) * (stops.length - 1), i = Math.min(stops.length - 2, Math.floor(t)), f = t - i;
  return stops[i].map((c, k) => Math.round(c + (stops[i + 1][k] - c) * f));
}

function drawHeatmap(view, s, p, span, funding) {
  const nt = p.time.length, nl = p.price.length, g = s.g;
  if (!nt) return empty(s, "no order book in the window");
  const bin = nl > 1 ? p.price[1] - p.price[0] : 1, bucket = nt > 1 ? p.time[1] - p.time[0] : 60000;
  const lo = p.price[0], hi = p.price[nl - 1] + bin;
  const x = scale(span[0], span[1], s.x0, s.x1), y = scale(lo, hi, s.y1, s.y0);
  let most = 0;
  for (const row of p.intensity) for (const c of row) if (num(c) > most) most = num(c);
  const img = new ImageData(nt, nl);
  for (let t = 0; t < nt; t++) for (let l = 0; l < nl; l++) {
    const c = heatColor(Math.sqrt(Math.max(0, num(p.intensity[t][l])) / (most || 1)));
    const at = ((nl - 1 - l) * nt + t) * 4;
    img.data[at] = c[0]; img.data[at + 1] = c[1]; img.data[at + 2] = c[2]; img.data[at + 3] = 255;
  }
  const off = document.createElement("canvas");
  off.width = nt; off.height = nl; off.getContext("2d").putImageData(img, 0, 0);
  g.save(); g.beginPath(); g.rect(s.x0, s.y0, s.x1 - s.x0, s.y1 - s.y0); g.clip();
  g.imageSmoothingEnabled = false;
  g.drawImage(off, x(p.time[0]), y(hi), x(p.time[nt - 1] + bucket) - x(p.time[0]), y(lo) - y(hi));
  if (funding && funding.time.length) {
    g.strokeStyle = PRICE; g.lineWidth = 1.5; g.beginPath();
    funding.time.forEach((t, i) => { if (num(funding.price[i]) > 0) g.lineTo(x(t), y(num(funding.price[i]))); });
    g.stroke(); g.lineWidth = 1;
  }
  g.restore();
  priceAxis(s, y, lo, hi); timeAxis(s, x, span);
  for (let i = 0; i < 60; i++) { // the colour scale: bottom is none, top is the deepest cell
    const c = heatColor(i / 59); g.fillStyle = `rgb(${c})`;
    g.fillRect(s.x1 - 8, s.y1 - ((i + 1) / 60) * 80, 8, 80 / 60 + 0.5);
  }
  g.fillStyle = "#ddd"; g.textAlign = "right"; g.fillText(fmt(most), s.x1 - 11, s.y1 - 72);
  view.x = x; view.y = y; view.bin = bin; view.bucket = bucket;
}

function drawLiquidations(view, s, p, span) {
  const ev = p.events, g = s.g;
  if (!ev.length) return empty(s, "no liquidations in the window");
  let lo = Infinity, hi = -Infinity, big = 0;
  for (const e of ev) { lo = Math.min(lo, num(e.price_bin)); hi = Math.max(hi, num(e.price_bin)); big = Math.max(big, num(e.qty)); }
  const pad = Math.max(1, (hi - lo) * 0.08);
  const x = scale(span[0], span[1], s.x0, s.x1), y = scale(lo - pad, hi + pad, s.y1, s.y0);
  priceAxis(s, y, lo - pad, hi + pad); timeAxis(s, x, span);
  for (const e of ev) {
    const r = 2 + 10 * Math.sqrt(num(e.qty) / (big || 1));
    g.fillStyle = e.side === "long" ? SELL + "aa" : BUY + "aa";
    g.beginPath(); g.arc(x(e.ts), y(num(e.price_bin)), r, 0, 2 * Math.PI); g.fill();
  }
  g.fillStyle = SELL; g.textAlign = "left"; g.fillText("● longs out", s.x0 + 4, s.y0 + 10);
  g.fillStyle = BUY; g.fillText("● shorts out", s.x0 + 94, s.y0 + 10);
  view.x = x; view.y = y;
}

function drawFunding(view, s, p, span) {
  const n = p.time.length, g = s.g;
  if (!n) return empty(s, "no funding, open interest or candles in the window");
  const x = scale(span[0], span[1], s.x0, s.x1), h = s.y1 - s.y0;
  const strips = [["price", PRICE, 0, 0.46], ["oi", OI, 0.5, 0.74], ["funding", FUND, 0.78, 1]];
  view.strips = [];
  for (const [key, color, a, b] of strips) {
    const values = p[key].map(num), shown = key === "funding" ? values : values.filter((v) => v !== 0);
    if (!shown.length) continue;
    let lo = Math.min(...shown), hi = Math.max(...shown);
    if (lo === hi) { lo -= Math.abs(lo) * 0.001 || 1; hi += Math.abs(hi) * 0.001 || 1; }
    const y = scale(lo, hi, s.y0 + b * h, s.y0 + a * h + 4);
    g.strokeStyle = GRID; g.strokeRect(s.x0, s.y0 + a * h, s.x1 - s.x0, (b - a) * h);
    g.fillStyle = AXIS; g.textAlign = "right"; g.textBaseline = "middle";
    const show = (v) => (key === "funding" ? (100 * v).toFixed(4) + "%" : fmt(v));
    g.fillText(show(hi), s.x0 - 4, y(hi)); g.fillText(show(lo), s.x0 - 4, y(lo)); g.textBaseline = "alphabetic";
    g.strokeStyle = color; g.lineWidth = 1.5; g.beginPath();
    let started = false;
    values.forEach((v, i) => {
      if (key !== "funding" && v === 0) return;
      const px = x(p.time[i]), py = y(v);
      if (!started) { g.moveTo(px, py); started = true; } else g.lineTo(px, py);
      g.lineTo(Math.min(s.x1, x(p.time[i] + (p.time[1] - p.time[0] || 60000))), py);
    });
    g.stroke(); g.lineWidth = 1;
    g.fillStyle = color; g.textAlign = "left"; g.fillText(key === "oi" ? "open interest" : key, s.x0 + 4, s.y0 + a * h + 12);
  }
  timeAxis(s, x, span);
  view.x = x;
}

// -- hover readouts --------------------------------------------------------------------------

function hover(view, ev) {
  const tip = $("tip"), panel = view.panel;
  if (!panel || !view.s) return;
  const r = view.canvas.getBoundingClientRect(), px = ev.clientX - r.left, py = ev.clientY - r.top;
  const text = readAt(view, panel, px, py);
  if (!text) { tip.hidden = true; return; }
  tip.textContent = text; tip.hidden = false;
  tip.style.left = ev.clientX + 14 + "px"; tip.style.top = ev.clientY + 10 + "px";
}

function nearest(list, value) {
  let best = -1, dist = Infinity;
  list.forEach((v, i) => { const d = Math.abs(v - value); if (d < dist) { dist = d; best = i; } });
  return best;
}

function readAt(view, p, px, py) {
  if (p.kind === "footprint" && view.y && p.price_bins.length) {
    const price = view.y.invert(py);
    const i = p.price_bins.findIndex((b) => price >= b && price < b + view.gap);
    if (i < 0) return "";
    const rd = S.readoutsAt === S.frame.cursor_ts ? S.readouts[view.index] : undefined;
    const flags = rd ? rd.imbalances.filter((m) => m.price === p.price_bins[i]).map((m) => `${m.side} imbalance ${m.ratio === null ? "∞" : (100 * m.ratio).toFixed(0) + "%"}`) : [];
    return `bin ${fmt(p.price_bins[i])}\nbuy  ${num(p.buy_vol[i]).toFixed(3)}\nsell ${num(p.sell_vol[i]).toFixed(3)}\ndelta ${(num(p.buy_vol[i]) - num(p.sell_vol[i])).toFixed(3)}` + (flags.length ? "\n" + flags.join("\n") : "");
  }
  if (p.kind === "book_heatmap" && view.x && p.time.length) {
    const t = view.x.invert(px), price = view.y.invert(py);
    const ti = p.time.findIndex((s) => t >= s && t < s + view.bucket), li = p.price.findIndex((b) => price >= b && price < b + view.bin);
    if (ti < 0 || li < 0) return "";
    return `${clock(p.time[ti], true)}\nlevel ${fmt(p.price[li])}\nresting ${num(p.intensity[ti][li]).toFixed(3)}`;
  }
  if (p.kind === "liquidation_map" && view.x && p.events.length) {
    let best = null, dist = 16;
    for (const e of p.events) {
      const d = Math.hypot(view.x(e.ts) - px, view.y(num(e.price_bin)) - py);
      if (d < dist) { dist = d; best = e; }
    }
    return best ? `${clock(best.ts, true)}\n${best.side} out\nbin ${fmt(num(best.price_bin))}\nqty ${num(best.qty).toFixed(3)}` : "";
  }
  if (p.kind === "funding_oi_divergence" && view.x && p.time.length) {
    const i = nearest(p.time, view.x.invert(px));
    return `${clock(p.time[i], true)}\nprice ${fmt(num(p.price[i]))}\nopen interest ${fmt(num(p.oi[i]))}\nfunding ${(100 * num(p.funding[i])).toFixed(4)}%`;
  }
  return "";
}

function showReadouts() {
  const parts = [];
  for (const [index, r] of Object.entries(S.readouts)) {
    if (r.poc === null) { parts.push(`footprint ${Number(index) + 1}: no trades`); continue; }
    const stacks = r.stacks.map((k) => `${k.side} ×${k.count} ${fmt(k.low)}–${fmt(k.high)}`).join(", ") || "none";
    const buys = r.imbalances.filter((m) => m.side === "buy").length, sells = r.imbalances.length - buys;
    parts.push(`footprint ${Number(index) + 1}: delta <b>${signed(r.total_delta)}</b> of volume ${r.total_volume.toFixed(2)} · ` +
      `POC <b>${fmt(r.poc)}</b> · value area 70% <b>${fmt(r.value_area.low)}–${fmt(r.value_area.high)}</b> · ` +
      `imbalances ${buys} buy / ${sells} sell · stacked: ${stacks}`);
  }
  $("readouts").innerHTML = parts.join("<br>");
}

// -- numbers and clocks ----------------------------------------------------------------------

function num(v) { return typeof v === "number" && isFinite(v) ? v : 0; }
function signed(v) { return (v >= 0 ? "+" : "") + v.toFixed(2); }
function fmt(v) {
  if (Math.abs(v) >= 1000) return v.toLocaleString("en-US", { maximumFractionDigits: 1 });
  return Number(v.toPrecision(6)).toString();
}
function clock(ms, full, seconds) {
  const iso = new Date(ms).toISOString();
  if (full) return iso.slice(0, 10) + " " + iso.slice(11, 23) + " UTC";
  return iso.slice(11, seconds ? 19 : 16);
}
function niceStep(raw, steps) { return steps.find((s) => s >= raw) || steps[steps.length - 1] * Math.ceil(raw / steps[steps.length - 1]); }
function niceTicks(lo, hi, n) {
  const raw = (hi - lo) / n, mag = Math.pow(10, Math.floor(Math.log10(raw || 1)));
  const step = [1, 2, 5, 10].map((k) => k * mag).find((s) => s >= raw) || raw;
  const out = [];
  for (let t = Math.ceil(lo / step) * step; t <= hi; t += step) out.push(t);
  return out;
}

// -- start -----------------------------------------------------------------------------------

async function start() {
  try {
    S.bounds = (await getJson("bounds")).body;
    S.spec = (await getJson("spec")).body;
  } catch (e) { $("status").textContent = String(e.message || e); return; }
  S.sent = JSON.stringify(S.spec);
  build();
  const slider = $("slider");
  slider.min = S.bounds.from_ts; slider.max = S.bounds.to_ts; slider.step = 100;
  slider.addEventListener("input", () => want(Number(slider.value)));
  $("play").addEventListener("click", play);
  $("window").addEventListener("change", () => want(Number(slider.value)));
  $("minutes").addEventListener("change", () => want(Number(slider.value)));
  document.addEventListener("keydown", keys);
  window.addEventListener("resize", drawAll);
  const asked = new URLSearchParams(location.search);
  if (asked.get("window") === "last") $("window").value = "last";
  if (asked.get("minutes")) $("minutes").value = asked.get("minutes");
  want(asked.has("ts") ? Number(asked.get("ts")) : S.bounds.to_ts);
}

// the hook scripts and tests drive the page with
window.ovraViewer = { setCursor: want, state: S };
start();
