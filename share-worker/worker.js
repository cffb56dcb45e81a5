// The link page: serves share links out of the bucket bound as BUCKET. It only ever handles
// ciphertext. The link's secret stays in the address's fragment, which browsers never send,
// and the page derives the keys and decrypts in the browser. The worker holds the line on what
// "meta.json" allows: expiry, the download limit and the download count.
//
//   GET  /s/<id>                the page
//   GET  /assets/...            its script, the share format, its style sheet, the service
//                               worker that saves files as they are decrypted and the worker
//                               that decrypts them
//   GET  /api/s/<id>            whether the link opens, and whether it needs a password
//   GET  /api/s/<id>/info       the live figures, for the application (access header)
//   GET  /api/s/<id>/manifest   the sealed file list (access header)
//   POST /api/s/<id>/ticket     gives a ticket for one download and counts it (access header):
//                               {ticket, expiresAt, seconds}; with the ticket header, renews
//                               that ticket for the download it is for, uncounted
//   GET  /api/s/<id>/f/<i>      byte ranges of sealed file i (ticket header)
//
// The access header "X-Ovra-Access" carries the link's access token as base64url; "meta.json"
// holds only its SHA-256. Errors are JSON {"error": code} with 403 "access" or "ticket",
// 404 "notFound", 409 "damaged", 410 "expired" or "used", 416 "range" and 500 "damaged".
//
// A download ticket is a bearer value, so it lives only about as long as one download of the
// whole share needs: its sealed size at 1 MB/s (slow, but a fair line), never less than 10
// minutes and never more than 6 hours; a download on a slower line renews it as it goes. A
// used-up link thus stops serving soon after its last download.

import * as format from './format.js';
import * as assets from './assets.js';

// A download is counted when its ticket is issued, so files can't be fetched without being
// counted; the ticket must outlive a slow download of the share, and no more (see above). A
// download on a slower line renews its ticket while it goes on.
const TICKET_BYTES_PER_SECOND = 1_000_000;
const TICKET_MIN_SECONDS = 10 * 60;
const TICKET_MAX_SECONDS = 6 * 60 * 60;

function ticketSeconds(meta) {
  const bytes = meta.encryptedSizes.reduce((sum, size) => sum + size, 0);
  return Math.min(TICKET_MAX_SECONDS, Math.max(TICKET_MIN_SECONDS, Math.ceil(bytes / TICKET_BYTES_PER_SECOND)));
}

const metaKey = (id) => `${format.SHARES_FOLDER}/${id}/meta.json`;
const objectKey = (id, name) => `${format.SHARES_FOLDER}/${id}/${name}`;
const nowSeconds = () => Math.floor(Date.now() / 1000);

export default {
  async fetch(request, env) {
    try {
      return await handle(request, env.BUCKET, nowSeconds());
    } catch (error) {
      console.error('request failed', error);
      return fail(500, 'failed');
    }
  },

  // Daily: expired and used-up links leave the bucket.
  async scheduled(controller, env, context) {
    context.waitUntil(sweep(env.BUCKET, nowSeconds()));
  },
};

// Exported with its clock and its wait between tries of a write as arguments, so that tests
// can move time.
export async function handle(request, bucket, now, wait = sleep) {
  const path = new URL(request.url).pathname;
  const get = request.method === 'GET';

  if (get && assets.files[path]) return asset(assets.files[path]);
  // The page's service worker answers saves; one that reached here has no bytes to give, and
  // "No Content" leaves the page where it is.
  if (get && path.startsWith(assets.saveScope)) return new Response(null, { status: 204, headers: commonHeaders });
  const link = path.match(/^\/s\/([^/]+)$/);
  if (link) {
    if (!get) return fail(405, 'method');
    return format.isShareID(link[1]) ? page(200, assets.sharePage) : page(404, assets.missingPage);
  }

  const api = path.match(/^\/api\/s\/([^/]+)(?:\/(info|manifest|ticket|f\/([^/]+)))?$/);
  if (!api) return page(404, assets.missingPage);
  const [, id, action, fileIndex] = api;
  if (!format.isShareID(id)) return fail(404, 'notFound');
  if (action === 'ticket') return request.method === 'POST' ? issueTicket(request, bucket, id, now, wait) : fail(405, 'method');
  if (!get) return fail(405, 'method');
  if (action === undefined) return opening(bucket, id, now);
  if (action === 'info') return info(request, bucket, id, now);
  if (action === 'manifest') return manifest(request, bucket, id, now);
  return sealedFile(request, bucket, id, fileIndex, now);
}

// Null when there is no "meta.json": the link was stopped, never existed, or is still being
// made (the application writes it last). `meta` is null when it does not read.
async function readShare(bucket, id) {
  const object = await bucket.get(metaKey(id));
  if (!object) return null;
  return { meta: format.readMeta(await object.text()), etag: object.etag };
}

// "expired" at and after the expiry, "used" once the download limit is reached, else null.
function ending(meta, now) {
  if (meta.expiresAt !== null && now >= meta.expiresAt) return 'expired';
  if (meta.maxDownloads !== null && meta.downloads >= meta.maxDownloads) return 'used';
  return null;
}

// The share's metadata, or the answer for a link that can't be used.
async function usableShare(bucket, id) {
  const share = await readShare(bucket, id);
  if (!share) return { refusal: fail(404, 'notFound') };
  if (!share.meta) return { refusal: fail(500, 'damaged') };
  return share;
}

// The same for a holder of the link (the access header), while the link works.
async function heldShare(request, bucket, id, now) {
  const share = await usableShare(bucket, id);
  if (share.refusal) return share;
  if (!(await hasAccess(request, share.meta))) return { refusal: fail(403, 'access') };
  const end = ending(share.meta, now);
  if (end) return { refusal: fail(410, end) };
  return share;
}

async function hasAccess(request, meta) {
  const token = format.base64urlDecode(request.headers.get('X-Ovra-Access') ?? '');
  if (!token || token.length !== format.KEY_SIZE) return false;
  return sameText(await format.sha256Hex(token), meta.accessHash);
}

// In constant time, so the answer's timing tells nothing of the stored hash.
function sameText(a, b) {
  if (a.length !== b.length) return false;
  let difference = 0;
  for (let i = 0; i < a.length; i++) difference |= a.charCodeAt(i) ^ b.charCodeAt(i);
  return difference === 0;
}

// Before the page asks for a password: does the link open at all?
async function opening(bucket, id, now) {
  const { meta, refusal } = await usableShare(bucket, id);
  if (refusal) return refusal;
  const end = ending(meta, now);
  if (end) return fail(410, end);
  return json(200, { needsPassword: meta.needsPassword, pwRounds: meta.pwRounds });
}

// The application's status request: only for a holder of the link.
async function info(request, bucket, id, now) {
  const { meta, refusal } = await heldShare(request, bucket, id, now);
  if (refusal) return refusal;
  const { expiresAt, maxDownloads, downloads, fileCount, totalBytes } = meta;
  return json(200, { downloads, expiresAt, fileCount, maxDownloads, totalBytes });
}

async function manifest(request, bucket, id, now) {
  const { refusal } = await heldShare(request, bucket, id, now);
  if (refusal) return refusal;
  const object = await bucket.get(objectKey(id, 'manifest'));
  if (!object) return fail(409, 'damaged');
  return new Response(object.body, { headers: binaryHeaders() });
}

// Counts one download and hands out a ticket for it; or, given a ticket of the link that has
// not run out (ticket header), renews it for a download still going on, without counting.
// A count is written only over the metadata that was read, so of two downloads racing for the
// last one, one gets it; the loser reads again after a growing random wait, which spreads a
// burst of visitors out. A limited link refuses a visitor whose count never got written, so
// it never serves past its limit; a link without a limit, or a renewal, lets the visitor
// through uncounted after the last try: that costs only a figure, and is logged.
async function issueTicket(request, bucket, id, now, wait) {
  const held = request.headers.get('X-Ovra-Ticket');
  let meta;
  for (let attempt = 0; attempt < TICKET_ATTEMPTS; attempt++) {
    const share = await usableShare(bucket, id);
    if (share.refusal) return share.refusal;
    meta = share.meta;
    if (!(await hasAccess(request, meta))) return fail(403, 'access');
    const end = ending(meta, now);
    // A used-up link still renews the tickets it gave out, as it still serves them.
    if (end === 'expired' || (end && held === null)) return fail(410, end);
    if (held !== null && !(await validTicket(meta.ticketKey, id, held, now))) return fail(403, 'ticket');
    // The daily clean-up keeps a used-up link while its last ticket runs.
    const updated = { ...meta, lastTicketAt: now };
    if (held === null) updated.downloads = meta.downloads + 1;
    const written = await bucket.put(metaKey(id), format.writeMeta(updated), {
      onlyIf: { etagMatches: share.etag },
      httpMetadata: { contentType: 'application/json' },
    });
    if (written) return ticketAnswer(meta, id, now);
    if (attempt + 1 < TICKET_ATTEMPTS) await wait(Math.random() * Math.min(TICKET_BACKOFF_MS, 10 * 2 ** attempt));
  }
  if (held === null && meta.maxDownloads !== null) return fail(503, 'busy');
  console.warn(`link ${id}: ${held === null ? 'a download went uncounted' : 'a renewed ticket went unrecorded'} after ${TICKET_ATTEMPTS} lost writes`);
  return ticketAnswer(meta, id, now);
}

// Up to about 15 seconds of waiting in all.
const TICKET_ATTEMPTS = 60;
const TICKET_BACKOFF_MS = 250;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function ticketAnswer(meta, id, now) {
  const seconds = ticketSeconds(meta);
  const expiresAt = now + seconds;
  return json(200, { ticket: await makeTicket(meta.ticketKey, id, expiresAt), expiresAt, seconds });
}

async function ticketKey(hex) {
  return crypto.subtle.importKey('raw', format.hexDecode(hex), { name: 'HMAC', hash: 'SHA-256' }, false, ['sign', 'verify']);
}

const ticketData = (id, expiresAt) => format.utf8(`ovra-ticket v1 ${id} ${expiresAt}`);

// "<expiry in seconds>.<HMAC-SHA256 of id and expiry under the share's ticketKey>"
async function makeTicket(keyHex, id, expiresAt) {
  const mac = await crypto.subtle.sign('HMAC', await ticketKey(keyHex), ticketData(id, expiresAt));
  return `${expiresAt}.${format.base64urlEncode(new Uint8Array(mac))}`;
}

async function validTicket(keyHex, id, ticket, now) {
  const parts = (ticket ?? '').match(/^([1-9][0-9]{0,11})\.([A-Za-z0-9_-]{43})$/);
  if (!parts || Number(parts[1]) <= now) return false;
  const mac = format.base64urlDecode(parts[2]);
  return crypto.subtle.verify('HMAC', await ticketKey(keyHex), mac, ticketData(id, parts[1]));
}

// A single "bytes=a-b" range inside the object; null for no Range header, undefined for a bad one.
function byteRange(header, size) {
  if (header === null) return null;
  const parts = header.match(/^bytes=([0-9]{1,15})-([0-9]{1,15})$/);
  if (!parts) return undefined;
  const first = Number(parts[1]);
  const last = Number(parts[2]);
  if (first > last || last >= size) return undefined;
  return { offset: first, length: last - first + 1 };
}

// The sealed bytes of one file, for the holder of a ticket. A used-up link still serves the
// tickets it gave out; an expired one serves nothing.
async function sealedFile(request, bucket, id, indexText, now) {
  const { meta, refusal } = await usableShare(bucket, id);
  if (refusal) return refusal;
  if (ending(meta, now) === 'expired') return fail(410, 'expired');
  if (!(await validTicket(meta.ticketKey, id, request.headers.get('X-Ovra-Ticket'), now))) return fail(403, 'ticket');
  if (!/^(?:0|[1-9][0-9]{0,8})$/.test(indexText) || Number(indexText) >= meta.fileCount) return fail(404, 'notFound');
  const size = meta.encryptedSizes[Number(indexText)];
  const range = byteRange(request.headers.get('Range'), size);
  if (range === undefined) return fail(416, 'range');

  let object;
  try {
    object = await bucket.get(objectKey(id, `f/${indexText}`), range ? { range } : {});
  } catch {
    return fail(409, 'damaged'); // shorter than the link's metadata says
  }
  if (!object || object.size !== size) return fail(409, 'damaged');
  const headers = binaryHeaders();
  if (!range) return new Response(object.body, { headers });
  headers.set('Content-Range', `bytes ${range.offset}-${range.offset + range.length - 1}/${size}`);
  return new Response(object.body, { status: 206, headers });
}

// Removes every link that has expired, and every used-up one whose last ticket has run out.
// Folders without "meta.json" stay: a link may still be being made.
async function sweep(bucket, now) {
  let cursor;
  do {
    const listing = await bucket.list({ prefix: `${format.SHARES_FOLDER}/`, delimiter: '/', cursor });
    for (const prefix of listing.delimitedPrefixes) {
      const id = prefix.slice(format.SHARES_FOLDER.length + 1, -1);
      if (!format.isShareID(id)) continue;
      try {
        await sweepShare(bucket, id, now);
      } catch (error) {
        console.error('could not remove an ended link', error); // tomorrow's run tries again
      }
    }
    cursor = listing.truncated ? listing.cursor : undefined;
  } while (cursor);
}

async function sweepShare(bucket, id, now) {
  const share = await readShare(bucket, id);
  if (!share?.meta) return;
  const end = ending(share.meta, now);
  const ticketsOut = share.meta.lastTicketAt != null && now < share.meta.lastTicketAt + ticketSeconds(share.meta);
  if (end === 'expired' || (end === 'used' && !ticketsOut)) await removeShare(bucket, id);
}

async function removeShare(bucket, id) {
  // The metadata first, as when the owner stops a link: from then on it no longer opens.
  await bucket.delete(metaKey(id));
  for (;;) {
    const listing = await bucket.list({ prefix: objectKey(id, '') });
    if (listing.objects.length) await bucket.delete(listing.objects.map((object) => object.key));
    if (!listing.truncated) return;
  }
}

const commonHeaders = {
  'Cache-Control': 'no-store',
  'Referrer-Policy': 'no-referrer',
  'X-Content-Type-Options': 'nosniff',
};

function json(status, body) {
  return new Response(JSON.stringify(body), {
    status,
    headers: { ...commonHeaders, 'Content-Type': 'application/json; charset=utf-8' },
  });
}

function fail(status, code) {
  return json(status, { error: code });
}

function binaryHeaders() {
  return new Headers({ ...commonHeaders, 'Content-Type': 'application/octet-stream' });
}

function page(status, html) {
  return new Response(html, {
    status,
    headers: {
      ...commonHeaders,
      'Content-Type': 'text/html; charset=utf-8',
      'Content-Security-Policy': assets.contentSecurityPolicy,
      'X-Frame-Options': 'DENY',
    },
  });
}

function asset({ type, text }) {
  return new Response(text, {
    headers: { ...commonHeaders, 'Cache-Control': 'no-cache', 'Content-Type': `${type}; charset=utf-8` },
  });
}
