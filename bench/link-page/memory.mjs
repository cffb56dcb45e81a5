// The link page's peak memory while it saves one large file, for several file sizes: Debian's
// chromium opens the link and saves the file through the page, and the renderer processes'
// peak resident sizes (VmHWM) are read every 50 ms while it does, since chromium resets them
// now and then. A page that keeps only a window of chunks has the same peak whatever the
// file's size. The browser's network is left unwatched: DevTools would otherwise keep copies
// of the responses' bodies in the page's process.
//
// The local Workers runtime cannot hold objects of these sizes, so the worker's own request
// handler answers here from a plain HTTP server, over a bucket of files in a scratch folder.
//
// Run by hand after a build:  node bench/link-page/memory.mjs [MiB ...]   (default 128 512 2048)
// (SHARE_FIXTURE names the share-fixture program; by default the one in build/.)
import { execFileSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { Readable } from 'node:stream';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('../../', import.meta.url));
const fixture = process.env.SHARE_FIXTURE ?? path.join(root, 'build/tests/share-worker/share-fixture');

const { handle } = await import('../../share-worker/worker.js');
const { startBrowser } = await import('../../tests/support/browser.mjs');
const { scratchFolder } = await import('../../tests/share-worker/shares.mjs');

const MiB = 1024 * 1024;
const sizes = process.argv.length > 2 ? process.argv.slice(2).map(Number) : [128, 512, 2048];
const folder = scratchFolder();
const objects = path.join(folder, 'objects');

// The part of an R2 bucket the worker uses to serve a link, over files below `objects`.
const bucket = {
  async get(key, { range } = {}) {
    const file = path.join(objects, key);
    if (!fs.existsSync(file)) return null;
    const size = fs.statSync(file).size;
    const etag = String(fs.statSync(file).mtimeMs);
    const stream = () => Readable.toWeb(fs.createReadStream(file, range ? { start: range.offset, end: range.offset + range.length - 1 } : {}));
    return { size, etag, get body() { return stream(); }, text: async () => fs.readFileSync(file, 'utf8') };
  },
  async put(key, value, { onlyIf } = {}) {
    const file = path.join(objects, key);
    if (onlyIf?.etagMatches !== undefined && String(fs.statSync(file).mtimeMs) !== onlyIf.etagMatches) return null;
    fs.writeFileSync(file, value);
    return {};
  },
};

const server = http.createServer(async (incoming, outgoing) => {
  const headers = new Headers();
  for (const [name, value] of Object.entries(incoming.headers)) if (typeof value === 'string') headers.set(name, value);
  const request = new Request(new URL(incoming.url, 'http://127.0.0.1'), { method: incoming.method, headers });
  const response = await handle(request, bucket, Math.floor(Date.now() / 1000));
  outgoing.writeHead(response.status, Object.fromEntries(response.headers));
  if (response.body) Readable.fromWeb(response.body).pipe(outgoing);
  else outgoing.end();
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const address = `http://127.0.0.1:${server.address().port}`;

// A plain file of `size` random bytes, sealed into a share by the application's share format.
function sealedShare(size) {
  const source = path.join(folder, `plain-${crypto.randomUUID()}`);
  const out = fs.openSync(source, 'w');
  for (let written = 0; written < size; written += 64 * MiB) fs.writeSync(out, crypto.randomBytes(Math.min(64 * MiB, size - written)));
  fs.closeSync(out);
  const input = { folder: path.join(objects, 'ovra-shares'), title: 'Bench', rounds: 1000, chunkSize: MiB,
    createdAt: Math.floor(Date.now() / 1000), files: [{ path: 'bench.bin', source }] };
  const link = JSON.parse(execFileSync(fixture, { input: JSON.stringify(input) }).toString());
  fs.rmSync(source);
  return link;
}

// The browser's processes below `pid`, each with its type and peak resident size in MiB.
function processes(pid) {
  const parents = new Map();
  for (const name of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
      parents.set(Number(name), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
    } catch {} // gone meanwhile
  }
  const found = [];
  const queue = [pid];
  while (queue.length) {
    const parent = queue.shift();
    for (const [child, of] of parents) {
      if (of !== parent) continue;
      queue.push(child);
      found.push(child);
    }
  }
  return found.flatMap((child) => {
    try {
      const type = fs.readFileSync(`/proc/${child}/cmdline`, 'utf8').match(/--type=([a-z-]+)/)?.[1] ?? 'browser';
      const peak = Number(fs.readFileSync(`/proc/${child}/status`, 'utf8').match(/VmHWM:\s+(\d+)/)[1]) / 1024;
      return [{ pid: child, type, peak }];
    } catch {
      return [];
    }
  });
}

const peaks = [];
try {
  for (const size of sizes) {
    const link = sealedShare(size * MiB);
    const browser = await startBrowser({ watchNetwork: false });
    try {
      const tab = await browser.newPage();
      await tab.goto(`${address}/s/${link.id}#${link.secret}`);
      await tab.waitForSelector('li button');
      const start = Date.now();
      const highest = new Map(); // renderer pid -> its peak so far
      const watch = () => {
        for (const { pid, type, peak } of processes(browser.browser.process().pid)) {
          if (type === 'renderer') highest.set(pid, Math.max(peak, highest.get(pid) ?? 0));
        }
      };
      const watching = setInterval(watch, 50);
      let saved;
      try {
        await tab.click('li button');
        saved = await browser.downloaded('bench.bin', 3_600_000);
      } finally {
        clearInterval(watching);
      }
      watch();
      const seconds = (Date.now() - start) / 1000;
      if (fs.statSync(saved).size !== size * MiB) throw new Error('the saved file has the wrong size');
      const peak = Math.max(...highest.values());
      peaks.push(peak);
      console.log(`${size} MiB in ${seconds.toFixed(1)} s: peak of the page's renderer ${peak.toFixed(0)} MiB` +
        ` (all renderers: ${[...highest.values()].map((p) => p.toFixed(0)).join(', ')} MiB)`);
      fs.rmSync(saved);
    } finally {
      await browser.close();
      fs.rmSync(path.join(objects, 'ovra-shares', link.id), { recursive: true, force: true });
    }
  }
  console.log(`peak from ${sizes[0]} to ${sizes.at(-1)} MiB: ${(peaks.at(-1) - peaks[0]).toFixed(0)} MiB more (goal: a few chunks, 1 MiB each)`);
} finally {
  server.close();
}
