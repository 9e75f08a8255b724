// tarvik panel: the page. It asks the panel for the board's state (/api/show), sends directives
// (/api/command) and follows the board's events (/events, server-sent events). Views are fetched
// again when an event says they changed, never on a timer.
'use strict';

const token = document.querySelector('meta[name="tarvik-token"]').content;
const $ = (selector, root = document) => root.querySelector(selector);
const withToken = (path) => path + (path.includes('?') ? '&' : '?') + 'token=' + token;

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

function notice(text, bad) {
  const n = $('#notice');
  n.textContent = text;
  n.classList.toggle('error', !!bad);
}

async function show(what) {
  try {
    const response = await fetch(withToken('/api/show?what=' + encodeURIComponent(what)));
    if (!response.ok) return { ok: false, error: (await response.text()).trim() };
    return await response.json();
  } catch (e) {
    return { ok: false, error: 'the panel does not answer' };
  }
}

// One directive to the board; its answer is shown in the header.
async function command(line) {
  let answer;
  try {
    const response = await fetch(withToken('/api/command'), {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ line }),
    });
    answer = response.ok ? await response.json() : { ok: false, error: (await response.text()).trim() };
  } catch (e) {
    answer = { ok: false, error: 'the panel does not answer' };
  }
  notice(answer.ok ? '✓ ' + line : '✗ ' + line + ': ' + answer.error, !answer.ok);
  return answer;
}

// Runs `fn` once, `ms` after the last of a burst of calls.
function later(fn, ms) {
  let timer = null;
  return () => {
    if (timer === null) timer = setTimeout(() => { timer = null; fn(); }, ms);
  };
}

// Keeps a log view bounded: the oldest lines go.
function appendLine(pre, text, cls) {
  const atEnd = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 4;
  pre.append(element('span', cls ? { class: cls, text } : { text }), '\n');
  while (pre.childNodes.length > 2000) { pre.firstChild.remove(); pre.firstChild.remove(); }
  if (atEnd) pre.scrollTop = pre.scrollHeight;
}

const seconds = (t) => (t / 1e6).toFixed(6);
const hexToBytes = (hex) => (hex.match(/../g) || []).map((h) => parseInt(h, 16));

// ---- GPIO ----

const pins = new Map();  // pad "0.2" -> {row, pin}

function levelCell(level) {
  return element('span', { class: level ? 'high' : 'low', text: level ? 'HIGH' : 'low' });
}

function interruptText(interrupt) {
  return interrupt ? interrupt.mode + (interrupt.armed ? ', armed' : ', not armed') : '';
}

function drive(pad, level) { return command(`gpio input ${pad} ${level}`).then(refreshGpio); }

async function pulse(pad) {
  const entry = pins.get(pad);
  const now = entry ? entry.pin.level : 1;
  const width = Math.max(1, Math.min(10000, parseInt($('#pulse-ms').value, 10) || 100));
  const first = await command(`gpio input ${pad} ${now ? 0 : 1}`);
  if (!first.ok) return;
  await new Promise((resolve) => setTimeout(resolve, width));
  await drive(pad, now ? 1 : 0);
}

function gpioRow(pin) {
  const row = element('tr', { 'data-index': pin.index, 'data-pad': pin.pad });
  row.append(element('td', { text: pin.index }), element('td', { text: pin.pad }),
    element('td', { class: 'direction' }), element('td', { class: 'level' }),
    element('td', { class: 'interrupt' }), element('td', { class: 'drive' }));
  return row;
}

function updateRow(row, pin) {
  row.classList.toggle('out', pin.direction === 'out');
  $('.direction', row).textContent = pin.direction === 'out' ? 'output' : 'input' + (pin.driven ? ' (driven)' : '');
  $('.level', row).replaceChildren(levelCell(pin.level));
  $('.interrupt', row).textContent = interruptText(pin.interrupt);
  const cell = $('.drive', row);
  if (pin.direction === 'in' && cell.childElementCount === 0) {
    for (const [action, label] of [['high', 'High'], ['low', 'Low'], ['pulse', 'Pulse']]) {
      const button = element('button', { type: 'button', 'data-action': action, text: label });
      button.addEventListener('click', () => {
        if (action === 'pulse') pulse(pin.pad); else drive(pin.pad, action === 'high' ? 1 : 0);
      });
      cell.append(button);
    }
  } else if (pin.direction !== 'in') {
    cell.replaceChildren();
  }
}

async function refreshGpio() {
  const answer = await show('gpio');
  if (!answer.ok) return;
  const body = $('#gpio tbody');
  for (const pin of answer.pins) {
    let entry = pins.get(pin.pad);
    if (!entry) {
      entry = { row: gpioRow(pin), pin };
      pins.set(pin.pad, entry);
      body.append(entry.row);
    }
    entry.pin = pin;
    updateRow(entry.row, pin);
    if (pin.direction === 'out' || pin.interrupt) wave.touch(pin.pad, pin.index, pin.level, null);
  }
}
const refreshGpioSoon = later(refreshGpio, 150);

function gpioEvent(event) {
  const entry = pins.get(event.pad);
  // A pin seen for the first time had its former level since the page began.
  if (entry && !wave.traces.has(event.pad)) wave.touch(event.pad, event.index, entry.pin.level, wave.startT);
  if (entry) {
    entry.pin.level = event.level;
    $('.level', entry.row).replaceChildren(levelCell(event.level));
  }
  wave.touch(event.pad, event.index, event.level, event.t);
  refreshGpioSoon();
}

// ---- The waveform ----

const wave = {
  traces: new Map(),  // pad -> {index, changes: [[t, level]]}
  startT: 0,          // the board's time when the page began
  lastT: 0,           // the latest board time seen, and when (page time)
  lastSeen: performance.now(),
  paused: false,
  touch(pad, index, level, t) {
    let trace = this.traces.get(pad);
    if (!trace) {
      trace = { index, changes: [] };
      this.traces.set(pad, trace);
    }
    if (t === null) {
      if (trace.changes.length === 0) trace.changes.push([this.lastT, level]);
      return;
    }
    if (t > this.lastT) { this.lastT = t; this.lastSeen = performance.now(); }
    trace.changes.push([t, level]);
    if (trace.changes.length > 20000) trace.changes.splice(0, 10000);
  },
  // The board's clock now, as far as the page can tell: the latest event's time, moved on with
  // the page's clock since (the board's clock follows the host's unless it sleeps virtually).
  now() { return this.lastT + (performance.now() - this.lastSeen) * 1000; },
  draw() {
    const canvas = $('#wave');
    const rows = [...this.traces.entries()].sort((a, b) => a[1].index - b[1].index);
    const rowHeight = 28;
    const height = Math.max(60, rows.length * rowHeight + 24);
    if (canvas.height !== height) canvas.height = height;
    canvas.width = canvas.clientWidth || 1200;
    const g = canvas.getContext('2d');
    const span = parseInt($('#wave-span').value, 10);
    const end = this.paused ? this.pausedAt : this.now();
    const start = end - span;
    const left = 110, width = canvas.width - left - 10;
    const x = (t) => left + ((t - start) / span) * width;
    g.fillStyle = '#10141b';
    g.fillRect(0, 0, canvas.width, canvas.height);
    g.font = '12px monospace';
    g.fillStyle = '#9aa3b2';
    g.fillText(`${seconds(start)} s`, left, canvas.height - 6);
    const endText = `${seconds(end)} s`;
    g.fillText(endText, canvas.width - 10 - g.measureText(endText).width, canvas.height - 6);
    rows.forEach(([pad, trace], i) => {
      const top = 6 + i * rowHeight, high = top + 4, low = top + rowHeight - 8;
      g.fillStyle = '#d7dde8';
      g.fillText(`${trace.index ?? '-'} (${pad})`, 6, low);
      g.strokeStyle = '#e0a100';
      g.lineWidth = 2;
      g.beginPath();
      let level = null, px = left;
      for (const [t, l] of trace.changes) {
        if (t <= start) { level = l; continue; }
        if (t > end) break;
        const cx = x(t);
        if (level !== null) { g.lineTo(cx, level ? high : low); g.lineTo(cx, l ? high : low); } else g.moveTo(cx, l ? high : low);
        level = l; px = cx;
      }
      if (level !== null) {
        if (px === left) g.moveTo(left, level ? high : low);
        g.lineTo(left + width, level ? high : low);
      }
      g.stroke();
    });
  },
};

function animate() {
  if (!document.hidden) wave.draw();
  requestAnimationFrame(animate);
}

// ---- Serial ----

const ports = new Map();  // "COM1" -> {console, state}

// The protocol's escapes: a typed line reaches the port byte for byte, blanks and all.
function escapeSerial(text) {
  let out = '';
  for (const byte of new TextEncoder().encode(text)) {
    const c = String.fromCharCode(byte);
    out += /[A-Za-z0-9.,:;=+\-_/()!?*@%&<>[\]{}|^~$']/.test(c) ? c : '\\x' + byte.toString(16).padStart(2, '0');
  }
  return out;
}

function portView(name) {
  let port = ports.get(name);
  if (port) return port;
  const log = element('pre', { class: 'console', id: 'console-' + name });
  const input = element('input', { class: 'serial-input', placeholder: `a line to ${name}'s receive side`, autocomplete: 'off', spellcheck: 'false' });
  const ending = element('select', { class: 'ending' });
  for (const [value, label] of [['\\r', 'CR'], ['\\n', 'LF'], ['\\r\\n', 'CR LF'], ['', 'none']]) ending.append(element('option', { value, text: label }));
  const form = element('form', { class: 'line' }, input, ending, element('button', { type: 'submit', text: 'Send' }));
  const state = element('small', { class: 'state' });
  const view = element('div', { class: 'port', id: 'port-' + name }, element('h3', { text: name + ' ' }, state), log, form);
  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const text = input.value;
    if (text === '' && ending.value === '') return;
    const answer = await command(`serial write ${name} ${escapeSerial(text)}${ending.value}`);
    if (answer.ok) input.value = '';
  });
  $('#serial-ports').append(view);
  port = { log, state, pending: '' , pendingRx: '' };
  ports.set(name, port);
  return port;
}

async function refreshSerial() {
  const answer = await show('serial');
  if (!answer.ok) return;
  for (const p of answer.ports) {
    const port = portView(p.port.replace(/:$/, ''));
    port.state.textContent = `${p.open ? 'open' : 'closed'}, ${p.baud} baud, ${p.link}`;
  }
}

// The application's output as lines; what reached its receive side in another colour.
function serialEvent(event) {
  const port = portView(event.port.replace(/:$/, ''));
  const key = event.dir === 'tx' ? 'pending' : 'pendingRx';
  port[key] += String.fromCharCode(...hexToBytes(event.data));
  const parts = port[key].split(/\r\n|\n|\r/);
  port[key] = parts.pop();
  for (const line of parts) appendLine(port.log, event.dir === 'tx' ? line : '› ' + line, event.dir === 'tx' ? '' : 'rx');
  // Bytes without an end of line yet (a prompt) stay until the next come.
}

// ---- CAN ----

function canLine(event) {
  const bytes = hexToBytes(event.data || '');
  const id = event.extended ? event.id.padStart(8, '0') : event.id.padStart(3, ' ');
  const data = event.rtr ? 'remote request' : bytes.map((b) => b.toString(16).padStart(2, '0').toUpperCase()).join(' ');
  return `(${seconds(event.t)})  can0  ${event.dir === 'tx' ? 'TX' : 'RX'}  ${id.toUpperCase()}   [${bytes.length}]  ${data}`;
}

async function refreshCan() {
  const answer = await show('can');
  if (!answer.ok) return;
  $('#can-state').textContent = `${answer.open ? 'open' : 'closed'}, ${answer.bitrate} bit/s, ${answer.mode}` + (answer.bus ? `, bus ${answer.bus}` : '');
  const filters = answer.filters || [];
  $('#can-filters').textContent = filters.length === 0 ? 'no filters'
    : 'filters: ' + filters.map((f) => `${f.id}/${f.mask}${f.extended ? ' ext' : ''}`).join('  ');
}
const refreshCanSoon = later(refreshCan, 300);

// ---- I2C and the EEPROM ----

let eeprom = null;  // {bus, address, bytes}

function hexView(bytes, before) {
  const pre = $('#eeprom');
  const lines = [];
  let last = null, skipping = false;
  for (let offset = 0; offset < bytes.length; offset += 16) {
    const row = bytes.slice(offset, offset + 16);
    const key = row.join(',');
    const changed = before && row.some((b, i) => before[offset + i] !== b);
    // Rows that repeat the one before collapse into '*', as xxd -a and hexdump do.
    if (key === last && !changed && offset + 16 < bytes.length) {
      if (!skipping) lines.push(document.createTextNode('*\n'));
      skipping = true;
      continue;
    }
    skipping = false;
    last = key;
    const line = element('span');
    line.append(offset.toString(16).padStart(4, '0') + ': ');
    row.forEach((b, i) => {
      const text = b.toString(16).padStart(2, '0') + (i === 7 ? '  ' : ' ');
      if (before && before[offset + i] !== b) line.append(element('span', { class: 'changed', text }));
      else line.append(text);
    });
    line.append(' ' + row.map((b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('') + '\n');
    lines.push(line);
  }
  pre.replaceChildren(...lines);
}

async function refreshEeprom() {
  if (!eeprom) return;
  const answer = await show(`eeprom ${eeprom.bus} ${eeprom.address}`);
  if (!answer.ok) return;
  const bytes = hexToBytes(answer.data);
  hexView(bytes, eeprom.bytes);
  eeprom.bytes = bytes;
}
const refreshEepromSoon = later(refreshEeprom, 300);

async function refreshI2c() {
  const answer = await show('i2c');
  if (!answer.ok) return;
  const list = element('ul');
  for (const bus of answer.buses) {
    const devices = bus.devices.map((d) => `0x${d.address.toString(16).padStart(2, '0')} ${d.kind}` + (d.size ? ` (${d.size} bytes)` : ''));
    list.append(element('li', { text: `bus ${bus.bus}: ` + (devices.length ? devices.join(', ') : 'nobody') }));
    for (const d of bus.devices) {
      if (d.kind === 'eeprom' && !eeprom) {
        eeprom = { bus: bus.bus, address: d.address, bytes: null };
        $('#eeprom-which').textContent = `bus ${bus.bus}, 0x${d.address.toString(16)}`;
        refreshEeprom();
      }
    }
  }
  $('#i2c-buses').replaceChildren(list);
}

// ---- Faults and handles ----

async function refreshFaults() {
  const answer = await show('faults');
  if (!answer.ok) return;
  $('#faults').replaceChildren(...answer.faults.map((f) => {
    const clear = element('button', { type: 'button', text: 'Clear' });
    clear.addEventListener('click', async () => { await command(`fault clear ${f.id}`); refreshFaults(); });
    return element('li', { text: f.text }, clear);
  }));
  if (answer.faults.length === 0) $('#faults').append(element('li', { class: 'note', text: 'none armed' }));
}

async function refreshHandles() {
  const answer = await show('handles');
  if (!answer.ok) return;
  $('#handles tbody').replaceChildren(...answer.handles.map((h) => element('tr', {}, element('td', { text: h.device }), element('td', { text: h.count }))));
}

// Anything the application does may open or close a handle, meet a fault or turn a pin around
// (the board's events carry levels, not directions).
const refreshOthersSoon = later(() => { refreshHandles(); refreshFaults(); refreshGpio(); }, 500);

// ---- The events ----

let dropped = 0;

function onEvent(event) {
  switch (event.event) {
    case 'gpio': gpioEvent(event); break;
    case 'serial': serialEvent(event); break;
    case 'can':
      appendLine($('#can-lines'), canLine(event), event.dir === 'tx' ? '' : 'note');
      refreshCanSoon();
      break;
    case 'i2c':
      appendLine($('#i2c-lines'), `(${seconds(event.t)}) bus ${event.bus}: ${event.line}`);
      if (eeprom && event.bus === eeprom.bus) refreshEepromSoon();
      break;
    case 'debug': appendLine($('#debug-lines'), event.line); break;
    case 'dropped':
      dropped += event.count;
      $('#dropped').hidden = false;
      $('#dropped').textContent = `${dropped} events dropped`;
      break;
    case 'closed':
      setStatus('gone', 'application ended');
      stream.close();
      return;
    default: return;
  }
  refreshOthersSoon();
}

function setStatus(cls, text) {
  const s = $('#status');
  s.className = 'status ' + cls;
  s.textContent = text;
}

let stream = null;

async function start() {
  $('#vcd').href = withToken('/waveform.vcd');
  $('#wave-pause').addEventListener('click', () => {
    wave.paused = !wave.paused;
    wave.pausedAt = wave.now();
    $('#wave-pause').textContent = wave.paused ? 'Resume' : 'Pause';
  });
  $('#can-send').addEventListener('submit', async (e) => {
    e.preventDefault();
    const frame = $('#can-frame').value.trim();
    if (!/^[0-9A-Fa-f]{1,8}#/.test(frame)) { notice('✗ a frame is ID#DATA, as cansend takes it: 123#DEADBEEF', true); return; }
    const answer = await command(`can inject ${frame}`);
    if (answer.ok) $('#can-frame').value = '';
  });
  $('#fault-arm').addEventListener('submit', async (e) => {
    e.preventDefault();
    const answer = await command('fault ' + $('#fault-text').value.trim());
    if (answer.ok) $('#fault-text').value = '';
    refreshFaults();
  });
  $('#faults-clear').addEventListener('click', async () => { await command('fault clear'); refreshFaults(); });

  const hello = await show('clock');
  if (hello.ok) { wave.startT = wave.lastT = hello.t; wave.lastSeen = performance.now(); }
  try {
    const who = await (await fetch(withToken('/api/hello'))).json();
    if (who.ok) $('#program').textContent = `${who.program} (pid ${who.pid})`;
  } catch (e) { /* shown by the status */ }
  await Promise.all([refreshGpio(), refreshSerial(), refreshCan(), refreshI2c(), refreshFaults(), refreshHandles()]);
  stream = new EventSource(withToken('/events'));
  stream.onopen = () => setStatus('live', 'live');
  stream.onerror = () => { if (stream.readyState !== EventSource.CLOSED) setStatus('gone', 'reconnecting'); };
  stream.onmessage = (message) => {
    try { onEvent(JSON.parse(message.data)); } catch (e) { /* not an event of ours */ }
  };
  requestAnimationFrame(animate);
}

start();
