#!/usr/bin/env node
// Opens the relay server's live map in headless chromium and saves a picture of it; also the browser
// launcher the map's tests use. Usage:
//   NODE_PATH=BUILD/web-npm/node_modules scripts/map-screenshot.js URL OUT.png [AIRCRAFT [CHAT_LINES [SECONDS]]]
// waits until the page shows AIRCRAFT aircraft (default 1) and CHAT_LINES chat lines (default 0) and has
// drawn its countries, but no longer than SECONDS (default 25) from its start: then the picture shows
// what there is, and the exit status is 1.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');

const CHROMIUM = process.env.SKORVALE_CHROMIUM || '/usr/bin/chromium';

// Debian's chromium, headless, with a fresh profile and none of its own calls home (which this closed
// network refuses, and which would slow every start). The caller closes it; the profile goes with it.
async function launchBrowser() {
  if (!fs.existsSync(CHROMIUM)) throw new Error(`${CHROMIUM} is missing: run scripts/bootstrap`);
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'skorvale-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    timeout: 30000,
    dumpio: Boolean(process.env.SKORVALE_BROWSER_LOG), // chromium's own output, when looking into a failure
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage', `--user-data-dir=${profile}`],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    try {
      await close();
    } finally {
      fs.rmSync(profile, { recursive: true, force: true });
    }
  };
  return browser;
}

// Opens `url` at 1280x800 and waits until the map shows `aircraft` aircraft and its countries.
async function openMap(browser, url, aircraft, timeoutMs = 20000) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800, deviceScaleFactor: 1 });
  await page.goto(url, { waitUntil: 'load', timeout: timeoutMs });
  await page.waitForFunction((n) => window.skorvaleMap && window.skorvaleMap.basemapReady() &&
    window.skorvaleMap.aircraft().length >= n, { timeout: timeoutMs, polling: 100 }, aircraft);
  return page;
}

async function main() {
  const [url, out, aircraft = '1', chat = '0', seconds = '25'] = process.argv.slice(2);
  if (!url || !out) {
    console.error('usage: map-screenshot.js URL OUT.png [AIRCRAFT [CHAT_LINES [SECONDS]]]');
    process.exit(2);
  }
  const started = Date.now();
  const left = () => Math.max(1000, started + Number(seconds) * 1000 - Date.now());
  const browser = await launchBrowser();
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 800, deviceScaleFactor: 1 });
    await page.goto(url, { waitUntil: 'load', timeout: left() });
    let complete = true;
    try {
      await page.waitForFunction((planes, lines) => window.skorvaleMap && window.skorvaleMap.basemapReady() &&
        window.skorvaleMap.aircraft().length >= planes && window.skorvaleMap.chat().length >= lines,
      { timeout: left(), polling: 100 }, Number(aircraft), Number(chat));
    } catch (error) {
      complete = false; // the picture shows what there is
    }
    await page.screenshot({ path: out });
    const shown = await page.evaluate(() => window.skorvaleMap.aircraft().map((a) => a.callsign).join(', '));
    const lines = await page.evaluate(() => window.skorvaleMap.chat().length);
    const took = ((Date.now() - started) / 1000).toFixed(1);
    console.log(`map-screenshot: ${out} after ${took} s: aircraft ${shown || 'none'}; ${lines} chat lines` +
      (complete ? '' : ` (wanted ${aircraft} aircraft and ${chat} lines)`));
    if (!complete) process.exitCode = 1;
  } finally {
    await browser.close();
  }
}

if (require.main === module) {
  main().catch((error) => {
    console.error(`map-screenshot: ${error.message}`);
    process.exit(1);
  });
}

module.exports = { launchBrowser, openMap };
