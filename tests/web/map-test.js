// The live map in a real browser: a relay server with --http, two scripted pilots and a view-only watcher,
// and headless chromium showing the page. Usage: NODE_PATH=... node map-test.js SERVER_PROGRAM SCRATCH_DIR
'use strict';
const assert = require('assert/strict');
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');
const { PNG } = require('pngjs');
const { Pilot } = require('./pilot.js');
const { launchBrowser, openMap } = require('../../scripts/map-screenshot.js');

const [serverProgram, scratch] = process.argv.slice(2);
const SYMBOL = [255, 210, 31];
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A 127.x.y.z address of this process alone, made the way the C++ suites make theirs (from the pid),
// so this test runs beside them under ctest -j2.
function loopbackAddress() {
  let n = (process.pid & 0x3fffff) << 2;
  if (n === 0) n = 4;
  return `127.${(n >> 16) & 0xff}.${(n >> 8) & 0xff}.${n & 0xff}`;
}

async function startServer(address) {
  const log = path.join(scratch, 'server.log');
  const server = spawn(serverProgram, ['--open', '--address', address, '--http', `${address}:8080`],
    { stdio: ['ignore', 'ignore', fs.openSync(log, 'w')] });
  server.exited = new Promise((resolve) => server.on('exit', (code, signal) => resolve({ code, signal })));
  for (let i = 0; i < 100; i++) {
    if (fs.readFileSync(log, 'utf8').includes('live map on')) return server;
    await sleep(50);
  }
  server.kill('SIGKILL');
  throw new Error(`the server did not start:\n${fs.readFileSync(log, 'utf8')}`);
}

async function until(what, check, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(100);
  }
}

// Where d3's Mercator puts a point, worked out here from its formula and the page's scale and translation,
// so a mistake in the page's own projection would show.
function mercator(view, lon, lat) {
  const radians = Math.PI / 180;
  const x = view.translate[0] + view.scale * lon * radians;
  const y = view.translate[1] - view.scale * Math.log(Math.tan(Math.PI / 4 + (lat * radians) / 2));
  return [x, y];
}

// True when the screenshot has the aircraft symbol's colour within 2 pixels of (x, y).
function symbolAt(png, x, y) {
  for (let dy = -2; dy <= 2; dy++) {
    for (let dx = -2; dx <= 2; dx++) {
      const px = Math.round(x) + dx;
      const py = Math.round(y) + dy;
      if (px < 0 || py < 0 || px >= png.width || py >= png.height) continue;
      const i = (py * png.width + px) * 4;
      const distance = Math.hypot(png.data[i] - SYMBOL[0], png.data[i + 1] - SYMBOL[1], png.data[i + 2] - SYMBOL[2]);
      if (distance < 40) return true;
    }
  }
  return false;
}

// Each expected aircraft is where the page says, and its symbol is on the screenshot there.
async function checkPlaces(page, expected, picture) {
  const shown = await until('the page to show every aircraft where it is', async () => {
    const aircraft = await page.evaluate(() => window.skorvaleMap.aircraft());
    const all = expected.every((e) => aircraft.some((a) => a.callsign === e.callsign &&
      Math.abs(a.lat - e.lat) < 1e-4 && Math.abs(a.lon - e.lon) < 1e-4));
    return all && aircraft.length === expected.length ? aircraft : null;
  });
  // Nothing moves now; give the page one more update so the view and the picture agree.
  const updates = await page.evaluate(() => window.skorvaleMap.updates());
  await page.waitForFunction((n) => window.skorvaleMap.updates() > n, { timeout: 5000 }, updates);
  const view = await page.evaluate(() => window.skorvaleMap.view());
  const png = PNG.sync.read(await page.screenshot({ path: path.join(scratch, picture) }));
  for (const e of expected) {
    const plane = shown.find((a) => a.callsign === e.callsign);
    assert.equal(plane.model, e.model);
    assert.ok(Math.abs(plane.alt - e.alt) < 0.01, `${e.callsign} altitude ${plane.alt}`);
    assert.equal(plane.heading, e.heading);
    const [x, y] = mercator(view, e.lon, e.lat);
    assert.ok(x > 0 && x < 980 && y > 0 && y < 800, `${e.callsign} is off the map at ${x},${y}`);
    assert.ok(symbolAt(png, x, y), `no aircraft symbol at ${x.toFixed(1)},${y.toFixed(1)} for ${e.callsign} (${picture})`);
  }
  return shown;
}

function metric(text, name) {
  const line = text.split('\n').find((l) => l.startsWith(name + ' '));
  return line === undefined ? undefined : Number(line.slice(name.length + 1));
}

async function main() {
  fs.mkdirSync(scratch, { recursive: true });
  const address = loopbackAddress();
  const base = `http://${address}:8080`;
  const server = await startServer(address);
  const alpha = new Pilot(address, 734521);
  const bravo = new Pilot(address, 734522);
  const watcher = new Pilot(address, 734523);
  let browser;
  try {
    await alpha.login('anna-user');
    await bravo.login('ben-user');
    await watcher.login('watcher-user');
    alpha.identify('ALPHA1', 'Aircraft/General/Trainer/trainer.acf');
    bravo.identify('BRAVO2', 'Aircraft/Gliders/Swift/swift.ACF');
    watcher.identify('WATCH3', '', true);
    await sleep(200);
    await alpha.locate(47.0, 8.0, 1000, 90);
    await bravo.locate(47.3, 8.5, 2000, 200);
    await watcher.locate(47.1, 8.2, 500, 0, true);

    browser = await launchBrowser();
    const page = await openMap(browser, base + '/', 2);
    assert.ok(await page.evaluate(() => window.skorvaleMap.connected()));
    const expected = [
      { callsign: 'ALPHA1', model: 'trainer', lat: 47.0, lon: 8.0, alt: 1000, heading: 90 },
      { callsign: 'BRAVO2', model: 'swift', lat: 47.3, lon: 8.5, alt: 2000, heading: 200 },
    ];
    await checkPlaces(page, expected, 'map-start.png');
    const listed = await page.$eval('#pilots', (list) => list.textContent);
    assert.ok(listed.includes('ALPHA1') && listed.includes('BRAVO2') && !listed.includes('WATCH3'), listed);

    // A moved aircraft moves, and leaves a trail.
    await alpha.locate(47.12, 8.25, 1500, 45);
    expected[0] = { callsign: 'ALPHA1', model: 'trainer', lat: 47.12, lon: 8.25, alt: 1500, heading: 45 };
    const moved = await checkPlaces(page, expected, 'map-moved.png');
    assert.ok(moved.find((a) => a.callsign === 'ALPHA1').trail >= 2, 'no trail behind the moved aircraft');

    // A chat line appears as it is said.
    alpha.chat('hello from the test');
    await page.waitForFunction(() => window.skorvaleMap.chat().some((l) => l.callsign === 'ALPHA1' &&
      l.text === 'hello from the test'), { timeout: 5000 });
    const chat = await page.$eval('#chat', (list) => list.textContent);
    assert.ok(chat.includes('ALPHA1: hello from the test'), chat);

    // The metrics count what was sent.
    const sentDatagrams = alpha.datagramsSent + bravo.datagramsSent + watcher.datagramsSent;
    const sentLines = alpha.linesSent + bravo.linesSent + watcher.linesSent;
    const metrics = await until('the metrics to count every message', async () => {
      const text = await (await fetch(base + '/metrics')).text();
      return metric(text, 'skorvale_datagrams_received_total') === sentDatagrams &&
        metric(text, 'skorvale_stream_messages_received_total') === sentLines &&
        metric(text, 'skorvale_relay_latency_seconds_count') >= 1 ? text : null;
    });
    assert.equal(metric(metrics, 'skorvale_clients{kind="pilot"}'), 2);
    assert.equal(metric(metrics, 'skorvale_clients{kind="view_only"}'), 1);
    // One latency count per relayed datagram; a new slot's first state relays nothing and has none.
    const relayed = metric(metrics, 'skorvale_relay_latency_seconds_count');
    assert.ok(relayed <= metric(metrics, 'skorvale_datagrams_sent_total'), 'latency counted for unsent datagrams');
    assert.equal(metric(metrics, 'skorvale_relay_latency_seconds_bucket{le="+Inf"}'), relayed);
    assert.ok(metric(metrics, 'skorvale_datagrams_sent_total') >= 2, 'the moved aircraft was not relayed');
    // Three chat echoes at least, besides the slot messages.
    assert.ok(metric(metrics, 'skorvale_stream_messages_sent_total') >= 3);
    assert.equal(metric(metrics, 'skorvale_web_streams'), 1);

    // Nothing served names a user, a unique ID or an address, and the watcher is not shown.
    const traffic = await (await fetch(base + '/api/traffic')).text();
    assert.equal(JSON.parse(traffic).aircraft.length, 2);
    const served = traffic + (await page.content()) + JSON.stringify(await page.evaluate(() => window.skorvaleMap.chat()));
    for (const secret of ['anna-user', 'ben-user', 'watcher-user', '73452', '127.', 'WATCH3']) {
      assert.ok(!served.includes(secret), `the map shows ${secret}`);
    }
    console.log('web map: both aircraft placed, the moved one moved, chat shown, metrics counted');
  } finally {
    if (browser) await browser.close();
    for (const pilot of [alpha, bravo, watcher]) pilot.close();
    server.kill('SIGTERM');
    const { code } = await server.exited;
    assert.equal(code, 0, 'the server did not stop cleanly');
  }
}

const guard = setTimeout(() => {
  console.error('web map test: over 120 s, giving up');
  process.exit(1);
}, 120000);
main().then(() => clearTimeout(guard), (error) => {
  console.error(error);
  process.exit(1);
});
