// A share link made by the application, end to end. The application's share creator seals
// files over Debian's rclone into a loopback S3 server (the share-creator program, whose path
// CTest passes in SHARE_CREATOR); the objects it wrote there go into the link page's bucket in
// the Workers runtime; headless chromium opens the link the application made, asks for the
// password when there is one, and saves the files, which must be the originals byte for byte.
// Then the ways a link ends, in the browser and through the application's link-status request.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { startBrowser } from '../support/browser.mjs';
import { startLinkPage } from '../support/link-page.mjs';
import { TEXT, alertText, download, downloadAll, listedPaths, text } from './link-page-ui.mjs';
import { namedFiles, putShare, readObjects, scratchFolder } from './shares.mjs';

const MiB = 1024 * 1024;
const folder = scratchFolder();
let linkPage;
let browser;
let made; // name -> { record, link }, as the application made them

// Runs the share-creator program with `input` as JSON on its standard input and gives its
// JSON answer. Asynchronous, so the Workers runtime goes on answering meanwhile.
function shareCreator(command, input) {
  const program = process.env.SHARE_CREATOR;
  if (!program) throw new Error('SHARE_CREATOR must name the share-creator program (CTest sets it)');
  return new Promise((resolve, reject) => {
    const child = spawn(program, [command], { stdio: ['pipe', 'pipe', 'inherit'] });
    const output = [];
    child.stdout.on('data', (data) => output.push(data));
    child.on('error', reject);
    child.on('close', (status) => {
      if (status !== 0) reject(new Error(`share-creator ${command} ended with status ${status}`));
      else resolve(JSON.parse(Buffer.concat(output).toString()));
    });
    child.stdin.end(JSON.stringify(input));
  });
}

const files = {
  open: namedFiles(path.join(folder, 'open'), {
    'large.bin': 2 * MiB + MiB / 2 + 7, 'notes.txt': 12, 'empty.txt': 0, 'Photos/a b.jpg': 1000, 'Photos/sub/c.png': 300,
  }),
  locked: namedFiles(path.join(folder, 'locked'), { 'report.pdf': MiB + 1, 'memo.txt': 40 }),
  once: namedFiles(path.join(folder, 'once'), { 'once.txt': 300 }),
  expired: namedFiles(path.join(folder, 'expired'), { 'late.txt': 10 }),
  tampered: namedFiles(path.join(folder, 'tampered'), { 'tampered.bin': 2 * MiB + 100, 'untouched.txt': 50 }),
};
const pickedFiles = (name) => files[name].map((file) => file.source);
const shares = [
  // Files picked one by one, then a folder, as the share window picks them.
  { name: 'open', picked: [...pickedFiles('open').slice(0, 3), path.join(folder, 'open', 'Photos')] },
  { name: 'locked', picked: pickedFiles('locked'), password: 'correct horse' },
  { name: 'once', picked: pickedFiles('once'), maxDownloads: 1 },
  { name: 'expired', picked: pickedFiles('expired'), expiry: 'oneHour', age: 7200 },
  { name: 'tampered', picked: pickedFiles('tampered') },
];

before(async () => {
  linkPage = await startLinkPage();
  browser = await startBrowser();
  const objects = path.join(folder, 'objects');
  made = await shareCreator('create', { workerURL: linkPage.url.href, folder: objects, shares });
  for (const { name } of shares) {
    const { id } = made[name].record;
    const share = { id, objects: readObjects(path.join(objects, id)) };
    if (name === 'tampered') share.objects['f/0'][MiB + 16 + 5000] ^= 0x01; // inside the second chunk
    await putShare(linkPage.bucket, share);
  }
});
after(async () => {
  await browser?.close();
  await linkPage?.stop();
});

async function openLink(name) {
  const page = await browser.newPage();
  await page.goto(made[name].link);
  return page;
}

const savedBytes = async (name) => fs.readFile(await browser.downloaded(name));

describe('a share link made by the application', () => {
  test('is the link page address, the id and, after "#", the secret', () => {
    const { record, link } = made.open;
    assert.equal(link, `${String(linkPage.url).replace(/\/+$/, '')}/s/${record.id}#${record.secret}`);
  });

  test('opens without a password and saves every file as it was', async () => {
    const page = await openLink('open');
    await page.waitForSelector('li button');
    assert.equal(await text(page, 'h1'), 'large.bin and 3 more');
    const expected = ['large.bin', 'notes.txt', 'empty.txt', 'Photos/a b.jpg', 'Photos/sub/c.png'];
    assert.deepEqual(await listedPaths(page), expected);

    await downloadAll(page);
    for (const file of files.open)
      assert.deepEqual(await savedBytes(path.basename(file.path)), file.bytes, file.path);
    await page.close();
  });

  test('with a password refuses a wrong one, then opens with the right one', async () => {
    const page = await openLink('locked');
    await page.waitForSelector('#password');
    await page.type('#password', 'wrong horse');
    await page.keyboard.press('Enter');
    assert.equal(await alertText(page), TEXT.wrongPassword);

    await page.waitForFunction(() => document.activeElement.id === 'password');
    await page.type('#password', 'correct horse');
    await page.keyboard.press('Enter');
    await page.waitForSelector('li button');
    await downloadAll(page);
    for (const file of files.locked) assert.deepEqual(await savedBytes(file.path), file.bytes, file.path);
    await page.close();
  });

  test('with a changed chunk reports the file damaged and keeps nothing of it', async () => {
    const page = await openLink('tampered');
    await page.waitForSelector('li button');
    assert.equal(await download(page, 0), 'damaged');
    assert.equal(await alertText(page), TEXT.damaged('tampered.bin'));
    // The next download ends after the browser dealt with the dropped one.
    assert.equal(await download(page, 1), 'saved');
    assert.deepEqual(await savedBytes('untouched.txt'), files.tampered[1].bytes);
    assert.notEqual(browser.downloadStates()['tampered.bin'], 'completed');
    assert.deepEqual(await browser.filesOf('tampered.bin'), []);
    await page.close();
  });

  test('that has expired, or reached its download limit of 1, says so', async () => {
    const expired = await openLink('expired');
    assert.equal(await alertText(expired), TEXT.expired);
    await expired.close();

    const first = await openLink('once');
    await first.waitForSelector('li button');
    assert.equal(await download(first, 0), 'saved');
    assert.deepEqual(await savedBytes('once.txt'), files.once[0].bytes);
    await first.close();
    const second = await openLink('once');
    assert.equal(await alertText(second), TEXT.used);
    await second.close();
  });

  test("answers the application's status request only with the link's own access value", async () => {
    const { open, locked, expired, once } = made;
    const otherSecret = `${open.record.secret[0] === 'A' ? 'B' : 'A'}${open.record.secret.slice(1)}`;
    const answers = await shareCreator('status', [
      open.record,
      { ...locked.record, password: 'wrong horse' },
      { ...open.record, secret: otherSecret },
      expired.record,
      once.record,
    ]);
    const totalBytes = files.open.reduce((sum, file) => sum + file.bytes.length, 0);
    assert.deepEqual(answers, [
      // A link without a download limit counts its downloads too: "Download all" above.
      { http: 200, status: 'live', info: {
        downloads: 1, expiresAt: Date.parse(open.record.expiresAt) / 1000, fileCount: 5, maxDownloads: null, totalBytes } },
      { http: 403, status: 'unknown' },
      { http: 403, status: 'unknown' },
      { http: 410, status: 'ended' },
      { http: 410, status: 'ended' },
    ]);
  });
});
