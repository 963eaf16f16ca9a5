// qkvweb's page: the waterfall of the data file followed as a sounder shows
// it, time across with the newest ping on the right and depth down, each
// ping's column the means qkvweb sends in the colours it serves (those of
// qkvdump --png), with a depth scale and time ticks at 1-2-5 steps and light
// grid lines, the picker's bottom drawn over it (below the transducer, where
// the echo is); the day's track over the coverage's cells, coloured by their
// mean depth with a legend; the status, the depth shown below its reference.
// Everything comes from qkvweb's event stream; nothing from elsewhere.
'use strict';

const byId = (id) => document.getElementById(id);
const waterfall = byId('waterfall');
const waterfallContext = waterfall.getContext('2d');
const depthLine = byId('depth-line');
const axes = byId('axes');
const trackCanvas = byId('track');
const legendCanvas = byId('legend');
// Shallow to deep: viridis' stops, yellow to violet.
const DEPTH_COLOURS = [[253, 231, 37], [94, 201, 98], [33, 145, 140], [59, 82, 139], [68, 1, 84]];
const RECONNECT_MS = 5000;
const TICKS_AT_MOST = 8;
const TIME_STEPS_S = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600];
const GRID_COLOUR = 'rgba(255, 255, 255, 0.28)';
const LABEL_COLOUR = '#c3c9d0';

const view = {
  columns: 0,         // of the means sent with each ping: the depth's cells, down
  rows: 0,            // of the pings kept: across
  colours: null,      // [r, g, b] of each mean, 0 to 255
  image: null,        // the waterfall's pixels: a ping a column, the newest on the right
  pings: [],          // the ping of each column drawn, newest first
  ranges: [],         // its range in metres
  times: [],          // its local time of day in seconds, or null
  depths: new Map(),  // ping -> depth in metres, or null for none
  ticks: { depth: [], time: [] },  // the labels drawn last
  track: [],          // [latitude, longitude] of the positions kept
  // The coverage: its version, each cell's [latitude, longitude, depth] by its centre, and their size.
  coverage: { version: null, cells: new Map(), cell_m: 0, got: 0 },
  coming: null,       // a version sent whole, under way
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
  view.image = waterfallContext.createImageData(view.rows, view.columns);
  view.pings = [];
  view.ranges = [];
  view.times = [];
  view.depths.clear();
  ask_to_draw();
}

// "09:05:00.37" as seconds of the day; null for what is no time.
function seconds_of_day(text) {
  const parts = /^(\d\d):(\d\d):(\d\d)(\.\d+)?$/.exec(text || '');
  if (!parts) return null;
  return Number(parts[1]) * 3600 + Number(parts[2]) * 60 + Number(parts[3]) + Number(parts[4] || 0);
}

// A new column on the right: the columns drawn move left one, the oldest falls off.
function add_ping(ping) {
  const means = atob(ping.means);
  if (means.length !== view.columns) return;
  const pixels = view.image.data;
  const rowBytes = view.rows * 4;
  for (let y = 0; y < view.columns; ++y) {
    const row = y * rowBytes;
    pixels.copyWithin(row, row + 4, row + rowBytes);
    const colour = view.colours[means.charCodeAt(y)];
    const at = row + rowBytes - 4;
    pixels[at] = colour[0];
    pixels[at + 1] = colour[1];
    pixels[at + 2] = colour[2];
    pixels[at + 3] = 255;
  }
  view.pings.unshift(ping.n);
  view.ranges.unshift(ping.range_m);
  view.times.unshift(seconds_of_day(ping.time));
  if (view.pings.length > view.rows) {
    view.depths.delete(view.pings.pop());
    view.ranges.pop();
    view.times.pop();
  }
  ask_to_draw();
}

function add_depth(verdict) {
  if (view.pings.length === 0 || verdict.n < view.pings[view.pings.length - 1]) return;
  view.depths.set(verdict.n, verdict.depth_m);
  ask_to_draw();
}

// The column of the kth newest ping, from the left.
const column_of = (k) => view.rows - 1 - k;

function draw_depth_line() {
  const context = depthLine.getContext('2d');
  const across = depthLine.width / view.rows;
  const down = depthLine.height / view.columns;
  context.clearRect(0, 0, depthLine.width, depthLine.height);
  context.strokeStyle = '#ff3b3b';
  context.lineWidth = 2 * down;
  context.beginPath();
  let drawing = false;
  view.pings.forEach((ping, k) => {
    const depth = view.depths.get(ping);
    if (depth === undefined || depth === null) {
      drawing = false;
      return;
    }
    const x = (column_of(k) + 0.5) * across;
    const y = (depth / view.ranges[k]) * view.columns * down;
    if (drawing) context.lineTo(x, y); else context.moveTo(x, y);
    drawing = true;
  });
  context.stroke();
}

// The smallest step of 1, 2 or 5 times a power of ten that leaves at most TICKS_AT_MOST of them over span.
function step_1_2_5(span) {
  let power = 10 ** Math.floor(Math.log10(span / TICKS_AT_MOST));
  for (;;) {
    for (const step of [1, 2, 5]) if (span / (step * power) <= TICKS_AT_MOST) return step * power;
    power *= 10;
  }
}

function time_text(seconds, step) {
  const whole = Math.round(seconds);
  const two = (n) => String(n).padStart(2, '0');
  const hours = two(Math.floor(whole / 3600) % 24), minutes = two(Math.floor(whole / 60) % 60);
  return step >= 60 ? `${hours}:${minutes}` : `${hours}:${minutes}:${two(whole % 60)}`;
}

// The depth scale down the left, the time ticks along the foot, and their grid lines over the pings.
function draw_axes() {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.round(axes.clientWidth * ratio), height = Math.round(axes.clientHeight * ratio);
  if (axes.width !== width || axes.height !== height) {
    axes.width = width;
    axes.height = height;
  }
  const context = axes.getContext('2d');
  context.clearRect(0, 0, width, height);
  const plot = waterfall.getBoundingClientRect(), frame = axes.getBoundingClientRect();
  const left = (plot.left - frame.left) * ratio, top = (plot.top - frame.top) * ratio;
  const across = plot.width * ratio, down = plot.height * ratio;
  context.font = `${Math.round(12 * ratio)}px system-ui, sans-serif`;
  context.lineWidth = Math.max(1, Math.round(ratio));
  const line = (x0, y0, x1, y1, colour) => {
    context.strokeStyle = colour;
    context.beginPath();
    context.moveTo(x0, y0);
    context.lineTo(x1, y1);
    context.stroke();
  };
  view.ticks = { depth: [], time: [] };
  const range = view.ranges.length ? view.ranges[0] : null;
  if (range) {
    const step = step_1_2_5(range);
    context.textAlign = 'right';
    context.textBaseline = 'middle';
    for (let depth = 0; depth <= range + 1e-9; depth += step) {
      const y = Math.round(top + (depth / range) * down) + 0.5;
      line(left, y, left + across, y, GRID_COLOUR);
      line(left - 5 * ratio, y, left, y, LABEL_COLOUR);
      const label = `${Number(depth.toFixed(3))} m`;
      context.fillStyle = LABEL_COLOUR;
      context.fillText(label, left - 7 * ratio, Math.min(Math.max(y, 7 * ratio), height - 7 * ratio));
      view.ticks.depth.push(label);
    }
  }
  const known = view.times.filter((t) => t !== null);
  if (known.length > 1) {
    const span = Math.max(...known) - Math.min(...known);
    const step = TIME_STEPS_S.find((s) => span / s <= TICKS_AT_MOST) || TIME_STEPS_S[TIME_STEPS_S.length - 1];
    context.textAlign = 'center';
    context.textBaseline = 'top';
    // A tick where a ping's time first reaches a whole step, oldest first; a label with no room beside the one
    // before it is left out, its tick and line kept.
    let free = 0;
    for (let k = view.times.length - 2; k >= 0; --k) {
      const before = view.times[k + 1], time = view.times[k];
      if (before === null || time === null || Math.floor(time / step) === Math.floor(before / step)) continue;
      const x = Math.round(left + ((column_of(k) + 0.5) / view.rows) * across) + 0.5;
      line(x, top, x, top + down, GRID_COLOUR);
      line(x, top + down, x, top + down + 5 * ratio, LABEL_COLOUR);
      const label = time_text(Math.floor(time / step) * step, step);
      context.fillStyle = LABEL_COLOUR;
      const half = context.measureText(label).width / 2;
      const at = Math.min(Math.max(x, half), width - half);
      view.ticks.time.push(label);
      if (at - half < free) continue;
      context.fillText(label, at, top + down + 7 * ratio);
      free = at + half + 6 * ratio;
    }
  }
}

// What the page drew, read back from the canvas: the pings, the newest and oldest of them, FNV-1a over the
// red, green and blue of every pixel of their columns, newest first and each from the top down, and the
// labels of the depth scale and the time ticks.
function drawn_summary() {
  if (view.waiting) draw();
  const count = view.pings.length;
  let hash = 0x811c9dc5;
  if (count > 0) {
    const pixels = waterfallContext.getImageData(view.rows - count, 0, count, view.columns).data;
    for (let x = count - 1; x >= 0; --x) {
      for (let y = 0; y < view.columns; ++y) {
        const at = (y * count + x) * 4;
        for (let k = 0; k < 3; ++k) hash = Math.imul(hash ^ pixels[at + k], 0x01000193) >>> 0;
      }
    }
  }
  const summary = {
    rows: count,
    newest: count ? view.pings[0] : null,
    oldest: count ? view.pings[count - 1] : null,
    checksum: hash.toString(16).padStart(8, '0'),
    depth_ticks: view.ticks.depth,
    time_ticks: view.ticks.time,
  };
  const output = byId('drawn');
  Object.assign(output.dataset, { rows: summary.rows, newest: summary.newest, checksum: summary.checksum });
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

// The colour of a depth between the shallowest and the deepest cell.
function depth_colour(depth, shallowest, deepest) {
  const share = deepest > shallowest ? (depth - shallowest) / (deepest - shallowest) : 0;
  const at = Math.min(Math.max(share, 0), 1) * (DEPTH_COLOURS.length - 1);
  const low = Math.floor(at), high = Math.min(low + 1, DEPTH_COLOURS.length - 1), part = at - low;
  const c = DEPTH_COLOURS[low].map((v, k) => Math.round(v + (DEPTH_COLOURS[high][k] - v) * part));
  return `rgb(${c[0]},${c[1]},${c[2]})`;
}

function depth_range() {
  const depths = Array.from(view.coverage.cells.values(), (c) => c[2]);
  return depths.length ? [Math.min(...depths), Math.max(...depths)] : null;
}

// The legend under the track: the colours from the shallowest cell to the deepest, the reference named.
function draw_legend() {
  const context = legendCanvas.getContext('2d');
  const width = legendCanvas.width, height = legendCanvas.height;
  context.fillStyle = '#1f2329';
  context.fillRect(0, 0, width, height);
  const range = depth_range();
  context.font = '13px system-ui, sans-serif';
  context.fillStyle = '#9aa3ad';
  context.textBaseline = 'top';
  if (!range) {
    context.fillText('no coverage yet', 4, 4);
    return;
  }
  const left = 4, right = width - 4, bar = 14, line = 19;
  for (let x = left; x < right; ++x) {
    context.fillStyle = depth_colour(x - left, 0, right - left);
    context.fillRect(x, 2, 1, bar);
  }
  const reference = view.status && view.status.depth_reference ? ` below ${view.status.depth_reference}` : '';
  context.fillStyle = '#e6e8eb';
  context.textAlign = 'left';
  context.fillText(`${range[0].toFixed(2)} m`, left, bar + 5);
  context.textAlign = 'right';
  context.fillText(`${range[1].toFixed(2)} m`, right, bar + 5);
  context.textAlign = 'left';
  context.fillStyle = '#9aa3ad';
  context.fillText(`mean depth${reference}, cells of ${view.coverage.cell_m} m`, left, bar + 5 + line);
}

// A plain drawing of the positions over the coverage, north up, metres the same both ways.
function draw_track() {
  const context = trackCanvas.getContext('2d');
  const size = trackCanvas.width;
  const margin = 24;
  context.fillStyle = '#101318';
  context.fillRect(0, 0, size, size);
  const points = view.track.slice();
  const status = view.status;
  if (status && status.latitude !== null) points.push([status.latitude, status.longitude]);
  const cells = Array.from(view.coverage.cells.values());
  context.fillStyle = '#9aa3ad';
  context.font = '14px system-ui, sans-serif';
  if (points.length === 0 && cells.length === 0) {
    context.fillText('no position yet', margin, size / 2);
    return;
  }
  const latitudes = points.map((p) => p[0]).concat(cells.map((c) => c[0]));
  const longitudes = points.map((p) => p[1]).concat(cells.map((c) => c[1]));
  const south = Math.min(...latitudes), north = Math.max(...latitudes);
  const west = Math.min(...longitudes), east = Math.max(...longitudes);
  const eastward = METRES_PER_DEGREE * Math.cos(((south + north) / 2) * Math.PI / 180);
  const extent = Math.max((north - south) * METRES_PER_DEGREE, (east - west) * eastward, 50);
  const scale = (size - 2 * margin) / extent;
  const x = (p) => size / 2 + ((p[1] - (west + east) / 2) * eastward) * scale;
  const y = (p) => size / 2 - ((p[0] - (south + north) / 2) * METRES_PER_DEGREE) * scale;
  const range = depth_range();
  // A cell is drawn 3 pixels wide at least: a line's cells of a metre would hide under the track.
  const side = Math.max(view.coverage.cell_m * scale, 3);
  for (const cell of cells) {
    context.fillStyle = depth_colour(cell[2], range[0], range[1]);
    context.fillRect(x(cell) - side / 2, y(cell) - side / 2, side, side);
  }
  if (points.length === 0) return;
  context.strokeStyle = 'rgba(230, 232, 235, 0.55)';
  context.lineWidth = 1;
  context.beginPath();
  points.forEach((p, i) => (i ? context.lineTo(x(p), y(p)) : context.moveTo(x(p), y(p))));
  context.stroke();
  const latest = points[points.length - 1];
  context.fillStyle = '#ff3b3b';
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

const cell_key = (cell) => `${cell[0]},${cell[1]}`;

// A version of the coverage comes in parts: sent whole, it replaces the one drawn once all its cells have come;
// else its cells new or changed since the version before, taken as they come.
function add_coverage(part) {
  let into = view.coverage;
  if (part.whole) {
    if (part.from === 0) view.coming = { version: part.version, cells: new Map(), cell_m: part.cell_m, got: 0 };
    into = view.coming;
  } else if (part.from === 0 && into.version === part.version - 1) {
    into.version = part.version;
    into.got = 0;
  }
  if (!into || into.version !== part.version || part.from !== into.got) return;
  for (const cell of part.cells) into.cells.set(cell_key(cell), cell);
  into.got += part.cells.length;
  into.cell_m = part.cell_m;
  if (part.whole && into.got >= part.count) {
    view.coverage = into;
    view.coming = null;
  }
  ask_to_draw();
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
  const flags = status.depth_flags ? ` (${status.depth_flags})` : '';
  set_text('depth-reference', `below ${status.depth_reference}${flags}`);
  set_text('status-corrections', status.corrections || `below ${status.depth_reference}, unreduced`);
  set_text('status-coverage', status.coverage_cells
    ? `${status.coverage_cells} cells of ${status.coverage_cell_m} m, ${status.coverage_depth_min_m.toFixed(2)} to ` +
      `${status.coverage_depth_max_m.toFixed(2)} m`
    : 'none yet');
  ask_to_draw();
}

// ---- Drawing and the stream ------------------------------------------------------------

function draw() {
  view.waiting = false;
  if (!view.image) return;
  waterfallContext.putImageData(view.image, 0, 0);
  draw_depth_line();
  draw_axes();
  draw_track();
  draw_legend();
  // When the newest ping reached the screen, for measuring the time from a record's write to its column.
  const drawn = byId('drawn').dataset;
  drawn.rows = view.pings.length;
  drawn.newest = view.pings.length ? view.pings[0] : '';
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
  on(events, 'coverage', add_coverage);
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
  waterfall.width = layout.rows;
  waterfall.height = layout.columns;
  depthLine.width = 2 * layout.rows;  // a finer line over the pixels
  depthLine.height = 2 * layout.columns;
  window.addEventListener('resize', ask_to_draw);
  clear_waterfall();
  connect();
}

start().catch(() => {
  show_state('no connection to qkvweb', 'state-none');
  setTimeout(() => location.reload(), RECONNECT_MS);
});
