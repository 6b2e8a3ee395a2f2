// Drives Korvane's own window (extension/window.html) and options page with puppeteer-core, as a user would,
// in Chromium and Firefox: find the window, read what it shows, click Allow/Deny/Sign/Cancel from inside the
// page (a click that closes the window can make puppeteer's own click throw in Chromium), type the PIN.
// Firefox's targets keep the URL about:blank, so pages are told apart by asking their location.
import { CHROMIUM_ID } from './browsers.mjs';

export const WINDOW_PAGE = 'window.html';
export const OPTIONS_PAGE = 'options.html';

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// The page's location, or null when it is closed or cannot be asked.
async function locationOf(page) {
  const url = page.url();
  if (url && url !== 'about:blank') return url;
  try {
    return await Promise.race([page.evaluate(() => location.href), sleep(1000).then(() => null)]);
  } catch {
    return null;
  }
}

// The open extension pages whose location contains name (Korvane's windows by default). Chromium names
// its targets, and only those are attached; Firefox's all read about:blank and are asked one by one.
export async function findPages(browser, name = WINDOW_PAGE) {
  const wanted = (url) => url && /^(chrome|moz)-extension:/.test(url) && url.includes(`/${name}`);
  if (browser.protocol === 'cdp') {
    const targets = browser.targets().filter((t) => t.type() === 'page' && wanted(t.url()));
    return (await Promise.all(targets.map((t) => t.page().catch(() => null)))).filter(Boolean);
  }
  const found = [];
  for (const page of await browser.pages()) {
    if (webPages.has(page)) continue;
    const url = await locationOf(page);
    // A tab that shows a web page never turns into an extension page: it is not asked again.
    if (url && /^https?:/.test(url)) webPages.add(page);
    else if (wanted(url)) found.push(page);
  }
  return found;
}
const webPages = new WeakSet();

// What the window shows now, or null once it is closed.
export async function readWindow(page) {
  try {
    return await page.evaluate(() => {
      const text = (id) => document.getElementById(id).textContent;
      return {
        state: document.body.dataset.state,
        serial: Number(document.body.dataset.view || 0),
        site: text('site'),
        subject: text('subject'), issuer: text('issuer'), algorithm: text('algorithm'), hash: text('hash'),
        pinShown: !document.getElementById('pin-row').hidden,
        pinStatus: text('pin-status'),
      };
    });
  } catch {
    return null;
  }
}

// Waits until the window's state is one of states; resolves with its view, or null when it closed first.
export async function waitForState(page, states, timeout = 15000) {
  const wanted = [].concat(states);
  const deadline = Date.now() + timeout;
  for (;;) {
    const view = await readWindow(page);
    if (!view) return null;
    if (wanted.includes(view.state)) return view;
    if (Date.now() > deadline) throw new Error(`Korvane's window stayed "${view.state}", not ${wanted.join('/')}`);
    await sleep(30);
  }
}

// Waits for a Korvane window not in `known` to show a state; resolves with { page, view }.
export async function waitForWindow(browser, { timeout = 15000, known = [], states = ['permission', 'confirm'] } = {}) {
  const deadline = Date.now() + timeout;
  while (Date.now() < deadline) {
    for (const page of await findPages(browser)) {
      if (known.includes(page)) continue;
      const view = await readWindow(page);
      if (view && states.includes(view.state)) return { page, view };
    }
    await sleep(50);
  }
  throw new Error(`no Korvane window within ${timeout} ms`);
}

// The click runs just after the evaluation returns: a click that closes the window would otherwise leave
// the evaluation without an answer.
async function click(page, selector) {
  await page.$eval(selector, (button) => { setTimeout(() => button.click(), 0); });
}

export async function allow(page, { remember = false } = {}) {
  await page.$eval('#remember', (box, on) => { box.checked = on; }, remember);
  await click(page, '#allow');
}

export const deny = (page) => click(page, '#deny');
export const cancel = (page) => click(page, '#cancel');

// Signs, typing pin first when the window asks for one.
export async function sign(page, pin) {
  if (pin !== undefined) await page.$eval('#pin', (field, value) => { field.value = value; }, pin);
  await click(page, '#sign');
}

// Closes the window as the user would with the window manager.
export async function closeWindow(page) {
  await page.evaluate(() => window.close()).catch(() => {});
}

// Answers every Korvane window that appears until stop(): decide(view, log, page) returns (or resolves with)
//   { allow: true, remember }, { deny: true }, { sign: true, pin }, { cancel: true }, or null to leave it.
// The default allows without remembering and signs with `pin` (for windows that ask for one).
// log holds each view answered, in order: tests check what the windows showed.
export function autoAnswer(browser, { decide, pin } = {}) {
  const policy = decide || ((view) => (view.state === 'permission' ? { allow: true } : { sign: true, pin }));
  const log = [];
  const driving = new Set();
  // The last view answered in each window, kept across drives of the same window.
  const answered = new WeakMap();
  let running = true;
  const errors = [];

  async function drive(page) {
    while (running) {
      const last = answered.get(page);
      const view = await waitForState(page, ['permission', 'confirm', 'done'], 600000).catch(() => null);
      if (!view || view.state === 'done') return;
      // The same view again means the answer has not been taken up yet.
      if (view.serial === last) {
        await sleep(30);
        continue;
      }
      answered.set(page, view.serial);
      view.seenAt = Date.now();
      log.push(view);
      const answer = await policy(view, log, page);
      if (!answer) return;
      if (answer.allow) await allow(page, answer);
      else if (answer.deny) await deny(page);
      else if (answer.cancel) await cancel(page);
      else if (answer.sign) await sign(page, view.pinShown ? (answer.pin ?? '') : undefined);
    }
  }

  const loop = (async () => {
    while (running) {
      try {
        for (const page of await findPages(browser)) {
          if (driving.has(page)) continue;
          driving.add(page);
          // A window still loading cannot be read yet: once its drive ends, it is found again while open.
          drive(page).catch((e) => errors.push(e)).finally(() => driving.delete(page));
        }
      } catch (e) {
        // A page closed while it was listed; the next round lists again.
      }
      await sleep(50);
    }
  })();
  return {
    log,
    errors,
    async stop() {
      running = false;
      await loop;
    },
  };
}

// Runs fn (evaluated in an extension page, with arg) with the extension's own rights, e.g. to write its
// storage. Chromium opens the options page for it. Firefox cannot navigate to an extension URL, so an open
// Korvane window or options page serves; when none is open, `via` (a web page of an origin not allowed yet)
// asks for one with a request of its own, which is cancelled afterwards.
export async function inExtension(browser, kind, fn, arg, { via } = {}) {
  let page = (await findPages(browser, OPTIONS_PAGE))[0] || (await findPages(browser))[0];
  let opened = null;
  let asked = null;
  if (!page && kind === 'chromium') {
    opened = page = await browser.newPage();
    await page.goto(`chrome-extension://${CHROMIUM_ID}/${OPTIONS_PAGE}`);
  } else if (!page && via) {
    const known = await findPages(browser);
    await via.evaluate(() => window.postMessage({ korvane: 'page', id: 990001, type: 'open', params: {} }, location.origin));
    asked = page = (await waitForWindow(browser, { known })).page;
  }
  if (!page) throw new Error('no extension page open to run in');
  try {
    return await page.evaluate(fn, arg);
  } finally {
    if (opened) await opened.close();
    if (asked) await closeWindow(asked);
  }
}

// The options page (by URL in Chromium; Firefox opens it from a Korvane window, see inExtension).
export async function openOptions(browser, kind, { via } = {}) {
  const open = (await findPages(browser, OPTIONS_PAGE))[0];
  if (open) return open;
  if (kind === 'chromium') {
    const page = await browser.newPage();
    await page.goto(`chrome-extension://${CHROMIUM_ID}/${OPTIONS_PAGE}`);
    return page;
  }
  await inExtension(browser, kind, () => (globalThis.browser || globalThis.chrome).runtime.openOptionsPage(),
                    undefined, { via });
  const deadline = Date.now() + 10000;
  while (Date.now() < deadline) {
    const page = (await findPages(browser, OPTIONS_PAGE))[0];
    if (page) return page;
    await sleep(50);
  }
  throw new Error('the options page did not open');
}

// The sites the options page lists, and Remove on one of them.
export const listedSites = (options) =>
  options.$$eval('#sites li', (items) => items.map((item) => item.dataset.origin));
export const removeSite = (options, origin) =>
  options.$eval(`#sites li[data-origin="${origin}"] button.remove`, (button) => button.click());

// How long a window waits for an answer (ms); null restores the 2 minutes. Written into the extension's
// storage from its own page: no web page can reach it.
export function setWindowTimeout(browser, kind, ms, { via } = {}) {
  return inExtension(browser, kind, (value) => {
    const storage = (globalThis.browser || globalThis.chrome).storage.local;
    return value === null ? storage.remove('windowTimeout') : storage.set({ windowTimeout: value });
  }, ms, { via });
}

// Resolves once the window is closed.
export async function waitClosed(page, timeout = 5000) {
  const deadline = Date.now() + timeout;
  while (Date.now() < deadline) {
    if (!(await readWindow(page))) return;
    await sleep(50);
  }
  throw new Error(`Korvane's window was still open after ${timeout} ms`);
}

// The extension's base URL (chrome-extension://ID/ or moz-extension://UUID/), read from one of its pages.
export const extensionBase = (page) => page.evaluate(() => new URL('/', location.href).href);

// The sites the options page lists, read again after a reload until wanted(sites) holds (the list fills
// in from storage after the page loads); resolves with the last list read.
export async function sitesAfterReload(options, wanted, timeout = 5000) {
  await options.evaluate(() => setTimeout(() => location.reload(), 0));
  await sleep(300);
  const deadline = Date.now() + timeout;
  let sites = null;
  while (Date.now() < deadline) {
    sites = await listedSites(options).catch(() => sites);
    if (sites && wanted(sites)) break;
    await sleep(100);
  }
  return sites;
}
