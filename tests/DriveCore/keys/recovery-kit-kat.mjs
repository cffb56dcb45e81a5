// Known answers for RecoveryKitTest, computed with Node's own crypto module so that the test
// compares our bytes with an implementation that shares no code with ours.
// Run: node recovery-kit-kat.mjs
import crypto from 'node:crypto';

const bytes = (from, count) => Buffer.from(Array.from({ length: count }, (_, i) => (from + i) & 0xff));

// Decomposed "é" on purpose: the passphrase's bytes are used exactly as typed.
const passphrase = 'cafe\u0301 \u2713 horse';
const salt = bytes(0x10, 16);
const nonce = bytes(0xa0, 12);
const key = crypto.pbkdf2Sync(Buffer.from(passphrase, 'utf8'), salt, 600000, 32, 'sha256');

function code(payload) {
  const c = crypto.createCipheriv('chacha20-poly1305', key, nonce, { authTagLength: 16 });
  const sealed = Buffer.concat([c.update(Buffer.from(JSON.stringify(payload), 'utf8')), c.final(), c.getAuthTag()]);
  return 'CDKIT1.' + Buffer.concat([salt, nonce, sealed]).toString('base64url');
}

// Keys in sorted order, compact: the form our encoder writes.
const payload = {
  accessKeyID: 'AKIA-test',
  bucket: 'my-drive',
  cloudflareKey: 'cf-token_123',
  driveName: "Ada's Drive \u2601",
  endpoint: 'https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com',
  secretAccessKey: 's3cr3t/+key=',
  v: 1,
};
const { cloudflareKey, ...withoutToken } = payload;

console.log('key', key.toString('hex'));
console.log('withToken', code(payload));
console.log('withoutToken', code(withoutToken));
