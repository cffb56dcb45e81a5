// What a recipient sees of the link page in the browser, for the tests that drive it: its
// texts, and the steps of reading an alert and downloading one file.

export const TEXT = {
  incomplete: 'This link is incomplete. Copy the whole link, including everything after the # sign, and open it again.',
  notFound: "This link doesn't work. The person who shared it may have stopped sharing, or the address is wrong.",
  expired: 'This link has expired. Ask the person who shared it for a new link.',
  used: 'This link has reached its download limit. Ask the person who shared it for a new link.',
  wrongLink: 'This link is incomplete or wrong. Copy the whole link, including everything after the # sign, and open it again.',
  wrongPassword: "That password isn't right. Check it and try again.",
  damaged: (name) => `“${name}” is damaged and can't be decrypted, so it wasn't saved.`,
};

export const text = (page, selector) => page.$eval(selector, (node) => node.textContent);

export const alertText = async (page) =>
  (await page.waitForSelector('[role="alert"]:not(:empty)')) && text(page, '[role="alert"]:not(:empty)');

// The paths of the listed files, in the page's order.
export const listedPaths = (page) => page.$$eval('li .path', (nodes) => nodes.map((node) => node.textContent));

// Downloads file `index` with its own button and waits until the row says how it ended.
export async function download(page, index) {
  const rows = await page.$$('li');
  await (await rows[index].$('button')).click();
  await page.waitForFunction(
    (i) => ['saved', 'damaged', 'failed'].includes(document.querySelectorAll('li .state')[i].dataset.state), {}, index);
  return page.evaluate((i) => document.querySelectorAll('li .state')[i].dataset.state, index);
}

// Presses "Download all" and waits until every file is saved.
export async function downloadAll(page) {
  await page.click('main > button');
  await page.waitForFunction(() => [...document.querySelectorAll('li .state')].every((state) => state.dataset.state === 'saved'));
}
