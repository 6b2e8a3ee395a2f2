#!/usr/bin/env node
// Opens one page in Chromium or Firefox with the Korvane extension and korvane-host, the way the QtWebKit
// driver opens it with the plug-in: the page gets window.korvaneDriver (environment, report, done), and
// its results go to a KEY<TAB>VALUE file, with a screenshot at the end. Korvane's windows are answered as
// a consenting user answers them: the site allowed, each signature confirmed, the PIN typed in the window.
//
// Usage: open-page.mjs --browser chromium|firefox --host KORVANE_HOST --pki STORE --work DIR
//                      [--env TEXT] [--results FILE] [--screenshot FILE] [--timeout SECONDS]
//                      [--window-pin PIN] [--window-screenshot FILE] PAGE
//   PAGE is a path inside the repository or the staged tree; it is served from the staged tree on
//   http://127.0.0.1. --window-pin is typed where the window asks for a PIN; --window-screenshot saves the
//   first confirmation window (PIN typed).
import { relative, resolve, sep } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from './browsers.mjs';
import * as W from './korvane-window.mjs';

const { values: opt, positionals } = parseArgs({
  allowPositionals: true,
  options: {
    browser: { type: 'string' }, host: { type: 'string' }, pki: { type: 'string' }, work: { type: 'string' },
    env: { type: 'string', default: '' }, results: { type: 'string' }, screenshot: { type: 'string' },
    timeout: { type: 'string', default: '60' }, 'window-pin': { type: 'string' },
    'window-screenshot': { type: 'string' },
  },
});
if (!['chromium', 'firefox'].includes(opt.browser) || !opt.host || !opt.pki || !opt.work || positionals.length !== 1) {
  console.error('usage: open-page.mjs --browser chromium|firefox --host HOST --pki STORE --work DIR [options] PAGE');
  process.exit(2);
}
const server = await B.startServer();
const run = B.makeRun(resolve(opt.work), opt.browser, { hostPath: resolve(opt.host), pkiDir: resolve(opt.pki) });
const browser = await B.launch(run);
// Allows the site, signs with the PIN where one is asked, and takes the picture of the first confirmation
// once the PIN is typed (the field shows it masked), the window drawn at the size it is shown in.
const windowShot = opt['window-screenshot'] && resolve(opt['window-screenshot']);
const windows = W.autoAnswer(browser, {
  decide: async (view, log, page) => {
    if (view.state === 'permission') return { allow: true };
    if (windowShot && log.filter((v) => v.state === 'confirm').length === 1) {
      if (view.pinShown) await page.$eval('#pin', (field, value) => { field.value = value; }, opt['window-pin'] || '');
      await page.setViewport({ width: 460, height: 200 });
      await page.screenshot({ path: windowShot, fullPage: true });
    }
    return { sign: true, pin: opt['window-pin'] || '' };
  },
});
let result;
try {
  const path = resolve(positionals[0]);
  const served = relative(path.startsWith(B.STAGED + sep) ? B.STAGED : B.ROOT, path);
  result = await B.runPage(browser, server.url(served), {
    environment: opt.env, timeout: Number(opt.timeout) * 1000, screenshot: opt.screenshot && resolve(opt.screenshot),
  });
} finally {
  await windows.stop().catch(() => {});
  await browser.close().catch(() => {});
  server.close();
}
if (opt.results) B.writeResults(resolve(opt.results), result.results);
for (const line of result.logs) console.log(`page: ${line}`);
for (const view of windows.log) {
  console.log(`window: ${view.state === 'permission' ? 'permission' : view.pinShown ? 'confirm with PIN' : 'confirm'} answered`);
}
console.log(`verdict: ${result.verdict}`);
process.exit(result.verdict === 'PASS' ? 0 : 1);
