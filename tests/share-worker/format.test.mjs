// The link page's share format opens what the application seals. Shares come from the
// application's own encoders (share-fixture); every check runs against format.js as the worker
// imports it and against the copy of it that the page loads (pageModule()).
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import * as format from '../../share-worker/format.js';
import { makeShare, plainFiles, scratchFolder } from './shares.mjs';

const pageFormat = await import(`data:text/javascript,${encodeURIComponent(format.pageModule())}`);
const folder = scratchFolder();

// Opens file `index` of a share chunk by chunk, as the page does.
async function openFile(f, contentKey, share, manifest, index) {
  const file = manifest.files[index];
  const sealed = share.objects[`f/${index}`];
  const key = await f.aesKey(await f.fileKey(contentKey, index));
  const parts = [];
  for (let k = 0; k < f.chunkCount(file.size, manifest.chunkSize); k++) {
    const { offset, length, last } = f.chunkRange(file.size, manifest.chunkSize, k);
    parts.push(await f.openChunk(key, sealed.subarray(offset, offset + length), k, last));
  }
  return Buffer.concat(parts);
}

const open = (f, share, password) => f.deriveKeys(share.id, f.base64urlDecode(share.secret), password, 1000);

// 16-byte chunks, so every edge of the chunk layout shows with small files.
const files = plainFiles(folder, {
  'empty.txt': 0, 'one byte': 1, 'exactly one chunk': 16, 'one chunk and a byte': 17,
  'Photos/two and a half chunks.jpg': 40, 'Été/nested/deep.bin': 1000,
});
const plainShare = makeShare(folder, files, { title: 'Holiday / Été', chunkSize: 16 });
const passwordShare = makeShare(folder, files.slice(0, 2), { password: 'p\u00e4ssw\u00f6rd', chunkSize: 16 });

for (const [name, f] of [['worker', format], ['page', pageFormat]]) {
  describe(`the share format of the ${name}`, () => {
    test('derives the access token whose hash the application stored', async () => {
      const k = await open(f, plainShare, null);
      assert.equal(f.base64urlEncode(k.accessToken), plainShare.accessToken);
      assert.equal(await f.sha256Hex(k.accessToken), plainShare.accessHash);
    });

    test('opens the manifest and every file, whatever its size in chunks', async () => {
      const { contentKey } = await open(f, plainShare, null);
      const manifest = await f.openManifest(plainShare.objects.manifest, contentKey);
      assert.equal(manifest.title, 'Holiday / Été');
      assert.equal(manifest.chunkSize, 16);
      assert.deepEqual(manifest.files.map((file) => [file.path, file.size]), files.map((file) => [file.path, file.bytes.length]));
      for (let i = 0; i < files.length; i++) {
        assert.equal(plainShare.objects[`f/${i}`].length, f.encryptedSize(files[i].bytes.length, 16), files[i].path);
        assert.deepEqual(await openFile(f, contentKey, plainShare, manifest, i), files[i].bytes, files[i].path);
      }
    });

    test('takes the password in either Unicode form, and no other', async () => {
      const decomposed = 'pa\u0308sswo\u0308rd';
      const k = await open(f, passwordShare, decomposed);
      assert.equal(f.base64urlEncode(k.accessToken), passwordShare.accessToken);
      const manifest = await f.openManifest(passwordShare.objects.manifest, k.contentKey);
      assert.deepEqual(await openFile(f, k.contentKey, passwordShare, manifest, 1), files[1].bytes);

      for (const wrong of [null, 'passwort', 'P\u00e4ssw\u00f6rd']) {
        const other = await open(f, passwordShare, wrong);
        assert.notEqual(await f.sha256Hex(other.accessToken), passwordShare.accessHash, String(wrong));
        await assert.rejects(f.openManifest(passwordShare.objects.manifest, other.contentKey));
      }
    });

    test('refuses a chunk that was changed, moved, cut off or opened as the wrong one', async () => {
      const k = await open(f, plainShare, null);
      const index = 4; // 40 bytes: chunks of 16, 16 and 8
      const sealed = plainShare.objects[`f/${index}`];
      const key = await f.aesKey(await f.fileKey(k.contentKey, index));
      const chunk = (n) => sealed.subarray(n * 32, Math.min((n + 1) * 32, sealed.length));
      const flipped = Uint8Array.from(chunk(1));
      flipped[3] ^= 1;

      assert.deepEqual(Buffer.from(await f.openChunk(key, chunk(1), 1, false)), files[index].bytes.subarray(16, 32));
      const refused = [
        ['a changed byte', flipped, 1, false],
        ['chunk 2 read as chunk 1', chunk(2), 1, false],
        ['the last chunk read as not last', chunk(2), 2, false],
        ['a middle chunk read as last (the file cut after it)', chunk(1), 1, true],
        ['a chunk under another file key', chunk(0), 0, false, await f.aesKey(await f.fileKey(k.contentKey, 3))],
        ['fewer bytes than a tag', chunk(0).subarray(0, 15), 0, false],
      ];
      for (const [what, bytes, n, last, otherKey] of refused)
        await assert.rejects(f.openChunk(otherKey ?? key, bytes, n, last), what);
    });

    test('lays out chunks as the application seals them', () => {
      assert.deepEqual(f.chunkNonce(258, false), Uint8Array.from([0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0]));
      assert.deepEqual(f.chunkNonce(0, true), Uint8Array.from([0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1]));
      assert.equal(f.encryptedSize(0, 1048576), 16);
      assert.equal(f.encryptedSize(1048576, 1048576), 1048592);
      assert.equal(f.encryptedSize(1048577, 1048576), 1048609);
      assert.deepEqual(f.chunkRange(0, 16, 0), { offset: 0, length: 16, last: true });
      assert.deepEqual(f.chunkRange(40, 16, 2), { offset: 64, length: 24, last: true });
      assert.deepEqual(f.chunkRange(32, 16, 1), { offset: 32, length: 32, last: true });
    });

    test('reads only unpadded base64url and share ids', () => {
      assert.deepEqual(f.base64urlDecode('-_8'), Uint8Array.from([0xfb, 0xff]));
      assert.equal(f.base64urlEncode(Uint8Array.from([0xfb, 0xff])), '-_8');
      for (const bad of ['+/8', '-_8=', 'a b', 'abcde', 'é', '-_9']) assert.equal(f.base64urlDecode(bad), null, bad);
      assert.ok(f.isShareID(plainShare.id));
      for (const bad of ['A'.repeat(21), 'A'.repeat(23), 'A'.repeat(21) + '+', 'A'.repeat(21) + 'é'])
        assert.ok(!f.isShareID(bad), bad);
    });
  });
}

describe('the link metadata', () => {
  const meta = () => JSON.parse(plainShare.objects['meta.json'].toString());

  test('reads what the application writes', () => {
    const read = format.readMeta(plainShare.objects['meta.json'].toString());
    assert.equal(read.accessHash, plainShare.accessHash);
    assert.equal(read.fileCount, files.length);
    assert.equal(read.expiresAt, null);
    assert.equal(read.maxDownloads, null);
    assert.deepEqual(read.encryptedSizes, files.map((file) => format.encryptedSize(file.bytes.length, 16)));
  });

  test('refuses metadata it does not understand', () => {
    const variants = {
      'another version': { v: 2 },
      'no access hash': { accessHash: undefined },
      'an access hash in capitals': { accessHash: 'A'.repeat(64) },
      'a short ticket key': { ticketKey: 'ab' },
      'a download count as text': { downloads: '0' },
      'a fractional limit': { maxDownloads: 1.5 },
      'a negative expiry': { expiresAt: -1 },
      'one size too few': { encryptedSizes: [16] },
      'a password flag as number': { needsPassword: 0 },
    };
    for (const [what, change] of Object.entries(variants))
      assert.equal(format.readMeta(JSON.stringify({ ...meta(), ...change })), null, what);
    assert.equal(format.readMeta('not json'), null);
    assert.equal(format.readMeta('null'), null);
  });

  test('writes it back in sorted key order, keeping keys it does not know', () => {
    const text = format.writeMeta({ ...meta(), downloads: 3, zeta: true, lastTicketAt: 5 });
    const keys = Object.keys(JSON.parse(text));
    assert.deepEqual(keys, [...keys].sort());
    assert.ok(keys.includes('zeta'));
    assert.equal(JSON.parse(text).downloads, 3);
  });
});
