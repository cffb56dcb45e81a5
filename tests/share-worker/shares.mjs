// Share links made by the application's own share format (the share-fixture program, whose
// path CTest passes in SHARE_FIXTURE), and their objects put into the link page's bucket.
import { execFileSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const fixture = process.env.SHARE_FIXTURE;

// A folder removed when the test process ends.
export function scratchFolder() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-share-worker-'));
  process.on('exit', () => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

// Plain files of the given sizes with random contents: [{ path, source, bytes }].
export function plainFiles(folder, sizes) {
  return Object.entries(sizes).map(([sharePath, size], index) => {
    const source = path.join(folder, `plain-${index}-${crypto.randomUUID()}`);
    const bytes = crypto.randomBytes(size);
    fs.writeFileSync(source, bytes);
    return { path: sharePath, source, bytes };
  });
}

// Seals `files` into a share: { id, secret, accessToken, accessHash, folder, objects: {name: bytes} }.
// `spec` holds the rest of the fixture's input (title, password, rounds, chunkSize, times, limit).
export function makeShare(folder, files, spec = {}) {
  if (!fixture) throw new Error('SHARE_FIXTURE must name the share-fixture program (CTest sets it)');
  const input = { folder, title: 'Shared', rounds: 1000, createdAt: Math.floor(Date.now() / 1000), ...spec,
    files: files.map(({ path: sharePath, source, modified }) => ({ path: sharePath, source, modified })) };
  const link = JSON.parse(execFileSync(fixture, { input: JSON.stringify(input) }).toString());
  const root = path.join(folder, link.id);
  return { ...link, folder: root, objects: readObjects(root) };
}

// The objects of a share in a folder of its own: { "f/0": bytes, "manifest": bytes, ... }.
export function readObjects(root) {
  const objects = {};
  for (const name of fs.readdirSync(root, { recursive: true })) {
    const file = path.join(root, name);
    if (fs.statSync(file).isFile()) objects[name.split(path.sep).join('/')] = fs.readFileSync(file);
  }
  return objects;
}

// Files of the given sizes with random contents below `folder`, under their own names (a path
// such as "Photos/a.jpg" makes the folder): [{ path, source, bytes }].
export function namedFiles(folder, sizes) {
  return Object.entries(sizes).map(([name, size]) => {
    const source = path.join(folder, name);
    const bytes = crypto.randomBytes(size);
    fs.mkdirSync(path.dirname(source), { recursive: true });
    fs.writeFileSync(source, bytes);
    return { path: name, source, bytes };
  });
}

export const objectKey = (id, name) => `ovra-shares/${id}/${name}`;

// The runtime's bucket takes bytes only in an array of their own, not as a view into Node's
// shared buffer pool.
// The bucket is reached through the runtime's loopback proxy, whose kept-alive connection can be
// closed under a put on a loaded machine ("fetch failed"); a put is safe to send again.
export async function putObject(bucket, key, bytes) {
  const body = typeof bytes === 'string' ? bytes : new Uint8Array(bytes);
  for (let attempt = 1; ; attempt++) {
    try {
      await bucket.put(key, body);
      return;
    } catch (error) {
      if (attempt === 3 || !(error instanceof TypeError && error.message === 'fetch failed')) throw error;
    }
  }
}

// Puts every object of the share into the bucket, "meta.json" last as the application does.
export async function putShare(bucket, share) {
  const names = Object.keys(share.objects).sort((a, b) => (a === 'meta.json') - (b === 'meta.json'));
  for (const name of names) await putObject(bucket, objectKey(share.id, name), share.objects[name]);
}

export async function readMetaObject(bucket, id) {
  const object = await bucket.get(objectKey(id, 'meta.json'));
  return object && JSON.parse(await object.text());
}

// A download ticket made the way the worker makes them, for any expiry.
export function craftedTicket(share, expiresAt, ticketKey = JSON.parse(share.objects['meta.json']).ticketKey) {
  const mac = crypto.createHmac('sha256', Buffer.from(ticketKey, 'hex')).update(`ovra-ticket v1 ${share.id} ${expiresAt}`).digest('base64url');
  return `${expiresAt}.${mac}`;
}

export async function writeMetaObject(bucket, id, meta) {
  await bucket.put(objectKey(id, 'meta.json'), JSON.stringify(meta));
}
