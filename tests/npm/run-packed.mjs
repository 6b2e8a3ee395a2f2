#!/usr/bin/env node
// Runs the packed library in headless Chromium with the Korvane extension and korvane-host: the package
// is unpacked as a page's project gets it (into the served staged tree), and packed.html imports the
// module entry its "exports" name.
// A site permission asked in Korvane's window is granted, as the user would.
//
// Usage: run-packed.mjs --package KORVANE.tgz --host KORVANE_HOST --pki STORE --work DIR --version VERSION
//   STORE is a store made by tests/fixtures/make-pki (copied, not changed); DIR is wiped.
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, rmSync } from 'node:fs';
import { join, relative, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../extension/browsers.mjs';

const { values: opt } = parseArgs({
  options: { package: { type: 'string' }, host: { type: 'string' }, pki: { type: 'string' },
             work: { type: 'string' }, version: { type: 'string' } },
});
if (!opt.package || !opt.host || !opt.pki || !opt.work || !opt.version) {
  console.error('usage: run-packed.mjs --package TGZ --host HOST --pki STORE --work DIR --version VERSION');
  process.exit(2);
}
const work = resolve(opt.work);
rmSync(work, { recursive: true, force: true });
const unpacked = join(B.STAGED, 'packed', 'korvane');
rmSync(unpacked, { recursive: true, force: true });
mkdirSync(unpacked, { recursive: true });
execFileSync('tar', ['-xzf', resolve(opt.package), '-C', unpacked, '--strip-components=1']);
const manifest = JSON.parse(readFileSync(join(unpacked, 'package.json'), 'utf8'));
const entry = '/' + relative(B.STAGED, join(unpacked, manifest.exports['.'].default));

const pki = B.copyStore(resolve(opt.pki), join(work, 'pki'));
const server = await B.startServer();
const run = B.makeRun(work, 'chromium', { hostPath: resolve(opt.host), pkiDir: pki });
const browser = await B.launch(run);
// Korvane's window asks whether the site may use the certificates: Allow, clicked from inside the page.
let watching = true;
const answered = new Set();
const watcher = (async () => {
  while (watching) {
    for (const target of browser.targets()) {
      if (target.type() !== 'page' || !target.url().includes('/window.html') || answered.has(target)) continue;
      try {
        const win = await target.page();
        if (await win.evaluate(() => document.body && document.body.dataset.state) !== 'permission') continue;
        answered.add(target);
        await win.evaluate(() => setTimeout(() => document.querySelector('#allow').click(), 0));
        console.log('allowed the site in Korvane\'s window');
      } catch {
        // Closed meanwhile; the page's own checks tell what went wrong.
      }
    }
    await new Promise((r) => setTimeout(r, 100));
  }
})();
let result;
try {
  const environment = new URLSearchParams({ entry, version: opt.version }).toString();
  result = await B.runPage(browser, server.url('tests/npm/packed.html'), { environment, timeout: 30000 });
} finally {
  watching = false;
  await watcher;
  await browser.close().catch(() => {});
  server.close();
}
for (const line of result.logs) console.log(`page: ${line}`);
console.log(`verdict: ${result.verdict}`);
process.exit(result.verdict === 'PASS' ? 0 : 1);
