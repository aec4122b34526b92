// The live map: draws the countries once per view and the traffic at every update from the server's event
// stream; pan with the mouse, zoom with the wheel or the buttons. window.skorvaleMap exposes its state.
(function () {
  'use strict';

  const TRAIL_POINTS = 40;       // positions kept per aircraft for its trail
  const MIN_SPAN_DEGREES = 0.03; // following the traffic never zooms in further than about 3 km across
  const CHAT_LINES = 200;
  const SYMBOL = '#ffd21f';

  const mapElement = document.getElementById('map');
  const basemap = document.getElementById('basemap');
  const overlay = document.getElementById('traffic');
  const projection = d3.geoMercator();
  const state = {
    aircraft: new Map(), // key -> {callsign, model, lat, lon, alt, heading, trail: [[lon, lat]...]}
    chat: [],
    connected: false,
    updates: 0,
    follow: true,
    land: null,
    borders: null,
    drawnView: '',
  };

  // --- Drawing ---

  function resize() {
    const ratio = window.devicePixelRatio || 1;
    for (const canvas of [basemap, overlay]) {
      canvas.width = Math.round(mapElement.clientWidth * ratio);
      canvas.height = Math.round(mapElement.clientHeight * ratio);
      canvas.getContext('2d').setTransform(ratio, 0, 0, ratio, 0, 0);
    }
    if (state.follow) fitTraffic();
    state.drawnView = '';
    draw();
  }

  function viewKey() {
    return projection.scale() + ',' + projection.translate().join(',') + ',' + basemap.width + ',' + (state.land ? 1 : 0);
  }

  function drawBasemap() {
    const key = viewKey();
    if (key === state.drawnView) return;
    state.drawnView = key;
    const context = basemap.getContext('2d');
    const path = d3.geoPath(projection, context);
    context.clearRect(0, 0, basemap.width, basemap.height);
    context.fillStyle = '#0b1a2a';
    context.fillRect(0, 0, basemap.width, basemap.height);
    if (state.land) {
      context.beginPath();
      path(state.land);
      context.fillStyle = '#2a3b2c';
      context.fill();
      context.beginPath();
      path(state.borders);
      context.strokeStyle = '#6f8a72';
      context.lineWidth = 1;
      context.stroke();
    }
    context.beginPath();
    path(d3.geoGraticule10());
    context.strokeStyle = 'rgba(120, 160, 200, 0.25)';
    context.lineWidth = 1;
    context.stroke();
    drawScale(context);
  }

  // A bar of a round length, measured at the bottom of the map where it is drawn.
  function drawScale(context) {
    const height = mapElement.clientHeight;
    const y = height - 24;
    const left = projection.invert([20, y]);
    const right = projection.invert([120, y]);
    if (!left || !right) return;
    const metresPer100 = d3.geoDistance(left, right) * 6371008.8;
    const steps = [1, 2, 5];
    let length = 1;
    for (let exponent = 0; exponent < 8; exponent++) {
      for (const step of steps) {
        const candidate = step * Math.pow(10, exponent);
        if (candidate <= metresPer100 * 1.5) length = candidate;
      }
    }
    const pixels = (length / metresPer100) * 100;
    context.fillStyle = 'rgba(5, 15, 25, 0.7)';
    context.fillRect(12, y - 16, pixels + 16, 24);
    context.strokeStyle = '#e8eef4';
    context.lineWidth = 2;
    context.beginPath();
    context.moveTo(20, y - 4);
    context.lineTo(20, y);
    context.lineTo(20 + pixels, y);
    context.lineTo(20 + pixels, y - 4);
    context.stroke();
    context.fillStyle = '#e8eef4';
    context.font = '11px "DejaVu Sans", sans-serif';
    context.fillText(length >= 1000 ? `${length / 1000} km` : `${length} m`, 24, y - 5);
  }

  function feet(metres) {
    return Math.round(metres * 3.28084).toLocaleString('en-US') + ' ft';
  }

  function drawAircraft(context, plane) {
    const point = projection([plane.lon, plane.lat]);
    if (plane.trail.length > 1) {
      context.beginPath();
      plane.trail.forEach((position, index) => {
        const p = projection(position);
        if (index === 0) context.moveTo(p[0], p[1]);
        else context.lineTo(p[0], p[1]);
      });
      context.strokeStyle = 'rgba(255, 210, 31, 0.45)';
      context.lineWidth = 2;
      context.stroke();
    }
    // Mercator keeps north up everywhere, so the true heading turns the symbol directly.
    context.save();
    context.translate(point[0], point[1]);
    context.rotate((plane.heading * Math.PI) / 180);
    context.beginPath();
    context.moveTo(0, -11);
    context.lineTo(2, -4);
    context.lineTo(10, 1);
    context.lineTo(10, 3);
    context.lineTo(2, 1);
    context.lineTo(1.5, 7);
    context.lineTo(4, 9);
    context.lineTo(4, 10.5);
    context.lineTo(0, 9.5);
    context.lineTo(-4, 10.5);
    context.lineTo(-4, 9);
    context.lineTo(-1.5, 7);
    context.lineTo(-2, 1);
    context.lineTo(-10, 3);
    context.lineTo(-10, 1);
    context.lineTo(-2, -4);
    context.closePath();
    context.fillStyle = SYMBOL;
    context.fill();
    context.strokeStyle = '#3a2c00';
    context.lineWidth = 1;
    context.stroke();
    context.restore();

    const x = point[0] + 14;
    const y = point[1] - 6;
    context.font = 'bold 13px "DejaVu Sans", sans-serif';
    const lines = [[plane.callsign || '(no callsign)', 'bold 13px "DejaVu Sans", sans-serif', '#ffffff'],
      [plane.model || '?', '11px "DejaVu Sans", sans-serif', '#c8d6e4'],
      [feet(plane.alt), '11px "DejaVu Sans", sans-serif', '#c8d6e4']];
    lines.forEach(([text, font, colour], index) => {
      context.font = font;
      context.lineWidth = 3;
      context.strokeStyle = 'rgba(5, 15, 25, 0.85)';
      context.strokeText(text, x, y + index * 13);
      context.fillStyle = colour;
      context.fillText(text, x, y + index * 13);
    });
  }

  function draw() {
    drawBasemap();
    const context = overlay.getContext('2d');
    context.clearRect(0, 0, overlay.width, overlay.height);
    for (const plane of state.aircraft.values()) drawAircraft(context, plane);
  }

  // --- The view: follow the traffic until the user pans or zooms ---

  function fitTraffic() {
    const width = mapElement.clientWidth;
    const height = mapElement.clientHeight;
    const planes = [...state.aircraft.values()];
    if (planes.length === 0) {
      // Mercator's sphere is unbounded toward the poles: show the inhabited latitudes instead.
      projection.fitExtent([[10, 10], [width - 10, height - 10]],
        { type: 'MultiPoint', coordinates: [[-180, -60], [180, 75]] });
      return;
    }
    let south = Infinity, north = -Infinity, west = Infinity, east = -Infinity;
    for (const plane of planes) {
      south = Math.min(south, plane.lat);
      north = Math.max(north, plane.lat);
      west = Math.min(west, plane.lon);
      east = Math.max(east, plane.lon);
    }
    // A margin of a quarter of the spread on each side, so the traffic is seen with its surroundings.
    const grow = (low, high) => {
      const span = Math.max(MIN_SPAN_DEGREES, (high - low) * 1.5);
      const middle = (low + high) / 2;
      return [middle - span / 2, middle + span / 2];
    };
    [south, north] = grow(south, north);
    [west, east] = grow(west, east);
    projection.fitExtent([[40, 40], [width - 120, height - 60]],
      { type: 'MultiPoint', coordinates: [[west, south], [east, north]] });
  }

  function setFollow(follow) {
    state.follow = follow;
    document.getElementById('fit').classList.toggle('active', follow);
    if (follow) {
      fitTraffic();
      draw();
    }
  }

  function zoomAt(factor, cx, cy) {
    const scale = Math.min(Math.max(projection.scale() * factor, 50), 5e7);
    const k = scale / projection.scale();
    const [tx, ty] = projection.translate();
    projection.scale(scale).translate([cx - (cx - tx) * k, cy - (cy - ty) * k]);
    setFollow(false);
    draw();
  }

  let drag = null;
  mapElement.addEventListener('mousedown', (event) => {
    if (event.target.tagName === 'BUTTON') return;
    drag = { x: event.clientX, y: event.clientY, translate: projection.translate() };
    mapElement.classList.add('dragging');
  });
  window.addEventListener('mousemove', (event) => {
    if (!drag) return;
    projection.translate([drag.translate[0] + event.clientX - drag.x, drag.translate[1] + event.clientY - drag.y]);
    setFollow(false);
    draw();
  });
  window.addEventListener('mouseup', () => {
    drag = null;
    mapElement.classList.remove('dragging');
  });
  mapElement.addEventListener('wheel', (event) => {
    event.preventDefault();
    const box = mapElement.getBoundingClientRect();
    zoomAt(Math.pow(2, -event.deltaY / 300), event.clientX - box.left, event.clientY - box.top);
  }, { passive: false });
  document.getElementById('zoom-in').onclick = () => zoomAt(2, mapElement.clientWidth / 2, mapElement.clientHeight / 2);
  document.getElementById('zoom-out').onclick = () => zoomAt(0.5, mapElement.clientWidth / 2, mapElement.clientHeight / 2);
  document.getElementById('fit').onclick = () => setFollow(true);

  function centreOn(plane) {
    const [x, y] = projection([plane.lon, plane.lat]);
    const [tx, ty] = projection.translate();
    projection.translate([tx + mapElement.clientWidth / 2 - x, ty + mapElement.clientHeight / 2 - y]);
    setFollow(false);
    draw();
  }

  // --- The side column ---

  function listPilots() {
    const list = document.getElementById('pilots');
    const planes = [...state.aircraft.values()].sort((a, b) => a.callsign.localeCompare(b.callsign));
    document.getElementById('count').textContent = String(planes.length);
    list.replaceChildren(...planes.map((plane) => {
      const item = document.createElement('li');
      const callsign = document.createElement('span');
      callsign.className = 'callsign';
      callsign.textContent = plane.callsign || '(no callsign)';
      const altitude = document.createElement('span');
      altitude.className = 'altitude';
      altitude.textContent = feet(plane.alt);
      const model = document.createElement('span');
      model.className = 'model';
      model.textContent = plane.model;
      item.append(callsign, altitude, model);
      item.onclick = () => centreOn(plane);
      return item;
    }));
  }

  function addChat(line) {
    const time = new Date().toISOString().slice(11, 19);
    state.chat.push({ time, callsign: line.callsign, text: line.text });
    if (state.chat.length > CHAT_LINES) state.chat.shift();
    const list = document.getElementById('chat');
    const item = document.createElement('li');
    const when = document.createElement('span');
    when.className = 'when';
    when.textContent = time;
    const who = document.createElement('span');
    who.className = 'who';
    who.textContent = (line.callsign || '(no callsign)') + ': ';
    item.append(when, who, document.createTextNode(line.text));
    list.append(item);
    while (list.children.length > CHAT_LINES) list.firstChild.remove();
    const section = document.getElementById('chat-section');
    section.scrollTop = section.scrollHeight;
  }

  function setConnected(connected) {
    state.connected = connected;
    const status = document.getElementById('status');
    status.textContent = connected ? 'live' : 'reconnecting';
    status.className = connected ? 'online' : 'offline';
  }

  // --- Data from the server ---

  // Following the traffic refits only when an aircraft comes, goes or nears the edge: a map that shifts at
  // every update is hard to read, and each shift redraws the countries.
  function needsRefit(keysBefore) {
    if (keysBefore !== [...state.aircraft.keys()].sort().join(',')) return true;
    const width = mapElement.clientWidth;
    const height = mapElement.clientHeight;
    for (const plane of state.aircraft.values()) {
      const [x, y] = projection([plane.lon, plane.lat]);
      if (!(x > 30 && x < width - 110 && y > 30 && y < height - 50)) return true;
    }
    return false;
  }

  function applyTraffic(traffic) {
    const keysBefore = [...state.aircraft.keys()].sort().join(',');
    const seen = new Set();
    for (const plane of traffic.aircraft) {
      seen.add(plane.key);
      let known = state.aircraft.get(plane.key);
      if (!known) {
        known = { trail: [] };
        state.aircraft.set(plane.key, known);
      }
      Object.assign(known, plane);
      const last = known.trail[known.trail.length - 1];
      if (!last || last[0] !== plane.lon || last[1] !== plane.lat) known.trail.push([plane.lon, plane.lat]);
      if (known.trail.length > TRAIL_POINTS) known.trail.shift();
    }
    for (const key of [...state.aircraft.keys()]) if (!seen.has(key)) state.aircraft.delete(key);
    state.updates += 1;
    if (state.follow && needsRefit(keysBefore)) fitTraffic();
    listPilots();
    draw();
  }

  function connect() {
    const events = new EventSource('api/events');
    events.onopen = () => setConnected(true);
    // EventSource reconnects by itself; the indicator shows the gap.
    events.onerror = () => setConnected(false);
    events.addEventListener('traffic', (event) => {
      setConnected(true);
      applyTraffic(JSON.parse(event.data));
    });
    events.addEventListener('chat', (event) => addChat(JSON.parse(event.data)));
  }

  fetch('countries-50m.json')
    .then((response) => response.json())
    .then((world) => {
      state.land = topojson.feature(world, world.objects.countries);
      state.borders = topojson.mesh(world, world.objects.countries, (a, b) => a !== b);
      draw();
    })
    .catch(() => { /* the traffic still shows over the graticule */ });

  // For tests and tools: the page's own idea of what it shows, in CSS pixels of the map element.
  window.skorvaleMap = {
    aircraft: () => [...state.aircraft.values()].map((plane) => {
      const [x, y] = projection([plane.lon, plane.lat]);
      return {
        key: plane.key, callsign: plane.callsign, model: plane.model, lat: plane.lat, lon: plane.lon,
        alt: plane.alt, heading: plane.heading, x, y, trail: plane.trail.length,
      };
    }),
    chat: () => state.chat.slice(),
    connected: () => state.connected,
    updates: () => state.updates,
    basemapReady: () => state.land !== null,
    view: () => ({ scale: projection.scale(), translate: projection.translate() }),
  };

  window.addEventListener('resize', resize);
  setFollow(true);
  resize();
  connect();
})();
