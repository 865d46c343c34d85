// Frames per second of the show at 640 x 360 in headless Chromium (SwiftShader), headless Firefox
// ESR and WebKitGTK's MiniBrowser (both on Mesa's llvmpipe), against the native pipeline
// (quarvel-bench-pipeline, llvmpipe) on the same machine, with the ratios.
// A browser's figure is the real show's: the dialog's Enter, then the frames the page presents
// over a stretch of the run, at the browser's own pace (animation frames at most at the
// display's 60 Hz). The native one is the median frame of the show's shaders with glFinish after
// each pass.
// Usage: node web_bench.mjs SITE_DIR HOST_BIN_DIR [SECONDS]
import { execFileSync } from 'node:child_process';
import path from 'node:path';

import { chooseInDialog, launch, open, serve, waitFor } from '../tests/web/browser.mjs';

const [site, hostBin, secondsArgument] = process.argv.slice(2);
const seconds = Number(secondsArgument ?? 20);

async function showFps(server, engine) {
  const browser = await launch(engine);
  try {
    const page = await browser.newPage({ width: 640, height: 360 });
    await open(page, server.url + 'index.html');
    await waitFor(page, `document.body?.dataset.quarvel === 'dialog'`, 'the launcher dialog');
    await chooseInDialog(page, '640 x 360', false);
    await page.click('.quarvel-dialog button.quarvel-default');
    // the first frames carry the shaders' first use; the count starts after them
    await waitFor(page, `(Module.quarvelFramesShown ?? 0) >= 3`, 'the first frames', 120000);
    const sample = `[Module.quarvelFramesShown, performance.now()]`;
    const [frames0, time0] = await page.evaluate(sample);
    await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
    const [frames1, time1] = await page.evaluate(sample);
    const fps = (frames1 - frames0) / ((time1 - time0) / 1000);
    const renderer = await page.evaluate(`(() => { const gl = document.createElement('canvas').getContext('webgl2');
      const info = gl.getExtension('WEBGL_debug_renderer_info');
      return info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER); })()`);
    console.log(`${engine}: ${await browser.version()}, ${renderer}`);
    console.log(`${engine}: ${frames1 - frames0} frames of the show in ${((time1 - time0) / 1000).toFixed(1)} s: ${fps.toFixed(2)} fps`);
    await page.keyboard.press('Escape');
    return fps;
  } finally {
    await browser.close();
  }
}

const server = await serve(site);
const browserFps = {};
try {
  for (const engine of ['chromium', 'firefox', 'webkit']) browserFps[engine] = await showFps(server, engine);
} finally {
  await server.close();
}

const native = execFileSync(path.join(hostBin, 'quarvel-bench-pipeline'), ['10'], { encoding: 'utf8' });
const row = native.split('\n').find((line) => /^show\s+640x360\s/.test(line));
if (!row) throw new Error(`quarvel-bench-pipeline printed no show 640x360 row:\n${native}`);
const frameMs = Number(row.trim().split(/\s+/)[5]);
const nativeFps = 1000 / frameMs;
console.log(`native:  ${native.split('\n')[0]}`);
console.log(`native:  median frame of the show at 640x360 ${frameMs.toFixed(2)} ms: ${nativeFps.toFixed(2)} fps`);
for (const [engine, fps] of Object.entries(browserFps))
  console.log(`ratio ${engine} / native: ${(fps / nativeFps).toFixed(3)}`);
for (const engine of ['firefox', 'webkit'])
  console.log(`ratio ${engine} / chromium: ${(browserFps[engine] / browserFps.chromium).toFixed(3)}`);
