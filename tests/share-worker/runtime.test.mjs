// The worker in the Workers runtime with a local R2 bucket: the routes, what "meta.json"
// allows (expiry, the download limit and count), download tickets, and the daily clean-up.
// Shares come from the application's own encoders.
import assert from 'node:assert/strict';
import { after, before, describe, mock, test } from 'node:test';

import { handle } from '../../share-worker/worker.js';
import { startLinkPage } from '../support/link-page.mjs';
import { craftedTicket, makeShare, objectKey, plainFiles, putObject, putShare, readMetaObject, scratchFolder, writeMetaObject } from './shares.mjs';

const folder = scratchFolder();
const now = () => Math.floor(Date.now() / 1000);
let linkPage;

before(async () => {
  linkPage = await startLinkPage();
});
after(async () => {
  await linkPage?.stop();
});

const files = plainFiles(folder, { 'a.txt': 40, 'b.bin': 5 });

// A share in the bucket; `meta` changes fields of its "meta.json" before it goes in.
async function share(spec = {}, meta = {}) {
  const made = makeShare(folder, files, { chunkSize: 16, ...spec });
  if (Object.keys(meta).length) {
    made.objects['meta.json'] = Buffer.from(JSON.stringify({ ...JSON.parse(made.objects['meta.json']), ...meta }));
  }
  await putShare(linkPage.bucket, made);
  return made;
}

// Each request on a connection of its own, as each visitor has. The runtime closes a connection
// after 5 idle seconds, and Node's fetch keeps one for 4: when sealing a share holds this
// process's event loop past that, a kept connection is sent a request as the runtime closes it,
// and the request fails ("fetch failed", the other side closed).
function call(path, { access, ticket, range, method = 'GET' } = {}) {
  const headers = { Connection: 'close' };
  if (access !== undefined) headers['X-Ovra-Access'] = access;
  if (ticket !== undefined) headers['X-Ovra-Ticket'] = ticket;
  if (range !== undefined) headers.Range = range;
  return fetch(new URL(path, linkPage.url), { method, headers });
}

async function answer(response) {
  const type = response.headers.get('Content-Type') ?? '';
  return { status: response.status, body: type.startsWith('application/json') ? await response.json() : await response.arrayBuffer() };
}

const ticketFor = async (made) => (await (await call(`/api/s/${made.id}/ticket`, { method: 'POST', access: made.accessToken })).json()).ticket;

describe('the status request', () => {
  test('answers a holder of the link with its live figures', async () => {
    const expiresAt = now() + 3600;
    const made = await share({ expiresAt, maxDownloads: 5 });
    const { status, body } = await answer(await call(`/api/s/${made.id}/info`, { access: made.accessToken }));
    assert.equal(status, 200);
    assert.deepEqual(body, { downloads: 0, expiresAt, fileCount: 2, maxDownloads: 5, totalBytes: 45 });

    const open = await answer(await call(`/api/s/${made.id}/info`, { access: (await share()).accessToken }));
    assert.equal(open.status, 403, 'the access token of another link');
  });

  test('turns away a request without the right access header', async () => {
    const made = await share({ password: 'secret' });
    const otherToken = Buffer.from(made.accessToken, 'base64url');
    otherToken[0] ^= 1;
    const headers = [undefined, '', made.accessHash, made.accessToken + '=', made.accessToken.slice(1), otherToken.toString('base64url')];
    for (const access of headers) {
      const { status, body } = await answer(await call(`/api/s/${made.id}/info`, { access }));
      assert.deepEqual([status, body], [403, { error: 'access' }], String(access));
    }
  });

  test('says a link has ended: 404 once stopped, 410 once expired or used up', async () => {
    const stopped = await share();
    await linkPage.bucket.delete(objectKey(stopped.id, 'meta.json'));
    const expired = await share({ expiresAt: now() - 1 });
    const usedUp = await share({ maxDownloads: 2 }, { downloads: 2 });
    const cases = [
      [stopped, 404, 'notFound'],
      [expired, 410, 'expired'],
      [usedUp, 410, 'used'],
    ];
    for (const [made, status, error] of cases)
      assert.deepEqual(await answer(await call(`/api/s/${made.id}/info`, { access: made.accessToken })), { status, body: { error } });
    assert.equal((await call('/api/s/not-a-share-id/info')).status, 404);
  });

  test('expires a link exactly at its expiry second', async () => {
    const made = await share({ expiresAt: now() });
    assert.equal((await call(`/api/s/${made.id}/info`, { access: made.accessToken })).status, 410);
  });

  test('calls a link whose metadata does not read damaged', async () => {
    const made = await share({}, { accessHash: 'nope' });
    assert.deepEqual(await answer(await call(`/api/s/${made.id}/info`, { access: made.accessToken })), { status: 500, body: { error: 'damaged' } });
  });
});

describe('opening a link', () => {
  test('tells the page whether to ask for a password, and nothing more', async () => {
    const withPassword = await share({ password: 'secret', rounds: 2000 });
    assert.deepEqual(await answer(await call(`/api/s/${withPassword.id}`)), { status: 200, body: { needsPassword: true, pwRounds: 2000 } });
    const without = await share();
    assert.deepEqual((await answer(await call(`/api/s/${without.id}`))).body, { needsPassword: false, pwRounds: 1000 });
    assert.deepEqual(await answer(await call(`/api/s/${(await share({ expiresAt: now() - 5 })).id}`)), { status: 410, body: { error: 'expired' } });
  });

  test('hands the sealed file list only to a holder of the link', async () => {
    const made = await share();
    const { status, body } = await answer(await call(`/api/s/${made.id}/manifest`, { access: made.accessToken }));
    assert.equal(status, 200);
    assert.deepEqual(Buffer.from(body), made.objects.manifest);
    assert.equal((await call(`/api/s/${made.id}/manifest`)).status, 403);
  });

  test('serves the page with a policy that keeps it to its own scripts', async () => {
    const made = await share();
    const page = await call(`/s/${made.id}`);
    assert.equal(page.status, 200);
    assert.match(page.headers.get('Content-Security-Policy'), /script-src 'self'/);
    assert.match(await page.text(), /<script type="module" src="\/assets\/page.js">/);
    for (const [path, type] of [['/assets/page.js', 'text/javascript'], ['/assets/format.js', 'text/javascript'], ['/assets/save.js', 'text/javascript'], ['/assets/open.js', 'text/javascript'], ['/assets/page.css', 'text/css']])
      assert.match((await call(path)).headers.get('Content-Type'), new RegExp(type), path);
    // A save address is the service worker's; without it the page must stay where it is.
    assert.equal((await call('/assets/save/5f0c6f0e-1b7e-4b8e-9d7a-2a4f0f6d8c11')).status, 204);
    assert.equal((await call('/s/not-a-share-id')).status, 404);
    assert.equal((await call('/elsewhere')).status, 404);
  });
});

describe('downloads', () => {
  test('are counted when a ticket is given, up to the limit, and with no limit too', async () => {
    const made = await share({ maxDownloads: 2 });
    for (let n = 1; n <= 2; n++) {
      const { status, body } = await answer(await call(`/api/s/${made.id}/ticket`, { method: 'POST', access: made.accessToken }));
      assert.equal(status, 200);
      assert.ok(body.expiresAt > now());
      assert.equal((await readMetaObject(linkPage.bucket, made.id)).downloads, n);
    }
    assert.deepEqual(await answer(await call(`/api/s/${made.id}/ticket`, { method: 'POST', access: made.accessToken })), { status: 410, body: { error: 'used' } });
    assert.equal((await readMetaObject(linkPage.bucket, made.id)).downloads, 2);
    assert.equal((await call(`/api/s/${made.id}/ticket`, { method: 'POST', access: made.accessHash })).status, 403);

    const unlimited = await share();
    for (let n = 1; n <= 3; n++) await ticketFor(unlimited);
    assert.equal((await readMetaObject(linkPage.bucket, unlimited.id)).downloads, 3, 'no limit');
  });

  test('come with a ticket that lasts as long as the share takes at 1 MB/s, from 10 minutes to 6 hours', async () => {
    const lives = [
      ['a small share', [88, 21], 600],
      ['3 GB', [1_000_000_000, 2_000_000_000], 3000],
      ['3 GB and a byte', [1_000_000_000, 2_000_000_001], 3001],
      ['100 GB', [50e9, 50e9], 6 * 3600],
    ];
    for (const [what, encryptedSizes, seconds] of lives) {
      const made = await share({}, { encryptedSizes });
      const before = now();
      const { body } = await answer(await call(`/api/s/${made.id}/ticket`, { method: 'POST', access: made.accessToken }));
      assert.equal(body.seconds, seconds, what);
      assert.ok(body.expiresAt >= before + seconds && body.expiresAt <= now() + seconds, what);
    }
  });

  test('end with their ticket\'s life, however many downloads are left', async () => {
    // The worker's request handler run here with a clock of the test's own.
    const made = await share({ maxDownloads: 1 });
    const at = (path, options, time) =>
      handle(new Request(new URL(path, linkPage.url), { method: options.method ?? 'GET', headers: options.headers }), linkPage.bucket, time);
    const issued = now();
    const { ticket } = await (await at(`/api/s/${made.id}/ticket`, { method: 'POST', headers: { 'X-Ovra-Access': made.accessToken } }, issued)).json();
    const chunk = (time) => at(`/api/s/${made.id}/f/0`, { headers: { 'X-Ovra-Ticket': ticket, Range: 'bytes=0-31' } }, time);
    assert.equal((await chunk(issued + 599)).status, 206);
    assert.deepEqual(await answer(await chunk(issued + 600)), { status: 403, body: { error: 'ticket' } });
  });

  test('under a burst of 30 visitors are each counted once, up to the limit, and never refused as busy', async () => {
    const burst = async (made) => {
      const answers = await Promise.all(Array.from({ length: 30 }, async () =>
        answer(await call(`/api/s/${made.id}/ticket`, { method: 'POST', access: made.accessToken }))));
      const statuses = {};
      for (const { status } of answers) statuses[status] = (statuses[status] ?? 0) + 1;
      return statuses;
    };
    const unlimited = await share();
    assert.deepEqual(await burst(unlimited), { 200: 30 }, 'no limit');
    assert.equal((await readMetaObject(linkPage.bucket, unlimited.id)).downloads, 30, 'no limit');

    const roomy = await share({ maxDownloads: 100 });
    assert.deepEqual(await burst(roomy), { 200: 30 }, 'a limit of 100');
    assert.equal((await readMetaObject(linkPage.bucket, roomy.id)).downloads, 30);

    const tight = await share({ maxDownloads: 10 });
    assert.deepEqual(await burst(tight), { 200: 10, 410: 20 }, 'a limit of 10');
    assert.equal((await readMetaObject(linkPage.bucket, tight.id)).downloads, 10);
  });

  test('whose count keeps losing its race are refused on a limited link, and let through uncounted, and logged, on one without', async (t) => {
    // Another visitor's count lands between each read of "meta.json" and the write over it.
    const racedBucket = (made) => ({
      get: (...args) => linkPage.bucket.get(...args),
      async put(key, value, options) {
        const meta = await readMetaObject(linkPage.bucket, made.id);
        await writeMetaObject(linkPage.bucket, made.id, { ...meta, downloads: meta.downloads + 1 });
        return linkPage.bucket.put(key, value, options);
      },
    });
    const cases = [
      { what: 'no limit', limit: null, status: 200, warned: true },
      { what: 'a limit of 1000', limit: 1000, status: 503, warned: false },
    ];
    const random = t.mock.method(Math, 'random', () => 1);
    for (const { what, limit, status, warned } of cases) {
      const warn = mock.method(console, 'warn', () => {});
      const made = await share(limit === null ? {} : { maxDownloads: limit });
      const waits = [];
      const request = new Request(new URL(`/api/s/${made.id}/ticket`, linkPage.url), { method: 'POST', headers: { 'X-Ovra-Access': made.accessToken } });
      const response = await handle(request, racedBucket(made), now(), async (ms) => waits.push(ms));
      warn.mock.restore();
      assert.equal(response.status, status, what);
      if (status === 200) assert.match((await response.json()).ticket, /^\d+\./, what);
      // Every try lost to another visitor, and none of ours was written.
      assert.equal((await readMetaObject(linkPage.bucket, made.id)).downloads, 60, what);
      assert.deepEqual(waits, [10, 20, 40, 80, 160, ...Array(54).fill(250)], what);
      assert.deepEqual(warn.mock.calls.map((call) => call.arguments[0]), warned ? [`link ${made.id}: a download went uncounted after 60 lost writes`] : [], what);
    }
    random.mock.restore();
  });

  test('renew a ticket that has not run out, without counting, also on a used-up link', async () => {
    const made = await share({ maxDownloads: 1, expiresAt: now() + 3600 });
    const other = await share();
    const issued = now();
    const at = (time, headers) => handle(new Request(new URL(`/api/s/${made.id}/ticket`, linkPage.url), { method: 'POST', headers }), linkPage.bucket, time);
    const first = await (await at(issued, { 'X-Ovra-Access': made.accessToken })).json();
    const renewed = await at(issued + 599, { 'X-Ovra-Access': made.accessToken, 'X-Ovra-Ticket': first.ticket });
    assert.equal(renewed.status, 200);
    const { ticket, expiresAt, seconds } = await renewed.json();
    assert.deepEqual([expiresAt, seconds], [issued + 599 + 600, 600]);
    const meta = await readMetaObject(linkPage.bucket, made.id);
    assert.deepEqual([meta.downloads, meta.lastTicketAt], [1, issued + 599], 'counted once; the clean-up waits for the renewed ticket');
    const chunk = await handle(new Request(new URL(`/api/s/${made.id}/f/0`, linkPage.url), { headers: { 'X-Ovra-Ticket': ticket, Range: 'bytes=0-31' } }), linkPage.bucket, issued + 1000);
    assert.equal(chunk.status, 206, 'the renewed ticket serves past the first one');

    const refused = [
      ['a ticket that ran out', issued + 600, { 'X-Ovra-Ticket': first.ticket }, 403, 'ticket'],
      ['another link\'s ticket', issued, { 'X-Ovra-Ticket': craftedTicket(other, issued + 60) }, 403, 'ticket'],
      ['no access header', issued, { 'X-Ovra-Access': undefined, 'X-Ovra-Ticket': first.ticket }, 403, 'access'],
      ['an expired link', issued + 3600, { 'X-Ovra-Ticket': craftedTicket(made, issued + 4000) }, 410, 'expired'],
    ];
    for (const [what, time, headers, status, error] of refused) {
      const all = Object.fromEntries(Object.entries({ 'X-Ovra-Access': made.accessToken, ...headers }).filter(([, value]) => value !== undefined));
      assert.deepEqual(await answer(await at(time, all)), { status, body: { error } }, what);
    }
    assert.equal((await readMetaObject(linkPage.bucket, made.id)).downloads, 1);
  });

  test('keep the application\'s metadata as it was but for the count', async () => {
    const made = await share({ maxDownloads: 3, expiresAt: now() + 600 });
    const before = JSON.parse(made.objects['meta.json']);
    await ticketFor(made);
    const afterward = await readMetaObject(linkPage.bucket, made.id);
    assert.deepEqual({ ...afterward, downloads: 0, lastTicketAt: undefined }, { ...before, lastTicketAt: undefined });
    assert.deepEqual(Object.keys(afterward), Object.keys(afterward).sort());
  });

  test('fetch sealed chunks only with a valid ticket of this link', async () => {
    const made = await share();
    const other = await share();
    const path = `/api/s/${made.id}/f/0`;
    const valid = await ticketFor(made);
    // The MAC's first character: every one of its bits counts.
    const forged = valid.replace(/\.(.)/, (_, c) => `.${c === 'A' ? 'B' : 'A'}`);
    const refused = {
      'no ticket': undefined,
      'the access token': made.accessToken,
      'a forged ticket': forged,
      'another link\'s ticket': await ticketFor(other),
      'a ticket that ran out': craftedTicket(made, now() - 1),
      'a ticket made with another key': craftedTicket(made, now() + 60, 'ab'.repeat(32)),
    };
    for (const [what, ticket] of Object.entries(refused))
      assert.deepEqual(await answer(await call(path, { ticket, range: 'bytes=0-31' })), { status: 403, body: { error: 'ticket' } }, what);

    const chunk = await call(path, { ticket: craftedTicket(made, now() + 60), range: 'bytes=32-63' });
    assert.equal(chunk.status, 206);
    assert.equal(chunk.headers.get('Content-Range'), 'bytes 32-63/88');
    assert.deepEqual(Buffer.from(await chunk.arrayBuffer()), made.objects['f/0'].subarray(32, 64));
    const whole = await call(`/api/s/${made.id}/f/1`, { ticket: valid });
    assert.deepEqual([whole.status, Buffer.from(await whole.arrayBuffer())], [200, made.objects['f/1']]);
  });

  test('refuse ranges and files the link does not have', async () => {
    const made = await share();
    const ticket = await ticketFor(made);
    const cases = [
      [`/api/s/${made.id}/f/0`, 'bytes=80-88', 416],
      [`/api/s/${made.id}/f/0`, 'bytes=10-5', 416],
      [`/api/s/${made.id}/f/0`, 'bytes=0-1,4-5', 416],
      [`/api/s/${made.id}/f/0`, 'bytes=-16', 416],
      [`/api/s/${made.id}/f/2`, 'bytes=0-1', 404],
      [`/api/s/${made.id}/f/01`, 'bytes=0-1', 404],
      [`/api/s/${made.id}/f/manifest`, 'bytes=0-1', 404],
    ];
    for (const [path, range, status] of cases) assert.equal((await call(path, { ticket, range })).status, status, `${path} ${range}`);
  });

  test('of a file whose object does not match its metadata report damage', async () => {
    const made = await share();
    const ticket = await ticketFor(made);
    await putObject(linkPage.bucket, objectKey(made.id, 'f/0'), made.objects['f/0'].subarray(0, 40));
    assert.deepEqual(await answer(await call(`/api/s/${made.id}/f/0`, { ticket, range: 'bytes=32-63' })), { status: 409, body: { error: 'damaged' } });
    await linkPage.bucket.delete(objectKey(made.id, 'f/1'));
    assert.equal((await call(`/api/s/${made.id}/f/1`, { ticket })).status, 409);
  });

  test('go on with a ticket given before the limit was reached, but end at expiry', async () => {
    const made = await share({ maxDownloads: 1, expiresAt: now() + 600 });
    const ticket = await ticketFor(made);
    assert.equal((await call(`/api/s/${made.id}/info`, { access: made.accessToken })).status, 410);
    assert.equal((await call(`/api/s/${made.id}/f/0`, { ticket, range: 'bytes=0-31' })).status, 206);

    const meta = await readMetaObject(linkPage.bucket, made.id);
    await writeMetaObject(linkPage.bucket, made.id, { ...meta, expiresAt: now() - 1 });
    assert.deepEqual(await answer(await call(`/api/s/${made.id}/f/0`, { ticket, range: 'bytes=0-31' })), { status: 410, body: { error: 'expired' } });
  });
});

describe('the daily schedule', () => {
  test('removes expired and used-up links, and leaves the rest', async () => {
    const ticketHours = 6 * 3600;
    const kept = {
      live: await share({ expiresAt: now() + 3600, maxDownloads: 3 }, { downloads: 2 }),
      'never expiring': await share(),
      'used up, its last ticket still running': await share({ maxDownloads: 1 }, { downloads: 1, lastTicketAt: now() - 60 }),
      'damaged metadata': await share({ expiresAt: now() - 10 }, { v: 9 }),
    };
    const beingMade = await share();
    await linkPage.bucket.delete(objectKey(beingMade.id, 'meta.json'));
    const removed = {
      expired: await share({ expiresAt: now() - 10 }),
      'used up': await share({ maxDownloads: 1 }, { downloads: 1 }),
      'used up, its last ticket run out': await share({ maxDownloads: 2 }, { downloads: 2, lastTicketAt: now() - ticketHours - 1 }),
    };
    await linkPage.bucket.put('ovra-shares/readme.txt', 'not a link');

    await linkPage.scheduled();

    const names = async (made) => (await linkPage.bucket.list({ prefix: objectKey(made.id, '') })).objects.map((o) => o.key).sort();
    for (const [what, made] of Object.entries(kept)) assert.equal((await names(made)).length, 4, what);
    assert.deepEqual(await names(beingMade), [objectKey(beingMade.id, 'f/0'), objectKey(beingMade.id, 'f/1'), objectKey(beingMade.id, 'manifest')]);
    for (const [what, made] of Object.entries(removed)) assert.deepEqual(await names(made), [], what);
    assert.ok(await linkPage.bucket.head('ovra-shares/readme.txt'));
  });
});
