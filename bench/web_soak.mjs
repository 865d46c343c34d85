// The whole show again and again in one browser left running, as a viewer might: for each engine,
// SHOWS shows at 640 x 360, windowed, each in a new tab after the last one's has closed. For each
// show it prints whether it ended by itself within its length and a minute, its frames a second
// and any script error. A benchmark, not a test: it fails nothing.
// Usage: node web_soak.mjs SITE_DIR [SHOWS] [ENGINE...]   (engines: chromium firefox webkit)
import path from 'node:path';

import { chooseInDialog, launch, open, serve, waitFor } from '../tests/web/browser.mjs';

const [site, showsArgument, ...engineArguments] = process.argv.slice(2);
const shows = Number(showsArgument ?? 10);
const engines = engineArguments.length ? engineArguments : ['chromium', 'firefox', 'webkit'];
const showLimitMs = (86 + 60) * 1000;

async function oneShow(browser, server) {
  const page = await browser.newPage({ width: 640, height: 360 });
  try {
    await open(page, server.url + 'index.html');
    await waitFor(page, `document.body?.dataset.quarvel === 'dialog'`, 'the launcher dialog');
    await chooseInDialog(page, '640 x 360', false);
    await page.click('.quarvel-dialog button.quarvel-default');
    const started = Date.now();
    // looked at every half second: a single wait as long as the show outlasts puppeteer's call limit
    let ended = false;
    while (!ended && Date.now() - started < showLimitMs) {
      await new Promise((resolve) => setTimeout(resolve, 500));
      ended = await page.evaluate(`document.body?.dataset.quarvel === 'ended'`);
    }
    const seconds = (Date.now() - started) / 1000;
    const frames = await page.evaluate(`Module.quarvelFramesShown ?? 0`);
    const errors = page.lines.filter((line) => line.startsWith('exception:'));
    return { ended, seconds, fps: frames / seconds, errors };
  } finally {
    await page.close();
  }
}

const server = await serve(path.resolve(site));
try {
  for (const engine of engines) {
    const browser = await launch(engine);
    try {
      console.log(`${engine}: ${await browser.version()}`);
      for (let show = 1; show <= shows; ++show) {
        const result = await oneShow(browser, server).catch((error) => ({ failed: error.message.split('\n')[0] }));
        console.log(result.failed ? `${engine} show ${show}: stopped: ${result.failed}` :
          `${engine} show ${show}: ${result.ended ? 'ended' : 'did not end'} after ${result.seconds.toFixed(1)} s, ` +
          `${result.fps.toFixed(2)} fps, script errors: ${result.errors.length ? result.errors.join('; ') : 'none'}`);
      }
    } finally {
      await browser.close();
    }
  }
} finally {
  await server.close();
}
