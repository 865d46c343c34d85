// The page as a viewer meets it, in headless Chromium: the launcher dialog's controls and texts,
// Enter starting the show with its soundtrack, Escape ending it, Exit, and a missing audio.mp3.
// Usage: node show_test.mjs SITE_DIR
import assert from 'node:assert/strict';
import path from 'node:path';
import { after, before, test } from 'node:test';

import { chooseInDialog, launchChromium, serve } from './browser.mjs';

const site = path.resolve(process.argv[2]);
let browser;
before(async () => { browser = await launchChromium(); });
after(async () => { await browser?.close(); });

// the page's state, as index.html and web_page.js keep it on <body data-quarvel>
const state = (name) => `document.body?.dataset.quarvel === '${name}'`;
const framesShown = `(Module.quarvelFramesShown ?? 0)`;

async function openDialog(server, screen = { screenWidth: 1920, screenHeight: 1080 }) {
  const page = await browser.newPage(screen);
  await page.open(server.url + 'index.html');
  await page.waitFor(state('dialog'), 'the launcher dialog');
  return page;
}

test('the dialog shows the template: caption, eight controls in tab order, the display\'s sizes', async () => {
  const server = await serve(site);
  try {
    const page = await openDialog(server);
    const dialog = await page.evaluate(`(() => {
      const form = document.querySelector('.quarvel-dialog');
      const controls = [...form.querySelectorAll('.quarvel-control')].map((e) => ({
        tag: e.tagName.toLowerCase(), id: Number(e.dataset.controlId), text: e.tagName === 'SELECT' ? '' : e.textContent,
        align: e.style.textAlign, isDefault: e.classList.contains('quarvel-default'), type: e.type ?? '' }));
      const list = form.querySelector('select');
      return { caption: form.querySelector('.quarvel-dialog-caption span').textContent, controls,
               items: [...list.options].map((o) => o.textContent), selected: list.selectedIndex,
               fullscreen: form.querySelector('input[type=checkbox]').checked,
               focused: document.activeElement.textContent };
    })()`);
    assert.equal(dialog.caption, 'Tessmor selektor');
    assert.deepEqual(dialog.controls.map((c) => [c.tag, c.id, c.text, c.align]), [
      ['button', 1, 'Enter', ''],
      ['button', 2, 'Exit', ''],
      ['span', -1, 'Resolution:', 'right'],
      ['select', 1001, '', ''],
      ['span', -1, 'Fullscreen:', 'right'],
      ['input', 1003, '', ''],
      ['span', -1, '                Made at Zorvath 2017.', 'left'],
      ['span', -1, 'Quarvel', 'center'],
    ]);
    assert.deepEqual(dialog.controls.map((c) => c.isDefault), [true, false, false, false, false, false, false, false]);
    // the display's own size first; the same size from the desktop list right after it is dropped
    assert.deepEqual(dialog.items,
      ['1920 x 1080', '1600 x 900', '1366 x 768', '1280 x 720', '1024 x 576', '960 x 540', '864 x 486', '640 x 360']);
    assert.equal(dialog.selected, 0, 'the preset 1920 x 1080 is preselected');
    assert.equal(dialog.fullscreen, true, 'the box starts checked: the preset is fullscreen');
    assert.equal(dialog.focused, 'Enter', 'the first tab stop has the focus');
    await page.close();

    // a screen whose size no display list has: it comes first, and the preset is not offered, so
    // Enter is disabled and the list has the focus until the viewer chooses a size
    const small = await openDialog(server, { screenWidth: 1760, screenHeight: 990 });
    const enterState = `(() => { const enter = document.querySelector('.quarvel-dialog button.quarvel-default');
      return [enter.disabled, document.activeElement.tagName]; })()`;
    assert.deepEqual(await small.evaluate(`(() => { const list = document.querySelector('.quarvel-dialog select');
      return [[...list.options].map((o) => o.textContent), list.selectedIndex]; })()`),
    [['1760 x 990', '1600 x 900', '1366 x 768', '1280 x 720', '1024 x 576', '960 x 540', '864 x 486', '640 x 360'], -1]);
    assert.deepEqual(await small.evaluate(enterState), [true, 'SELECT']);
    await small.evaluate(`(() => { const list = document.querySelector('.quarvel-dialog select');
      list.selectedIndex = 2; list.dispatchEvent(new Event('change')); })()`);
    assert.deepEqual(await small.evaluate(enterState), [false, 'SELECT'], 'a choice enables Enter');
    await small.close();
  } finally {
    await server.close();
  }
});

test('Enter starts the show at the chosen size with the soundtrack; Escape ends it', async () => {
  const server = await serve(site);
  try {
    const page = await openDialog(server);
    await chooseInDialog(page, '640 x 360', false);
    await page.click('.quarvel-dialog button.quarvel-default');
    await page.waitFor(`${framesShown} >= 3`, 'three frames of the show');
    assert.deepEqual(page.console.filter((line) => /rendered|failed/.test(line)), ['Song succesfully rendered!']);
    const shown = await page.evaluate(`(() => { const c = document.getElementById('quarvel-canvas');
      return { width: c.width, height: c.height, hidden: c.hidden, dialogs: document.querySelectorAll('.quarvel-dialog').length,
               audio: typeof QuarvelPage === 'undefined' ? 'unknown' : QuarvelPage.audio?.state }; })()`);
    assert.deepEqual({ ...shown, audio: undefined }, { width: 640, height: 360, hidden: false, dialogs: 0, audio: undefined });
    // the clock starts when the first sample is heard: the first frame comes after it
    if (shown.audio === 'running') {
      const sync = await page.evaluate(`({ heard: Module.quarvelSoundHeardAt, frame: Module.quarvelFirstFrameAt,
        latency: [QuarvelPage.audio.baseLatency, QuarvelPage.audio.outputLatency] })`);
      console.log(`first sample heard ${(sync.frame - sync.heard).toFixed(1)} ms before the first frame; latency ${sync.latency}`);
      assert.ok(sync.frame >= sync.heard, `the first frame came ${sync.heard - sync.frame} ms before the sound`);
    }

    await page.press('Escape', 27);
    await page.waitFor(state('ended'), 'the end of the run after Escape');
    const frames = await page.evaluate(framesShown);
    await new Promise((resolve) => setTimeout(resolve, 300));
    assert.equal(await page.evaluate(framesShown), frames, 'no frame after the end');
    assert.equal(await page.evaluate(`document.getElementById('quarvel-canvas').hidden`), true);
    await page.close();
  } finally {
    await server.close();
  }
});

test('Exit closes the dialog without starting anything', async () => {
  const server = await serve(site);
  try {
    const page = await openDialog(server);
    await page.click('.quarvel-dialog button:not(.quarvel-default):not(.quarvel-dialog-close)');
    await page.waitFor(state('ended'), 'the page after Exit');
    assert.equal(await page.evaluate(framesShown), 0);
    assert.deepEqual(page.console.filter((line) => /rendered|failed/.test(line)), []);
    assert.match(await page.evaluate(`document.getElementById('quarvel-message').textContent`), /closed from its launcher/);
    await page.close();
  } finally {
    await server.close();
  }
});

test('without audio.mp3 the failure line is written and the show runs silent', async () => {
  const server = await serve(site, { without: ['audio.mp3'] });
  try {
    const page = await openDialog(server, { screenWidth: 640, screenHeight: 360 });
    // only 640 x 360 fits this screen, and the preset is not it: the viewer picks it, unchecks the
    // box with a click and presses Enter in the list
    await page.click('.quarvel-dialog input[type=checkbox]');
    await page.evaluate(`(() => { const list = document.querySelector('.quarvel-dialog select');
      list.selectedIndex = 0; list.dispatchEvent(new Event('change')); list.focus(); })()`);
    await page.press('Enter', 13);
    await page.waitFor(`${framesShown} >= 3`, 'three frames of the silent show');
    assert.deepEqual(page.console.filter((line) => /rendered|failed/.test(line)), ['mp3 rendering failed :(']);
    assert.equal(await page.evaluate(state('running')), true);
    await page.close();
  } finally {
    await server.close();
  }
});
