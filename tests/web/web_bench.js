// web_bench.js: what a viewer of the page waits for, measured in Debian's
// Chromium (headless, SwiftShader). A benchmark: it prints figures and
// asserts nothing about time. Serves SITE_DIR as a plain static server does
// (files as they are, no compression), then:
//   1. at 640 x 360: bytes transferred (page, program, assets), time from
//      opening the page to "ready", from the click to the first film frame,
//      and the longest the page's main thread left a trivial question
//      unanswered between the click and the tenth second of the film (one
//      question every 100 ms, each timed from asking to answer);
//   2. at 1280 x 720: the film's mean frame time over its first seconds (the
//      time since the first film frame over the frames drawn since).
// Usage: node web_bench.js SITE_DIR [FILM_SECONDS_AT_720 (default 12)]
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const puppeteer = require('puppeteer-core');

const [siteDir, filmSecondsText] = process.argv.slice(2);
const filmSeconds720 = Number(filmSecondsText || 12);
const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.json': 'application/json', '.png': 'image/png'};

function serve() {
  const server = http.createServer((request, response) => {
    let url = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    if (url.endsWith('/')) url += 'index.html';
    const file = path.join(siteDir, path.normalize(url));
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

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const mb = (bytes) => (bytes / 1e6).toFixed(2) + ' MB';

// Opens the page with the network watched; returns the page and the bytes
// each kind of file took on the wire.
async function open(browser, url, width, height) {
  const page = await browser.newPage();
  await page.setViewport({width, height, deviceScaleFactor: 1});
  const client = await page.target().createCDPSession();
  await client.send('Network.enable');
  const urls = new Map();
  const bytes = {page: 0, program: 0, assets: 0};
  client.on('Network.responseReceived', (event) => urls.set(event.requestId, event.response.url));
  client.on('Network.loadingFinished', (event) => {
    const name = new URL(urls.get(event.requestId) || 'http://x/').pathname;
    const kind = name.includes('/assets/') ? 'assets' : /skyward\.(js|wasm)/.test(name) ? 'program' : 'page';
    bytes[kind] += event.encodedDataLength;
  });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(url, {timeout: 180000});
  await page.waitForFunction(() => timing.ready > 0 || document.title === 'error',
                             {timeout: 180000, polling: 50});
  if ((await page.title()) === 'error') throw new Error('the page failed: ' + errors.join(' | '));
  return {page, bytes};
}

async function click(page, width, height) {
  const clicked = await page.evaluate(() => performance.now());
  await page.mouse.click(width / 2, height / 2);
  return clicked;
}

async function main() {
  const server = await serve();
  const base = `http://127.0.0.1:${server.address().port}/`;
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: 'new',
    // SwiftShader offers KHR_parallel_shader_compile, as most GPUs' drivers
    // do, only with ANGLE's background compiling turned on.
    args: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox',
      '--ignore-gpu-blocklist', '--enable-angle-features=enableParallelCompileAndLink'],
  });
  try {
    {
      const {page, bytes} = await open(browser, `${base}?size=640x360`, 640, 360);
      const ready = await page.evaluate(() => timing.ready);
      const total = bytes.page + bytes.program + bytes.assets;
      console.log(`bytes transferred: ${mb(total)} (page ${mb(bytes.page)}, program ` +
                  `${mb(bytes.program)}, assets ${mb(bytes.assets)})`);
      console.log(`opening the page to ready: ${(ready / 1000).toFixed(2)} s`);
      const offered = await page.evaluate(
          () => !!document.getElementById('canvas').getContext('webgl').getExtension('KHR_parallel_shader_compile'));
      console.log(`KHR_parallel_shader_compile: ${offered ? 'offered' : 'not offered'}`);
      const clicked = await click(page, 640, 360);
      // Trivial questions until the film's tenth second.
      let longest = 0;
      let firstFrame = 0;
      for (;;) {
        const asked = Date.now();
        const answer = await page.evaluate(() => [timing.firstFilmFrame, performance.now()]);
        longest = Math.max(longest, Date.now() - asked);
        firstFrame = answer[0];
        if (firstFrame > 0 && answer[1] - firstFrame >= 10000) break;
        if (answer[1] - clicked > 180000) throw new Error('no tenth second of film after 180 s');
        await sleep(100);
      }
      console.log(`click to first film frame: ${((firstFrame - clicked) / 1000).toFixed(2)} s ` +
                  '(2 s of it the loading bar)');
      console.log(`longest unanswered stretch, click to film's tenth second: ${(longest / 1000).toFixed(2)} s`);
      await page.close();
    }
    {
      const {page} = await open(browser, `${base}?size=1280x720`, 1280, 720);
      await click(page, 1280, 720);
      await page.waitForFunction(() => timing.firstFilmFrame > 0, {timeout: 180000, polling: 200});
      // Frames drawn after the first one, over the time since it.
      await sleep(filmSeconds720 * 1000);
      const [frames, elapsed] = await page.evaluate(
          () => [timing.frames.length - 1, performance.now() - timing.firstFilmFrame]);
      console.log(`film frame time at 1280 x 720: ${(elapsed / Math.max(frames, 1)).toFixed(0)} ms ` +
                  `(${frames} frames in the film's first ${(elapsed / 1000).toFixed(1)} s)`);
      await page.close();
    }
  } finally {
    await browser.close();
    server.close();
  }
}

main().catch((error) => {
  console.error('web-bench: ' + error.message);
  process.exit(1);
});
