// web_test.js: the web build's site in Debian's Chromium, headless, drawing
// with SwiftShader. Serves the site folder only (and broken variants of it),
// then checks:
//   - the page downloads, offers "click or tap to play" and logs no console
//     error or warning; in one tab, four showings: started by a click, a
//     touch tap (touch emulation), Enter and Space; ended by Escape or by
//     hiding the page, each back to "click or tap to play"; the program's
//     heap after three showings is what it was after one;
//   - stills at ?at=T&size=320x180 match demo-capture's PNG of the same
//     moment at a peak signal-to-noise ratio of at least 30 dB (compared by
//     the tests' own image-psnr);
//   - programs compile in the background where WebGL offers
//     KHR_parallel_shader_compile (a driver made slow by answering "not yet"
//     twice more per program): the loading bar goes on drawing while they
//     compile, none is asked whether it linked before it is complete, and
//     the film starts once all are; without the extension a showing plays as
//     before; a shader that does not compile is still said once complete;
//   - every failure ends in the page's one sentence, naming the file or the
//     part: an asset that cannot be downloaded, that breaks off, that does
//     not load; a missing webgl.js, a malformed files.json, a damaged
//     program; a WebGL without a needed extension; a browser without WebGL;
//     a size or a moment the page refuses (each side's limit said as the page
//     says it; a moment with a NUL after the number).
// Prints the figures it measures. Usage:
//   node web_test.js SITE_DIR REFERENCE_DIR IMAGE_PSNR
//   (REFERENCE_DIR: PNG stills still-TTT.TTT.png; IMAGE_PSNR: the command)
'use strict';
const childProcess = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const puppeteer = require('puppeteer-core');

const [siteDir, referenceDir, imagePsnr] = process.argv.slice(2);
const moments = [3, 30, 70];
const minimumPsnr = 30;
const pageSeconds = 180;  // the longest any one page may take
const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.json': 'application/json', '.png': 'image/png'};

// What each broken variant serves in place of a file of the site: a status,
// or a body (a function of the real bytes), or 'cut' (half, then the
// connection closes).
const variants = {
  'missing': {'/assets/ring.obj.gz': 404},
  'broken': {'/assets/ring.obj.gz': () => zlib.gzipSync('v 1 2\nf 7 8 9 x\n'.repeat(32))},
  'cut': {'/assets/ring.obj.gz': 'cut'},
  'no-webgl-js': {'/webgl.js': 404},
  'bad-list': {'/files.json': () => '{"program": [], "assets": {"a": 1}}'},
  'bad-program': {'/skyward.wasm.gz': () => zlib.gzipSync('not a program')},
};

// /            the site as it is
// /VARIANT/    the site with one file broken (above)
// /reference/  the native stills
function serve() {
  const server = http.createServer((request, response) => {
    let url = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    let root = siteDir;
    const prefix = url.match(/^\/([a-z-]+)\//);
    if (prefix && (prefix[1] in variants || prefix[1] === 'reference')) {
      url = url.slice(prefix[0].length - 1);
      if (prefix[1] === 'reference') root = referenceDir;
    }
    if (url.endsWith('/')) url += 'index.html';
    const file = path.join(root, path.normalize(url));
    const instead = prefix && variants[prefix[1]] && variants[prefix[1]][url];
    if (typeof instead === 'number') {
      response.writeHead(instead, 'Not Found');
      return response.end();
    }
    fs.readFile(file, (error, bytes) => {
      if (error) {
        response.writeHead(404, 'Not Found');
        return response.end();
      }
      const headers = {'Content-Type': types[path.extname(file)] || 'application/octet-stream'};
      if (typeof instead === 'function') return response.writeHead(200, headers), response.end(instead(bytes));
      if (instead === 'cut') {
        response.writeHead(200, {...headers, 'Content-Length': bytes.length});
        response.write(bytes.subarray(0, bytes.length >> 1));
        return setTimeout(() => response.destroy(), 200);
      }
      response.writeHead(200, headers);
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

// A page that records its console errors and warnings and uncaught
// exceptions. `before` runs in the page before its own scripts.
async function open(browser, url, width, height, options = {}) {
  const page = await browser.newPage();
  await page.setViewport({width, height, deviceScaleFactor: 1, hasTouch: !!options.touch});
  if (options.before) await page.evaluateOnNewDocument(options.before);
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning' || message.type() === 'warn')
      errors.push(`${message.type()}: ${message.text()}`);
  });
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

// PSNR of the page's canvas against a PNG, by the tests' image-psnr.
async function psnrAgainst(page, referencePath) {
  const dataUrl = await page.evaluate(() => document.getElementById('canvas').toDataURL('image/png'));
  const shown = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'web-test-')), 'shown.png');
  fs.writeFileSync(shown, Buffer.from(dataUrl.replace(/^data:image\/png;base64,/, ''), 'base64'));
  const result = childProcess.spawnSync(imagePsnr, [referencePath, shown], {encoding: 'utf8'});
  fs.rmSync(path.dirname(shown), {recursive: true, force: true});
  if (result.status !== 0) return {error: (result.stderr || 'image-psnr failed').trim()};
  const decibels = result.stdout.trim();
  return {psnr: decibels === 'inf' ? Infinity : Number(decibels)};
}

const playWords = 'click or tap to play';

// Run in the page before its scripts: watches the programs the film links, as
// a driver that compiles in the background and is slow about it would answer.
// Each program's completion is "not yet" on the first two asks, then the
// driver's own answer. Counts the animation frames that ran while a program
// had said "not yet" and not yet "complete", and the programs asked whether
// they linked between the two (which waits for them).
const slowParallelCompile = () => {
  const COMPLETION_STATUS = 0x91B1, LINK_STATUS = 0x8B82;
  const proto = WebGLRenderingContext.prototype;
  // changes: [when, how many compiling] each time that count changes.
  const watch = window.programWatch = {asked: new Map(), compiling: new Set(), complete: new Set(),
    framesWhileCompiling: 0, askedBeforeComplete: 0, changes: []};
  const counted = () => watch.changes.push([performance.now(), watch.compiling.size]);
  const getProgramParameter = proto.getProgramParameter;
  proto.getProgramParameter = function(program, name) {
    const value = getProgramParameter.call(this, program, name);
    if (name === COMPLETION_STATUS) {
      const asks = (watch.asked.get(program) || 0) + 1;
      watch.asked.set(program, asks);
      if (asks <= 2 || !value) {
        if (!watch.compiling.has(program)) watch.compiling.add(program), counted();
        return false;
      }
      watch.complete.add(program);
      if (watch.compiling.delete(program)) counted();
      return value;
    }
    if (name === LINK_STATUS && watch.compiling.has(program)) watch.askedBeforeComplete++;
    return value;
  };
  const requestAnimationFrame = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => requestAnimationFrame((time) => {
    if (watch.compiling.size) watch.framesWhileCompiling++;
    callback(time);
  });
};

// Run in the page before its scripts: a WebGL without the extension named.
const withoutExtension = (name) => `(() => {
  const get = WebGLRenderingContext.prototype.getExtension;
  WebGLRenderingContext.prototype.getExtension = function(wanted) {
    return wanted === '${name}' ? null : get.call(this, wanted);
  };
})()`;

// One showing in the open player page: started and ended as asked, back to
// "click or tap to play". Says whether film frames came, what the page
// offered after, and the seconds from the start to the first film frame.
async function showing(page, startBy, endBy) {
  const [framesBefore, asked] = await page.evaluate(() => {
    timing.firstFilmFrame = 0;
    return [timing.frames.length, performance.now()];
  });
  await startBy();
  const played = await page.waitForFunction((n) => timing.firstFilmFrame > 0 && timing.frames.length > n + 3,
                                            {timeout: 120000, polling: 100}, framesBefore)
                     .then(() => true, () => false);
  const firstFrame = await page.evaluate(() => timing.firstFilmFrame);
  await endBy();
  const again = await waitForText(page, playWords, 60).catch(() => 'nothing');
  return {played, again, seconds: (firstFrame - asked) / 1000};
}

async function main() {
  const server = await serve();
  const base = `http://127.0.0.1:${server.address().port}/`;
  const launch = (args) => puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: 'new', args});
  // SwiftShader offers KHR_parallel_shader_compile only with ANGLE's
  // background compiling turned on.
  const browser = await launch(['--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--no-sandbox', '--ignore-gpu-blocklist', '--enable-angle-features=enableParallelCompileAndLink']);
  try {
    // The player page at a small size, with touch: four showings in one tab.
    {
      const width = 320, height = 180;
      const started = Date.now();
      const {page, errors} = await open(browser, `${base}?size=${width}x${height}`, width, height,
                                        {touch: true, before: slowParallelCompile});
      const first = await waitForText(page, playWords, pageSeconds);
      check(first === playWords, `page offers "${playWords}" (${first})`);
      const loaded = (Date.now() - started) / 1000;
      const shown = await page.evaluate(() => ({
        name: document.getElementById('name').textContent,
        about: document.getElementById('about').textContent,
        poster: document.getElementById('poster').naturalWidth,
        viewport: document.querySelector('meta[name=viewport]').content,
      }));
      check(shown.name === 'skyward' && shown.about.includes('1:55') && shown.poster > 0 &&
                shown.viewport.includes('width=device-width'),
            `the page names the film, its length and shows its poster (${JSON.stringify(shown)})`);
      const escape = () => page.keyboard.press('Escape');
      // Hiding the page ends the showing.
      const hide = () => page.evaluate(() => {
        Object.defineProperty(document, 'hidden', {value: true, configurable: true});
        document.dispatchEvent(new Event('visibilitychange'));
        delete document.hidden;
      });
      const clicked = await showing(page, () => page.mouse.click(width / 2, height / 2), escape);
      check(clicked.played && clicked.again === playWords,
            'a click plays the film; Escape ends it and offers to play again');
      const watched = await page.evaluate(() => ({complete: programWatch.complete.size,
        compiling: programWatch.compiling.size, frames: programWatch.framesWhileCompiling,
        early: programWatch.askedBeforeComplete,
        atFilm: programWatch.changes.filter(([when]) => when <= timing.firstFilmFrame).pop()}));
      const atFilm = watched.atFilm ? watched.atFilm[1] : 'none asked';
      check(watched.complete >= 14 && watched.compiling === 0 && watched.frames >= 2 &&
                watched.early === 0 && atFilm === 0,
            `programs compile in the background: ${watched.complete} complete, ${watched.frames} ` +
                `frames of the loading bar drawn meanwhile, ${watched.early} asked whether they ` +
                `linked before they were complete, ${atFilm} compiling at the film's first frame`);
      const heapAfterOne = await page.evaluate(() => Module._web_heap_in_use());
      const tapped = await showing(page, () => page.touchscreen.tap(width / 2, height / 2), hide);
      check(tapped.played && tapped.again === playWords,
            'a touch tap plays the film; hiding the page ends it');
      const entered = await showing(page, () => page.keyboard.press('Enter'), escape);
      check(entered.played && entered.again === playWords, 'Enter plays the film');
      const heapAfterThree = await page.evaluate(() => Module._web_heap_in_use());
      check(heapAfterThree === heapAfterOne,
            `the heap after three showings is the heap after one (${heapAfterOne} and ${heapAfterThree} bytes)`);
      const spaced = await showing(page, () => page.keyboard.press(' '), escape);
      check(spaced.played && spaced.again === playWords, 'Space plays the film');
      const frames = await page.evaluate(() => timing.frames);
      const mean = frames.reduce((sum, f) => sum + f, 0) / Math.max(frames.length, 1);
      check(errors.length === 0, `no console error or warning${errors.length ? ': ' + errors.join(' | ') : ''}`);
      console.log(`figure: page ready to play after ${loaded.toFixed(1)} s; first film frame ` +
                  `${clicked.seconds.toFixed(1)} s after the click, ${tapped.seconds.toFixed(1)} s ` +
                  'in a second showing (2 s of each the loading bar)');
      console.log(`figure: film frame time at ${width}x${height} in Chromium (SwiftShader): ` +
                  `${(mean * 1000).toFixed(0)} ms over ${frames.length} frames`);
      await page.close();
    }
    // Without background compiling, a showing plays as it always has.
    {
      const {page, errors} = await open(browser, `${base}?size=320x180`, 320, 180,
                                        {before: withoutExtension('KHR_parallel_shader_compile')});
      await waitForText(page, playWords, pageSeconds);
      const plain = await showing(page, () => page.mouse.click(160, 90), () => page.keyboard.press('Escape'));
      check(plain.played && plain.again === playWords && errors.length === 0,
            `without KHR_parallel_shader_compile a click plays the film (first film frame ` +
                `${plain.seconds.toFixed(1)} s after it)${errors.length ? ': ' + errors.join(' | ') : ''}`);
      await page.close();
    }
    // A shader that does not compile is said once it is complete, with or
    // without background compiling.
    const breakRadialBlur = `(() => {
      const source = WebGLRenderingContext.prototype.shaderSource;
      WebGLRenderingContext.prototype.shaderSource = function(shader, text) {
        source.call(this, shader, text.includes('_render_texture') ? text + '\\nnot glsl' : text);
      };
    })()`;
    for (const [what, before] of [
      ['in the background', breakRadialBlur],
      ['without background compiling', breakRadialBlur + ';' + withoutExtension('KHR_parallel_shader_compile')],
    ]) {
      const {page} = await open(browser, `${base}?size=320x180`, 320, 180, {before});
      await waitForText(page, playWords, pageSeconds);
      await page.mouse.click(160, 90);
      await page.waitForFunction(() => document.title === 'error' || timing.firstFilmFrame > 0,
                                 {timeout: pageSeconds * 1000, polling: 100}).catch(() => {});
      const text = await page.evaluate(() => document.getElementById('message').textContent);
      check(/fragment shader \d+ does not compile/.test(text),
            `a fragment shader that does not compile, ${what}: the page says "${text}"`);
      await page.close();
    }
    // Parameters the page refuses, in one sentence that says its limit as the
    // page's own description of the parameter does.
    const pageText = await (await fetch(base)).text();
    for (const [query, refusal] of [
      ['size=8192x16', /size '8192x16' is not (WxH with sides from 16 to \d+)/],
      ['size=5x5', /size '5x5' is not (WxH with sides from 16 to \d+)/],
      ['at=3%00&size=320x180', /at '3%00' is not a moment from 0 to 115 seconds/],
      ['at=3&size=320x180%00', /size '320x180%00' is not (WxH with sides from 16 to \d+)/],
    ]) {
      const {page} = await open(browser, `${base}?${query}`, 320, 180);
      await page.waitForFunction(
          (words) => ['error', 'done'].includes(document.title) ||
              document.getElementById('message').textContent === words,
          {timeout: pageSeconds * 1000, polling: 100}, playWords).catch(() => {});
      const text = await page.evaluate(() => document.getElementById('message').textContent);
      const said = text.match(refusal);
      check(said && (!said[1] || pageText.includes(said[1])),
            `?${query}: the page says "${text}"${said && said[1] && pageText.includes(said[1]) ? ', as its description does' : ''}`);
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
      const result = await psnrAgainst(page, path.join(referenceDir, name));
      check(!result.error && result.psnr >= minimumPsnr,
            `still at ${moment} s: PSNR ${result.error || result.psnr.toFixed(1) + ' dB'} ` +
                `against demo-capture (at least ${minimumPsnr} dB)`);
      check(errors.length === 0, `no console error or warning${errors.length ? ': ' + errors.join(' | ') : ''}`);
      await page.close();
    }
    // Every failure ends in one sentence naming its file or part.
    const noDrawBuffers = withoutExtension('WEBGL_draw_buffers');
    for (const [variant, sentence, before] of [
      ['missing', 'ring.obj could not be downloaded (404'],
      ['broken', 'cannot use ring.obj'],
      ['cut', 'ring.obj could not be downloaded (the connection broke off)'],
      ['no-webgl-js', 'webgl.js could not be downloaded'],
      ['bad-list', 'its list of files (files.json) is malformed'],
      ['bad-program', 'skyward.wasm could not be used'],
      ['', 'its WebGL lacks WEBGL_draw_buffers (drawing into two targets at once)', noDrawBuffers],
    ]) {
      const {page} = await open(browser, `${base}${variant}${variant ? '/' : ''}`, 640, 360, {before});
      await page.waitForFunction(() => document.title === 'error', {timeout: pageSeconds * 1000, polling: 100})
          .catch(() => {});
      const text = await page.evaluate(() => document.getElementById('message').textContent);
      check(text.includes(sentence), `${variant || 'no draw-buffers extension'}: the page says "${text}"`);
      await page.close();
    }
  } finally {
    await browser.close();
  }
  // A browser whose WebGL is turned off.
  const plain = await launch(['--disable-webgl', '--disable-3d-apis', '--no-sandbox']);
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
