#!/usr/bin/env node
// Korvane's own window in one browser, headless, answered as a user answers it: the site's permission
// (deny, allow, remember, remove), the confirmation of each signature, and what a hostile page tries
// against them. --part main: one browser serves every scenario in turn; with --card, the card's PIN typed
// in the window too, with the host beside the emulated card. --part quiet: a browser leaves a confirmation
// unanswered for a minute, long enough for the browser to put the extension's background to sleep, then
// answers it. The two parts are separate runs, so that the quiet minute need not wait for the card.
//
// Usage: run-window.mjs --part main|quiet --browser chromium|firefox --host KORVANE_HOST --pki STORE --work DIR
//                       [--card CARD_DIR]
//   STORE is a store made by tests/fixtures/make-pki that this run may use alone; DIR is shared with the
//   other extension tests (this run uses DIR/BROWSER-window or DIR/BROWSER-quiet). CARD_DIR is the
//   started card fixture, which this run may use alone.
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, renameSync, writeFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from './browsers.mjs';
import * as W from './korvane-window.mjs';

const { values: opt } = parseArgs({
  options: { browser: { type: 'string' }, host: { type: 'string' }, pki: { type: 'string' }, work: { type: 'string' },
             card: { type: 'string' }, part: { type: 'string' } },
});
const kind = opt.browser;
if (!['chromium', 'firefox'].includes(kind) || !opt.host || !opt.pki || !opt.work ||
    !['main', 'quiet'].includes(opt.part)) {
  console.error('usage: run-window.mjs --part main|quiet --browser chromium|firefox --host KORVANE_HOST ' +
                '--pki STORE --work DIR [--card CARD_DIR]');
  process.exit(2);
}
const work = resolve(opt.work);
const pki = resolve(opt.pki);
mkdirSync(work, { recursive: true });
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const SILENCE_MS = 60000;

const cardDir = opt.card && resolve(opt.card);
const server = await B.startServer();
const withMain = opt.part === 'main';
const withQuiet = opt.part === 'quiet';
const run = withMain
  ? B.makeRun(work, kind, { hostPath: resolve(opt.host), pkiDir: pki, name: `${kind}-window`, cardDir })
  : null;
if (run) B.setHost(run, 'real'); // the card's host from the card scenarios on
// The quiet browser signs with a software key only.
const quiet = withQuiet
  ? B.makeRun(work, kind, { hostPath: resolve(opt.host), pkiDir: pki, name: `${kind}-quiet` })
  : null;
const PAGE = 'tests/extension/pages/calls.html';
const origin = new URL(server.url(PAGE)).origin;
const shownAfter = []; // ms from a page's request to its window loaded
let failures = 0;
let count = 0;

function expect(condition, text) {
  if (!condition) throw new Error(text);
}

async function openCalls(browser, host = '127.0.0.1', reuse = null) {
  const page = reuse || await browser.newPage(kind === 'firefox' ? { type: 'window' } : undefined);
  await page.goto(server.url(PAGE, host), { waitUntil: 'load' });
  return page;
}

// Waits for the call kept under `name` to settle and returns its record ({state, value, code, ms}).
async function settled(page, name, timeout = 10000) {
  try {
    await page.waitForFunction((n) => calls[n] && calls[n].state !== 'pending', { timeout, polling: 50 }, name);
  } catch {
    throw new Error(`the call "${name}" was still pending after ${timeout} ms`);
  }
  return page.evaluate((n) => calls[n], name);
}

async function rejectsWith(page, name, code, timeout) {
  const call = await settled(page, name, timeout);
  expect(call.state === 'rejected' && call.code === code,
         `"${name}" should reject with ${code}: ${call.state} ${call.code || ''} ${call.message || ''}`);
  return call;
}

// Starts a call in the page and resolves with the window it opens, timing how long the window took.
// The time is the browser's own, from the call to the window's page having loaded (both pages read the same
// clock), so that finding the window from here does not count.
async function callAndWindow(browser, page, state, start, ...args) {
  const now = () => performance.timeOrigin + performance.now();
  const t0 = await page.evaluate(now);
  await page.evaluate(start, ...args);
  const { page: win } = await W.waitForWindow(browser, { states: [].concat(state), timeout: 10000 });
  const loaded = await win.evaluate(() => performance.timeOrigin + performance.getEntriesByType('navigation')[0].loadEventEnd);
  if (loaded > t0) shownAfter.push(Math.round(loaded - t0));
  return win;
}

// The identifier of the first listed certificate whose subject contains `part`.
async function certificateId(page, part) {
  const listing = await page.evaluate(() => signer.getDigitalSignatureCertificates());
  const fields = (listing || '').split('|');
  for (let i = 1; i + 1 < fields.length; i += 3) if (fields[i].includes(part)) return fields[i + 1];
  throw new Error(`no certificate "${part}" listed: ${listing}`);
}

// Signs in the window (typing pin) and waits for its next answer: a later view back in "confirm", or the
// window closing (null).
async function answerWith(win, pin) {
  const before = (await W.readWindow(win)).serial;
  await W.sign(win, pin);
  const deadline = Date.now() + 15000;
  for (;;) {
    const shown = await W.readWindow(win);
    if (!shown || (shown.serial > before && shown.state === 'confirm')) return shown;
    if (Date.now() > deadline) throw new Error(`the window stayed "${shown.state}" after Sign`);
    await sleep(50);
  }
}

function hexOf(base64) {
  return Buffer.from(base64, 'base64').toString('hex');
}

function verify(name, results, dir = run.dir) {
  const file = join(dir, `${name}.results`);
  B.writeResults(file, results);
  const out = spawnSync('bash', [join(B.ROOT, 'tests', 'browser', 'check-results'), file, pki, `${kind}.${name}`],
                        { encoding: 'utf8' });
  expect(out.status === 0, `signature check: ${(out.stdout + out.stderr).trim()}`);
}

async function scenario(name, body) {
  count++;
  const start = Date.now();
  let error = null;
  try {
    await body();
  } catch (e) {
    error = e;
  }
  const seconds = ((Date.now() - start) / 1000).toFixed(1);
  console.log(`${kind}.window.${name}: ${error ? 'FAIL' : 'PASS'} (${seconds} s)`);
  if (error) {
    failures++;
    console.log(`  ${error.stack.split('\n').slice(0, 3).join('\n  ')}`);
    for (const r of [run, quiet].filter(Boolean)) {
      const log = existsSync(r.hostLog) ? readFileSync(r.hostLog, 'utf8').trim() : '';
      if (log) console.log(`  host stderr (${r.dir}): ${log.slice(-1500)}`);
    }
  }
}

// A confirmation answered after a minute of silence still delivers its signature. Nothing touches this
// browser meanwhile, and puppeteer is never attached to the background, which would keep it awake.
async function answerAfterSilence() {
  const browser = await B.launch(quiet);
  try {
    const page = await openCalls(browser);
    let win = await callAndWindow(browser, page, 'permission', () => connectAs('connect'));
    await W.allow(win);
    const connected = await settled(page, 'connect');
    expect(connected.state === 'resolved', `connect after Allow: ${connected.state} ${connected.code}`);
    win = await callAndWindow(browser, page, 'confirm', () => signAs('late', GOOD_ID, sampleHash(32, 9)));
    await sleep(SILENCE_MS);
    await W.sign(win);
    const call = await settled(page, 'late', 20000);
    expect(call.state === 'resolved' && call.value.length === 344,
           `Sign after ${SILENCE_MS / 1000} s of silence: ${call.state} ${call.code || ''} ${call.message || ''}`);
    const hash = await page.evaluate(() => sampleHash(32, 9));
    verify('silence', [['signature', `good sha256 ${hash} ${call.value}`], ['expect-signatures', '1']], quiet.dir);
  } finally {
    await browser.close().catch(() => {});
  }
}

// The card's PIN goes into the window only: a wrong PIN, the same wrong PIN again (never presented to the card
// a second time, as its counter shows), another wrong PIN (the window shows the card's last try), then the
// right one. The page's own window never carries a character of it, and the next signature asks again.
// Then the card blocked. New host connections start beside the card from here on.
async function cardScenarios(browser) {
  B.setHost(run, 'card');
  const env = Object.fromEntries(readFileSync(join(cardDir, 'card.env'), 'utf8').split('\n')
    .filter((line) => line.includes('=')).map((line) => [line.slice(0, line.indexOf('=')), line.slice(line.indexOf('=') + 1)]));
  const stateFile = join(cardDir, 'run', 'state.json');
  const tries = () => JSON.parse(readFileSync(stateFile, 'utf8')).pin_tries;
  const reset = () => {
    const out = spawnSync(join(B.ROOT, 'tests', 'fixtures', 'card', 'card-fixture'), ['reset', cardDir], { encoding: 'utf8' });
    expect(out.status === 0, `the card could not be reset: ${out.stderr}`);
  };
  reset();
  const full = tries();
  const [wrong, otherWrong] = ['975310', '864200'];

  await scenario('card-pin', async () => {
    const page = await openCalls(browser);
    const asked = await callAndWindow(browser, page, 'permission', () => connectAs('connect'));
    await W.allow(asked, { remember: true });
    expect((await settled(page, 'connect')).state === 'resolved', 'connect after Allow');
    const id = await certificateId(page, 'PIV Signer One');
    const hash = await page.evaluate(() => sampleHash(32, 8));
    const win = await callAndWindow(browser, page, 'confirm', (c) => signAs('card', c, sampleHash(32, 8)), id);
    expect((await W.readWindow(win)).pinShown, 'the window asks for the card\'s PIN');

    let shown = await answerWith(win, wrong);
    expect(shown && /wrong PIN/i.test(shown.pinStatus), `a wrong PIN: the window says ${shown && shown.pinStatus}`);
    expect(tries() === full - 1, `a wrong PIN: ${tries()} tries left of ${full}`);
    const firstStatus = shown.pinStatus;
    shown = await answerWith(win, wrong);
    expect(shown && /wrong PIN/i.test(shown.pinStatus), `the same wrong PIN: the window says ${shown && shown.pinStatus}`);
    expect(tries() === full - 1, `the same wrong PIN reached the card again: ${tries()} tries left of ${full}`);
    shown = await answerWith(win, otherWrong);
    expect(tries() === full - 2, `another wrong PIN: ${tries()} tries left of ${full}`);
    expect(shown && shown.pinStatus !== firstStatus,
           `one try left: the window still says "${shown && shown.pinStatus}" as after the first wrong PIN`);
    expect(await page.evaluate(() => calls.card.state) === 'pending', 'the call ended while the window was open');

    await W.sign(win, env.CARD_PIN);
    const signed = await settled(page, 'card', 15000);
    expect(signed.state === 'resolved' && signed.value.length === 344, `the right PIN: ${signed.state} ${signed.code} ${signed.message}`);
    expect(tries() === full, `the right PIN gave the card its ${full} tries back: ${tries()}`);
    verify('card-pin', [['signature', `${env.CARD_SIGN_CERT} sha256 ${hash} ${signed.value}`], ['expect-signatures', '1']]);

    // Any field named pin, or any text holding a PIN typed, on any message the page's window saw.
    const carried = await page.evaluate((pins) => heard.filter((m) => {
      let found = false;
      JSON.parse(m, (key, value) => {
        if (key === 'pin' || (typeof value === 'string' && pins.some((p) => value.includes(p)))) found = true;
        return value;
      });
      return found;
    }), [wrong, otherWrong, env.CARD_PIN]);
    expect(carried.length === 0, `the page's window carried the PIN: ${carried.join(' ')}`);

    const next = await callAndWindow(browser, page, 'confirm', (c) => signAs('next', c, sampleHash(32, 8)), id);
    expect((await W.readWindow(next)).pinShown, 'the PIN was kept for the next signature');
    await W.cancel(next);
    await rejectsWith(page, 'next', 'cancelled');
  });

  // A blocked card: the window says so, and the call ends with the engine's refusal.
  await scenario('card-blocked', async () => {
    const page = await openCalls(browser);
    await page.evaluate(() => connectAs('connect'));
    expect((await settled(page, 'connect')).state === 'resolved', 'connect on the allowed site');
    const id = await certificateId(page, 'PIV Signer One');
    // The card reads its counters from this file before each check.
    writeFileSync(`${stateFile}.new`, JSON.stringify({ ...JSON.parse(readFileSync(stateFile, 'utf8')), pin_tries: 0 }));
    renameSync(`${stateFile}.new`, stateFile);
    const win = await callAndWindow(browser, page, ['confirm', 'done'], (c) => signAs('blocked', c, sampleHash(32, 8)), id);
    if ((await W.readWindow(win)).state === 'confirm') await W.sign(win, env.CARD_PIN);
    let said = '';
    const deadline = Date.now() + 15000;
    while (!/blocked/i.test(said) && Date.now() < deadline) {
      const shown = await W.readWindow(win);
      if (!shown) break;
      said = shown.pinStatus;
      await sleep(50);
    }
    expect(/blocked/i.test(said), `a blocked card: the window says "${said}"`);
    const refused = await settled(page, 'blocked', 15000);
    expect(refused.state === 'resolved' && refused.value === '' && await page.evaluate(() => signer.lastError) !== 0,
           `a blocked card: the call ${refused.state} with ${JSON.stringify(refused.value || refused.code)}`);
    reset();
  });
}

// The window scenarios, in the order they build on each other.
async function windowScenarios(browser) {
  let page = null;  // the allowed tab on 127.0.0.1, connected
  let options = null;

  await scenario('permission', async () => {
    page = await openCalls(browser);
    let win = await callAndWindow(browser, page, 'permission', () => connectAs('denied'));
    const shown = await W.readWindow(win);
    const [text, opener] = await win.evaluate(() => [document.body.innerText, window.opener !== null]);
    expect(shown.site === origin, `the window names the site: ${shown.site}`);
    expect(text.includes(`${origin} wants to use your signing certificates`), `the question: ${text}`);
    expect(!opener, 'the window has an opener');
    expect(B.hostStarts(run) === 0, 'a host was started before the user allowed the site');
    options = await W.openOptions(browser, kind);
    await W.deny(win);
    await rejectsWith(page, 'denied', 'not_allowed');
    await W.waitClosed(win);
    // The tab's answer holds for its later requests.
    await page.evaluate(() => connectAs('denied-again'));
    await rejectsWith(page, 'denied-again', 'not_allowed', 3000);
    expect((await W.findPages(browser)).length === 0, 'a denied tab opened another window');
    expect(B.hostStarts(run) === 0, 'a host was started for a denied site');
    await page.close();

    // Not remembered: another tab of the site asks again.
    page = await openCalls(browser);
    win = await callAndWindow(browser, page, 'permission', () => connectAs('allowed'));
    await W.allow(win, { remember: true });
    const allowed = await settled(page, 'allowed');
    expect(allowed.state === 'resolved', `connect after Allow: ${allowed.state} ${allowed.code} ${allowed.message}`);
    expect(B.hostStarts(run) === 1, `${B.hostStarts(run)} hosts started after Allow`);
    const sites = await W.sitesAfterReload(options, (s) => s.includes(origin));
    expect(sites && sites.includes(origin), `the options page lists ${origin}: ${JSON.stringify(sites)}`);

    // Remembered: another tab of the site connects without a window.
    const other = await openCalls(browser);
    await other.evaluate(() => connectAs('remembered'));
    const again = await settled(other, 'remembered');
    expect(again.state === 'resolved', `a remembered site: ${again.state} ${again.code}`);
    expect((await W.findPages(browser)).length === 0, 'a window opened for a remembered site');
    await other.close();
  });

  await scenario('sign-and-cancel', async () => {
    const hash = await page.evaluate(() => sampleHash(32, 7));
    let win = await callAndWindow(browser, page, 'confirm', () => signAs('signed', GOOD_ID, sampleHash(32, 7)));
    const shown = await W.readWindow(win);
    expect(shown.site === origin, `site: ${shown.site}`);
    expect(/GARCIA PEREZ, ANA/.test(shown.subject), `subject: ${shown.subject}`);
    expect(/Korvane Test Intermediate 2/.test(shown.issuer), `issuer: ${shown.issuer}`);
    expect(/SHA-256/.test(shown.algorithm), `algorithm: ${shown.algorithm}`);
    expect(shown.hash.replace(/[^0-9a-fA-F]/g, '').toLowerCase() === hexOf(hash), `hash: ${shown.hash}`);
    expect(!shown.pinShown, 'a software key asks for a PIN');
    await W.sign(win);
    const signed = await settled(page, 'signed');
    expect(signed.state === 'resolved' && signed.value.length === 344, `Sign: ${signed.state} ${signed.code}`);
    verify('sign', [['signature', `good sha256 ${hash} ${signed.value}`], ['expect-signatures', '1']]);

    win = await callAndWindow(browser, page, 'confirm', () => signAs('cancelled', GOOD_ID, sampleHash(32, 7)));
    await W.cancel(win);
    await rejectsWith(page, 'cancelled', 'cancelled');
    // Closing the window is a Cancel too.
    win = await callAndWindow(browser, page, 'confirm', () => signAs('closed', GOOD_ID, sampleHash(32, 7)));
    await W.closeWindow(win);
    await rejectsWith(page, 'closed', 'cancelled');
  });

  await scenario('pin-in-page', async () => {
    const out = await page.evaluate(async () => {
      const result = {};
      const tries = { processPinChar: () => signer.processPinChar('1'), deletePinChar: () => signer.deletePinChar(),
                      'set pin': () => signer.set('pin', '1234'), 'clear pin': () => signer.set('pin', '') };
      for (const [name, f] of Object.entries(tries)) {
        try {
          await f();
          result[name] = 'resolved';
        } catch (e) {
          result[name] = `${e.code}: ${e.message}`;
        }
      }
      return result;
    });
    for (const name of ['processPinChar', 'deletePinChar', 'set pin']) {
      expect(/^pin_in_page: .*Korvane/.test(out[name]), `${name}: ${out[name]}`);
    }
    expect(out['clear pin'] === 'resolved', `pin = "": ${out['clear pin']}`);
  });

  // A flood of requests from one tab opens one window; closing the tab closes it.
  await scenario('flood', async () => {
    const tab = await openCalls(browser);
    await tab.evaluate(() => connectAs('connect'));
    expect((await settled(tab, 'connect')).state === 'resolved', 'connect');
    const win = await callAndWindow(browser, tab, 'confirm', () => {
      for (let i = 0; i < 100; i++) signAs(`flood${i}`, GOOD_ID, sampleHash(32, i));
    });
    let most = 0;
    for (let i = 0; i < 10; i++) {
      most = Math.max(most, (await W.findPages(browser)).length);
      await sleep(150);
    }
    expect(most === 1, `100 requests opened ${most} windows at once`);
    await W.cancel(win);
    const flood = () => Object.keys(calls).filter((k) => k.startsWith('flood')).map((k) => calls[k].code || calls[k].state);
    await tab.waitForFunction(`(${flood})().some((s) => s !== 'pending')`, { polling: 50, timeout: 10000 });
    const states = await tab.evaluate(`(${flood})()`);
    const pending = states.filter((s) => s === 'pending').length;
    expect(pending === 99 && states.includes('cancelled'), `after one Cancel: ${[...new Set(states)].join(', ')}`);
    // The next request's confirmation, in a new window or the same one.
    const { page: next } = await W.waitForWindow(browser, { states: ['confirm'] });
    await tab.close();
    await W.waitClosed(next);
  });

  // The window's page cannot be fetched, framed or opened from a page.
  await scenario('window-unreachable', async () => {
    const win = await callAndWindow(browser, page, 'confirm', () => signAs('reach', GOOD_ID, sampleHash(32, 1)));
    const url = `${await W.extensionBase(win)}${W.WINDOW_PAGE}`;
    await W.cancel(win);
    await rejectsWith(page, 'reach', 'cancelled');
    const before = new Set(await browser.pages());
    const tried = await page.evaluate(async (target) => {
      const out = {};
      try {
        await fetch(target);
        out.fetch = 'read';
      } catch {
        out.fetch = 'refused';
      }
      const frame = document.createElement('iframe');
      frame.src = target;
      document.body.appendChild(frame);
      try {
        window.opened = window.open(target);
        out.open = 'tried';
      } catch {
        out.open = 'threw';
      }
      await new Promise((r) => setTimeout(r, 1500));
      return out;
    }, url);
    expect(tried.fetch === 'refused', 'the page fetched the window\'s page');
    // No frame or tab anywhere holds the window's controls.
    for (const p of await browser.pages()) {
      for (const frame of p.frames()) {
        const controls = await frame.evaluate(() => !!document.querySelector('#allow, #sign, #deny, #cancel'))
          .catch(() => false);
        expect(!controls, `the window's page loaded in ${frame.url()}`);
      }
    }
    await page.evaluate(() => {
      if (window.opened) window.opened.close();
      document.querySelectorAll('iframe').forEach((f) => f.remove());
    });
    for (const p of await browser.pages()) if (!before.has(p)) await p.close().catch(() => {});
  });

  // Arguments JSON cannot carry are refused at once, and the signer stays usable.
  await scenario('malformed', async () => {
    await page.evaluate(() => {
      const cyclic = { a: 1 };
      cyclic.self = cyclic;
      let deep = [];
      for (let i = 0; i < 5000; i++) deep = [deep];
      let nested = [];
      for (let i = 0; i < 40; i++) nested = [nested];
      signAs('bigint', GOOD_ID, BigInt(1));
      signAs('cyclic', GOOD_ID, cyclic);
      signAs('deep', GOOD_ID, deep);
      signAs('nested', GOOD_ID, nested);
    });
    for (const name of ['bigint', 'cyclic', 'deep', 'nested']) await rejectsWith(page, name, 'malformed', 2000);
    await page.evaluate(() => track('version', signer.get('version')));
    const version = await settled(page, 'version', 5000);
    expect(version.state === 'resolved' && /^1\.1\./.test(version.value), `version afterwards: ${version.value} ${version.code}`);
  });

  // Going to another origin ends the tab's host; back on the site, the token asks for its PIN again.
  await scenario('origin-change', async () => {
    const hosts = B.hostProcesses(run).length;
    expect(hosts >= 1, 'no host for the connected tab');
    await openCalls(browser, 'localhost', page);
    const deadline = Date.now() + 5000;
    while (B.hostProcesses(run).length >= hosts && Date.now() < deadline) await sleep(50);
    expect(B.hostProcesses(run).length < hosts, 'the tab kept its host after going to another origin');
    await openCalls(browser, '127.0.0.1', page);
    await page.evaluate(() => connectAs('back'));
    expect((await settled(page, 'back')).state === 'resolved', 'connect on coming back');
    const card = await certificateId(page, 'Card Holder');
    const win = await callAndWindow(browser, page, 'confirm', (id) => signAs('back-sign', id, sampleHash(32, 2)), card);
    expect((await W.readWindow(win)).pinShown, 'back on the site, the token did not ask for its PIN');
    await W.cancel(win);
    await rejectsWith(page, 'back-sign', 'cancelled');
  });

  // A page restored from the back/forward cache: its pending call ends with session_lost (Chromium), or the
  // page was loaded anew (Firefox); either way the next call works.
  await scenario('back-forward-cache', async () => {
    const win = await callAndWindow(browser, page, 'confirm', () => signAs('cached', GOOD_ID, sampleHash(32, 3)));
    await openCalls(browser, 'localhost', page);
    await W.waitClosed(win);
    await page.goBack({ waitUntil: 'load' });
    const restored = await page.evaluate(() => restored);
    if (restored) {
      await rejectsWith(page, 'cached', 'session_lost', 5000);
    } else {
      await page.evaluate(() => connectAs('reconnect'));
      expect((await settled(page, 'reconnect')).state === 'resolved', 'connect after coming back');
    }
    await page.evaluate(() => track('after', signer.get('version')));
    const after = await settled(page, 'after', 5000);
    expect(after.state === 'resolved', `the next call after coming back: ${after.state} ${after.code}`);
    console.log(`  ${restored ? 'restored from the back/forward cache' : 'loaded anew'}`);
  });

  // Removing the site on the options page ends its open session at once.
  await scenario('remove-site', async () => {
    const hosts = B.hostProcesses(run).length;
    expect(hosts >= 1, 'no host for the connected tab');
    await W.removeSite(options, origin);
    const deadline = Date.now() + 3000;
    while (B.hostProcesses(run).length >= hosts && Date.now() < deadline) await sleep(50);
    expect(B.hostProcesses(run).length < hosts, 'the site kept its host after its permission was removed');
    const sites = await W.sitesAfterReload(options, (s) => !s.includes(origin));
    expect(sites && !sites.includes(origin), `the options page still lists ${origin}`);
    // The page's next call does not go through without asking.
    await page.evaluate(() => track('removed', signer.get('version')));
    const asked = await Promise.race([
      settled(page, 'removed').then((c) => ({ call: c }), () => ({})),
      W.waitForWindow(browser, { states: ['permission'], timeout: 10000 }).then((w) => ({ win: w.page }), () => ({})),
    ]);
    expect(asked.call || asked.win, 'a call after the removal neither ended nor asked');
    if (asked.win) {
      await W.deny(asked.win);
      await rejectsWith(page, 'removed', 'not_allowed');
    } else {
      expect(asked.call.state === 'rejected' && asked.call.code === 'not_allowed',
             `a call after the removal: ${asked.call.state} ${asked.call.code}`);
    }
  });
}

const started = Date.now();
const silence = withQuiet ? scenario('answer-after-silence', answerAfterSilence) : null;
if (withMain) {
  const browser = await B.launch(run);
  console.log(`${kind}: started with the extension in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  try {
    await windowScenarios(browser);
    if (cardDir) await cardScenarios(browser);
  } finally {
    await browser.close().catch(() => {});
  }
}
await silence;
server.close();

shownAfter.sort((a, b) => a - b);
if (shownAfter.length) {
  console.log(`${kind}: from a request to its window loaded ${shownAfter.join(', ')} ms (median ${shownAfter[shownAfter.length >> 1]} ms)`);
}
console.log(`${kind}: ${count - failures} of ${count} passed in ${((Date.now() - started) / 1000).toFixed(1)} s`);
process.exit(failures ? 1 : 0);
