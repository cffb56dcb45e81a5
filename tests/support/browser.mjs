// Debian's chromium, headless, driven by npm puppeteer-core, with a fresh profile folder that
// close() removes again. Downloads are allowed and land in the profile under their download
// ids; downloaded(name) waits for the one with that suggested file name and gives its path,
// downloadStates() says how each one stands, and filesOf(name) lists what it left.
import puppeteer from 'puppeteer-core';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';

// As root, and on a closed network, chromium stalls without these.
const flags = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage',
];

// `watchNetwork: false` leaves the network unwatched: DevTools then keeps no copies of the
// responses' bodies, up to 200 MB of them in the page's process, which a user's browser never
// holds; a measure of the page's memory needs that, and then no request events arrive.
export async function startBrowser({ watchNetwork = true } = {}) {
  const profile = await fs.mkdtemp(path.join(os.tmpdir(), 'corvane-chromium-'));
  const downloadFolder = path.join(profile, 'downloads');
  let browser;
  try {
    await fs.mkdir(downloadFolder);
    browser = await puppeteer.launch({
      executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
      headless: true,
      userDataDir: profile,
      networkEnabled: watchNetwork,
      args: flags,
    });
    const session = await browser.target().createCDPSession();
    const downloads = new Map(); // suggested name -> { guid, state, done: Promise<path> }
    const finish = new Map(); // guid -> { resolve, reject }
    const waiting = new Map(); // suggested name -> resolve, for downloaded() calls made before it began
    session.on('Browser.downloadWillBegin', ({ guid, suggestedFilename }) => {
      const started = {
        guid,
        state: 'inProgress',
        done: new Promise((resolve, reject) => finish.set(guid, { resolve, reject })),
      };
      started.done.catch(() => {}); // a download nobody waits for may be cancelled
      downloads.set(suggestedFilename, started);
      waiting.get(suggestedFilename)?.(started);
      waiting.delete(suggestedFilename);
    });
    session.on('Browser.downloadProgress', ({ guid, state }) => {
      for (const started of downloads.values()) if (started.guid === guid) started.state = state;
      if (state === 'completed') finish.get(guid)?.resolve(path.join(downloadFolder, guid));
      if (state === 'canceled') finish.get(guid)?.reject(new Error(`download ${guid} was cancelled`));
    });
    await session.send('Browser.setDownloadBehavior', { behavior: 'allowAndName', downloadPath: downloadFolder, eventsEnabled: true });

    return {
      browser,
      async newPage() {
        const page = await browser.newPage();
        page.setDefaultTimeout(30_000);
        return page;
      },
      // The names of the downloads that have begun so far.
      downloadNames: () => [...downloads.keys()],
      // Suggested name -> "inProgress", "completed" or "canceled".
      downloadStates: () => Object.fromEntries([...downloads].map(([name, { state }]) => [name, state])),
      // The paths of the files that the download of that name left in the download folder,
      // finished or not; none for a download that never began.
      async filesOf(name) {
        const guid = downloads.get(name)?.guid;
        if (!guid) return [];
        const files = await fs.readdir(downloadFolder);
        return files.filter((file) => file.startsWith(guid)).map((file) => path.join(downloadFolder, file));
      },
      // The page hands a file over before chromium reports that its download began.
      async downloaded(name, timeout = 30_000) {
        let timer;
        const started = downloads.get(name) ?? await new Promise((resolve, reject) => {
          waiting.set(name, resolve);
          timer = setTimeout(() => {
            waiting.delete(name);
            reject(new Error(`no download named ${name}; begun: ${[...downloads.keys()].join(', ')}`));
          }, timeout);
        }).finally(() => clearTimeout(timer));
        return started.done;
      },
      async close() {
        await browser.close().catch(() => {});
        await fs.rm(profile, { recursive: true, force: true });
      },
    };
  } catch (error) {
    await browser?.close().catch(() => {});
    await fs.rm(profile, { recursive: true, force: true });
    throw error;
  }
}
