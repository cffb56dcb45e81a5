// The link page (share-worker/) in the real Workers runtime: npm miniflare, whose workerd
// runs the three modules under the names the application uploads them with, on a free
// loopback port, with a local in-memory R2 bucket bound as BUCKET. stop() ends workerd.
import { Miniflare } from 'miniflare';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const shareWorkerFolder = fileURLToPath(new URL('../../share-worker/', import.meta.url));
export const moduleNames = ['worker.js', 'format.js', 'assets.js'];

// The newest date this workerd knows; the application deploys with a later one.
const compatibilityDate = '2025-07-18';

export async function startLinkPage() {
  const modules = await Promise.all(
    moduleNames.map(async (name) => {
      const file = path.join(shareWorkerFolder, name);
      return { type: 'ESModule', path: file, contents: await fs.readFile(file, 'utf8') };
    }),
  );
  const runtime = new Miniflare({
    modules,
    modulesRoot: shareWorkerFolder,
    r2Buckets: ['BUCKET'],
    compatibilityDate,
    host: '127.0.0.1',
    port: 0,
  });
  try {
    const url = await runtime.ready;
    const bucket = await runtime.getR2Bucket('BUCKET');
    return {
      url, // http://127.0.0.1:<port>/
      bucket,
      // Runs the daily schedule once and waits until it is done.
      async scheduled() {
        const worker = await runtime.getWorker();
        return worker.scheduled({ cron: '17 3 * * *' });
      },
      async stop() {
        await runtime.dispose();
      },
    };
  } catch (error) {
    await runtime.dispose();
    throw error;
  }
}
