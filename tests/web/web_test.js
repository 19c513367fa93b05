// web_test.js: the web build in Debian's Chromium, headless, drawing with
// SwiftShader. Serves the build itself (and two broken variants of it), then
// checks:
//   - the page downloads, offers "click to play" and logs no console error;
//     a click plays the film (loading bar, film frames) and Escape ends it,
//     back to "click to play";
//   - stills at ?at=T&size=320x180 match demo-capture's PNG of the same
//     moment at a peak signal-to-noise ratio of at least 30 dB;
//   - an asset that cannot be downloaded, and one that does not load, each
//     give their sentence on the page, and so does a browser without WebGL.
// Prints the figures it measures. Usage:
//   node web_test.js WEB_BUILD_DIR REFERENCE_DIR   (PNG stills still-TTT.TTT.png)
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const puppeteer = require('puppeteer-core');

const [webDir, referenceDir] = process.argv.slice(2);
const moments = [3, 30, 70];
const minimumPsnr = 30;
const playSize = '320x180';
const pageSeconds = 180;  // the longest any one page may take
const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.json': 'application/json', '.png': 'image/png'};

// /           the build as it is
// /missing/   the build without ring.obj
// /broken/    the build with a ring.obj that is not a model
// /reference/ the native stills
function serve() {
  const server = http.createServer((request, response) => {
    let url = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    let root = webDir;
    const variant = url.match(/^\/(missing|broken|reference)\//);
    if (variant) {
      url = url.slice(variant[0].length - 1);
      if (variant[1] === 'reference') root = referenceDir;
      if (variant[1] === 'missing' && url === '/assets/ring.obj') {
        response.writeHead(404, 'Not Found');
        return response.end();
      }
      if (variant[1] === 'broken' && url === '/assets/ring.obj') {
        response.writeHead(200, {'Content-Type': 'application/octet-stream'});
        return response.end('v 1 2\nf 7 8 9 x\n'.repeat(32));
      }
    }
    if (url.endsWith('/')) url += 'index.html';
    const file = path.join(root, path.normalize(url));
    fs.readFile(file, (error, bytes) => {
      if (error) {
        response.writeHead(404, 'Not Found');
        return response.end();
      }
      response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'});
      response.end(bytes);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

let failures = 0;
function check(condition, what) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
  if (!condition) failures++;
}

// A page that records its console errors and uncaught exceptions.
async function open(browser, url, width, height) {
  const page = await browser.newPage();
  await page.setViewport({width, height, deviceScaleFactor: 1});
  const errors = [];
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(url, {timeout: pageSeconds * 1000});
  return {page, errors};
}

// Waits until the page shows a message holding the text (or an error).
async function waitForText(page, text, seconds) {
  await page.waitForFunction(
      (wanted) => (!document.getElementById('panel').hidden &&
                   document.getElementById('message').textContent.includes(wanted)) ||
          document.title === 'error',
      {timeout: seconds * 1000, polling: 100}, text);
  return page.evaluate(() => document.getElementById('message').textContent);
}

// PSNR of the page's canvas against a PNG, both read as 8-bit RGB in the page.
async function psnrAgainst(page, pngUrl) {
  return page.evaluate(async (url) => {
    const image = new Image();
    image.src = url;
    await image.decode();
    const canvas = document.getElementById('canvas');
    const w = canvas.width, h = canvas.height;
    const read = (source) => {
      const c = document.createElement('canvas');
      c.width = w;
      c.height = h;
      const context = c.getContext('2d');
      context.drawImage(source, 0, 0);
      return context.getImageData(0, 0, w, h).data;
    };
    if (image.width !== w || image.height !== h) return {error: `reference is ${image.width}x${image.height}`};
    const a = read(canvas), b = read(image);
    let sum = 0;
    for (let i = 0; i < a.length; i += 4)
      for (let c = 0; c < 3; ++c) sum += (a[i + c] - b[i + c]) ** 2;
    const mse = sum / (w * h * 3);
    return {psnr: mse === 0 ? 99 : 10 * Math.log10(255 * 255 / mse)};
  }, pngUrl);
}

async function main() {
  const server = await serve();
  const base = `http://127.0.0.1:${server.address().port}/`;
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: 'new',
    args: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox',
      '--ignore-gpu-blocklist', '--autoplay-policy=no-user-gesture-required'],
  });
  try {
    // The player page at a small size: download, click to play, some film
    // frames, Escape.
    {
      const started = Date.now();
      const {page, errors} = await open(browser, `${base}?size=${playSize}`, 320, 180);
      const first = await waitForText(page, 'click to play', pageSeconds);
      check(first === 'click to play', `page offers "click to play" (${first})`);
      const loaded = (Date.now() - started) / 1000;
      const clicked = Date.now();
      await page.mouse.click(160, 90);
      await page.waitForFunction(() => timing.firstFilmFrame > 0, {timeout: 120000, polling: 100});
      const fromClick = (Date.now() - clicked) / 1000;
      // Up to 60 frames, or 20 s of film.
      await page.waitForFunction(() => timing.frames.length >= 60, {timeout: 20000, polling: 200})
          .catch(() => {});
      await page.keyboard.press('Escape');
      const again = await waitForText(page, 'click to play', 60);
      check(again === 'click to play', 'Escape ends the film and offers "click to play" again');
      // A second showing reuses what the first made.
      const before = await page.evaluate(() => timing.frames.length);
      await page.mouse.click(160, 90);
      const replayed = await page.waitForFunction((n) => timing.frames.length > n + 3,
                                                  {timeout: 60000, polling: 200}, before)
                           .then(() => true, () => false);
      check(replayed, 'a second click plays the film again');
      await page.keyboard.press('Escape');
      await waitForText(page, 'click to play', 60);
      const frames = await page.evaluate(() => timing.frames.slice(1));
      const mean = frames.reduce((s, f) => s + f, 0) / Math.max(frames.length, 1);
      check(frames.length > 3, `the film drew frames (${frames.length})`);
      check(errors.length === 0, `no console error${errors.length ? ': ' + errors.join(' | ') : ''}`);
      console.log(`figure: page ready to play after ${loaded.toFixed(1)} s; first film frame ` +
                  `${fromClick.toFixed(1)} s after the click (2 s of it the loading bar)`);
      console.log(`figure: film frame time at ${playSize} in Chromium (SwiftShader): ` +
                  `${(mean * 1000).toFixed(0)} ms over ${frames.length} frames`);
      await page.close();
    }
    // Stills against the native capture.
    for (const moment of moments) {
      const started = Date.now();
      const {page, errors} = await open(browser, `${base}?at=${moment}&size=320x180`, 320, 180);
      await page.waitForFunction(() => document.title === 'done' || document.title === 'error',
                                 {timeout: pageSeconds * 1000, polling: 100});
      const seconds = (Date.now() - started) / 1000;
      const title = await page.title();
      check(title === 'done', `still at ${moment} s drawn (${seconds.toFixed(1)} s to the frame)`);
      const name = `still-${moment.toFixed(3).padStart(7, '0')}.png`;
      const result = await psnrAgainst(page, `${base}reference/${name}`);
      check(!result.error && result.psnr >= minimumPsnr,
            `still at ${moment} s: PSNR ${result.error || result.psnr.toFixed(1) + ' dB'} ` +
                `against demo-capture (at least ${minimumPsnr} dB)`);
      check(errors.length === 0, `no console error${errors.length ? ': ' + errors.join(' | ') : ''}`);
      await page.close();
    }
    // Broken downloads and assets.
    for (const [variant, sentence] of [
      ['missing', 'ring.obj could not be downloaded (404'],
      ['broken', 'cannot use ring.obj'],
    ]) {
      const {page} = await open(browser, `${base}${variant}/`, 640, 360);
      const text = await waitForText(page, 'ring.obj', pageSeconds).catch(() => 'nothing');
      check(text.includes(sentence), `${variant} asset: the page says "${text}"`);
      await page.close();
    }
  } finally {
    await browser.close();
  }
  // A browser whose WebGL is turned off.
  const plain = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: 'new',
    args: ['--disable-webgl', '--disable-3d-apis', '--no-sandbox'],
  });
  try {
    const {page} = await open(plain, base, 640, 360);
    const text = await waitForText(page, 'WebGL', 30).catch(() => 'nothing');
    check(text.includes('no WebGL'), `without WebGL the page says "${text}"`);
  } finally {
    await plain.close();
    server.close();
  }
  console.log(failures ? `web: ${failures} check(s) failed` : 'web: all checks passed');
  process.exit(failures ? 1 : 0);
}

main().catch((error) => {
  console.error('web: ' + error.message);
  process.exit(1);
});
