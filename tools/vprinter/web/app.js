// The live page of the virtual printer: labels arrive as server-sent events
// and are shown newest first; the status panel changes what the printer
// answers to a status request.
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

function logItem(line) {
  const li = document.createElement('li');
  li.textContent = line;
  try {
    const o = JSON.parse(line);
    if (o.error) li.className = 'error';
    else if (o.note) li.className = 'note';
  } catch (e) { /* shown as it is */ }
  return li;
}

function addLabel(l) {
  const card = $('#label-template').content.firstElementChild.cloneNode(true);
  card.id = 'label-' + l.number;
  card.dataset.number = l.number;
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
  if (l.raw) raw.href = l.raw; else raw.remove();
  $('.zoom', card).addEventListener('click', (ev) => {
    const actual = img.classList.toggle('actual');
    // One dot of the label on one pixel of the screen.
    img.style.width = actual ? (img.naturalWidth / window.devicePixelRatio) + 'px' : '';
    ev.target.textContent = actual ? 'fit' : 'actual dots';
  });
  const log = $('.log', card);
  for (const line of l.log) log.append(logItem(line));
  $('.log-summary', card).textContent = `${l.log.length} log lines`;
  if (l.errors) $('.log-box', card).open = true;
  $('#labels').prepend(card);
  $('#no-labels').hidden = true;
  $('#label-count').textContent = '(' + document.querySelectorAll('.label').length + ')';
}

function addProblem(p) {
  const list = $('#problems');
  const li = document.createElement('li');
  li.textContent = p.endpoint + ': ' + p.line;
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
}

$('#status-form').addEventListener('change', () => sendStatus(formStatus()));
$('#status-ready').addEventListener('click', () => sendStatus(0));
loadPrinter().catch((e) => { $('#status-error').textContent = String(e); $('#status-error').hidden = false; });
listen();
