// What the browser gets: the page, its style sheet, its script and the scripts of its workers.
// The page's script runs runPage() below, written out from its own source text, with the share
// format of format.js as its one import; so runPage uses nothing else of this module. The same
// goes for the workers' scripts, runSaveWorker() and runOpener().

import { pageModule } from './format.js';

// Scripts, styles and requests only from this worker; no frames, no forms posted anywhere.
export const contentSecurityPolicy =
  "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; " +
  "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

function htmlPage(title, body) {
  return `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
<title>${title}</title>
<link rel="stylesheet" href="/assets/page.css">
${body.script ? '<script type="module" src="/assets/page.js"></script>\n' : ''}</head>
<body>
<main id="main">
${body.html}
</main>
</body>
</html>
`;
}

export const sharePage = htmlPage('Shared files', {
  script: true,
  html: `<h1 tabindex="-1">Shared files</h1>
<p role="status">Opening the link…</p>
<noscript><p>This page needs JavaScript: your browser decrypts the files, so their key never leaves it.</p></noscript>`,
});

export const missingPage = htmlPage('Not found', {
  script: false,
  html: `<h1>Nothing here</h1>
<p>This address is not a share link. Check that you copied the whole link.</p>`,
});

const style = `
:root { color-scheme: light dark; --accent: #0b57d0; --bad: #b3261e; --line: #8884; }
@media (prefers-color-scheme: dark) { :root { --accent: #a8c7fa; --bad: #f2b8b5; } }
body { font: 16px/1.5 system-ui, sans-serif; margin: 0; }
main { max-width: 44rem; margin: 3rem auto; padding: 0 1.25rem; }
h1 { font-size: 1.6rem; line-height: 1.25; overflow-wrap: anywhere; }
h1:focus { outline: none; }
ul { list-style: none; padding: 0; margin: 1.5rem 0; }
li { display: grid; grid-template-columns: 1fr auto; gap: 0.25rem 1rem; padding: 0.75rem 0; border-top: 1px solid var(--line); }
.path { overflow-wrap: anywhere; }
.size, .state { font-size: 0.9rem; opacity: 0.8; }
li button { grid-row: span 2; align-self: center; }
li progress { grid-column: 1 / -1; width: 100%; }
.state[data-state="damaged"], .state[data-state="failed"], [role="alert"] { color: var(--bad); opacity: 1; }
button { font: inherit; padding: 0.45rem 1.1rem; border-radius: 0.5rem; border: 1px solid var(--accent);
  background: var(--accent); color: Canvas; cursor: pointer; }
button:disabled { opacity: 0.5; cursor: default; }
button:focus-visible, input:focus-visible { outline: 3px solid var(--accent); outline-offset: 2px; }
label { display: block; font-weight: 600; margin-bottom: 0.25rem; }
input { font: inherit; padding: 0.4rem 0.6rem; width: min(100%, 20rem); border: 1px solid var(--line); border-radius: 0.4rem; }
input[aria-invalid="true"] { border-color: var(--bad); }
form p { margin: 0.5rem 0; }
.visually-hidden { position: absolute; width: 1px; height: 1px; overflow: hidden; clip-path: inset(50%); white-space: nowrap; }
`;

// The page's service worker, for saving files as they are decrypted: the page posts a save
// (an id, the file's name and size, and a message port), then opens the save's address; the
// answer is a download whose bytes come down that port one chunk at a time, transferred, not
// copied. The worker says `taken` for each chunk the download has taken in, and the page keeps
// only a few chunks on their way, so the download never waits for the page while the page
// decrypts the next chunks. A damaged file errors the download, which makes the browser drop
// what it had of it. Runs in the browser on its own; uses nothing else here.
function runSaveWorker(scope) {
  const saves = new Map(); // id -> { name, size, port }, until its address is opened

  self.addEventListener('install', () => self.skipWaiting());

  self.addEventListener('message', (event) => {
    const save = event.data?.save; // other messages only keep this worker running
    if (!save || !event.ports[0]) return;
    saves.set(save.id, { name: save.name, size: save.size, port: event.ports[0] });
    event.ports[0].postMessage({ ready: true });
  });

  self.addEventListener('fetch', (event) => {
    const url = new URL(event.request.url);
    if (event.request.method !== 'GET' || !url.pathname.startsWith(scope)) return;
    const id = url.pathname.slice(scope.length);
    const save = saves.get(id);
    if (!save) return;
    saves.delete(id);
    event.respondWith(new Response(stream(save.port), {
      headers: {
        'Content-Type': 'application/octet-stream',
        'Content-Disposition': disposition(save.name),
        'Content-Length': String(save.size),
        'Cache-Control': 'no-store',
        'X-Content-Type-Options': 'nosniff',
      },
    }));
  });

  // Chunks wait here until the download asks for one; a damaged file ends it at once.
  function stream(port) {
    const arrived = [];
    let done = false;
    let damaged = false;
    let wake = null;
    return new ReadableStream({
      start(controller) {
        port.onmessage = ({ data }) => {
          if (data.bytes) arrived.push(data.bytes);
          else if (data.done) done = true;
          else {
            damaged = true;
            arrived.splice(0);
            controller.error(new Error('the file is damaged'));
            port.close();
          }
          wake?.();
          wake = null;
        };
      },
      async pull(controller) {
        while (!arrived.length && !done && !damaged) await new Promise((resolve) => (wake = resolve));
        if (damaged) return;
        if (arrived.length) {
          controller.enqueue(arrived.shift());
          port.postMessage({ taken: true });
          hastenCollection();
          return;
        }
        controller.close();
        port.close();
      },
      cancel() {
        port.postMessage({ cancelled: true });
        port.close();
      },
    }, { highWaterMark: 1 });
  }

  // The chunks the download has taken die young here, but this worker makes next to nothing
  // else, so its young generation fills, and is collected, only after hundreds of them: some
  // hundred MB on a large file. A couple of hundred KB of short-lived objects for each chunk
  // brings a young collection every few chunks, which frees them.
  let made = null; // kept, so that no compiler leaves the objects out
  function hastenCollection() {
    for (let n = 0; n < 10_000; n++) made = { n };
    return made;
  }

  // The name as typed, and a plain-ASCII stand-in for browsers that do not read the first.
  function disposition(name) {
    const plain = name.replace(/[^\x20-\x7e]|["\\%;]/g, '_');
    const encoded = encodeURIComponent(name).replace(/['()*]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
    return `attachment; filename="${plain}"; filename*=UTF-8''${encoded}`;
  }
}

// The page's decryption worker: it opens the sealed chunks the page posts, so that decryption,
// which can hold a thread for a while, never holds up the page's requests or the download.
// Each message is { id, key, sealed, index, last }; the answer gives the chunk's buffer back,
// with `plain` when the chunk opened, null when it did not, and `unable` set when this worker
// could not load the share format. Runs in the browser on its own; `formatAt` is the address
// of the share format module.
function runOpener(formatAt) {
  const loaded = import(formatAt);
  loaded.catch(() => {});
  self.addEventListener('message', async ({ data: { id, key, sealed, index, last } }) => {
    let format;
    try {
      format = await loaded;
    } catch {
      self.postMessage({ id, sealed, unable: true }, [sealed.buffer]);
      return;
    }
    let plain = null;
    try {
      plain = await format.openChunk(key, sealed, index, last);
    } catch {}
    self.postMessage({ id, plain, sealed }, plain ? [plain.buffer, sealed.buffer] : [sealed.buffer]);
  });
}

// The service worker's script, and the addresses of saves, which only it answers.
const saveWorker = '/assets/save.js';
export const saveScope = '/assets/save/';
const opener = '/assets/open.js';

// Runs in the browser. `format` is the share format module (pageModule() of format.js);
// `saveAt` names the service worker's script and its scope, and the decryption worker's script.
function runPage(format, saveAt) {
  const CHUNKS_A_REQUEST = 16;
  const CHUNKS_AHEAD = 6; // fetched and decrypted ahead of the one handed on
  const OPENERS = 2; // decryption workers
  const CHUNKS_ON_THEIR_WAY = 4; // handed to the service worker, not yet taken by the download
  const TEXT = {
    incomplete: 'This link is incomplete. Copy the whole link, including everything after the # sign, and open it again.',
    // The secret reads, but the link page does not know it: a character of the link was changed.
    wrongLink: 'This link is incomplete or wrong. Copy the whole link, including everything after the # sign, and open it again.',
    notFound: "This link doesn't work. The person who shared it may have stopped sharing, or the address is wrong.",
    expired: 'This link has expired. Ask the person who shared it for a new link.',
    used: 'This link has reached its download limit. Ask the person who shared it for a new link.',
    damagedLink: "This link's details are damaged, so its files can't be opened.",
    wrongPassword: "That password isn't right. Check it and try again.",
    noPassword: 'Type the password you were given with the link.',
    offline: "The files couldn't be reached. Check your internet connection and try again.",
    failed: 'Something went wrong. Try again in a moment.',
    ticketTimedOut: 'This download took too long and was stopped. Start it again.',
    damagedFile: (name) => `“${name}” is damaged and can't be decrypted, so it wasn't saved.`,
  };

  const main = document.getElementById('main');
  const id = location.pathname.split('/').pop();
  const secret = format.base64urlDecode(location.hash.slice(1));

  // What the server said, as a text of TEXT; anything unexpected is `failed`.
  class Refusal extends Error {
    constructor(key) {
      super(key);
      this.key = key;
    }
  }
  const text = (error) => {
    if (error instanceof Refusal) return TEXT[error.key] ?? TEXT.failed;
    if (error instanceof TypeError) return TEXT.offline; // fetch could not reach the server
    return TEXT.failed;
  };

  // The server's error answer, as a Refusal.
  function refusal(status, code) {
    if (status === 404) return new Refusal('notFound');
    if (status === 410) return new Refusal(code === 'used' ? 'used' : 'expired');
    if (status === 409 || (status === 500 && code === 'damaged')) return new Refusal('damagedLink');
    if (status === 403) return new Refusal(code === 'ticket' ? 'ticketTimedOut' : 'wrongLink');
    return new Refusal('failed');
  }

  async function api(path, options = {}) {
    const response = await fetch(`/api/s/${id}${path}`, { cache: 'no-store', ...options });
    if (response.ok) return response;
    let code = null;
    try {
      code = (await response.json()).error;
    } catch {}
    throw refusal(response.status, code);
  }

  function element(tag, attributes = {}, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes)) {
      if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
      else node.setAttribute(name, value);
    }
    node.append(...children);
    return node;
  }

  // Replaces the page's content and moves focus to `focus`, or else to the new heading, so a
  // screen reader reads the new state and the keyboard starts there.
  function show(heading, focus, ...content) {
    const title = element('h1', { tabindex: '-1' }, heading);
    main.replaceChildren(title, ...content);
    document.title = heading;
    (focus ?? title).focus();
  }

  function showError(message) {
    show("This link can't be opened", null, element('p', { role: 'alert' }, message));
  }

  function byteCount(bytes) {
    if (bytes < 1000) return bytes === 1 ? '1 byte' : `${bytes} bytes`;
    const units = ['KB', 'MB', 'GB', 'TB'];
    let value = bytes / 1000;
    let unit = 0;
    while (value >= 1000 && unit < units.length - 1) {
      value /= 1000;
      unit++;
    }
    return `${value.toFixed(value < 10 ? 1 : 0)} ${units[unit]}`;
  }

  let keys = null; // contentKey and accessToken, once the link has opened
  let ticket = null; // { ticket, renewAt }: the download ticket, and when to renew it
  let renewing = null; // the renewal on its way

  const access = () => ({ 'X-Ovra-Access': format.base64urlEncode(keys.accessToken) });

  // A ticket counts one download. Its life is what the share takes on a fair line; on a
  // slower one the ticket is renewed, uncounted, once half its life is gone by this browser's
  // clock, and only while a download goes on.
  async function takeTicket(headers) {
    const answer = await (await api('/ticket', { method: 'POST', headers: { ...access(), ...headers } })).json();
    ticket = { ticket: answer.ticket, renewAt: Date.now() + (answer.seconds * 1000) / 2 };
  }

  async function currentTicket() {
    if (Date.now() >= ticket.renewAt) {
      renewing ??= takeTicket({ 'X-Ovra-Ticket': ticket.ticket }).finally(() => (renewing = null));
      await renewing;
    }
    return ticket.ticket;
  }

  // Renews the ticket when it is due while a download waits on a slow answer or on the
  // browser's download, not only when it asks for more. Gives back what stops it.
  function keepTicket() {
    let timer;
    let on = true;
    const next = (delay) => {
      if (on && ticket) timer = setTimeout(() => currentTicket().then(() => next(), () => next(10_000)), delay ?? ticket.renewAt - Date.now());
    };
    next();
    return () => {
      on = false;
      clearTimeout(timer);
    };
  }

  async function open(password, rounds) {
    keys = await format.deriveKeys(id, secret, password, rounds);
    const sealed = new Uint8Array(await (await api('/manifest', { headers: access() })).arrayBuffer());
    try {
      return await format.openManifest(sealed, keys.contentKey);
    } catch {
      throw new Refusal('damagedLink');
    }
  }

  function askPassword(rounds, problem) {
    const error = element('p', { id: 'password-problem', role: 'alert' }, problem ?? '');
    const input = element('input', {
      id: 'password', type: 'password', autocomplete: 'off', 'aria-describedby': 'password-problem',
    });
    if (problem) input.setAttribute('aria-invalid', 'true');
    const button = element('button', { type: 'submit' }, 'Open');
    const form = element('form', {
      onsubmit: async (event) => {
        event.preventDefault();
        if (!input.value) {
          error.textContent = TEXT.noPassword;
          input.setAttribute('aria-invalid', 'true');
          input.focus();
          return;
        }
        button.disabled = true;
        error.textContent = '';
        try {
          showFiles(await open(input.value, rounds));
        } catch (failure) {
          // With a password, a refused access value means the password was wrong.
          if (failure instanceof Refusal && failure.key === 'wrongLink') askPassword(rounds, TEXT.wrongPassword);
          else showError(text(failure));
        }
      },
    }, element('label', { for: 'password' }, 'Password'), input, error, element('p', {}, button));
    show('This link needs a password', input, element('p', {}, TEXT.noPassword), form);
  }

  // Files are saved as they are decrypted, chunk by chunk: the page reads the sealed chunks,
  // its decryption workers open them, and the page's service worker answers a save address of
  // its own with the bytes the page hands it; the browser's download takes them from there, so
  // no file is ever held whole. A browser without service workers gets each file whole from
  // memory instead.
  let registering = null; // the service worker's registration, once asked for

  function saveWorkerReady() {
    registering ??= (async () => {
      const registration = await navigator.serviceWorker.register(saveAt.worker, { scope: saveAt.scope });
      const worker = registration.installing ?? registration.waiting;
      if (worker) {
        await new Promise((resolve) => {
          const settled = () => ['activated', 'redundant'].includes(worker.state) && resolve();
          worker.addEventListener('statechange', settled);
          settled();
        });
      }
      if (!registration.active) throw new Error('the save worker did not start');
      return registration;
    })();
    registering.catch(() => {}); // a download that needs it sees the failure
    return registering;
  }

  // Opens sealed chunks in the decryption worker, or in the page where it can't: a function of
  // (key, sealed, index, last) that resolves with { plain, sealed }, `plain` null for a chunk
  // that does not open, `sealed` the chunk again, in a buffer that may be used again.
  let opening = null;

  function chunkOpener() {
    const inPage = async (key, sealed, index, last) => {
      try {
        return { plain: await format.openChunk(key, sealed, index, last), sealed };
      } catch {
        return { plain: null, sealed };
      }
    };
    if (opening) return opening;
    const workers = [];
    try {
      for (let n = 0; n < OPENERS; n++) workers.push(new Worker(saveAt.opener));
    } catch {
      for (const worker of workers) worker.terminate();
      return (opening = inPage);
    }
    const waiting = new Map(); // id -> the chunk's key, index and last, and its promise's ends
    let failed = false; // from then on the page opens the chunks itself
    for (const worker of workers) {
      worker.addEventListener('message', ({ data }) => {
        const { key, index, last, resolve } = waiting.get(data.id);
        waiting.delete(data.id);
        if (data.unable) failed = true;
        resolve(data.unable ? inPage(key, data.sealed, index, last) : data);
      });
      // The chunks it had went down with it.
      worker.addEventListener('error', () => {
        failed = true;
        for (const [id, { reject }] of waiting) {
          if (id % OPENERS !== workers.indexOf(worker)) continue;
          reject(new Error('a decryption worker stopped'));
          waiting.delete(id);
        }
      });
    }
    let next = 0;
    return (opening = (key, sealed, index, last) => failed ? inPage(key, sealed, index, last) : new Promise((resolve, reject) => {
      const id = next++;
      waiting.set(id, { key, index, last, resolve, reject });
      workers[id % OPENERS].postMessage({ id, key, sealed, index, last }, [sealed.buffer]);
    }));
  }

  function follow(attributes) {
    const link = element('a', attributes);
    document.body.append(link);
    link.click();
    link.remove();
  }

  // A save in the browser's downloads, fed one chunk at a time: write() hands a chunk on (and
  // gives it away) once fewer than CHUNKS_ON_THEIR_WAY wait for the download, close() ends it
  // when the download has taken them all, abort() makes the browser drop it unfinished.
  // `progress(bytes)` as the download takes them.
  async function streamedSave(name, size, progress) {
    if (!navigator.serviceWorker) return heldSave(name, progress);
    let registration;
    try {
      registration = await saveWorkerReady();
    } catch {
      return heldSave(name, progress);
    }
    const id = crypto.randomUUID();
    const { port1: port, port2 } = new MessageChannel();
    const onTheirWay = []; // the sizes of the chunks handed on and not yet taken
    let taken = 0;
    let cancelled = false;
    let wake = null;
    let ready;
    const started = new Promise((resolve) => (ready = resolve));
    port.onmessage = ({ data }) => {
      if (data.ready) ready();
      if (data.taken) progress((taken += onTheirWay.shift()));
      if (data.cancelled) cancelled = true;
      wake?.();
    };
    registration.active.postMessage({ save: { id, name, size } }, [port2]);
    await started;
    follow({ href: saveAt.scope + id });
    // Messages keep the service worker running while the download goes on.
    const alive = setInterval(() => registration.active?.postMessage({ alive: true }), 10_000);
    const until = async (condition) => {
      while (!condition() && !cancelled) await new Promise((resolve) => (wake = resolve));
      if (cancelled) {
        clearInterval(alive);
        throw new Refusal('cancelled');
      }
    };
    return {
      async write(bytes) {
        await until(() => onTheirWay.length < CHUNKS_ON_THEIR_WAY);
        onTheirWay.push(bytes.length);
        port.postMessage({ bytes }, [bytes.buffer]);
      },
      async close() {
        await until(() => !onTheirWay.length);
        clearInterval(alive);
        port.postMessage({ done: true });
      },
      abort() {
        clearInterval(alive);
        cancelled = true; // a write still waiting for its turn gives up
        wake?.();
        port.postMessage({ damaged: true });
      },
    };
  }

  function heldSave(name, progress) {
    const parts = [];
    let held = 0;
    return {
      async write(bytes) {
        parts.push(bytes);
        progress((held += bytes.length));
      },
      async close() {
        const url = URL.createObjectURL(new Blob(parts, { type: 'application/octet-stream' }));
        follow({ href: url, download: name });
        setTimeout(() => URL.revokeObjectURL(url), 60_000);
      },
      abort: () => parts.splice(0),
    };
  }

  function showFiles(manifest) {
    const notice = element('div', { role: 'alert' });
    const saved = element('p', { role: 'status', class: 'visually-hidden' });
    let busy = false;
    const buttons = [];
    const setBusy = (value) => {
      busy = value;
      for (const button of buttons) button.disabled = value;
    };

    const rows = manifest.files.map((file, index) => {
      const state = element('span', { class: 'state', 'data-state': 'ready' });
      const progress = element('progress', { max: String(file.size), value: '0', hidden: '', 'aria-label': `Downloading ${file.path}` });
      const button = element('button', {
        type: 'button', 'aria-label': `Download ${file.path}`,
        onclick: () => run([index], button),
      }, 'Download');
      buttons.push(button);
      return {
        file, index, state, progress,
        node: element('li', {}, element('span', { class: 'path' }, file.path), button,
          element('span', { class: 'size' }, byteCount(file.size)), state, progress),
      };
    });

    // Downloads the files in turn. A damaged file is reported and the others go on; any other
    // failure would be the same for the rest, so it ends the run. Focus goes back to the button
    // that started it, which lost it while disabled.
    async function run(indexes, starter) {
      if (busy) return;
      setBusy(true);
      notice.replaceChildren();
      const say = (words) => notice.append(element('p', {}, words));
      try {
        for (const [n, index] of indexes.entries()) {
          try {
            await download(rows[index], manifest.chunkSize, n > 0);
          } catch (failure) {
            if (!failure.damaged) throw failure;
            say(TEXT.damagedFile(failure.damaged));
          }
        }
      } catch (failure) {
        const cancelled = failure instanceof Refusal && failure.key === 'cancelled'; // in the browser's downloads
        if (!cancelled) say(text(failure));
      } finally {
        setBusy(false);
        if (!document.activeElement || document.activeElement === document.body) starter.focus();
      }
    }

    // Reads a response's body into buffers of the caller's: fill(view) fills the view as far as
    // the body goes and gives back what it filled, in the same memory, which may now belong to
    // another buffer object; finish() lets the body go. Where the browser can, the body is read
    // straight into the view: a buffer of the browser's for every piece read would cost more
    // than the reading.
    function bodyReader(response) {
      let reader;
      // Cancelled, not only released: a body read to its last byte but never to its end keeps
      // its pipe from the network, some MB each, until the page's next garbage collection.
      const finish = () => reader.cancel().catch(() => {});
      try {
        reader = response.body.getReader({ mode: 'byob' });
      } catch {
        reader = null;
      }
      if (reader) {
        return {
          async fill(view) {
            // Each read takes the buffer away, and the view with it.
            let { buffer, byteOffset, length } = view;
            let filled = 0;
            while (filled < length) {
              const { done, value } = await reader.read(new Uint8Array(buffer, byteOffset + filled, length - filled));
              buffer = value.buffer;
              if (done) break;
              filled += value.length;
            }
            return new Uint8Array(buffer, byteOffset, filled);
          },
          finish,
        };
      }
      reader = response.body.getReader();
      let piece = new Uint8Array(0);
      return {
        async fill(view) {
          let filled = 0;
          while (filled < view.length) {
            if (!piece.length) {
              const { done, value } = await reader.read();
              if (done) break;
              piece = value;
            }
            const taken = Math.min(piece.length, view.length - filled);
            view.set(piece.subarray(0, taken), filled);
            piece = piece.subarray(taken);
            filled += taken;
          }
          return view.subarray(0, filled);
        },
        finish,
      };
    }

    // The plain chunks of one sealed file in order, as they are fetched and decrypted. Requests
    // bring a few chunks each, and the next one is on its way while one is read; up to
    // CHUNKS_AHEAD chunks are fetched and decrypted ahead of the one taken, and no more, so the
    // network, decryption and the download keep each other busy without the file piling up in
    // memory. `fetchRange(range)` answers a "bytes=a-b" range with a successful response or
    // throws. A chunk that does not open, or comes short, throws an error whose `damaged` is set.
    async function* plainChunks(fetchRange, key, size, chunkSize) {
      const count = format.chunkCount(size, chunkSize);
      const damaged = () => Object.assign(new Error('the file is damaged'), { damaged: true });

      // The sealed chunks from the requests in turn; the last one read may be short when the
      // object is. Chunk k is read into the buffer chunk k - CHUNKS_AHEAD had, which is back
      // from decryption by the time chunk k is asked for: a new buffer of a chunk's size for
      // each chunk would cost about as much as its decryption.
      const buffers = [];
      async function* sealedChunks() {
        const request = (first) => {
          const start = format.chunkRange(size, chunkSize, first).offset;
          const end = format.chunkRange(size, chunkSize, Math.min(count, first + CHUNKS_A_REQUEST) - 1);
          const response = fetchRange(`bytes=${start}-${end.offset + end.length - 1}`);
          response.catch(() => {}); // awaited in turn; one that fails after an earlier one is moot
          return response;
        };
        let next = request(0);
        for (let first = 0; first < count; first += CHUNKS_A_REQUEST) {
          const body = bodyReader(await next);
          if (first + CHUNKS_A_REQUEST < count) next = request(first + CHUNKS_A_REQUEST);
          for (let k = first; k < Math.min(count, first + CHUNKS_A_REQUEST); k++) {
            const { length } = format.chunkRange(size, chunkSize, k);
            buffers[k % CHUNKS_AHEAD] ??= new Uint8Array(format.chunkRange(size, chunkSize, 0).length);
            const sealed = await body.fill(buffers[k % CHUNKS_AHEAD].subarray(0, length));
            buffers[k % CHUNKS_AHEAD] = new Uint8Array(sealed.buffer);
            const short = sealed.length < length; // the chunk is gone to be decrypted after yield
            yield sealed;
            if (short) return;
          }
          body.finish();
        }
      }

      const sealed = sealedChunks();
      const open = chunkOpener();
      const ahead = []; // the chunks being fetched and decrypted, in order
      let asked = 0;
      const readAhead = () => {
        if (asked === count) return;
        const k = asked++;
        const opened = sealed.next().then(async ({ value }) => {
          const { length, last } = format.chunkRange(size, chunkSize, k);
          if (value?.length !== length) throw damaged();
          const { plain, sealed: given } = await open(key, value, k, last);
          buffers[k % CHUNKS_AHEAD] = new Uint8Array(given.buffer);
          if (!plain) throw damaged();
          return plain;
        });
        opened.catch(() => {}); // awaited in turn below
        ahead.push(opened);
      };
      for (let k = 0; k < CHUNKS_AHEAD; k++) readAhead();
      while (ahead.length) {
        const plain = await ahead.shift();
        readAhead();
        yield plain;
      }
    }

    async function download(row, chunkSize, laterInRun) {
      const { file, index, state, progress } = row;
      const setState = (name, words) => {
        state.dataset.state = name;
        state.textContent = words;
        progress.hidden = name !== 'downloading';
      };
      let running = true;
      const setDone = (bytes) => {
        if (!running) return;
        progress.value = bytes;
        const percent = file.size ? Math.floor((bytes * 100) / file.size) : 100;
        setState('downloading', `Downloading… ${percent} %`);
      };
      setDone(0);
      const stop = new AbortController();
      let save = null;
      let keeping = null;
      try {
        // A new run counts a download, unless it can reuse the ticket of an earlier run while
        // half its life is left; the later files of a run go on with the run's ticket.
        if (laterInRun && ticket) await currentTicket();
        else if (!ticket || Date.now() >= ticket.renewAt) await takeTicket();
        keeping = keepTicket();
        const key = await format.aesKey(await format.fileKey(keys.contentKey, index));
        const fetchRange = async (range) =>
          api(`/f/${index}`, { headers: { 'X-Ovra-Ticket': await currentTicket(), Range: range }, signal: stop.signal });
        try {
          for await (const plain of plainChunks(fetchRange, key, file.size, chunkSize)) {
            // The download begins with the first chunk that opened: a file damaged from its
            // start leaves nothing behind at all.
            save ??= await streamedSave(file.path.split('/').pop() || 'download', file.size, setDone);
            await save.write(plain);
          }
        } catch (failure) {
          // A chunk that does not open, or a sealed file the server finds damaged.
          const damaged = failure.damaged || (failure instanceof Refusal && failure.key === 'damagedLink');
          throw damaged ? Object.assign(new Error('damaged'), { damaged: file.path }) : failure;
        }
        await save.close();
        running = false;
        setState('saved', 'Saved');
        saved.textContent = `Saved “${file.path}”.`;
      } catch (failure) {
        running = false;
        stop.abort();
        save?.abort();
        if (failure instanceof Refusal && failure.key === 'ticketTimedOut') ticket = null;
        setState(failure.damaged ? 'damaged' : 'failed', failure.damaged ? 'Damaged: not saved' : 'Not saved');
        throw failure;
      } finally {
        keeping?.();
      }
    }

    const count = manifest.files.length;
    const total = manifest.files.reduce((sum, file) => sum + file.size, 0);
    const summary = element('p', {}, `${count} ${count === 1 ? 'file' : 'files'}, ${byteCount(total)}`);
    const all = element('button', { type: 'button', onclick: () => run(rows.map((row) => row.index), all) }, 'Download all');
    if (count > 1) buttons.push(all);
    // Now, so that the first download need not wait for them.
    saveWorkerReady();
    chunkOpener();
    show(manifest.title || 'Shared files', null, summary, ...(count > 1 ? [all] : []), notice,
      element('ul', {}, ...rows.map((row) => row.node)), saved);
  }

  async function start() {
    if (!format.isShareID(id)) return showError(TEXT.notFound);
    if (!secret || secret.length !== 32) return showError(TEXT.incomplete);
    try {
      const link = await (await api('')).json();
      if (link.needsPassword) return askPassword(link.pwRounds);
      showFiles(await open(null, link.pwRounds));
    } catch (failure) {
      showError(text(failure));
    }
  }

  start();
}

export const files = {
  '/assets/page.css': { type: 'text/css', text: style },
  '/assets/format.js': { type: 'text/javascript', text: pageModule() },
  [saveWorker]: { type: 'text/javascript', text: `(${runSaveWorker.toString()})(${JSON.stringify(saveScope)});\n` },
  [opener]: { type: 'text/javascript', text: `(${runOpener.toString()})('/assets/format.js');\n` },
  '/assets/page.js': {
    type: 'text/javascript',
    text: `import * as format from '/assets/format.js';\n(${runPage.toString()})(format, ${JSON.stringify({ worker: saveWorker, scope: saveScope, opener })});\n`,
  },
};
