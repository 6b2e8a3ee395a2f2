#!/usr/bin/env node
// End-to-end tests of the extension path in one browser, headless: the page-library pages of
// tests/extension/pages through the Korvane extension and korvane-host, with Korvane's window answered as a
// user would (Allow, Sign, the card PIN typed there), then the faults a user meets (an http origin, no host,
// a host of another version, no extension) and a second origin that must type the PIN again. Signatures and
// certificates are checked by tests/browser/check-results.
//
// Usage: run-e2e.mjs --browser chromium|firefox --host KORVANE_HOST --pki STORE --work DIR
//   STORE is a store made by tests/fixtures/make-pki that this run may use alone; DIR is wiped.
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, existsSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from './browsers.mjs';
import * as W from './korvane-window.mjs';

const { values: opt } = parseArgs({
  options: { browser: { type: 'string' }, host: { type: 'string' }, pki: { type: 'string' }, work: { type: 'string' } },
});
const kind = opt.browser;
if (!['chromium', 'firefox'].includes(kind) || !opt.host || !opt.pki || !opt.work) {
  console.error('usage: run-e2e.mjs --browser chromium|firefox --host KORVANE_HOST --pki STORE --work DIR');
  process.exit(2);
}
const work = resolve(opt.work);
const pki = resolve(opt.pki);
mkdirSync(work, { recursive: true });

const server = await B.startServer();
const run = B.makeRun(work, kind, { hostPath: resolve(opt.host), pkiDir: pki });
const page = (name) => `tests/extension/pages/${name}.html`;
let failures = 0;
let count = 0;

function check(name, result) {
  const file = join(run.dir, `${name}.results`);
  B.writeResults(file, result.results);
  const out = spawnSync('bash', [join(B.ROOT, 'tests', 'browser', 'check-results'), file, pki, `${kind}.${name}`],
                        { encoding: 'utf8' });
  return { ok: out.status === 0, text: (out.stdout + out.stderr).trim() };
}

// Runs one scenario; it resolves with { verdict, results, logs } like runPage.
// KORVANE_E2E_ONLY (a regular expression) runs only the scenarios it names, when working on one.
async function scenario(name, body) {
  if (process.env.KORVANE_E2E_ONLY && !new RegExp(process.env.KORVANE_E2E_ONLY).test(name)) return;
  count++;
  const start = Date.now();
  let result;
  try {
    result = await body();
  } catch (e) {
    result = { verdict: `FAIL: ${e.message}`, results: [], logs: [] };
  }
  let checked = { ok: true, text: '' };
  if (result.verdict === 'PASS') checked = check(name, result);
  const ok = result.verdict === 'PASS' && checked.ok;
  const seconds = ((Date.now() - start) / 1000).toFixed(1);
  console.log(`${kind}.${name}: ${ok ? 'PASS' : 'FAIL'} (${seconds} s)`);
  if (!ok) {
    failures++;
    for (const line of result.logs || []) if (!line.startsWith('ok ')) console.log(`  ${line}`);
    console.log(`  verdict: ${result.verdict}`);
    if (checked.text) console.log(checked.text.replace(/^/gm, '  '));
    if (existsSync(run.hostLog)) console.log(`  host stderr: ${readFileSync(run.hostLog, 'utf8').trim().slice(-2000)}`);
  } else if (process.env.KORVANE_E2E_VERBOSE) {
    console.log(checked.text.replace(/^/gm, '  '));
  }
}

const started = Date.now();
let browser = await B.launch(run);
console.log(`${kind}: started with the extension in ${((Date.now() - started) / 1000).toFixed(1)} s`);
const PIN = '1234';
// Each scenario may answer Korvane's windows its own way; by default the user allows each site once, for
// good, and signs.
const byDefault = (view) => (view.state === 'permission' ? { allow: true, remember: true } : { sign: true, pin: PIN });
let policy = byDefault;
let answers = W.autoAnswer(browser, { decide: (view, log) => policy(view, log) });

// Runs body with windows answered by decide; resolves with body's result and the views answered.
async function answering(decide, body) {
  policy = decide;
  const from = answers.log.length;
  try {
    const result = await body();
    return { result, views: answers.log.slice(from) };
  } finally {
    policy = byDefault;
  }
}
try {
  for (const name of ['listing', 'signing', 'errors', 'frames']) {
    await scenario(name, () => B.runPage(browser, server.url(page(name))));
  }

  // The card's PIN typed in Korvane's window: a wrong one first (the window stays, saying so), then the
  // right one; the next signature asks for it again. The window shows what the host knows of the key.
  await scenario('pin', async () => {
    let typed = 0;
    const { result, views } = await answering((view) => {
      if (view.state === 'permission') return { allow: true, remember: true };
      return { sign: true, pin: typed++ === 0 ? '9999' : PIN };
    }, () => B.runPage(browser, server.url(page('pin'))));
    if (result.verdict !== 'PASS') return result;
    const confirms = views.filter((v) => v.state === 'confirm');
    const hash = result.results.find(([k]) => k === 'signature')[1].split(' ')[2];
    const problems = [];
    if (confirms.length !== 3) problems.push(`${confirms.length} confirmations instead of 3`);
    if (!confirms.every((v) => v.pinShown && v.subject.includes('Card Holder') && v.issuer.includes('Korvane Test'))) {
      problems.push('a confirmation without the PIN field or the certificate');
    }
    if (confirms[0] && (confirms[0].algorithm !== 'SHA-256' ||
                        confirms[0].hash.toLowerCase() !== Buffer.from(hash, 'base64').toString('hex'))) {
      problems.push(`the first shows ${confirms[0].algorithm} ${confirms[0].hash}`);
    }
    if (confirms[1] && !/^wrong PIN/.test(confirms[1].pinStatus)) problems.push(`after a wrong PIN: "${confirms[1].pinStatus}"`);
    if (confirms[2] && confirms[2].pinStatus !== '') problems.push(`the next signature: "${confirms[2].pinStatus}"`);
    return problems.length ? { ...result, verdict: `FAIL: ${problems.join('; ')}` } : result;
  });

  // No PIN outlives its signature, on any origin: another origin's window asks for it (and is cancelled),
  // in another tab and in the same tab, and the first origin's next signature asks again.
  await scenario('second-origin', async () => {
    const url = server.url(page('origin'));
    const other = server.url(page('origin'), 'localhost');
    const { result, views } = await answering((view) => {
      if (view.state === 'permission') return { allow: true, remember: true };
      return view.site.includes('localhost') ? { cancel: true } : { sign: true, pin: PIN };
    }, async () => {
      const first = await B.runPage(browser, url, { environment: 'role=first', keepOpen: true });
      if (first.verdict !== 'PASS') return first;
      const second = await B.runPage(browser, other, { environment: 'role=second' });
      if (second.verdict !== 'PASS') return { ...second, verdict: `another tab: ${second.verdict}` };
      const again = await first.page.evaluate(() => window.signAgain());
      if (again.length !== 344 || again.lastError !== 0) {
        return { ...first, verdict: `FAIL: the first origin could not sign again (lastError ${again.lastError})` };
      }
      const same = await B.runPage(browser, other, { environment: 'role=second', reuse: first.page });
      if (same.verdict !== 'PASS') return { ...same, verdict: `the same tab: ${same.verdict}` };
      const hash = first.results.find(([k]) => k === 'signature')[1].split(' ')[2];
      const results = [...first.results, ['signature', `card sha256 ${hash} ${again.signature}`], ['expect-signatures', '2']];
      return { verdict: 'PASS', results, logs: [...first.logs, ...second.logs, ...same.logs] };
    });
    if (process.env.KORVANE_E2E_VERBOSE) console.log(views.map((v) => `${v.seenAt} ${v.state} ${v.site}`).join('\n'));
    const confirms = views.filter((v) => v.state === 'confirm');
    if (result.verdict === 'PASS' && (confirms.length !== 4 || !confirms.every((v) => v.pinShown))) {
      return { ...result, verdict: `FAIL: ${confirms.length} confirmations, each must ask for the PIN` };
    }
    return result;
  });

  // A tab's host ends with the tab: no host is left behind by the pages before either.
  await scenario('tab-closed', async () => {
    const open = await B.runPage(browser, server.url(page('listing')), { keepOpen: true });
    if (open.verdict !== 'PASS') return open;
    const running = B.hostProcesses(run).length;
    await open.page.close();
    const deadline = Date.now() + 5000;
    while (B.hostProcesses(run).length > 0 && Date.now() < deadline) await new Promise((r) => setTimeout(r, 50));
    const left = B.hostProcesses(run).length;
    if (running < 1 || left !== 0) {
      return { ...open, verdict: `FAIL: ${running} host(s) with one tab open, ${left} left after closing it` };
    }
    return { ...open, results: [] };
  });

  // A page served over http from a name that is not loopback: the host refuses its origin.
  await scenario('http-origin', () =>
    B.runPage(browser, server.url(page('absent'), B.NON_LOOPBACK_NAME), { environment: 'expect=bad_origin' }));

  await scenario('host-missing', async () => {
    B.setHost(run, null);
    try {
      return await B.runPage(browser, server.url(page('absent')), { environment: 'expect=host_missing' });
    } finally {
      B.setHost(run, 'real');
    }
  });

  await scenario('version-mismatch', async () => {
    B.setHost(run, 'stub');
    try {
      return await B.runPage(browser, server.url(page('absent')), { environment: 'expect=version_mismatch' });
    } finally {
      B.setHost(run, 'real');
    }
  });

  // Chromium starts again without the extension; Firefox removes the temporary add-on it installed.
  await scenario('extension-missing', async () => {
    await answers.stop();
    if (kind === 'chromium') {
      await browser.close();
      const bare = B.makeRun(work, kind, { hostPath: run.hostPath, pkiDir: pki, name: 'chromium-bare' });
      browser = await B.launch(bare, { extension: false });
    } else {
      await B.removeExtension(browser);
    }
    return B.runPage(browser, server.url(page('absent')), { environment: 'expect=extension_missing', timeout: 20000 });
  });
} finally {
  await answers.stop();
  await browser.close().catch(() => {});
  server.close();
}

const seconds = ((Date.now() - started) / 1000).toFixed(1);
console.log(`${kind}: ${count - failures} of ${count} passed in ${seconds} s`);
process.exit(failures ? 1 : 0);
