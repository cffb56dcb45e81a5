// The link page's download of one 64 MiB file against one plain fetch of the same sealed bytes
// from the same worker: Debian's chromium opens the link in the Workers runtime (miniflare) and
// saves the file through the page, which fetches, decrypts and hands it to the browser's
// download; the plain fetch reads the file's sealed object in one request from the same page.
// Goal: the page's download at least half as fast as the plain fetch.
//
// Run by hand after a build:  node bench/link-page/download.mjs [runs]
// (SHARE_FIXTURE names the share-fixture program; by default the one in build/.)
import fs from 'node:fs/promises';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('../../', import.meta.url));
process.env.SHARE_FIXTURE ??= path.join(root, 'build/tests/share-worker/share-fixture');

const { startBrowser } = await import('../../tests/support/browser.mjs');
const { startLinkPage } = await import('../../tests/support/link-page.mjs');
const { makeShare, plainFiles, putShare, scratchFolder } = await import('../../tests/share-worker/shares.mjs');

const MiB = 1024 * 1024;
const size = 64 * MiB;
const runs = Number(process.argv[2] ?? 3);

const folder = scratchFolder();
const files = plainFiles(folder, { 'bench.bin': size });
const made = makeShare(folder, files, { chunkSize: MiB, title: 'Bench' });
const linkPage = await startLinkPage();
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const rate = (seconds) => `${(size / MiB / seconds).toFixed(1)} MiB/s`;

try {
  await putShare(linkPage.bucket, made);
  const link = new URL(`/s/${made.id}#${made.secret}`, linkPage.url).href;
  const plain = [];
  const page = [];
  for (let run = 0; run < runs; run++) {
    // A fresh browser each time, so that every run's download has the file's own name.
    const browser = await startBrowser();
    try {
      const tab = await browser.newPage();
      await tab.goto(link);
      await tab.waitForSelector('li button');

      plain.push(await tab.evaluate(async (id, access) => {
        const ticket = (await (await fetch(`/api/s/${id}/ticket`, { method: 'POST', headers: { 'X-Ovra-Access': access } })).json()).ticket;
        const start = performance.now();
        const response = await fetch(`/api/s/${id}/f/0`, { headers: { 'X-Ovra-Ticket': ticket }, cache: 'no-store' });
        const reader = response.body.getReader();
        for (;;) if ((await reader.read()).done) break;
        return (performance.now() - start) / 1000;
      }, made.id, made.accessToken));

      const start = performance.now();
      await tab.click('li button');
      const saved = await browser.downloaded('bench.bin', 600_000);
      page.push((performance.now() - start) / 1000);
      if ((await fs.stat(saved)).size !== size) throw new Error('the saved file has the wrong size');
    } finally {
      await browser.close();
    }
    console.log(`run ${run + 1}: plain fetch ${plain.at(-1).toFixed(2)} s, page download ${page.at(-1).toFixed(2)} s`);
  }
  const [p, d] = [median(plain), median(page)];
  console.log(`64 MiB, median of ${runs}: plain fetch ${p.toFixed(2)} s (${rate(p)}), page download ${d.toFixed(2)} s (${rate(d)})`);
  console.log(`the page downloads at ${((p / d) * 100).toFixed(0)} % of the plain fetch's speed (goal: at least 50 %)`);
} finally {
  await linkPage.stop();
}
