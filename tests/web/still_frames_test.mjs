// The browser's picture against the desktop's: still frames of the page (?still=CLOCK&size=WxH)
// next to quarvel-capture's at the same size and clock, both from a fresh state; and the
// messages for a size the page cannot draw and for a browser without WebGL2.
// Usage: node still_frames_test.mjs SITE_DIR HOST_BIN_DIR ARTIFACT_DIR
// The screenshots, the captures and a summary stay in ARTIFACT_DIR.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';

import { comparePictures, decodePng, launchChromium, serve } from './browser.mjs';

const [site, hostBin, artifacts] = process.argv.slice(2).map((p) => path.resolve(p));
const width = 640;
const height = 360;
// From a fresh state most of a frame is dim scene under the post's inverted threshold, which any
// feedback pass would turn white: these clocks also show the disc bright enough to go through the
// feedback texture and the threshold (45.9 s just after a jump, 81.5 s over most of the frame).
// Around 80 s the disc's rim lies in the threshold's steep band, which turns last-bit differences
// between SwiftShader and llvmpipe into visible ones (98% of pixels agree there), so those clocks
// are not used.
const clocks = [0, 12000, 45900, 66200, 81500];
const tolerance = 2;     // of 255, per channel
const requiredShare = 0.99;

let server;
let browser;
before(async () => {
  fs.mkdirSync(artifacts, { recursive: true });
  server = await serve(site);
  browser = await launchChromium();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

const title = `document.title`;
const message = `document.getElementById('quarvel-message')`;

test('still frames agree with quarvel-capture at the same size and clock', async () => {
  const page = await browser.newPage({ width, height, screenWidth: width, screenHeight: height });
  const summary = [];
  for (const clock of clocks) {
    const captured = path.join(artifacts, `capture-${clock}.png`);
    execFileSync(path.join(hostBin, 'quarvel-capture'), ['--size', `${width}x${height}`, '--clock', String(clock), captured],
      { cwd: hostBin, stdio: ['ignore', 'ignore', 'inherit'] });

    await page.open(`${server.url}index.html?still=${clock}&size=${width}x${height}`);
    await page.waitFor(`${title} === 'rendered'`, `the still frame at ${clock} ms`);
    const canvas = await page.evaluate(`(() => { const r = document.getElementById('quarvel-canvas').getBoundingClientRect();
      return [r.left, r.top, r.width, r.height]; })()`);
    assert.deepEqual(canvas, [0, 0, width, height], 'the canvas alone, at the top-left, at exactly W x H CSS pixels');
    const shot = await page.screenshot(width, height);
    fs.writeFileSync(path.join(artifacts, `browser-${clock}.png`), shot);

    const { share, largest } = comparePictures(decodePng(shot), decodePng(fs.readFileSync(captured)), tolerance);
    summary.push(`clock ${clock} ms: ${(share * 100).toFixed(3)}% of pixels within ${tolerance}/255, largest difference ${largest}/255`);
    assert.ok(share >= requiredShare, `at ${clock} ms only ${(share * 100).toFixed(3)}% of pixels agree (largest difference ${largest})`);
  }
  fs.writeFileSync(path.join(artifacts, 'still_frames.txt'), summary.join('\n') + '\n');
  console.log(summary.join('\n'));
  await page.close();
});

test('a size that is not positive, or too large for the context, gives a message and no picture', async () => {
  const page = await browser.newPage({ width, height });
  const cases = [
    ['0x360', /positive whole numbers/],
    ['-640x360', /positive whole numbers/],
    ['640', /positive whole numbers/],
    ['100000x100', /too large/],
    ['30000x30000', /larger than this browser's WebGL2 draws \(at most \d+ x \d+\)/],
  ];
  for (const [size, expected] of cases) {
    await page.open(`${server.url}index.html?still=1000&size=${size}`);
    await page.waitFor(`!${message}.hidden`, `the message for size=${size}`);
    assert.match(await page.evaluate(`${message}.textContent`), expected, size);
    assert.equal(await page.evaluate(`document.getElementById('quarvel-canvas').hidden`), true, size);
    assert.notEqual(await page.evaluate(title), 'rendered', size);
  }
  await page.close();
});

test('a browser without WebGL2 gets a message in the page', async () => {
  const noWebgl2 = await launchChromium(['--disable-webgl2']);
  try {
    const page = await noWebgl2.newPage({ width, height });
    await page.open(`${server.url}index.html?still=1000&size=${width}x${height}`);
    await page.waitFor(`!${message}.hidden`, 'the message about WebGL2');
    assert.match(await page.evaluate(`${message}.textContent`), /no WebGL2/);
  } finally {
    await noWebgl2.close();
  }
});
