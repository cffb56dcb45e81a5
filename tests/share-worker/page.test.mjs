// The link page in a real browser against the real Workers runtime: a share sealed by the
// application's own encoders is put into the local R2 bucket, chromium opens its link, asks
// for the password when there is one, decrypts the files and saves them; the saved files must
// be the originals byte for byte. Then the ways a link fails, as the recipient sees them.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import { after, before, describe, test } from 'node:test';

import * as format from '../../share-worker/format.js';
import { startBrowser } from '../support/browser.mjs';
import { startLinkPage } from '../support/link-page.mjs';
import { TEXT, alertText, download, downloadAll, listedPaths, text } from './link-page-ui.mjs';
import { craftedTicket, makeShare, objectKey, plainFiles, putObject, putShare, readMetaObject, scratchFolder } from './shares.mjs';

const folder = scratchFolder();
const now = () => Math.floor(Date.now() / 1000);
const MiB = 1024 * 1024;
let linkPage;
let browser;

before(async () => {
  linkPage = await startLinkPage();
  browser = await startBrowser();
});
after(async () => {
  await browser?.close();
  await linkPage?.stop();
});

// The application's real chunk size and password rounds.
async function share(files, spec = {}) {
  const made = makeShare(folder, files, { rounds: 600000, chunkSize: MiB, title: 'Holiday', ...spec });
  await putShare(linkPage.bucket, made);
  return made;
}

async function openLink(made, { fragment = `#${made.secret}` } = {}) {
  const page = await browser.newPage();
  await page.goto(new URL(`/s/${made.id}${fragment}`, linkPage.url).href);
  return page;
}

// Holds back the page's requests for sealed chunks that `test` picks, given the request's
// address and headers, until release(); `seen` resolves with the first. Only those requests
// are paused: pausing all of them would also pause the page's workers' script loads, which
// nothing here would let go on.
async function holdRequests(page, test) {
  const session = await page.createCDPSession();
  let release;
  const released = new Promise((resolve) => (release = resolve));
  let seen;
  const first = new Promise((resolve) => (seen = resolve));
  session.on('Fetch.requestPaused', async ({ requestId, request }) => {
    if (test(request)) {
      seen(request);
      await released;
    }
    await session.send('Fetch.continueRequest', { requestId }).catch(() => {}); // the page may be gone
  });
  await session.send('Fetch.enable', { patterns: [{ urlPattern: '*/api/s/*/f/*' }] });
  return { seen: first, release };
}

async function savedBytes(name) {
  return fs.readFile(await browser.downloaded(name));
}

describe('a share link opened in the browser', () => {
  test('without a password lists the files and saves each one as it was shared', async () => {
    const files = plainFiles(folder, { 'large.bin': 2 * MiB + MiB / 2 + 7, 'empty.txt': 0, 'Photos/a b.jpg': 1000 });
    const made = await share(files);
    const page = await openLink(made);
    await page.waitForSelector('li button');
    assert.equal(await text(page, 'h1'), 'Holiday');
    assert.deepEqual(await listedPaths(page), files.map((f) => f.path));

    await downloadAll(page);
    for (const file of files)
      assert.deepEqual(await savedBytes(file.path.split('/').pop()), file.bytes, file.path);
    await page.close();
  });

  test('with a password refuses a wrong one, then opens with the right one, all from the keyboard', async () => {
    const files = plainFiles(folder, { 'report.pdf': MiB + 1, 'notes.txt': 12 });
    const made = await share(files, { password: 'correct horse' });
    const page = await openLink(made);
    await page.waitForSelector('#password');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'password');

    await page.keyboard.type('wrong horse');
    await page.keyboard.press('Enter');
    assert.equal(await alertText(page), TEXT.wrongPassword);
    await page.waitForFunction(() => document.activeElement.id === 'password');
    assert.equal(await page.$eval('#password', (input) => input.getAttribute('aria-invalid')), 'true');

    await page.keyboard.type('correct horse');
    await page.keyboard.press('Enter');
    await page.waitForSelector('li button');
    // From the heading: "Download all", then the first file's own button.
    await page.keyboard.press('Tab');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Download report.pdf');
    await page.keyboard.press('Enter');
    await page.waitForSelector('li .state[data-state="saved"]');
    assert.deepEqual(await savedBytes('report.pdf'), files[0].bytes);
    await page.waitForFunction(() => !document.activeElement.disabled);
    assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Download report.pdf', 'focus back on the button');
    await page.close();
  });

  test('saves a file of many chunks as it is decrypted, with little memory, and shows how far it got', async () => {
    const chunks = 40;
    const files = plainFiles(folder, { 'large.bin': chunks * MiB + 5 });
    const made = await share(files);
    const page = await openLink(made);
    await page.waitForSelector('li button');
    // The memory of the page, its decryption workers and the service worker that feeds the
    // download, live objects only: their heaps and the bytes of their buffers.
    const saveWorker = await browser.browser.waitForTarget((target) => target.type() === 'service_worker');
    while (page.workers().length < 2) await new Promise((resolve) => setTimeout(resolve, 50));
    const sessions = [await page.createCDPSession(), await saveWorker.createCDPSession(), ...page.workers().map((worker) => worker.client)];
    const liveBytes = async () => {
      let bytes = 0;
      for (const session of sessions) {
        await session.send('HeapProfiler.collectGarbage');
        const usage = await session.send('Runtime.getHeapUsage');
        bytes += usage.usedSize + usage.backingStorageSize;
      }
      return bytes;
    };
    // Hold back the request that brings chunk 30.
    const sealedChunk = MiB + 16;
    const range = (request) => (request.headers.Range ?? request.headers.range)?.match(/^bytes=(\d+)-(\d+)$/)?.slice(1).map(Number);
    const hold = await holdRequests(page, (request) => {
      const [first, last] = range(request) ?? [];
      return first <= 30 * sealedChunk && 30 * sealedChunk <= last;
    });
    const before = await liveBytes();

    await page.click('li button');
    // Every chunk before the held request's first one has gone to the download.
    const done = (range(await hold.seen)[0] / sealedChunk) * MiB;
    await page.waitForFunction((bytes) => document.querySelector('li progress')?.value === bytes, {}, done);
    const grown = (await liveBytes()) - before;
    assert.deepEqual(await page.$eval('li', (row) => [row.querySelector('progress').max, row.querySelector('.state').textContent]),
      [chunks * MiB + 5, `Downloading… ${Math.floor((done * 100) / (chunks * MiB + 5))} %`]);
    hold.release();

    await page.waitForSelector('li .state[data-state="saved"]');
    assert.ok(grown < 16 * MiB, `the page and its workers held ${Math.round(grown / MiB)} MiB more in the middle of the download`);
    assert.deepEqual(await savedBytes('large.bin'), files[0].bytes);
    assert.equal(await page.$eval('li progress', (progress) => progress.hidden), true);
    await page.close();
  });

  test('renews its ticket while a file downloads, uncounted, when the ticket runs out mid-file', async () => {
    // 48 chunks of 64 KiB come in three requests of 16. The page's first ticket is swapped for
    // one that runs out in 4 seconds, and tells the page it lasts 2; the answer to the second
    // request is held back until that ticket has run out, as on a line too slow for it.
    const chunkSize = 64 * 1024;
    const files = plainFiles(folder, { 'slow.bin': 48 * chunkSize - 100 });
    const made = await share(files, { chunkSize, maxDownloads: 1 });
    const page = await openLink(made);
    await page.waitForSelector('li button');
    const session = await page.createCDPSession();
    let expiresAt = null;
    const renewals = [];
    let renewed;
    const firstRenewal = new Promise((resolve) => (renewed = resolve));
    let ranges = 0;
    session.on('Fetch.requestPaused', async ({ requestId, request, responseStatusCode, responseHeaders }) => {
      const headers = Object.fromEntries(Object.entries(request.headers).map(([name, value]) => [name.toLowerCase(), value]));
      if (request.url.endsWith('/ticket') && !headers['x-ovra-ticket']) {
        expiresAt = now() + 4;
        const body = JSON.stringify({ ticket: craftedTicket(made, expiresAt), expiresAt, seconds: 2 });
        await session.send('Fetch.fulfillRequest', { requestId, responseCode: 200, responseHeaders, body: Buffer.from(body).toString('base64') });
        return;
      }
      if (request.url.endsWith('/ticket')) {
        renewals.push(responseStatusCode);
        renewed();
      } else if (++ranges === 2) {
        const ranOut = new Promise((resolve) => {
          const check = setInterval(() => now() > expiresAt && (clearInterval(check), resolve()), 100);
        });
        await ranOut;
        await Promise.race([firstRenewal, new Promise((resolve) => setTimeout(resolve, 10_000))]);
      }
      await session.send('Fetch.continueRequest', { requestId }).catch(() => {}); // the page may be gone
    });
    await session.send('Fetch.enable', { patterns: [{ urlPattern: '*/api/s/*/ticket', requestStage: 'Response' }, { urlPattern: '*/api/s/*/f/*', requestStage: 'Response' }] });

    assert.equal(await download(page, 0), 'saved', await page.$eval('main', (node) => node.textContent));
    assert.deepEqual(await savedBytes('slow.bin'), files[0].bytes);
    assert.ok(renewals.length >= 1 && renewals.every((status) => status === 200), `renewals answered ${renewals}`);
    assert.equal((await readMetaObject(linkPage.bucket, made.id)).downloads, 1, 'one download counted');
    await page.close();
  });

  test('with a changed chunk reports the file damaged and keeps nothing of it', async () => {
    const files = plainFiles(folder, { 'tampered.bin': 3 * MiB + 100, 'after.txt': 300 });
    const made = await share(files);
    const sealed = Buffer.from(made.objects['f/0']);
    sealed[2 * (MiB + 16) + 5000] ^= 0x01; // inside the third chunk, after two went to the download
    await putObject(linkPage.bucket, objectKey(made.id, 'f/0'), sealed);

    const page = await openLink(made);
    await page.waitForSelector('li button');
    assert.equal(await download(page, 0), 'damaged');
    assert.equal(await alertText(page), TEXT.damaged('tampered.bin'));
    // The next download ends after the browser dealt with the dropped one.
    assert.equal(await download(page, 1), 'saved');
    const after = await browser.downloaded('after.txt');
    assert.deepEqual(await fs.readFile(after), files[1].bytes);
    assert.notEqual(browser.downloadStates()['tampered.bin'], 'completed');
    assert.deepEqual(await browser.filesOf('tampered.bin'), [], 'no part of the damaged file is left');
    await page.close();
  });

  test('downloads all the others after a damaged file, names each damaged one, and gives focus back', async () => {
    const files = plainFiles(folder, { 'first.bin': MiB + 10, 'good.txt': 300, 'last.bin': 2 * MiB });
    const made = await share(files);
    for (const [index, at] of [[0, 40], [2, MiB + 16 + 40]]) {
      const sealed = Buffer.from(made.objects[`f/${index}`]);
      sealed[at] ^= 0x01;
      await putObject(linkPage.bucket, objectKey(made.id, `f/${index}`), sealed);
    }
    const page = await openLink(made);
    await page.waitForSelector('li button');
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Download all');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => [...document.querySelectorAll('li .state')].every((state) =>
      ['saved', 'damaged', 'failed'].includes(state.dataset.state)));

    assert.deepEqual(await page.$$eval('li .state', (states) => states.map((state) => state.dataset.state)), ['damaged', 'saved', 'damaged']);
    assert.deepEqual(await savedBytes('good.txt'), files[1].bytes);
    assert.deepEqual(await page.$$eval('[role="alert"] p', (lines) => lines.map((line) => line.textContent)),
      [TEXT.damaged('first.bin'), TEXT.damaged('last.bin')]);
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Download all');
    await page.close();
  });

  test('with a download limit of 1 opens once, then says the limit is reached', async () => {
    const files = plainFiles(folder, { 'once.txt': 300 });
    const made = await share(files, { maxDownloads: 1 });
    const first = await openLink(made);
    await first.waitForSelector('li button');
    assert.equal(await download(first, 0), 'saved');
    assert.deepEqual(await savedBytes('once.txt'), files[0].bytes);
    await first.close();

    const second = await openLink(made);
    assert.equal(await alertText(second), TEXT.used);
    await second.close();
  });

  test('that cannot be opened says why', async () => {
    const files = plainFiles(folder, { 'x.txt': 10 });
    const expired = await share(files, { expiresAt: now() - 60 });
    const stopped = await share(files);
    await linkPage.bucket.delete(objectKey(stopped.id, 'meta.json'));
    const live = await share(files);
    const cases = [
      ['an expired link', expired, {}, TEXT.expired],
      ['a stopped link', stopped, {}, TEXT.notFound],
      ['a link without its secret', live, { fragment: '' }, TEXT.incomplete],
      ['a link with half its secret', live, { fragment: `#${live.secret.slice(0, 20)}` }, TEXT.incomplete],
      ['a link with a mistyped secret', live, { fragment: `#${live.secret[0] === 'A' ? 'B' : 'A'}${live.secret.slice(1)}` }, TEXT.wrongLink],
    ];
    for (const [what, made, options, expected] of cases) {
      const page = await openLink(made, options);
      assert.equal(await alertText(page), expected, what);
      await page.close();
    }
  });
});

describe('what the link page promises', () => {
  test('no request carries the secret, the password or a key, in its address, headers or body', async () => {
    const files = plainFiles(folder, { 'report.pdf': 2 * MiB + 3, 'notes.txt': 12 });
    const password = 'correct horse';
    const made = await share(files, { password, rounds: 1000 });
    const secret = format.base64urlDecode(made.secret);
    const { contentKey } = await format.deriveKeys(made.id, secret, password, 1000);
    const keys = [contentKey, await format.manifestKey(contentKey), await format.fileKey(contentKey, 0), await format.fileKey(contentKey, 1)];
    const spellings = (bytes) => [format.base64urlEncode(bytes), Buffer.from(bytes).toString('base64'), format.hexEncode(bytes)];
    const secrets = [made.secret, ...spellings(secret), password, encodeURIComponent(password), ...keys.flatMap(spellings)];

    const page = await browser.newPage();
    const sent = [];
    // What goes on the wire: the driver shows a navigation's address with its fragment, which
    // the browser never sends.
    const onWire = (url) => url.replace(/#.*$/, '');
    page.on('request', (request) => sent.push([onWire(request.url()), JSON.stringify(request.headers()), request.postData() ?? '']));
    await page.goto(new URL(`/s/${made.id}#${made.secret}`, linkPage.url).href);
    await page.waitForSelector('#password');
    await page.type('#password', password);
    await page.keyboard.press('Enter');
    await page.waitForSelector('li button');
    await downloadAll(page);
    assert.deepEqual(await savedBytes('report.pdf'), files[0].bytes);
    await page.close();

    const paths = sent.map(([url]) => new URL(url).pathname);
    for (const expected of [`/s/${made.id}`, `/api/s/${made.id}/manifest`, `/api/s/${made.id}/ticket`, `/api/s/${made.id}/f/0`])
      assert.ok(paths.includes(expected), `${expected} among the requests seen`);
    for (const request of sent)
      for (const value of secrets) assert.ok(!request.some((part) => part.includes(value)), `${request[0]} carries ${value}`);
  });

  test('shows titles and file names with markup as text', async () => {
    const title = '<img src=x onerror="window.ran=1">Holiday <b>bold</b>';
    const names = ['<script>window.ran=2</script>.txt', '<img src=x onerror="window.ran=3">.bin'];
    const files = plainFiles(folder, { [names[0]]: 10, [names[1]]: 20 });
    const made = await share(files, { title });
    const sealed = Buffer.from(made.objects['f/1']);
    sealed[3] ^= 0x01;
    await putObject(linkPage.bucket, objectKey(made.id, 'f/1'), sealed);

    const page = await openLink(made);
    await page.waitForSelector('li button');
    assert.equal(await download(page, 1), 'damaged');
    assert.equal(await text(page, 'h1'), title);
    assert.equal(await page.title(), title);
    assert.deepEqual(await listedPaths(page), names);
    assert.equal(await alertText(page), TEXT.damaged(names[1]));
    assert.deepEqual(await page.$$eval('li button', (buttons) => buttons.map((button) => button.getAttribute('aria-label'))),
      names.map((name) => `Download ${name}`));
    assert.equal(await page.$$eval('main img, main script, main b', (nodes) => nodes.length), 0);
    assert.equal(await page.evaluate(() => window.ran), undefined);
    await page.close();
  });
});
