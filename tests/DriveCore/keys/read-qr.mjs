// Reads the QR symbol in a binary greyscale image (PGM, "P5") and prints the text it holds, with
// an independent decoder (npm jsqr). Usage: node read-qr.mjs <image.pgm>
import { readFileSync } from 'node:fs';
import jsQR from 'jsqr';

const file = readFileSync(process.argv[2]);
const header = file.toString('latin1', 0, 64).match(/^P5\s+(\d+)\s+(\d+)\s+255\s/);
if (!header) {
  console.error('not a binary PGM image');
  process.exit(2);
}
const [width, height] = [Number(header[1]), Number(header[2])];
const grey = file.subarray(header[0].length);
const rgba = new Uint8ClampedArray(width * height * 4);
for (let i = 0; i < width * height; i++) {
  rgba.set([grey[i], grey[i], grey[i], 255], i * 4);
}
const symbol = jsQR(rgba, width, height);
if (!symbol) {
  console.error('no QR symbol found');
  process.exit(1);
}
process.stdout.write(symbol.data);
