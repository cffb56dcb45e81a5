// A share link made through the Share window, end to end. The share-window-driver program (whose
// path CTest passes in SHARE_WINDOW_DRIVER) opens the window offscreen over Debian's rclone and a
// loopback S3 server, picks two files in the open panel, asks for a password and a download
// limit, makes the link and copies it; the objects it wrote go into the link page's bucket in the
// Workers runtime; headless chromium opens the copied link, takes the password and saves both
// files, which must be the originals byte for byte.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';

import { startBrowser } from '../../support/browser.mjs';
import { startLinkPage } from '../../support/link-page.mjs';
import { downloadAll, listedPaths, text } from '../../share-worker/link-page-ui.mjs';
import { namedFiles, putShare, readObjects, scratchFolder } from '../../share-worker/shares.mjs';

const folder = scratchFolder();
const drive = path.join(folder, 'drive');
const files = namedFiles(drive, { 'holiday.jpg': 2 * 1024 * 1024 + 77, 'notes.txt': 300, 'not picked.txt': 10 });
const picked = files.slice(0, 2);
const password = 'correct horse';
let linkPage;
let browser;
let made;

function driveShareWindow(input) {
  const program = process.env.SHARE_WINDOW_DRIVER;
  if (!program) throw new Error('SHARE_WINDOW_DRIVER must name the share-window-driver program (CTest sets it)');
  return new Promise((resolve, reject) => {
    const child = spawn(program, [], { stdio: ['pipe', 'inherit', 'inherit'] });
    child.on('error', reject);
    child.on('close', (status) => {
      if (status !== 0) reject(new Error(`share-window-driver ended with status ${status}`));
      else resolve();
    });
    child.stdin.end(JSON.stringify(input));
  });
}

before(async () => {
  linkPage = await startLinkPage();
  browser = await startBrowser();
  const objects = path.join(folder, 'objects');
  const output = path.join(folder, 'made.json');
  await driveShareWindow({
    workerURL: linkPage.url.href, mount: drive, picked: picked.map((file) => file.path), password, downloads: 2,
    objects, output,
  });
  made = JSON.parse(await fs.readFile(output, 'utf8'));
  await putShare(linkPage.bucket, { id: made.id, objects: readObjects(path.join(objects, made.id)) });
});
after(async () => {
  await browser?.close();
  await linkPage?.stop();
});

test('a link copied from the Share window opens with its password and saves the picked files', async () => {
  assert.equal(made.maxDownloads, 2);
  assert.ok(made.link.startsWith(`${String(linkPage.url).replace(/\/+$/, '')}/s/${made.id}#`), made.link);
  const page = await browser.newPage();
  await page.goto(made.link);
  await page.waitForSelector('#password');
  await page.type('#password', password);
  await page.keyboard.press('Enter');
  await page.waitForSelector('li button');
  assert.equal(await text(page, 'h1'), 'holiday.jpg and 1 more');
  assert.deepEqual(await listedPaths(page), ['holiday.jpg', 'notes.txt']);
  await downloadAll(page);
  for (const file of picked) assert.deepEqual(await fs.readFile(await browser.downloaded(file.path)), file.bytes, file.path);
  await page.close();
});
