// Opens index.html in a new tab of Firefox ESR, with a private PulseAudio (the tests' own), clicks
// Start and waits for the title to say the read is done, 100 times; says in which round the page
// stopped answering for 20 s, if it did.
// Usage: node run.mjs [without-read]
import path from 'node:path';
import { launch, open, serve } from '../browser.mjs';

const server = await serve(path.dirname(new URL(import.meta.url).pathname));
const browser = await launch('firefox');
const rounds = 100;
try {
  let round = 0;
  for (; round < rounds; ++round) {
    const page = await browser.newPage();
    await open(page, server.url + 'index.html' + (process.argv[2] ? `?${process.argv[2]}` : ''));
    await page.click('#start');
    const read = page.waitForFunction(`document.title === 'read'`, { polling: 50, timeout: 20000 }).then(() => true, () => false);
    if (!(await read)) break;
    await page.close();
  }
  console.log(round === rounds ? `${rounds} rounds, no hang` : `the page stopped answering in round ${round + 1} of ${rounds}`);
  process.exitCode = round === rounds ? 0 : 1;
} finally {
  await Promise.race([browser.close(), new Promise((resolve) => setTimeout(resolve, 10000))]);
  await server.close();
}
