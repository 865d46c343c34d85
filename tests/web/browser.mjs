// What the browser tests and the browser benchmark share: a static server for the page's folder,
// Debian's Chromium (over CDP, WebGL on SwiftShader) or Firefox ESR (over WebDriver BiDi, WebGL
// on Mesa's llvmpipe in a private Xvfb) driven through puppeteer-core, and pictures compared.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { PNG } from 'pngjs';
import puppeteer from 'puppeteer-core';

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.wasm': 'application/wasm',
  '.mp3': 'audio/mpeg',
};

// Serves `root` on a free port of 127.0.0.1; the names in `without` answer 404, as if missing.
export async function serve(root, { without = [] } = {}) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname).replace(/^\/+/, '') || 'index.html';
    const file = path.join(root, path.normalize(name));
    if (!file.startsWith(root) || without.includes(name) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': contentTypes[path.extname(file)] ?? 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    // the browser may keep a connection open for a while after its page has gone
    close: () => new Promise((resolve) => {
      server.close(resolve);
      server.closeAllConnections();
    }),
  };
}

// The servers this process started for its browsers, ended with it however it exits.
const servers = new Set();
process.on('exit', () => {
  for (const server of servers) server.kill('SIGTERM');
});
function own(server) {
  servers.add(server);
  server.once('exit', () => servers.delete(server));
  return server;
}

// An X server of our own on the first free display number, which it reports on a pipe.
async function startXvfb() {
  const xvfb = own(spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1920x1080x24', '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] }));
  // it names each display it finds taken on its way to a free one: kept for a failure only
  let said = '';
  xvfb.stderr.on('data', (chunk) => { said += chunk; });
  const display = await new Promise((resolve, reject) => {
    xvfb.once('exit', (code) => reject(new Error(`Xvfb exited (${code}) before it took a display: ${said}`)));
    xvfb.stdio[3].once('data', (chunk) => resolve(':' + chunk.toString().trim()));
  });
  return { display, stop: () => { if (xvfb.exitCode === null) xvfb.kill('SIGTERM'); } };
}

// A PulseAudio of our own with a null sink as its only output, for Firefox, whose audio context
// runs only where a sound server takes its output (headless Chromium's needs none).
async function startPulseAudio() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quarvel-pulse-'));
  const socket = path.join(folder, 'native');
  fs.writeFileSync(path.join(folder, 'server.pa'), `load-module module-native-protocol-unix auth-anonymous=1 socket=${socket}
load-module module-null-sink sink_name=quarvel_test
set-default-sink quarvel_test
`);
  const server = own(spawn('pulseaudio', ['-n', '-F', path.join(folder, 'server.pa'), '--daemonize=no', '--exit-idle-time=-1',
    '--disable-shm=yes', '--use-pid-file=no', '--log-target=stderr', '--log-level=error'],
  { stdio: ['ignore', 'ignore', 'inherit'], env: { ...process.env, HOME: folder, XDG_RUNTIME_DIR: folder } }));
  const stop = () => {
    if (server.exitCode === null) server.kill('SIGTERM');
    fs.rmSync(folder, { recursive: true, force: true, maxRetries: 5 });
  };
  for (let waited = 0; !fs.existsSync(socket); waited += 20) {
    if (server.exitCode !== null || waited > 10000) {
      stop();
      throw new Error('the private PulseAudio did not come up');
    }
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  return { server: `unix:${socket}`, stop };
}

// An audio context that never starts: its state stays 'suspended', and resume() either is
// refused, as where a browser keeps a page silent, or never settles, as in Firefox with no sound
// device, until the page goes. Headless Chromium's always starts.
function audioThatNeverStarts(refused) {
  window.AudioContext = class extends window.AudioContext {
    get state() { return 'suspended'; }
    resume() {
      return refused ? Promise.reject(new DOMException('The page may not play sound.', 'NotAllowedError')) : new Promise(() => {});
    }
  };
}

// A screen of width x height CSS pixels, where a browser can be told no other way (Firefox takes
// its screen from the environment, once, at start).
function screenOf(width, height) {
  for (const [name, value] of Object.entries({ width, height, availWidth: width, availHeight: height }))
    Object.defineProperty(Screen.prototype, name, { get: () => value, configurable: true });
}

// One browser of `engine` ('chromium' or 'firefox'); `webgl2: false` switches WebGL2 off.
// QUARVEL_BROWSER_LOG=1 passes the browser's own output through.
export async function launch(engine, { webgl2 = true } = {}) {
  // a browser that stops answering fails the call within a minute; each page sets its own viewport
  const common = { headless: true, dumpio: !!process.env.QUARVEL_BROWSER_LOG, protocolTimeout: 60000, defaultViewport: null };
  if (engine === 'chromium') {
    const browser = await puppeteer.launch({
      ...common, browser: 'chrome', executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
      args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--mute-audio',
        ...(webgl2 ? [] : ['--disable-webgl2'])],
    });
    return new Browser(engine, browser, []);
  }
  if (engine !== 'firefox') throw new Error(`no engine named ${engine}`);
  // headless Firefox brings WebGL up only with an X display to take its GL from
  const started = [];
  try {
    const x = await startXvfb();
    started.push(x.stop);
    const pulse = await startPulseAudio();
    started.push(pulse.stop);
    const browser = await puppeteer.launch({
      ...common, browser: 'firefox', executablePath: process.env.FIREFOX ?? '/usr/bin/firefox-esr',
      env: { ...process.env, DISPLAY: x.display, PULSE_SERVER: pulse.server, MOZ_HEADLESS_WIDTH: '1920', MOZ_HEADLESS_HEIGHT: '1080' },
      extraPrefsFirefox: webgl2 ? {} : { 'webgl.enable-webgl2': false },
    });
    return new Browser(engine, browser, started);
  } catch (error) {
    for (const stop of started) stop();
    throw error;
  }
}

class Browser {
  constructor(engine, browser, started) {
    Object.assign(this, { engine, browser, started });
  }

  // A new tab whose viewport is `width` x `height` CSS pixels on a screen of `screen`; `mobile`
  // (Chromium only) makes it a phone's: the viewport is the screen, at that device pixel ratio,
  // with touch and no mouse. `sound` 'refused' or 'absent' leaves the page an audio context that
  // never starts, the browser refusing it or there being no device.
  // Every console line and uncaught error of the page is kept in page.lines.
  async newPage({ width = 1280, height = 720, screen = { width: 1920, height: 1080 }, mobile = undefined, sound = 'working' } = {}) {
    const page = await this.browser.newPage();
    page.lines = [];
    page.on('console', (message) => page.lines.push(message.text()));
    page.on('pageerror', (error) => page.lines.push(`exception: ${error.message ?? error}`));
    if (sound !== 'working') await page.evaluateOnNewDocument(audioThatNeverStarts, sound === 'refused');
    if (this.engine === 'chromium') {
      const session = await page.createCDPSession();
      await session.send('Emulation.setDeviceMetricsOverride', {
        width: mobile ? screen.width : width, height: mobile ? screen.height : height,
        deviceScaleFactor: mobile?.deviceScaleFactor ?? 1, mobile: !!mobile,
        screenWidth: screen.width, screenHeight: screen.height,
      });
      if (mobile) await session.send('Emulation.setTouchEmulationEnabled', { enabled: true, maxTouchPoints: 5 });
    } else {
      if (mobile) throw new Error('the phone is emulated in Chromium only');
      await page.evaluateOnNewDocument(screenOf, screen.width, screen.height);
      await page.setViewport({ width, height });
    }
    return page;
  }

  async close() {
    try {
      await this.browser.close();
    } finally {
      for (const stop of this.started) stop();
    }
  }
}

// Navigates and returns once the page's load event has fired.
export async function open(page, url) {
  await page.goto(url, { waitUntil: 'load', timeout: 60000 });
}

// Waits until `expression` is true in the page; fails with `what` and the page's console.
export async function waitFor(page, expression, what, timeout = 30000) {
  try {
    await page.waitForFunction(expression, { polling: 50, timeout });
  } catch (error) {
    throw new Error(`waited for ${what}: ${error.message}; the console said:\n${page.lines.join('\n')}`);
  }
}

// Picks `size` (as the list shows it, "640 x 360") in the launcher dialog as a viewer would, so
// the page hears of the change, and sets the Fullscreen box.
export function chooseInDialog(page, size, fullscreen) {
  return page.evaluate(`(() => {
    const list = document.querySelector('.quarvel-dialog select');
    list.selectedIndex = [...list.options].findIndex((o) => o.textContent === ${JSON.stringify(size)});
    list.dispatchEvent(new Event('change'));
    document.querySelector('.quarvel-dialog input[type=checkbox]').checked = ${fullscreen};
  })()`);
}

// The page's top-left width x height CSS pixels, as PNG bytes.
export function screenshot(page, width, height) {
  return page.screenshot({ type: 'png', clip: { x: 0, y: 0, width, height } });
}

// The share of pixels whose red, green and blue each differ by at most `tolerance` (of 255), and
// the largest difference seen, between two PNG files' bytes.
export function comparePictures(pngA, pngB, tolerance) {
  const [a, b] = [pngA, pngB].map((bytes) => PNG.sync.read(bytes));
  if (a.width !== b.width || a.height !== b.height) throw new Error(`sizes differ: ${a.width}x${a.height} and ${b.width}x${b.height}`);
  let within = 0, largest = 0;
  for (let i = 0; i < a.data.length; i += 4) {
    const worst = Math.max(...[0, 1, 2].map((k) => Math.abs(a.data[i + k] - b.data[i + k])));
    largest = Math.max(largest, worst);
    if (worst <= tolerance) ++within;
  }
  return { share: within / (a.width * a.height), largest };
}
