// What the browser tests and the browser benchmark share: a static server for the page's folder,
// the three engines, and pictures compared. Debian's Chromium (over CDP, WebGL on SwiftShader) and
// Firefox ESR (over WebDriver BiDi) are driven through puppeteer-core; WebKitGTK's MiniBrowser,
// which speaks classic WebDriver only, through selenium-webdriver, behind an adapter that offers
// the tests the part of puppeteer's page they use. Firefox and WebKit draw WebGL on Mesa's
// llvmpipe in a private Xvfb, and play into a private PulseAudio.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { PNG } from 'pngjs';
import puppeteer from 'puppeteer-core';
import { Builder, By, Capabilities, Key } from 'selenium-webdriver';
import { DriverService } from 'selenium-webdriver/remote/index.js';

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.wasm': 'application/wasm',
  '.mp3': 'audio/mpeg',
};

// Scripts to run in a page ahead of its own, where the driver cannot put them there (WebKit's):
// a page's address under /quarvel-init/ID/ serves its HTML with ID's scripts first.
const initScripts = new Map();
let initScriptsMade = 0;

// Serves `root` on a free port of 127.0.0.1; the names in `without` answer 404, as if missing.
export async function serve(root, { without = [] } = {}) {
  const server = http.createServer((request, response) => {
    let name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname).replace(/^\/+/, '');
    const init = /^quarvel-init\/(\d+)\//.exec(name);
    if (init) name = name.slice(init[0].length);
    name ||= 'index.html';
    const file = path.join(root, path.normalize(name));
    if (!file.startsWith(root) || without.includes(name) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': contentTypes[path.extname(file)] ?? 'application/octet-stream' });
    if (init && file.endsWith('.html')) {
      const scripts = (initScripts.get(init[1]) ?? []).map((script) => `<script>${script}</script>`).join('');
      response.end(fs.readFileSync(file, 'utf8').replace('<head>', `<head>${scripts}`));
      return;
    }
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

// An output that plays `ms` later than the context's clock says, as a wireless headset does: its
// timestamp and its reported latency say so, and count how often the page asks. The moment the
// page starts a sound is kept.
function outputBehind(ms) {
  window.quarvelLatencyAsked = 0;
  const stamp = AudioContext.prototype.getOutputTimestamp;
  if (stamp) {
    AudioContext.prototype.getOutputTimestamp = function() {
      ++window.quarvelLatencyAsked;
      const real = stamp.call(this);
      return { contextTime: real.contextTime - ms / 1000, performanceTime: real.performanceTime };
    };
  }
  Object.defineProperty(AudioContext.prototype, 'outputLatency', {
    get: () => { ++window.quarvelLatencyAsked; return ms / 1000; }, configurable: true });
  const start = AudioBufferSourceNode.prototype.start;
  AudioBufferSourceNode.prototype.start = function(...args) {
    window.quarvelSoundStartedAt = performance.now();
    return start.apply(this, args);
  };
}

// A screen of width x height CSS pixels, where a browser can be told no other way (Firefox takes
// its screen from the environment, once, at start).
function screenOf(width, height) {
  for (const [name, value] of Object.entries({ width, height, availWidth: width, availHeight: height }))
    Object.defineProperty(Screen.prototype, name, { get: () => value, configurable: true });
}

// WebGL2 gone from the page, as in a browser without it (MiniBrowser has no switch for it).
function withoutWebgl2() {
  const getContext = HTMLCanvasElement.prototype.getContext;
  HTMLCanvasElement.prototype.getContext = function(kind, ...rest) {
    return kind === 'webgl2' ? null : getContext.call(this, kind, ...rest);
  };
}

// The page's console lines and uncaught errors, kept for the driver to collect, where it has no
// way to hear them itself (classic WebDriver).
function keepLines() {
  const lines = window.quarvelTestLines = [];
  for (const level of ['log', 'info', 'warn', 'error']) {
    const print = console[level];
    console[level] = (...parts) => {
      lines.push(parts.join(' '));
      print.apply(console, parts);
    };
  }
  addEventListener('error', (event) => lines.push(`exception: ${event.message}`));
  addEventListener('unhandledrejection', (event) => lines.push(`exception: ${event.reason?.message ?? event.reason}`));
}

// One browser of `engine` ('chromium', 'firefox' or 'webkit'); `webgl2: false` switches WebGL2
// off. QUARVEL_BROWSER_LOG=1 passes the browser's own output through.
export async function launch(engine, { webgl2 = true } = {}) {
  if (engine === 'webkit') return launchWebKit(webgl2);
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
  return withDisplayAndSound(async (x, pulse, started) => {
    const browser = await puppeteer.launch({
      ...common, browser: 'firefox', executablePath: process.env.FIREFOX ?? '/usr/bin/firefox-esr',
      env: { ...process.env, DISPLAY: x.display, PULSE_SERVER: pulse.server, MOZ_HEADLESS_WIDTH: '1920', MOZ_HEADLESS_HEIGHT: '1080' },
      extraPrefsFirefox: webgl2 ? {} : { 'webgl.enable-webgl2': false },
    });
    return new Browser(engine, browser, started);
  });
}

// Runs `body` with a private Xvfb and PulseAudio, and what it started to stop at the end;
// stops them if it fails.
async function withDisplayAndSound(body) {
  const started = [];
  try {
    const x = await startXvfb();
    started.push(x.stop);
    const pulse = await startPulseAudio();
    started.push(pulse.stop);
    return await body(x, pulse, started);
  } catch (error) {
    for (const stop of started) stop();
    throw error;
  }
}

// MiniBrowser in a window of its own on the private display, driven by WebKitWebDriver.
async function launchWebKit(webgl2) {
  return withDisplayAndSound(async (x, pulse, started) => {
    const env = { ...process.env, DISPLAY: x.display, PULSE_SERVER: pulse.server };
    // the driver on a free port of 127.0.0.1, answering within 10 s
    const service = new DriverService.Builder(process.env.WEBKIT_DRIVER ?? '/usr/bin/WebKitWebDriver')
      .setLoopback(true).setEnvironment(env).build();
    const address = await service.start(10000);
    started.unshift(() => service.kill());
    const capabilities = new Capabilities({
      browserName: 'MiniBrowser',
      'webkitgtk:browserOptions': { binary: process.env.MINIBROWSER ?? miniBrowser, args: ['--automation'] },
    });
    const driver = await new Builder().usingServer(address).withCapabilities(capabilities).build();
    // a browser that stops answering fails the call within a minute, as puppeteer's do
    await driver.manage().setTimeouts({ script: 60000, pageLoad: 60000 });
    const browser = new Browser('webkit', driver, started);
    browser.blank = await driver.getWindowHandle();
    browser.pageScripts = webgl2 ? [] : [`(${withoutWebgl2})()`];
    return browser;
  });
}
const miniBrowser = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

class Browser {
  constructor(engine, browser, started) {
    Object.assign(this, { engine, browser, started });
  }

  // A new tab whose viewport is `width` x `height` CSS pixels on a screen of `screen`; `mobile`
  // (Chromium only) makes it a phone's: the viewport is the screen, at that device pixel ratio,
  // with touch and no mouse. `sound` 'refused' or 'absent' leaves the page an audio context that
  // never starts, the browser refusing it or there being no device; `outputBehindMs` makes the
  // output play that much later than the context's clock says.
  // Every console line and uncaught error of the page is kept in page.lines.
  async newPage({ width = 1280, height = 720, screen = { width: 1920, height: 1080 }, mobile = undefined, sound = 'working',
    outputBehindMs = 0 } = {}) {
    const page = this.engine === 'webkit' ? await WebDriverPage.open(this) : await this.browser.newPage();
    if (sound !== 'working') await page.evaluateOnNewDocument(audioThatNeverStarts, sound === 'refused');
    if (outputBehindMs) await page.evaluateOnNewDocument(outputBehind, outputBehindMs);
    if (this.engine === 'webkit') {
      if (mobile) throw new Error('the phone is emulated in Chromium only');
      await page.evaluateOnNewDocument(screenOf, screen.width, screen.height);
      await page.setViewport({ width, height });
      return page;
    }
    page.lines = [];
    page.on('console', (message) => page.lines.push(message.text()));
    page.on('pageerror', (error) => page.lines.push(`exception: ${error.message ?? error}`));
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

  async version() {
    if (this.engine !== 'webkit') return this.browser.version();
    const capabilities = await this.browser.getCapabilities();
    return `${capabilities.getBrowserName()} ${capabilities.getBrowserVersion()}`;
  }

  async close() {
    try {
      await (this.engine === 'webkit' ? this.browser.quit() : this.browser.close());
    } finally {
      for (const stop of this.started) stop();
    }
  }
}

// A window of MiniBrowser as a puppeteer page, as far as the tests use one. Scripts meant for
// the page before its own go in through the server (/quarvel-init/ID/), and the console lines
// come back with each evaluation.
class WebDriverPage {
  static async open(browser) {
    const driver = browser.browser;
    await driver.switchTo().newWindow('window');
    const page = new WebDriverPage(driver, await driver.getWindowHandle(), browser.blank);
    initScripts.set(page.id, [`(${keepLines})()`, ...browser.pageScripts]);
    return page;
  }

  constructor(driver, handle, blank) {
    Object.assign(this, { driver, handle, blank, id: String(++initScriptsMade), lines: [] });
    this.keyboard = { press: (key) => driver.actions().sendKeys(Key[key.toUpperCase()] ?? key).perform() };
  }

  async evaluateOnNewDocument(script, ...args) {
    initScripts.get(this.id).push(`(${script})(${args.map((arg) => JSON.stringify(arg)).join(', ')})`);
  }

  // The window sized so that its viewport, under MiniBrowser's toolbar, is width x height. The
  // page hears of a new size a little after the driver answers, its outer and inner sizes not
  // always at once: a size is read once it is the one asked for and holds for two reads.
  async setViewport({ width, height }) {
    const window = this.driver.manage().window();
    const sizes = 'return [outerWidth, outerHeight, innerWidth, innerHeight].join()';
    let rect = { width, height };
    for (let tries = 0; tries < 3; ++tries) {
      await window.setRect(rect);
      let seen = '';
      for (const end = Date.now() + 5000; Date.now() < end; await new Promise((resolve) => setTimeout(resolve, 20))) {
        const now = await this.driver.executeScript(sizes);
        if (now === seen && now.startsWith(`${rect.width},${rect.height},`)) break;
        seen = now;
      }
      const [outerWidth, outerHeight, innerWidth, innerHeight] = seen.split(',').map(Number);
      if (innerWidth === width && innerHeight === height) return;
      rect = { width: Math.max(outerWidth + width - innerWidth, 1), height: Math.max(outerHeight + height - innerHeight, 1) };
    }
    throw new Error(`MiniBrowser would not give a viewport of ${width} x ${height}`);
  }

  async goto(url) {
    const address = new URL(url);
    address.pathname = `/quarvel-init/${this.id}${address.pathname}`;
    await this.driver.get(address.href);
  }

  // `expression`'s value, a promise's once it settles; the page's new console lines join `lines`.
  async evaluate(expression) {
    const [value, lines] = await this.driver.executeScript(`return Promise.resolve(${expression})
      .then((value) => [value, window.quarvelTestLines?.splice(0) ?? []]);`);
    this.lines.push(...lines);
    return value ?? undefined;
  }

  async waitForFunction(expression, { polling = 50, timeout = 30000 } = {}) {
    for (const end = Date.now() + timeout; !(await this.evaluate(expression));) {
      if (Date.now() > end) throw new Error(`waiting failed: ${timeout}ms exceeded`);
      await new Promise((resolve) => setTimeout(resolve, polling));
    }
  }

  async click(selector) {
    await (await this.driver.findElement(By.css(selector))).click();
  }

  async screenshot({ clip }) {
    const shot = PNG.sync.read(Buffer.from(await this.driver.takeScreenshot(), 'base64'));
    const part = new PNG({ width: clip.width, height: clip.height });
    PNG.bitblt(shot, part, clip.x, clip.y, clip.width, clip.height, 0, 0);
    return PNG.sync.write(part);
  }

  async close() {
    await this.driver.close();
    await this.driver.switchTo().window(this.blank);
    initScripts.delete(this.id);
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
