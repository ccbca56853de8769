'use strict';
// The live page: the channels from the API, then every reading from the stream. Statistics and
// the trend cover the time since the page was opened.
(function () {
  const TREND_MS = 5 * 60 * 1000;
  const PREFIX = { p: 1e-12, n: 1e-9, 'µ': 1e-6, u: 1e-6, m: 1e-3, k: 1e3, M: 1e6, G: 1e9 };
  const BASES = ['V', 'A', 'Ω', 'Hz', 'F', 's', 'W'];
  const cards = new Map();
  let token = localStorage.getItem('dmmview.token') || '';
  let socket = null;

  function base(value, unit) {
    if (unit.length > 1 && PREFIX[unit[0]] !== undefined && BASES.includes(unit.slice(1))) {
      return { value: value * PREFIX[unit[0]], unit: unit.slice(1) };
    }
    return { value: value, unit: unit };
  }

  function si(value, unit) {
    if (value === null || !isFinite(value)) return '—';
    if (!BASES.includes(unit) || value === 0) return +value.toPrecision(5) + (unit ? ' ' + unit : '');
    const steps = [[1e9, 'G'], [1e6, 'M'], [1e3, 'k'], [1, ''], [1e-3, 'm'], [1e-6, 'µ'], [1e-9, 'n'], [1e-12, 'p']];
    const a = Math.abs(value);
    const [f, p] = steps.find(([f]) => a >= f) || steps[steps.length - 1];
    return +(value / f).toPrecision(5) + ' ' + p + unit;
  }

  function tokenProtocol(t) {
    const bytes = new TextEncoder().encode(t);
    let s = '';
    bytes.forEach((b) => { s += String.fromCharCode(b); });
    return 'bearer.' + btoa(s).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }

  async function api(path) {
    for (let attempt = 0; attempt < 2; attempt++) {
      const headers = token ? { Authorization: 'Bearer ' + token } : {};
      const r = await fetch(path, { headers: headers, cache: 'no-store' });
      if (r.status !== 401) {
        if (!r.ok) throw new Error(path + ': ' + r.status);
        return r.json();
      }
      const given = window.prompt('This dmmview asks for its access token:');
      if (!given) throw new Error('no token given');
      token = given.trim();
      localStorage.setItem('dmmview.token', token);
    }
    throw new Error('the token was not accepted');
  }

  function card(channel) {
    let c = cards.get(channel.name);
    if (c) return c;
    const node = document.getElementById('card').content.firstElementChild.cloneNode(true);
    node.dataset.channel = channel.name;
    const q = (s) => node.querySelector(s);
    q('.name').textContent = channel.name;
    q('.value').dataset.channel = channel.name;
    q('.source').textContent = channel.kind === 'math' ? channel.model : [channel.model, channel.device].filter(Boolean).join(' @ ');
    document.getElementById('channels').appendChild(node);
    c = { node: node, q: q, points: [], stats: null, unit: '', dirty: false };
    cards.set(channel.name, c);
    backfill(c, channel.name).catch(() => {});
    return c;
  }

  function setState(c, online, stale) {
    c.node.classList.toggle('offline', !online);
    c.node.classList.toggle('stale', online && stale);
    c.q('.state').textContent = !online ? 'offline' : stale ? 'stale' : 'live';
  }

  function show(c, reading, count) {
    c.q('.value').textContent = reading.display;
    c.q('.value').dataset.value = reading.value === null ? '' : String(reading.value);
    c.q('.unit').textContent = reading.unit;
    c.q('.acdc').textContent = reading.acdc;
    c.q('.range').textContent = reading.range;
    if (!count || reading.value === null) return;
    const b = base(reading.value, reading.unit);
    if (c.unit !== b.unit) {
      // another function: what was gathered before says nothing about this one
      c.unit = b.unit;
      c.stats = null;
      c.points = [];
    }
    const s = c.stats || (c.stats = { n: 0, min: b.value, max: b.value, sum: 0 });
    s.n++;
    s.min = Math.min(s.min, b.value);
    s.max = Math.max(s.max, b.value);
    s.sum += b.value;
    trendPoint(c, reading, b);
  }

  function trendPoint(c, reading, b) {
    const t = Date.parse(reading.time);
    if (!isFinite(t) || (c.points.length && t < c.points[c.points.length - 1][0])) return;
    c.points.push([t, b.value]);
    while (c.points.length && c.points[0][0] < t - TREND_MS) c.points.shift();
    c.dirty = true;
  }

  // The trend starts with what the server kept of the last minutes.
  async function backfill(c, name) {
    let path = '/api/v1/channels/' + encodeURIComponent(name) + '/readings?limit=1000&since=' + (Date.now() - TREND_MS);
    const older = [];
    for (let page = 0; path && page < 8; page++) {
      const data = await api(path);
      data.readings.forEach((r) => older.push(r));
      path = data.more ? data.next : null;
    }
    const live = c.points;
    c.points = [];
    older.forEach((r) => {
      if (r.value === null) return;
      const b = base(r.value, r.unit);
      if (c.unit && b.unit !== c.unit) return;
      c.unit = b.unit;
      trendPoint(c, r, b);
    });
    live.forEach((p) => { if (!c.points.length || p[0] > c.points[c.points.length - 1][0]) c.points.push(p); });
    c.dirty = true;
  }

  function drawStats(c) {
    const s = c.stats;
    c.q('.min').textContent = s ? si(s.min, c.unit) : '—';
    c.q('.max').textContent = s ? si(s.max, c.unit) : '—';
    c.q('.mean').textContent = s ? si(s.sum / s.n, c.unit) : '—';
    c.q('.count').textContent = s ? String(s.n) : '0';
  }

  function drawTrend(c) {
    const canvas = c.q('.trend');
    const w = canvas.clientWidth, h = canvas.clientHeight, ratio = window.devicePixelRatio || 1;
    if (canvas.width !== Math.round(w * ratio)) canvas.width = Math.round(w * ratio);
    if (canvas.height !== Math.round(h * ratio)) canvas.height = Math.round(h * ratio);
    const g = canvas.getContext('2d');
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, w, h);
    g.strokeStyle = '#2a323b';
    g.strokeRect(0.5, 0.5, w - 1, h - 1);
    const pts = c.points;
    if (pts.length < 2) return;
    let lo = Infinity, hi = -Infinity;
    pts.forEach(([, v]) => { lo = Math.min(lo, v); hi = Math.max(hi, v); });
    if (hi - lo < 1e-12) { hi += Math.abs(hi) * 0.01 + 1e-9; lo -= Math.abs(lo) * 0.01 + 1e-9; }
    // the last minutes, or as much of them as there is, 30 s at least
    const now = pts[pts.length - 1][0], pad = 16;
    const span = Math.min(TREND_MS, Math.max(30000, now - pts[0][0]));
    const x = (t) => w - ((now - t) / span) * w;
    const y = (v) => pad + (h - 2 * pad) * (1 - (v - lo) / (hi - lo));
    g.strokeStyle = '#6cc3ff';
    g.lineWidth = 1.5;
    g.beginPath();
    pts.forEach(([t, v], i) => (i ? g.lineTo(x(t), y(v)) : g.moveTo(x(t), y(v))));
    g.stroke();
    g.fillStyle = '#8a96a3';
    g.font = '11px system-ui, sans-serif';
    g.fillText(si(hi, c.unit), 4, 12);
    g.fillText(si(lo, c.unit), 4, h - 4);
    const label = span >= 60000 ? Math.round(span / 60000) + ' min' : Math.round(span / 1000) + ' s';
    g.fillText(label, w - g.measureText(label).width - 4, h - 4);
  }

  function frame() {
    cards.forEach((c) => {
      if (!c.dirty) return;
      c.dirty = false;
      drawStats(c);
      drawTrend(c);
    });
    window.requestAnimationFrame(frame);
  }

  async function refresh() {
    try {
      const data = await api('/api/v1/channels');
      data.channels.forEach((ch) => {
        const c = card(ch);
        setState(c, ch.online, ch.stale);
        if (ch.latest && c.q('.value').textContent === '—') show(c, ch.latest, false);
      });
      return true;
    } catch (e) {
      note(String(e.message || e));
      return false;
    }
  }

  function note(text) {
    const n = document.getElementById('note');
    n.textContent = text;
    n.hidden = !text;
  }

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    socket = new WebSocket(scheme + location.host + '/api/v1/stream', token ? [tokenProtocol(token)] : []);
    const link = document.getElementById('link');
    socket.onopen = () => { link.textContent = 'live'; link.classList.add('live'); };
    socket.onclose = () => {
      link.textContent = 'connection lost, trying again…';
      link.classList.remove('live');
      setTimeout(connect, 2000);
    };
    socket.onmessage = (event) => {
      const message = JSON.parse(event.data);
      if (message.lost) note(message.lost + ' readings were lost: this screen read them too slowly');
      message.readings.forEach((item) => {
        const c = cards.get(item.channel);
        if (!c) return;
        show(c, item.reading, true);
        setState(c, true, false);
      });
    };
  }

  document.getElementById('reset').addEventListener('click', () => {
    cards.forEach((c) => { c.stats = null; c.points = []; c.dirty = true; });
  });

  (async function start() {
    if (!(await refresh())) {
      setTimeout(start, 3000);
      return;
    }
    connect();
    setInterval(refresh, 2000);
    window.requestAnimationFrame(frame);
  })();
})();
