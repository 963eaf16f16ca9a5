// qkvweb's page: the waterfall of the data file followed, newest ping on top,
// each row the column means qkvweb sends in the colours it serves (those of
// qkvdump --png), the picker's depth drawn over it; the day's track; the
// status. Everything comes from qkvweb's event stream; nothing from elsewhere.
'use strict';

const byId = (id) => document.getElementById(id);
const waterfall = byId('waterfall');
const waterfallContext = waterfall.getContext('2d');
const depthLine = byId('depth-line');
const trackCanvas = byId('track');
const RECONNECT_MS = 5000;

const view = {
  columns: 0,
  rows: 0,
  colours: null,      // [r, g, b] of each mean, 0 to 255
  image: null,        // the waterfall's pixels, newest row first
  rowPings: [],       // the ping of each row drawn, newest first
  rowRanges: [],      // its range in metres
  depths: new Map(),  // ping -> depth in metres, or null for none
  track: [],          // [latitude, longitude] of the positions kept
  status: null,
  waiting: false,     // a drawing is asked for
};

function ask_to_draw() {
  if (view.waiting) return;
  view.waiting = true;
  requestAnimationFrame(draw);
}

// ---- The waterfall -----------------------------------------------------------

function clear_waterfall() {
  view.image = waterfallContext.createImageData(view.columns, view.rows);
  view.rowPings = [];
  view.rowRanges = [];
  view.depths.clear();
  ask_to_draw();
}

// A new row on top: the rows drawn move down one, the oldest falls off.
function add_ping(ping) {
  const means = atob(ping.means);
  if (means.length !== view.columns) return;
  const pixels = view.image.data;
  const rowBytes = view.columns * 4;
  pixels.copyWithin(rowBytes, 0, (view.rows - 1) * rowBytes);
  for (let c = 0; c < view.columns; ++c) {
    const colour = view.colours[means.charCodeAt(c)];
    pixels[c * 4] = colour[0];
    pixels[c * 4 + 1] = colour[1];
    pixels[c * 4 + 2] = colour[2];
    pixels[c * 4 + 3] = 255;
  }
  view.rowPings.unshift(ping.n);
  view.rowRanges.unshift(ping.range_m);
  if (view.rowPings.length > view.rows) {
    view.depths.delete(view.rowPings.pop());
    view.rowRanges.pop();
  }
  ask_to_draw();
}

function add_depth(verdict) {
  if (view.rowPings.length === 0 || verdict.n < view.rowPings[view.rowPings.length - 1]) return;
  view.depths.set(verdict.n, verdict.depth_m);
  ask_to_draw();
}

function draw_depth_line() {
  const context = depthLine.getContext('2d');
  const across = depthLine.width / view.columns;
  const down = depthLine.height / view.rows;
  context.clearRect(0, 0, depthLine.width, depthLine.height);
  context.strokeStyle = '#ff3b3b';
  context.lineWidth = 2 * across;
  context.beginPath();
  let drawing = false;
  view.rowPings.forEach((ping, row) => {
    const depth = view.depths.get(ping);
    if (depth === undefined || depth === null) {
      drawing = false;
      return;
    }
    const x = (depth / view.rowRanges[row]) * view.columns * across;
    const y = (row + 0.5) * down;
    if (drawing) context.lineTo(x, y); else context.moveTo(x, y);
    drawing = true;
  });
  context.stroke();
}

// What the page drew, read back from the canvas: the rows, the pings of the top and bottom ones,
// and FNV-1a over the red, green and blue of every pixel of those rows, top row first.
function drawn_summary() {
  const rows = view.rowPings.length;
  let hash = 0x811c9dc5;
  if (rows > 0) {
    const pixels = waterfallContext.getImageData(0, 0, view.columns, rows).data;
    for (let i = 0; i < pixels.length; i += 4) {
      for (let k = 0; k < 3; ++k) hash = Math.imul(hash ^ pixels[i + k], 0x01000193) >>> 0;
    }
  }
  const summary = {
    rows,
    newest: rows ? view.rowPings[0] : null,
    oldest: rows ? view.rowPings[rows - 1] : null,
    checksum: hash.toString(16).padStart(8, '0'),
  };
  const output = byId('drawn');
  Object.assign(output.dataset, summary);
  return summary;
}
window.qkvwebDrawn = drawn_summary;

// ---- The track ---------------------------------------------------------------------

const METRES_PER_DEGREE = 111320;

function nice_length(metres) {
  const power = 10 ** Math.floor(Math.log10(metres));
  for (const step of [5, 2, 1]) if (step * power <= metres) return step * power;
  return power;
}

// A plain drawing of the positions, north up, metres the same both ways.
function draw_track() {
  const context = trackCanvas.getContext('2d');
  const size = trackCanvas.width;
  const margin = 24;
  context.fillStyle = '#101318';
  context.fillRect(0, 0, size, size);
  const points = view.track.slice();
  const status = view.status;
  if (status && status.latitude !== null) points.push([status.latitude, status.longitude]);
  context.fillStyle = '#9aa3ad';
  context.font = '14px system-ui, sans-serif';
  if (points.length === 0) {
    context.fillText('no position yet', margin, size / 2);
    return;
  }
  const latitudes = points.map((p) => p[0]);
  const longitudes = points.map((p) => p[1]);
  const south = Math.min(...latitudes), north = Math.max(...latitudes);
  const west = Math.min(...longitudes), east = Math.max(...longitudes);
  const eastward = METRES_PER_DEGREE * Math.cos(((south + north) / 2) * Math.PI / 180);
  const extent = Math.max((north - south) * METRES_PER_DEGREE, (east - west) * eastward, 50);
  const scale = (size - 2 * margin) / extent;
  const x = (p) => size / 2 + ((p[1] - (west + east) / 2) * eastward) * scale;
  const y = (p) => size / 2 - ((p[0] - (south + north) / 2) * METRES_PER_DEGREE) * scale;
  context.strokeStyle = '#5fa8d3';
  context.lineWidth = 1.5;
  context.beginPath();
  points.forEach((p, i) => (i ? context.lineTo(x(p), y(p)) : context.moveTo(x(p), y(p))));
  context.stroke();
  const latest = points[points.length - 1];
  context.fillStyle = '#fde725';
  context.beginPath();
  context.arc(x(latest), y(latest), 6, 0, 2 * Math.PI);
  context.fill();
  const bar = nice_length(extent / 4);
  context.strokeStyle = context.fillStyle = '#e6e8eb';
  context.beginPath();
  context.moveTo(margin, size - margin / 2);
  context.lineTo(margin + bar * scale, size - margin / 2);
  context.stroke();
  context.fillText(bar >= 1000 ? `${bar / 1000} km` : `${bar} m`, margin + bar * scale + 6, size - margin / 2 + 5);
  context.fillText('N \u2191', margin / 2, margin);
}

function add_track(part) {
  if (part.from === 0) view.track = [];
  if (part.from !== view.track.length) return;  // a part missed: the next generation brings the whole track
  view.track.push(...part.points);
  ask_to_draw();
}

// ---- The status ----------------------------------------------------------------------

function seconds_text(seconds) {
  if (seconds === null) return '\u2013';
  if (seconds < 60) return `${seconds.toFixed(1)} s ago`;
  if (seconds < 3600) return `${Math.floor(seconds / 60)} min ${Math.floor(seconds % 60)} s ago`;
  return `${Math.floor(seconds / 3600)} h ${Math.floor((seconds % 3600) / 60)} min ago`;
}

function bytes_text(bytes) {
  if (bytes === null) return '\u2013';
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB'];
  let unit = 0;
  while (bytes >= 1024 && unit < units.length - 1) { bytes /= 1024; ++unit; }
  return unit === 0 ? `${bytes} bytes` : `${bytes.toFixed(1)} ${units[unit]}`;
}

function set_text(id, text) {
  const element = byId(id);
  if (element.textContent !== text) element.textContent = text;
}

function show_state(word, className) {
  const state = byId('state');
  set_text('state', word);
  state.className = `state ${className}`;
}

function show_status(status) {
  view.status = status;
  const classes = { recording: 'state-recording', stale: 'state-stale' };
  show_state(status.state, classes[status.state] || 'state-none');
  set_text('reason', status.reason || '');
  set_text('file-name', status.file || '');
  set_text('status-file', status.file || 'none');
  const malformed = status.malformed ? ` (${status.malformed} malformed)` : '';
  set_text('status-records', `${status.records}${malformed}`);
  set_text('status-bytes', status.file ? bytes_text(status.bytes) : '\u2013');
  set_text('status-rate', status.pings_per_second.toFixed(1));
  set_text('status-age', seconds_text(status.last_record_age_s));
  set_text('status-disk', bytes_text(status.free_disk_bytes));
  set_text('status-fix', status.fix_quality ? `${status.fix_quality}, ${seconds_text(status.fix_age_s)}`
                                           : (status.nav_note || 'none'));
  set_text('status-position', status.latitude_text ? `${status.latitude_text}  ${status.longitude_text}` : '\u2013');
  set_text('nav-file', status.nav_file || '');
  set_text('depth-now', status.depth_m === null ? '\u2013' : `${status.depth_m.toFixed(2)} m`);
  ask_to_draw();
}

// ---- Drawing and the stream ------------------------------------------------------------

function draw() {
  view.waiting = false;
  if (!view.image) return;
  waterfallContext.putImageData(view.image, 0, 0);
  draw_depth_line();
  draw_track();
  const range = view.rowRanges.length ? view.rowRanges[0] : null;
  set_text('range-end', range === null ? '' : `${Number(range.toFixed(1))} m`);
  // When the newest row reached the screen, for measuring the time from a record's write to its row.
  const drawn = byId('drawn').dataset;
  drawn.rows = view.rowPings.length;
  drawn.newest = view.rowPings.length ? view.rowPings[0] : '';
  drawn.drawnAt = Date.now();
}

function on(events, name, take) {
  events.addEventListener(name, (event) => take(JSON.parse(event.data)));
}

function connect() {
  const events = new EventSource('/events');
  on(events, 'file', clear_waterfall);
  on(events, 'ping', add_ping);
  on(events, 'depth', add_depth);
  on(events, 'track', add_track);
  on(events, 'status', show_status);
  events.onerror = () => {
    show_state('no connection to qkvweb', 'state-none');
    // A refusal (too many clients) ends the stream for good: ask again later.
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, RECONNECT_MS);
  };
}

async function start() {
  const layout = await (await fetch('/waterfall.json')).json();
  view.columns = layout.columns;
  view.rows = layout.rows;
  view.colours = layout.colours;
  for (const canvas of [waterfall, depthLine]) {
    canvas.width = layout.columns;
    canvas.height = layout.rows;
  }
  depthLine.width = 2 * layout.columns;  // a finer line over the pixels
  depthLine.height = 2 * layout.rows;
  clear_waterfall();
  connect();
}

start().catch(() => {
  show_state('no connection to qkvweb', 'state-none');
  setTimeout(() => location.reload(), RECONNECT_MS);
});
