// Frames per second of the show in headless Chromium (SwiftShader) at 640 x 360, against the
// native pipeline (quarvel-bench-pipeline, llvmpipe) on the same machine, and the ratio.
// The browser figure is the real show's: the dialog's Enter, then the frames the page presents
// over a stretch of the run, at Chromium's own pace (animation frames at most at the display's
// 60 Hz, far above what SwiftShader reaches here). The native one is the median frame of the
// show's shaders with glFinish after each pass.
// Usage: node web_bench.mjs SITE_DIR HOST_BIN_DIR [SECONDS]
import { execFileSync } from 'node:child_process';
import path from 'node:path';

import { chooseInDialog, launchChromium, serve } from '../tests/web/browser.mjs';

const [site, hostBin, secondsArgument] = process.argv.slice(2);
const seconds = Number(secondsArgument ?? 20);

const server = await serve(site);
const browser = await launchChromium();
let browserFps = 0;
try {
  const page = await browser.newPage({ width: 640, height: 360, screenWidth: 1920, screenHeight: 1080 });
  await page.open(server.url + 'index.html');
  await page.waitFor(`document.body?.dataset.quarvel === 'dialog'`, 'the launcher dialog');
  await chooseInDialog(page, '640 x 360', false);
  await page.click('.quarvel-dialog button.quarvel-default');
  // the first frames carry the shaders' first use; the count starts after them
  await page.waitFor(`(Module.quarvelFramesShown ?? 0) >= 3`, 'the first frames', 120000);
  const sample = `[Module.quarvelFramesShown, performance.now()]`;
  const [frames0, time0] = await page.evaluate(sample);
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const [frames1, time1] = await page.evaluate(sample);
  browserFps = (frames1 - frames0) / ((time1 - time0) / 1000);
  const renderer = await page.evaluate(`(() => { const gl = document.createElement('canvas').getContext('webgl2');
    const info = gl.getExtension('WEBGL_debug_renderer_info');
    return info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER); })()`);
  console.log(`browser: ${renderer}`);
  console.log(`browser: ${frames1 - frames0} frames of the show in ${((time1 - time0) / 1000).toFixed(1)} s: ${browserFps.toFixed(2)} fps`);
  await page.press('Escape', 27);
} finally {
  await browser.close();
  await server.close();
}

const native = execFileSync(path.join(hostBin, 'quarvel-bench-pipeline'), ['10'], { encoding: 'utf8' });
const row = native.split('\n').find((line) => /^show\s+640x360\s/.test(line));
if (!row) throw new Error(`quarvel-bench-pipeline printed no show 640x360 row:\n${native}`);
const frameMs = Number(row.trim().split(/\s+/)[5]);
const nativeFps = 1000 / frameMs;
console.log(`native:  ${native.split('\n')[0]}`);
console.log(`native:  median frame of the show at 640x360 ${frameMs.toFixed(2)} ms: ${nativeFps.toFixed(2)} fps`);
console.log(`ratio browser / native: ${(browserFps / nativeFps).toFixed(3)}`);
