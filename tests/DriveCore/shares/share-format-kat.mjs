// Known answers for ShareFormatTest, computed with Node's own crypto module so that the
// test compares our bytes with an implementation that shares no code with ours.
// Run: node share-format-kat.mjs
import crypto from 'node:crypto';

const bytes = (from, count) => Buffer.from(Array.from({ length: count }, (_, i) => (from + i) & 0xff));
const hex = (b) => Buffer.from(b).toString('hex');
const hkdf = (ikm, salt, info) => Buffer.from(crypto.hkdfSync('sha256', ikm, salt, Buffer.from(info, 'utf8'), 32));

const shareID = bytes(0, 16).toString('base64url');
const secret = bytes(0x20, 32);
const rounds = 1000;

function keys(id, secretBytes, password) {
  let material = secretBytes;
  if (password !== undefined) {
    const pw = crypto.pbkdf2Sync(Buffer.from(password.normalize('NFC'), 'utf8'),
      Buffer.from('ovra-share-pw:' + id, 'utf8'), rounds, 32, 'sha256');
    material = Buffer.concat([secretBytes, pw]);
  }
  const salt = Buffer.from(id, 'utf8');
  const content = hkdf(material, salt, 'ovra-share v1 content');
  const access = hkdf(material, salt, 'ovra-share v1 access');
  return { content, access, hash: crypto.createHash('sha256').update(access).digest('hex') };
}

function nonce(index, last) {
  const n = Buffer.alloc(12);
  n.writeBigUInt64BE(BigInt(index), 3);
  n[11] = last ? 1 : 0;
  return n;
}

function seal(key, iv, plain) {
  const c = crypto.createCipheriv('aes-256-gcm', key, iv);
  return Buffer.concat([c.update(plain), c.final(), c.getAuthTag()]);
}

function sealFile(contentKey, index, plain, chunkSize) {
  const key = hkdf(contentKey, Buffer.alloc(0), 'ovra-share v1 file ' + index);
  const n = Math.max(1, Math.ceil(plain.length / chunkSize));
  const parts = [];
  for (let k = 0; k < n; k++)
    parts.push(seal(key, nonce(k, k === n - 1), plain.subarray(k * chunkSize, (k + 1) * chunkSize)));
  return Buffer.concat(parts);
}

const out = (name, value) => console.log(`${name} ${value}`);

out('shareID', shareID);
for (const [name, password] of [['plain', undefined], ['password', 'pässwörd'], ['emptyPassword', '']]) {
  const k = keys(shareID, secret, password);
  out(`${name}.content`, hex(k.content));
  out(`${name}.access`, hex(k.access));
  out(`${name}.hash`, k.hash);
}
const emptySecret = keys(shareID, Buffer.alloc(0), undefined);
out('emptySecret.content', hex(emptySecret.content));

const content = keys(shareID, secret, undefined).content;
out('fileKey0', hex(hkdf(content, Buffer.alloc(0), 'ovra-share v1 file 0')));
out('fileKey10', hex(hkdf(content, Buffer.alloc(0), 'ovra-share v1 file 10')));
out('manifestKey', hex(hkdf(content, Buffer.alloc(0), 'ovra-share v1 manifest')));

const small = Buffer.from(Array.from({ length: 41 }, (_, i) => (i * 7) & 0xff));
out('smallFile', hex(sealFile(content, 3, small, 16)));
out('emptyFile', hex(sealFile(content, 0, Buffer.alloc(0), 16)));
const large = Buffer.from(Array.from({ length: 2621440 }, (_, i) => (i * 31 + (i >> 11)) & 0xff));
out('largeFileSHA256', crypto.createHash('sha256').update(sealFile(content, 1, large, 1048576)).digest('hex'));

const manifest = JSON.stringify({
  chunkSize: 1048576,
  files: [
    { modified: '2026-03-04T05:06:07Z', path: 'Photos/a b.jpg', size: 5 },
    { path: 'notes.txt', size: 0 },
  ],
  title: 'Holiday / Été',
  v: 1,
});
out('manifestJSON', manifest);
out('manifestObject', hex(seal(hkdf(content, Buffer.alloc(0), 'ovra-share v1 manifest'), Buffer.alloc(12),
  Buffer.from(manifest, 'utf8'))));

const meta = (expiresAt, maxDownloads) => JSON.stringify({
  accessHash: keys(shareID, secret, undefined).hash,
  createdAt: 1767225600,
  downloads: 0,
  encryptedSizes: [21, 16],
  expiresAt,
  fileCount: 2,
  maxDownloads,
  needsPassword: false,
  pwRounds: 600000,
  ticketKey: 'ab'.repeat(32),
  totalBytes: 5,
  v: 1,
});
out('metaOpen', meta(null, null));
out('metaLimited', meta(1767830400, 10));
