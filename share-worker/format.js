// The share format, read side: the keys, sealed chunks, manifest and link metadata of a share
// link, with Web Crypto only. The application seals what this opens, so every label, salt,
// nonce and size below must stay exactly as the application writes them.
//
// The worker imports this module, and the page runs it too: pageModule() writes the page's
// part of it out again from the functions' own source text, so there is one copy of the format.
// Those functions therefore use nothing of this module but each other and the constants that
// pageModule() writes with them.

export const SHARES_FOLDER = 'ovra-shares';
export const FORMAT_VERSION = 1;
export const TAG_SIZE = 16;
export const KEY_SIZE = 32;

export function utf8(text) {
  return new TextEncoder().encode(text);
}

export function concatBytes(a, b) {
  const out = new Uint8Array(a.length + b.length);
  out.set(a, 0);
  out.set(b, a.length);
  return out;
}

// Unpadded base64url: share ids, secrets, the access header and tickets.
export function base64urlEncode(bytes) {
  let binary = '';
  for (const byte of bytes) binary += String.fromCharCode(byte);
  return btoa(binary).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}

// Null for anything but unpadded base64url in its one canonical spelling: unused low bits of
// the last character must be zero, so no two texts stand for the same bytes.
export function base64urlDecode(text) {
  if (typeof text !== 'string' || !/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) return null;
  const padded = text.replaceAll('-', '+').replaceAll('_', '/') + '='.repeat((4 - (text.length % 4)) % 4);
  let bytes;
  try {
    bytes = Uint8Array.from(atob(padded), (c) => c.charCodeAt(0));
  } catch {
    return null;
  }
  return base64urlEncode(bytes) === text ? bytes : null;
}

export function hexEncode(bytes) {
  return Array.from(bytes, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// Null for an odd length or anything but hexadecimal digits.
export function hexDecode(text) {
  if (typeof text !== 'string' || !/^(?:[0-9a-fA-F]{2})*$/.test(text)) return null;
  return Uint8Array.from(text.match(/../g) ?? [], (pair) => parseInt(pair, 16));
}

export async function sha256Hex(bytes) {
  return hexEncode(new Uint8Array(await crypto.subtle.digest('SHA-256', bytes)));
}

// 16 random bytes as unpadded base64url: exactly 22 characters of its alphabet.
export function isShareID(text) {
  return typeof text === 'string' && /^[A-Za-z0-9_-]{22}$/.test(text);
}

// HKDF-SHA256 to 32 bytes.
export async function hkdf(material, salt, info) {
  const key = await crypto.subtle.importKey('raw', material, 'HKDF', false, ['deriveBits']);
  const bits = await crypto.subtle.deriveBits({ name: 'HKDF', hash: 'SHA-256', salt, info: utf8(info) }, key, 256);
  return new Uint8Array(bits);
}

// PBKDF2-HMAC-SHA256 of the composed (NFC) password, salted with the share id.
export async function passwordKey(password, shareID, rounds) {
  const key = await crypto.subtle.importKey('raw', utf8(password.normalize('NFC')), 'PBKDF2', false, ['deriveBits']);
  const salt = utf8('ovra-share-pw:' + shareID);
  const bits = await crypto.subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt, iterations: rounds }, key, 256);
  return new Uint8Array(bits);
}

// The secret, then the password key when there is a password, make the key material; the
// content key and the access token are expanded from it with the share id as salt.
export async function deriveKeys(shareID, secret, password, rounds) {
  let material = secret;
  if (password !== null && password !== undefined)
    material = concatBytes(secret, await passwordKey(password, shareID, rounds));
  const salt = utf8(shareID);
  return {
    contentKey: await hkdf(material, salt, 'ovra-share v1 content'),
    accessToken: await hkdf(material, salt, 'ovra-share v1 access'),
  };
}

export async function fileKey(contentKey, index) {
  return hkdf(contentKey, new Uint8Array(0), 'ovra-share v1 file ' + index);
}

export async function manifestKey(contentKey) {
  return hkdf(contentKey, new Uint8Array(0), 'ovra-share v1 manifest');
}

export async function aesKey(bytes) {
  return crypto.subtle.importKey('raw', bytes, 'AES-GCM', false, ['decrypt']);
}

export function chunkCount(plainSize, chunkSize) {
  return Math.max(1, Math.ceil(plainSize / chunkSize));
}

export function encryptedSize(plainSize, chunkSize) {
  return plainSize + TAG_SIZE * chunkCount(plainSize, chunkSize);
}

// Where sealed chunk k of a file lies in its object, and whether it is the last.
export function chunkRange(plainSize, chunkSize, k) {
  const count = chunkCount(plainSize, chunkSize);
  const plain = Math.max(0, Math.min(chunkSize, plainSize - k * chunkSize));
  return { offset: k * (chunkSize + TAG_SIZE), length: plain + TAG_SIZE, last: k === count - 1 };
}

// Zero, the chunk index as 8 big-endian bytes, then 1 for the last chunk: a chunk that was
// moved, or a file cut short after a full chunk, does not open.
export function chunkNonce(index, last) {
  const nonce = new Uint8Array(12);
  new DataView(nonce.buffer).setBigUint64(3, BigInt(index));
  nonce[11] = last ? 1 : 0;
  return nonce;
}

// Throws when the tag does not verify.
export async function openChunk(key, sealed, index, last) {
  if (sealed.length < TAG_SIZE) throw new Error('a sealed chunk is shorter than its tag');
  const iv = chunkNonce(index, last);
  return new Uint8Array(await crypto.subtle.decrypt({ name: 'AES-GCM', iv, tagLength: 128 }, key, sealed));
}

function isCount(value) {
  return Number.isSafeInteger(value) && value >= 0;
}

// The manifest's JSON, strictly: a share whose list does not read is not shown at all.
export function readManifest(json) {
  const m = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(json));
  const ok =
    m !== null && typeof m === 'object' && m.v === 1 && typeof m.title === 'string' &&
    isCount(m.chunkSize) && m.chunkSize > 0 && Array.isArray(m.files) &&
    m.files.every((f) =>
      f !== null && typeof f === 'object' && typeof f.path === 'string' && isCount(f.size) &&
      (f.modified === undefined || f.modified === null || typeof f.modified === 'string'));
  if (!ok) throw new Error('the manifest does not read');
  return m;
}

// Sealed under the manifest key with an all-zero nonce (a share seals one manifest). Throws
// when the tag does not verify or the JSON does not read.
export async function openManifest(object, contentKey) {
  const key = await aesKey(await manifestKey(contentKey));
  const json = await crypto.subtle.decrypt({ name: 'AES-GCM', iv: new Uint8Array(12), tagLength: 128 }, key, object);
  return readManifest(new Uint8Array(json));
}

// "meta.json", strictly; null when it is not the link metadata this page understands.
export function readMeta(text) {
  let m;
  try {
    m = JSON.parse(text);
  } catch {
    return null;
  }
  const optionalCount = (value) => value === null || value === undefined || isCount(value);
  const ok =
    m !== null && typeof m === 'object' && m.v === 1 &&
    typeof m.accessHash === 'string' && /^[0-9a-f]{64}$/.test(m.accessHash) &&
    typeof m.ticketKey === 'string' && /^[0-9a-f]{64}$/.test(m.ticketKey) &&
    typeof m.needsPassword === 'boolean' && isCount(m.pwRounds) && isCount(m.createdAt) &&
    optionalCount(m.expiresAt) && optionalCount(m.maxDownloads) && isCount(m.downloads) &&
    isCount(m.fileCount) && isCount(m.totalBytes) && Array.isArray(m.encryptedSizes) &&
    m.encryptedSizes.length === m.fileCount && m.encryptedSizes.every(isCount) &&
    optionalCount(m.lastTicketAt);
  if (!ok) return null;
  m.expiresAt ??= null;
  m.maxDownloads ??= null;
  return m;
}

// The metadata written back after a download was counted: sorted keys, as the application
// writes it, and keys this page does not know kept.
export function writeMeta(meta) {
  const sorted = {};
  for (const key of Object.keys(meta).sort()) sorted[key] = meta[key];
  return JSON.stringify(sorted);
}

// What the page needs of this module, written out as a module of its own.
const PAGE_CONSTANTS = { TAG_SIZE };
const PAGE_FUNCTIONS = [
  utf8, concatBytes, base64urlEncode, base64urlDecode, hexEncode, sha256Hex, isShareID, hkdf, passwordKey,
  deriveKeys, fileKey, manifestKey, aesKey, chunkCount, encryptedSize, chunkRange, chunkNonce, openChunk,
  isCount, readManifest, openManifest,
];

export function pageModule() {
  const constants = Object.entries(PAGE_CONSTANTS).map(([name, value]) => `export const ${name} = ${JSON.stringify(value)};`);
  const functions = PAGE_FUNCTIONS.map((fn) => `export ${fn.toString()}`);
  return ['// The share format, as the link page reads it.', ...constants, ...functions, ''].join('\n');
}
