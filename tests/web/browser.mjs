// What the browser tests and the browser benchmark share: a static server for the page's folder,
// headless Chromium driven through its DevTools protocol on a pipe (no port, no extra package),
// and PNG decoding to compare pictures.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

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

// The flags every run uses: SwiftShader for WebGL, nothing that reaches the network.
export const chromiumFlags = [
  '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
  '--disable-default-apps', '--mute-audio',
];

export async function launchChromium(extraFlags = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quarvel-chromium-'));
  const child = spawn(process.env.CHROMIUM ?? 'chromium',
    [...chromiumFlags, ...extraFlags, `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  child.stderr.resume();
  return new Browser(child, profile);
}

class Browser {
  constructor(child, profile) {
    this.child = child;
    this.profile = profile;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = new Set();
    this.exited = new Promise((resolve) => child.once('exit', resolve));
    let buffered = '';
    child.stdio[4].on('data', (chunk) => {
      buffered += chunk.toString('utf8');
      let end;
      while ((end = buffered.indexOf('\0')) >= 0) {
        const message = JSON.parse(buffered.slice(0, end));
        buffered = buffered.slice(end + 1);
        if (message.id !== undefined && this.pending.has(message.id)) {
          const { resolve, reject, method } = this.pending.get(message.id);
          this.pending.delete(message.id);
          if (message.error) reject(new Error(`${method}: ${message.error.message}`));
          else resolve(message.result);
        } else {
          for (const listener of this.listeners) listener(message);
        }
      }
    });
  }

  // One protocol command; a browser that does not answer within a minute fails it by name.
  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`${method}: no answer from Chromium within 60 s`));
      }, 60000);
      const sent = Date.now();
      const settle = (f) => (value) => {
        clearTimeout(timer);
        if (process.env.QUARVEL_TRACE) console.error(`${method}: ${Date.now() - sent} ms`);
        f(value);
      };
      this.pending.set(id, { resolve: settle(resolve), reject: settle(reject), method });
      this.child.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // A new tab of width x height CSS pixels on a screen of screenWidth x screenHeight.
  async newPage({ width = 1280, height = 720, screenWidth = 1920, screenHeight = 1080 } = {}) {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this, targetId, sessionId);
    await page.send('Page.enable');
    await page.send('Runtime.enable');
    await page.send('Emulation.setDeviceMetricsOverride',
      { width, height, deviceScaleFactor: 1, mobile: false, screenWidth, screenHeight });
    return page;
  }

  async close() {
    this.child.kill('SIGTERM');
    await this.exited;
    // its helper processes may still be writing to the profile for a moment
    try {
      fs.rmSync(this.profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
    } catch {
      // what is left in the temporary folder does no harm
    }
  }
}

class Page {
  constructor(browser, targetId, sessionId) {
    this.browser = browser;
    this.targetId = targetId;
    this.sessionId = sessionId;
    this.console = [];  // every console line the page wrote, in order
    browser.listeners.add((message) => {
      if (message.sessionId !== sessionId) return;
      if (message.method === 'Runtime.consoleAPICalled') {
        this.console.push(message.params.args.map((a) => a.value ?? a.description ?? '').join(' '));
      } else if (message.method === 'Runtime.exceptionThrown') {
        this.console.push('exception: ' + message.params.exceptionDetails.exception?.description);
      }
    });
  }

  send(method, params = {}) {
    return this.browser.send(method, params, this.sessionId);
  }

  // Navigates and returns once the page's load event has fired, within a minute.
  async open(url) {
    const loaded = new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`${url} did not load within 60 s`)), 60000);
      const listener = (message) => {
        if (message.sessionId !== this.sessionId || message.method !== 'Page.loadEventFired') return;
        this.browser.listeners.delete(listener);
        clearTimeout(timer);
        resolve();
      };
      this.browser.listeners.add(listener);
    });
    await this.send('Page.navigate', { url });
    await loaded;
  }

  async evaluate(expression) {
    const { result, exceptionDetails } =
      await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description ?? exceptionDetails.text}`);
    return result.value;
  }

  // Polls `expression` until it is true; fails with `what` and the console after `timeoutMs`.
  async waitFor(expression, what, timeoutMs = 30000) {
    const start = Date.now();
    while (Date.now() - start < timeoutMs) {
      if (await this.evaluate(expression)) {
        if (process.env.QUARVEL_TRACE) console.error(`waited ${Date.now() - start} ms for ${what}`);
        return;
      }
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
    throw new Error(`waited ${timeoutMs} ms for ${what}; the console said:\n${this.console.join('\n')}`);
  }

  // A real click in the middle of the element: a user gesture, as the page must have one.
  async click(selector) {
    const box = await this.evaluate(`(() => { const r = document.querySelector(${JSON.stringify(selector)}).getBoundingClientRect();
      return {x: r.left + r.width / 2, y: r.top + r.height / 2}; })()`);
    for (const type of ['mousePressed', 'mouseReleased'])
      await this.send('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
  }

  async press(key, keyCode) {
    for (const type of ['keyDown', 'keyUp'])
      await this.send('Input.dispatchKeyEvent', { type, key, code: key, windowsVirtualKeyCode: keyCode });
  }

  // The page's top-left width x height CSS pixels as PNG bytes.
  async screenshot(width, height) {
    const { data } = await this.send('Page.captureScreenshot',
      { format: 'png', clip: { x: 0, y: 0, width, height, scale: 1 }, captureBeyondViewport: false });
    return Buffer.from(data, 'base64');
  }

  async close() {
    await this.browser.send('Target.closeTarget', { targetId: this.targetId });
  }
}

// 8-bit greyscale, RGB or RGBA PNG, not interlaced (what Chromium and quarvel-capture write), as
// {width, height, channels, data}.
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

export function decodePng(bytes) {
  if (bytes.subarray(0, 8).compare(Buffer.from([137, 80, 78, 71, 13, 10, 26, 10])) !== 0) throw new Error('not a PNG');
  let width = 0, height = 0, channels = 0;
  const idat = [];
  for (let at = 8; at < bytes.length;) {
    const length = bytes.readUInt32BE(at);
    const type = bytes.toString('latin1', at + 4, at + 8);
    const chunk = bytes.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = chunk.readUInt32BE(0);
      height = chunk.readUInt32BE(4);
      const [depth, colourType, , , interlace] = chunk.subarray(8, 13);
      channels = { 0: 1, 2: 3, 6: 4 }[colourType];
      if (depth !== 8 || !channels || interlace !== 0) throw new Error(`PNG kind not handled: depth ${depth}, type ${colourType}`);
    } else if (type === 'IDAT') {
      idat.push(chunk);
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const data = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const out = data.subarray(y * stride, (y + 1) * stride);
    const up = y > 0 ? data.subarray((y - 1) * stride, y * stride) : Buffer.alloc(stride);
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? out[x - channels] : 0;
      const b = up[x];
      const c = x >= channels ? up[x - channels] : 0;
      let predictor = 0;
      if (filter === 1) predictor = a;
      else if (filter === 2) predictor = b;
      else if (filter === 3) predictor = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      out[x] = (line[x] + predictor) & 255;
    }
  }
  return { width, height, channels, data };
}

// The share of pixels whose red, green and blue each differ by at most `tolerance` (of 255), and
// the largest difference seen.
export function comparePictures(a, b, tolerance) {
  if (a.width !== b.width || a.height !== b.height) throw new Error(`sizes differ: ${a.width}x${a.height} and ${b.width}x${b.height}`);
  let within = 0, largest = 0;
  for (let i = 0; i < a.width * a.height; ++i) {
    let worst = 0;
    for (let k = 0; k < 3; ++k)
      worst = Math.max(worst, Math.abs(a.data[i * a.channels + k] - b.data[i * b.channels + k]));
    largest = Math.max(largest, worst);
    if (worst <= tolerance) ++within;
  }
  return { share: within / (a.width * a.height), largest };
}
