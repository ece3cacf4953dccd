// The live page of the virtual printer: labels arrive as server-sent events
// and are shown newest first, each with the commands that made it; the status
// panel changes what the printer answers to a status request, and a command
// file pasted or chosen here is printed as a stream of its own.
'use strict';

// The status bits and their names, [bit, name], as the printer gives them
// (/api/printer: the library's own table).
let STATUS_BITS = [];

function $(sel, root) { return (root || document).querySelector(sel); }

function hex2(n) { return n.toString(16).toUpperCase().padStart(2, '0'); }

function statusWords(byte) {
  if (byte === 0) return 'ready';
  const words = STATUS_BITS.filter(([bit]) => byte & bit).map(([, w]) => w);
  const rest = byte & ~STATUS_BITS.reduce((a, [bit]) => a | bit, 0);
  if (rest) words.push('unknown bits 0x' + hex2(rest));
  return words.join(', ');
}

function showStatus(byte) {
  $('#status-byte').textContent = hex2(byte);
  const words = $('#status-words');
  words.textContent = statusWords(byte);
  words.classList.toggle('fault', byte !== 0);
  for (const box of document.querySelectorAll('#status-form input')) {
    box.checked = (byte & Number(box.value)) !== 0;
  }
  document.body.dataset.status = String(byte);
}

async function sendStatus(byte) {
  const problem = $('#status-error');
  try {
    const res = await fetch('/api/status?status=' + byte, {
      method: 'POST', headers: { 'X-Paloma-Page': '1' },
    });
    if (!res.ok) throw new Error(await res.text());
    showStatus((await res.json()).status);
    problem.hidden = true;
  } catch (e) {
    problem.textContent = 'The status was not changed: ' + e.message;
    problem.hidden = false;
  }
}

// One checkbox per condition of the table, before the Ready button.
function setStatusConditions(conditions) {
  STATUS_BITS = conditions.map((c) => [c.bit, c.name]);
  const form = $('#status-form');
  for (const old of form.querySelectorAll('label')) old.remove();
  const ready = $('#status-ready');
  for (const [bit, name] of STATUS_BITS) {
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.value = String(bit);
    label.append(box, ' ' + name);
    form.insertBefore(label, ready);
  }
}

function formStatus() {
  let byte = 0;
  for (const box of document.querySelectorAll('#status-form input')) {
    if (box.checked) byte |= Number(box.value);
  }
  return byte;
}

function fact(list, name, value) {
  const dt = document.createElement('dt');
  dt.textContent = name;
  const dd = document.createElement('dd');
  dd.textContent = value;
  list.append(dt, dd);
}

async function loadPrinter() {
  const res = await fetch('/api/printer');
  const p = await res.json();
  $('#printer-name').textContent = p.name;
  document.title = p.name + ' · paloma-vprinter';
  const facts = $('#facts');
  facts.replaceChildren();
  fact(facts, 'name', p.name);
  fact(facts, 'resolution', p.dpi + ' dpi');
  fact(facts, 'serial number', p.serial_number);
  fact(facts, 'code page', p.code_page);
  if (Array.isArray(p.status_conditions)) setStatusConditions(p.status_conditions);
  if (p.tcp) fact(facts, 'listening on', p.tcp);
  const body = $('#settings tbody');
  body.replaceChildren();
  for (const [key, value] of Object.entries(p.settings)) {
    const row = body.insertRow();
    row.insertCell().textContent = key;
    row.insertCell().textContent = value;
  }
  showStatus(p.status);
}

// ---- Labels -------------------------------------------------------------

const labels = new Map();   // number -> {card, label, zoom}
let defaultZoom = 'fit';    // the zoom last chosen, for the labels to come
const FIT_HEIGHT = 520;     // CSS pixels a label takes at most when fitted

function dotsPerMm(l) { return Math.round(l.dpi / 25.4); }

// Device pixels per dot at a zoom: 'fit' fits the list's width and
// FIT_HEIGHT; '1' is one dot on one pixel of the screen.
function devicePerDot(zoom, l) {
  if (zoom !== 'fit') return Number(zoom);
  const room = Math.max(160, Math.min(560, $('#labels').clientWidth - 80));
  const css = Math.min(room / l.width_dots, FIT_HEIGHT / l.height_dots);
  return css * window.devicePixelRatio;
}

// Ticks along a ruler `length` dots long: millimetres on the first half of
// its thickness, dots on the second; `along` says which way it runs.
function drawRuler(canvas, l, cssPerDot, along) {
  const dpr = window.devicePixelRatio;
  const lengthCss = (along === 'x' ? l.width_dots : l.height_dots) * cssPerDot;
  const thick = along === 'x' ? 26 : 44;
  const cssW = along === 'x' ? lengthCss : thick;
  const cssH = along === 'x' ? thick : lengthCss;
  canvas.style.width = cssW + 'px';
  canvas.style.height = cssH + 'px';
  canvas.width = Math.max(1, Math.round(cssW * dpr));
  canvas.height = Math.max(1, Math.round(cssH * dpr));
  const g = canvas.getContext('2d');
  g.setTransform(1, 0, 0, 1, 0, 0);
  g.fillStyle = '#f7f5ef';
  g.fillRect(0, 0, canvas.width, canvas.height);
  g.fillStyle = '#1b1b1b';
  g.font = Math.round(9 * dpr) + 'px system-ui, sans-serif';
  const px = cssPerDot * dpr;                 // device pixels a dot
  const half = Math.round(thick * dpr / 2);
  const total = along === 'x' ? l.width_dots : l.height_dots;
  const tick = (dot, from, len) => {
    const at = Math.min(Math.round(dot * px), (along === 'x' ? canvas.width : canvas.height) - 1);
    if (along === 'x') g.fillRect(at, from, 1, len); else g.fillRect(from, at, len, 1);
  };
  const label = (dot, text, y) => {
    const at = Math.round(dot * px) + 2 * dpr;
    if (along === 'x') g.fillText(text, at, y);
    else g.fillText(text, y, at + 8 * dpr);  // `y`: the distance from the left
  };
  const step = (perUnit, steps, room) => steps.find((s) => s * perUnit * px >= room * dpr) || steps[steps.length - 1];
  // Millimetres.
  const mm = dotsPerMm(l);
  const mmStep = step(mm, [1, 2, 5, 10, 20, 50, 100, 200, 500], 30);
  const mmMinor = mmStep >= 10 ? mmStep / 10 : mmStep >= 5 ? 1 : 0;
  if (mmMinor && mmMinor * mm * px >= 3 * dpr) {
    for (let v = 0; v * mm <= total; v += mmMinor) tick(v * mm, 0, Math.round(half * 0.3));
  }
  for (let v = 0; v * mm <= total; v += mmStep) {
    tick(v * mm, 0, half);
    if (along === 'x') label(v * mm, String(v), Math.round(half * 0.85));
    else if (v > 0) label(v * mm, String(v), Math.round(half * 0.35));
  }
  // Dots.
  const dotStep = step(1, [10, 20, 50, 100, 200, 500, 1000, 2000, 5000], 36);
  const dotMinor = dotStep / (String(dotStep)[0] === '2' ? 4 : 5);
  const end = along === 'x' ? canvas.height : canvas.width;
  if (dotMinor * px >= 3 * dpr) {
    for (let v = 0; v <= total; v += dotMinor) tick(v, end - Math.round(half * 0.3), Math.round(half * 0.3));
  }
  for (let v = 0; v <= total; v += dotStep) {
    tick(v, half, end - half);
    if (along === 'x') label(v, String(v), end - 3 * dpr);
    else if (v > 0) label(v, String(v), half + 2 * dpr);
  }
  g.fillRect(along === 'x' ? 0 : half, along === 'x' ? half : 0,
    along === 'x' ? canvas.width : 1, along === 'x' ? 1 : canvas.height);
}

// Longest side, in device pixels, a picture and its rulers may have (a canvas
// larger than that is not drawn).
const MAX_PIXELS = 30000;

function setZoom(entry, zoom) {
  const { card, label: l } = entry;
  const longest = Math.max(l.width_dots, l.height_dots);
  if (zoom !== 'fit' && longest * Number(zoom) > MAX_PIXELS) zoom = 'fit';
  entry.zoom = zoom;
  const dpr = window.devicePixelRatio;
  const dev = devicePerDot(zoom, l);
  const css = dev / dpr;
  const img = $('img', card);
  img.style.width = l.width_dots * css + 'px';
  img.style.height = l.height_dots * css + 'px';
  // Smooth when shrinking, so thin bars and small text stay visible; dots
  // drawn as squares when enlarging, and taken as they are at 1:1.
  img.style.imageRendering = dev >= 1 ? 'pixelated' : 'auto';
  card.dataset.zoom = zoom;
  card.dataset.devicePerDot = String(dev);
  for (const b of card.querySelectorAll('.zoom-bar button')) {
    b.setAttribute('aria-pressed', String(b.dataset.zoom === zoom));
    b.disabled = b.dataset.zoom !== 'fit' && longest * Number(b.dataset.zoom) > MAX_PIXELS;
    if (b.disabled) b.title = 'the label is too long to be shown this large';
  }
  drawRuler($('.ruler-top', card), l, css, 'x');
  drawRuler($('.ruler-left', card), l, css, 'y');
  const gapCss = l.gap_mm * dotsPerMm(l) * css;
  for (const gap of card.querySelectorAll('.gap')) gap.style.height = gapCss + 'px';
  drawOverlay(entry);
}

// The outlines over the label: what could not be drawn, and the command picked.
function drawOverlay(entry) {
  const { card, label: l } = entry;
  const css = devicePerDot(entry.zoom, l) / window.devicePixelRatio;
  const overlay = $('.overlay', card);
  overlay.replaceChildren();
  const place = (el, b) => {
    el.style.left = b[0] * css + 'px';
    el.style.top = b[1] * css + 'px';
    el.style.width = b[2] * css + 'px';
    el.style.height = b[3] * css + 'px';
  };
  l.commands.forEach((c, i) => {
    if (!c.mark) return;
    const m = document.createElement('div');
    m.className = 'mark';
    m.dataset.command = String(i);
    m.title = c.text + (c.error ? ' — ' + c.error : c.note ? ' — ' + c.note : '');
    place(m, c.mark);
    m.style.fontSize = Math.max(1, (c.mark[3] - 10) * css) + 'px';
    m.textContent = c.mark_text;
    overlay.append(m);
  });
  if (entry.picked !== undefined) {
    const c = l.commands[entry.picked];
    const box = c && (c.box || c.mark);
    if (box) {
      const p = document.createElement('div');
      p.className = 'picked';
      place(p, box);
      overlay.append(p);
    }
  }
}

function pick(entry, index) {
  const { card, label: l } = entry;
  entry.picked = entry.picked === index ? undefined : index;
  for (const li of card.querySelectorAll('.commands li[data-command]')) {
    li.classList.toggle('picked', Number(li.dataset.command) === entry.picked);
  }
  const note = $('.picked-note', card);
  const c = l.commands[entry.picked];
  note.hidden = !c || !!(c.box || c.mark);
  if (c && !note.hidden) note.textContent = `${c.text} drew nothing on the label.`;
  drawOverlay(entry);
}

function commandItem(entry, c, i) {
  const li = document.createElement('li');
  li.tabIndex = 0;
  li.dataset.command = String(i);
  const ep = document.createElement('span');
  ep.className = 'endpoint';
  ep.textContent = c.endpoint;
  const text = document.createElement('code');
  text.textContent = c.text;
  li.append(ep, ' ', text);
  if (c.error || c.note) {
    const why = document.createElement('span');
    why.className = 'why';
    why.textContent = c.error ? 'error: ' + c.error : c.note;
    li.append(' ', why);
  }
  if (c.error) li.classList.add('error');
  else if (c.note) li.classList.add('note');
  if (!c.box && !c.mark) li.classList.add('no-ink');
  li.addEventListener('click', () => pick(entry, i));
  li.addEventListener('keydown', (ev) => { if (ev.key === 'Enter' || ev.key === ' ') { ev.preventDefault(); pick(entry, i); } });
  return li;
}

function gapNote(l) {
  if (l.gap_mm <= 0) return 'no gap set: continuous media';
  return (l.black_mark ? 'black mark ' : 'gap ') + l.gap_mm.toFixed(1) + ' mm between labels';
}

function addLabel(l) {
  // A stream that reconnects gets the recent labels again.
  if (labels.has(l.number)) return;
  const card = $('#label-template').content.firstElementChild.cloneNode(true);
  card.id = 'label-' + l.number;
  card.dataset.number = l.number;
  card.dataset.errors = l.errors;
  const entry = { card, label: l, zoom: defaultZoom, picked: undefined };
  labels.set(l.number, entry);
  const img = $('img', card);
  img.src = l.png;
  img.alt = 'label ' + l.number;
  $('.title', card).textContent = 'Label ' + l.number;
  const facts = $('.facts', card);
  facts.textContent = `${l.width_mm.toFixed(1)} × ${l.height_mm.toFixed(1)} mm · ${l.width_dots} × ${l.height_dots} dots · ` +
    `${l.dpi} dpi · ${l.time} · ${l.endpoint}` + (l.copies > 1 ? ` · ${l.copies} copies` : '') + ' · ';
  const errors = document.createElement('span');
  errors.className = l.errors ? 'errors' : 'no-errors';
  errors.textContent = l.errors === 1 ? '1 error' : l.errors + ' errors';
  facts.append(errors);
  $('.png-link', card).href = l.png;
  const raw = $('.raw-link', card);
  if (l.raw) {
    raw.href = l.raw;
    raw.textContent = `bytes received on ${l.endpoint}`;  // the printing stream's only
  } else {
    raw.remove();
  }
  const sheet = $('.sheet', card);
  sheet.classList.toggle('black-mark', l.black_mark);
  sheet.classList.toggle('continuous', l.gap_mm <= 0);
  $('.gap-note', card).textContent = gapNote(l);
  for (const b of card.querySelectorAll('.zoom-bar button')) {
    b.addEventListener('click', () => { defaultZoom = b.dataset.zoom; setZoom(entry, b.dataset.zoom); });
  }
  const list = $('.commands', card);
  if (l.commands_dropped) {
    const li = document.createElement('li');
    li.className = 'note dropped';
    li.textContent = `${l.commands_dropped} earlier commands are only in the log file`;
    list.append(li);
  }
  l.commands.forEach((c, i) => list.append(commandItem(entry, c, i)));
  $('#labels').prepend(card);
  setZoom(entry, defaultZoom);
  applyFilter();
}

function clearLabels() {
  labels.clear();
  $('#labels').replaceChildren();
  applyFilter();
}

// Shows the cards holding the filter's words (any case) and, when asked,
// only those with errors.
function applyFilter() {
  const words = $('#filter').value.toLowerCase().split(/\s+/).filter(Boolean);
  const errorsOnly = $('#errors-only').checked;
  let shown = 0;
  for (const { card } of labels.values()) {
    const text = $('.about', card).textContent.toLowerCase();
    const show = words.every((w) => text.includes(w)) && (!errorsOnly || card.dataset.errors !== '0');
    card.hidden = !show;
    if (show) shown++;
  }
  const total = labels.size;
  $('#label-count').textContent = total ? (shown === total ? `(${total})` : `(${shown} of ${total})`) : '';
  const none = $('#no-labels');
  none.hidden = shown > 0;
  none.textContent = total ? 'No label matches the filter.' :
    'No label printed since the page opened (or the list was cleared). Print one and it appears here.';
}

// ---- A command file from the page ----------------------------------------

const HAS_PRINT = /(^|[\r\n])[ \t]*PRINT[ \t]/i;
const MAX_PRINT_BYTES = (4 << 20) - 16;  // what the printer takes, less the PRINT added

async function sendCommands(ev) {
  ev.preventDefault();
  const out = $('#send-result');
  const file = $('#command-file').files[0];
  let bytes;
  if (file) bytes = new Uint8Array(await file.arrayBuffer());
  else bytes = new TextEncoder().encode($('#commands').value);
  if (!bytes.length) {
    out.textContent = 'Paste commands or choose a file first.';
    return;
  }
  if (bytes.length > MAX_PRINT_BYTES) {
    out.textContent = `Not printed: the page sends at most ${MAX_PRINT_BYTES >> 20} MiB; ` +
      'send a larger file to the printer\'s port instead.';
    return;
  }
  const parts = [bytes];
  const text = new TextDecoder('latin1').decode(bytes);
  if ($('#add-print').checked && !HAS_PRINT.test(text)) parts.push('\r\nPRINT 1\r\n');
  out.textContent = 'printing…';
  try {
    const res = await fetch('/api/print', {
      method: 'POST', headers: { 'X-Paloma-Page': '1', 'Content-Type': 'application/octet-stream' },
      body: new Blob(parts),
    });
    if (!res.ok) throw new Error((await res.text()) || `the printer answered ${res.status}`);
    const r = await res.json();
    out.textContent = `${r.endpoint}: ${r.labels === 1 ? '1 label' : r.labels + ' labels'}, ` +
      `${r.errors === 1 ? '1 error' : r.errors + ' errors'}` +
      (r.labels ? '' : ' (nothing printed: a PRINT is needed)') +
      (r.reply ? '; the printer answered: ' + r.reply.replace(/[\x00-\x1f]/g,
        (c) => c === '\n' ? ' ' : c === '\r' ? '' : '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0')).trim() : '');
    $('#command-file').value = '';
  } catch (e) {
    out.textContent = 'Not printed: ' + e.message;
  }
}

async function sendClear() {
  try {
    const res = await fetch('/api/clear', { method: 'POST', headers: { 'X-Paloma-Page': '1' } });
    if (!res.ok) throw new Error(await res.text());
  } catch (e) {
    clearLabels();  // at least on this page
  }
}

// A log line made readable: "FROB 250,20 (offset 46): unknown command".
function problemText(line) {
  try {
    const o = JSON.parse(line);
    const args = o.fields ? o.fields.join(',') : o.args || '';
    return `${o.command}${args ? ' ' + args : ''} (offset ${o.offset}): ${o.error || o.note || ''}`;
  } catch (e) {
    return line;
  }
}

function addProblem(p) {
  const list = $('#problems');
  const li = document.createElement('li');
  li.textContent = p.endpoint + ': ' + problemText(p.line);
  list.prepend(li);
  while (list.children.length > 200) list.lastElementChild.remove();
}

function listen() {
  const events = new EventSource('/events');
  const state = $('#connection');
  events.onopen = () => {
    state.textContent = 'live';
    state.className = 'online';
    window.palomaLive = true;
  };
  events.onerror = () => {
    state.textContent = 'printer not reachable; retrying…';
    state.className = 'offline';
    window.palomaLive = false;
  };
  events.addEventListener('label', (e) => addLabel(JSON.parse(e.data)));
  events.addEventListener('problem', (e) => addProblem(JSON.parse(e.data)));
  events.addEventListener('status', (e) => showStatus(JSON.parse(e.data).status));
  events.addEventListener('clear', () => clearLabels());
}

$('#status-form').addEventListener('change', () => sendStatus(formStatus()));
$('#status-ready').addEventListener('click', () => sendStatus(0));
$('#print-form').addEventListener('submit', sendCommands);
$('#filter').addEventListener('input', applyFilter);
$('#errors-only').addEventListener('change', applyFilter);
$('#clear-labels').addEventListener('click', sendClear);
// A new width changes what fits; a new pixel ratio (the browser's zoom,
// another screen) what 1:1 is.
let resizing = 0;
function rezoom() { for (const e of labels.values()) setZoom(e, e.zoom); }
window.addEventListener('resize', () => {
  clearTimeout(resizing);
  resizing = setTimeout(rezoom, 100);
});
// Not every change of the ratio comes with an event: it is looked at twice a second.
let pixelRatio = window.devicePixelRatio;
setInterval(() => {
  if (window.devicePixelRatio === pixelRatio) return;
  pixelRatio = window.devicePixelRatio;
  rezoom();
}, 500);
loadPrinter().catch((e) => { $('#status-error').textContent = String(e); $('#status-error').hidden = false; });
listen();
