// The page as a viewer meets it: the launcher dialog's controls and texts, Enter starting the
// show with its soundtrack, Escape ending it, Exit, a missing audio.mp3, sound that cannot start,
// and (in Chromium's emulation) a phone.
// Usage: node show_test.mjs chromium|firefox|webkit SITE_DIR TEMPLATE_MODULE
import assert from 'node:assert/strict';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { after, before, test } from 'node:test';

import { chooseInDialog, launch, open, serve, waitFor } from './browser.mjs';

const engine = process.argv[2];
const site = path.resolve(process.argv[3]);
// the launcher template as the page's build has it (launcher_template.mjs.in)
const launcherTemplate = await import(pathToFileURL(path.resolve(process.argv[4])));

let browser;
before(async () => { browser = await launch(engine); });
after(async () => { await browser?.close(); });

// the page's state, as index.html and web_page.js keep it on <body data-quarvel>
const state = (name) => `document.body?.dataset.quarvel === '${name}'`;
const framesShown = `(Module.quarvelFramesShown ?? 0)`;
const soundLines = (page) => page.lines.filter((line) => /rendered|failed/.test(line));
const pageErrors = (page) => page.lines.filter((line) => line.startsWith('exception:'));

// whether the element lies within the viewport, with no page scrolling
const fits = (selector) => `(() => { const r = document.querySelector('${selector}').getBoundingClientRect();
  const page = document.scrollingElement;
  return r.left >= 0 && r.top >= 0 && r.right <= innerWidth && r.bottom <= innerHeight &&
         page.scrollWidth <= innerWidth && page.scrollHeight <= innerHeight; })()`;
const dialogFits = fits('.quarvel-dialog');

async function openDialog(server, view = {}) {
  const page = await browser.newPage(view);
  await open(page, server.url + 'index.html');
  await waitFor(page, state('dialog'), 'the launcher dialog');
  return page;
}

async function withServer(options, body) {
  const server = await serve(site, options);
  try {
    await body(server);
  } finally {
    await server.close();
  }
}

test('the dialog shows the template: caption, eight controls in tab order, the display\'s sizes', () => withServer({}, async (server) => {
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
  // each control as the element of its kind, in tab order, with the default button marked
  const { caption, controls, hasStyle } = launcherTemplate;
  const tagOf = (c) => ({ button: hasStyle(c, 'autoCheckBox') ? 'input' : 'button', comboBox: 'select', staticText: 'span' })[c.kind];
  const alignOf = (c) => c.kind !== 'staticText' ? '' : hasStyle(c, 'textRight') ? 'right' : hasStyle(c, 'textCenter') ? 'center' : 'left';
  assert.equal(dialog.caption, caption);
  assert.deepEqual(dialog.controls.map((c) => [c.tag, c.id, c.text, c.align, c.isDefault]),
    controls.map((c) => [tagOf(c), c.id, c.text, alignOf(c), hasStyle(c, 'defPushButton')]));
  // the display's own size first; the same size from the desktop list right after it is dropped
  assert.deepEqual(dialog.items,
    ['1920 x 1080', '1600 x 900', '1366 x 768', '1280 x 720', '1024 x 576', '960 x 540', '864 x 486', '640 x 360']);
  assert.equal(dialog.selected, 0, 'the preset 1920 x 1080 is preselected');
  assert.equal(dialog.fullscreen, true, 'the box starts checked: the preset is fullscreen');
  assert.equal(dialog.focused, 'Enter', 'the first tab stop has the focus');
  await page.close();

  // a screen whose size no display list has: it comes first, and the preset is not offered, so
  // Enter is disabled and the list has the focus until the viewer chooses a size
  const small = await openDialog(server, { screen: { width: 1760, height: 990 } });
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

  // a window smaller than the template: the dialog shrinks to fit it, and nothing scrolls
  // (MiniBrowser's toolbar keeps its window 447 pixels wide or more: there it is the height)
  const tiny = await openDialog(server, { width: engine === 'webkit' ? 450 : 300, height: 200 });
  assert.equal(await tiny.evaluate(dialogFits), true);
  await tiny.close();
}));

test('Enter starts the show at the chosen size with the soundtrack; Escape ends it', () => withServer({}, async (server) => {
  const page = await openDialog(server);
  await chooseInDialog(page, '640 x 360', false);
  await page.click('.quarvel-dialog button.quarvel-default');
  await waitFor(page, `${framesShown} >= 3`, 'three frames of the show');
  assert.deepEqual(soundLines(page), ['Song succesfully rendered!']);
  const shown = await page.evaluate(`(() => { const c = document.getElementById('quarvel-canvas');
    return { width: c.width, height: c.height, hidden: c.hidden, dialogs: document.querySelectorAll('.quarvel-dialog').length,
             audio: QuarvelPage.audio.state, note: document.getElementById('quarvel-note').hidden }; })()`);
  assert.deepEqual(shown, { width: 640, height: 360, hidden: false, dialogs: 0, audio: 'running', note: true });
  // the clock starts when the first sample is heard: the first frame comes after it
  const sync = await page.evaluate(`({ heard: Module.quarvelSoundHeardAt, frame: Module.quarvelFirstFrameAt })`);
  console.log(`${engine}: first sample heard ${(sync.frame - sync.heard).toFixed(1)} ms before the first frame`);
  assert.ok(sync.frame >= sync.heard, `the first frame came ${sync.heard - sync.frame} ms before the sound`);

  await page.keyboard.press('Escape');
  await waitFor(page, state('ended'), 'the end of the run after Escape');
  const frames = await page.evaluate(framesShown);
  // a loop still running would have shown a frame within the next two animation frames
  await page.evaluate(`new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)))`);
  assert.equal(await page.evaluate(framesShown), frames, 'no frame after the end');
  assert.equal(await page.evaluate(`document.getElementById('quarvel-canvas').hidden`), true);
  assert.deepEqual(pageErrors(page), []);
  await page.close();
}));

test('an output that plays 100 ms behind the context\'s clock starts the show\'s clock that much later', () => withServer({}, async (server) => {
  const page = await openDialog(server, { outputBehindMs: 100 });
  await chooseInDialog(page, '640 x 360', false);
  await page.click('.quarvel-dialog button.quarvel-default');
  await waitFor(page, `${framesShown} >= 1`, 'the first frame');
  const sync = await page.evaluate(`({ asked: quarvelLatencyAsked, started: quarvelSoundStartedAt,
    heard: Module.quarvelSoundHeardAt, frame: Module.quarvelFirstFrameAt })`);
  if (engine === 'firefox') {
    // asking Firefox can hang the page for good (firefox-latency-deadlock/): it is never asked
    assert.equal(sync.asked, 0, 'Firefox was asked for its output latency');
  } else {
    // 100 ms and the page's own lead of 20, less what a browser's timestamps wander; a page that
    // heeded no latency would say about 20
    assert.ok(sync.heard - sync.started >= 90, `the sound, started at ${sync.started} ms, is heard at ${sync.heard} ms`);
  }
  assert.ok(sync.frame >= sync.heard, `the first frame came ${sync.heard - sync.frame} ms before the sound`);
  await page.close();
}));

test('Exit closes the dialog without starting anything', () => withServer({}, async (server) => {
  const page = await openDialog(server);
  await page.click('.quarvel-dialog button:not(.quarvel-default):not(.quarvel-dialog-close)');
  await waitFor(page, state('ended'), 'the page after Exit');
  assert.equal(await page.evaluate(framesShown), 0);
  assert.deepEqual(soundLines(page), []);
  assert.match(await page.evaluate(`document.getElementById('quarvel-message').textContent`), /closed from its launcher/);
  await page.close();
}));

test('without audio.mp3, or with sound that cannot start, the failure line is written and the show runs silent', async () => {
  await withServer({ without: ['audio.mp3'] }, async (server) => {
    const page = await openDialog(server, { screen: { width: 640, height: 360 } });
    // only 640 x 360 fits this screen, and the preset is not it: the viewer picks it, unchecks
    // the box with a click and presses Enter in the list
    await page.click('.quarvel-dialog input[type=checkbox]');
    await page.evaluate(`(() => { const list = document.querySelector('.quarvel-dialog select');
      list.selectedIndex = 0; list.dispatchEvent(new Event('change')); list.focus(); })()`);
    await page.keyboard.press('Enter');
    await waitFor(page, `${framesShown} >= 3`, 'three frames of the silent show');
    assert.deepEqual(soundLines(page), ['mp3 rendering failed :(']);
    assert.equal(await page.evaluate(state('running')), true);
    await page.close();
  });

  // a browser that keeps the page silent, or no sound device: the page says so and goes on
  for (const sound of ['refused', 'absent']) {
    await withServer({}, async (server) => {
      const page = await openDialog(server, { sound });
      await chooseInDialog(page, '640 x 360', false);
      await page.click('.quarvel-dialog button.quarvel-default');
      await waitFor(page, `${framesShown} >= 3`, `three frames of the show, sound ${sound}`, 60000);
      assert.deepEqual(soundLines(page), ['mp3 rendering failed :('], sound);
      const note = await page.evaluate(`(() => { const note = document.getElementById('quarvel-note');
        return [note.hidden, note.textContent, document.body.dataset.quarvel]; })()`);
      assert.equal(note[0], false, `the note about the sound is shown (${sound})`);
      assert.match(note[1], /without sound/);
      assert.equal(note[2], 'running');
      await page.keyboard.press('Escape');
      await waitFor(page, state('ended'), 'the end of the silent run');
      assert.deepEqual(pageErrors(page), [], 'every refusal is handled');
      await page.close();
    });
  }
});

test('on a phone the dialog fits and takes taps; the show is fullscreen, scaled to fit, and leaving fullscreen ends it',
  { skip: engine !== 'chromium' && 'the phone is emulated in Chromium only' }, () => withServer({}, async (server) => {
    const page = await openDialog(server, { screen: { width: 390, height: 844 }, mobile: { deviceScaleFactor: 3 } });
    assert.equal(await page.evaluate(dialogFits), true, 'the dialog lies within the screen, and nothing scrolls');
    assert.ok(await page.evaluate(`document.querySelector('.quarvel-dialog').getBoundingClientRect().width > 0.9 * innerWidth`),
      'on a touch screen the dialog is as wide as fits, for fingers');
    // the 16:9 sizes within the screen's 1170 x 2532 device pixels; its own shape is not one
    const items = await page.evaluate(`[...document.querySelectorAll('.quarvel-dialog option')].map((o) => o.textContent)`);
    assert.deepEqual(items, ['1024 x 576', '960 x 540', '864 x 486', '640 x 360']);
    // the box, the smallest control, takes each tap; the list is the phone's own picker, set as it would
    const box = `document.querySelector('.quarvel-dialog input[type=checkbox]').checked`;
    for (const checked of [false, true]) {
      await page.tap('.quarvel-dialog input[type=checkbox]');
      assert.equal(await page.evaluate(box), checked);
    }
    await page.evaluate(`(() => { const list = document.querySelector('.quarvel-dialog select');
      list.selectedIndex = 0; list.dispatchEvent(new Event('change')); })()`);
    await page.tap('.quarvel-dialog button.quarvel-default');
    await waitFor(page, `${framesShown} >= 3 && document.fullscreenElement?.id === 'quarvel-canvas'`, 'the show, fullscreen');
    const shown = await page.evaluate(`(() => { const c = document.getElementById('quarvel-canvas'); const r = c.getBoundingClientRect();
      return [c.width, c.height, r.left, r.top, r.width, r.height, getComputedStyle(c).objectFit]; })()`);
    assert.deepEqual(shown, [1024, 576, 0, 0, 390, 844, 'contain'], 'drawn at 1024 x 576, shown over the screen, kept to its shape');
    assert.equal(await page.evaluate(fits('#quarvel-canvas')), true);
    await page.evaluate(`document.exitFullscreen()`);
    await waitFor(page, state('ended'), 'the end of the run on leaving fullscreen');
    await page.close();
  }));
