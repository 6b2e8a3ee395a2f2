#!/usr/bin/env node
// The extension half of bench/extension/run-bench: bench.html once and its first calls in fresh tabs, in
// Chromium and in Firefox (one after the other, so that they do not compete). Prints BROWSER<TAB>KEY<TAB>VALUE.
//
// Usage: bench.mjs --host KORVANE_HOST --work DIR --pki-chromium STORE --pki-firefox STORE [--first N]
import { resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../../tests/extension/browsers.mjs';

const { values: opt } = parseArgs({
  options: { host: { type: 'string' }, work: { type: 'string' }, 'pki-chromium': { type: 'string' },
             'pki-firefox': { type: 'string' }, first: { type: 'string', default: '5' } },
});
const server = await B.startServer();
const url = server.url('bench/extension/bench.html');
let status = 0;
for (const kind of ['chromium', 'firefox']) {
  const run = B.makeRun(resolve(opt.work), kind, { hostPath: resolve(opt.host), pkiDir: resolve(opt[`pki-${kind}`]) });
  const started = Date.now();
  const browser = await B.launch(run);
  console.log(`${kind}\tbrowser-start-s\t${((Date.now() - started) / 1000).toFixed(2)}`);
  try {
    const full = await B.runPage(browser, url, { timeout: 180000 });
    if (full.verdict !== 'PASS') throw new Error(full.verdict);
    for (const [k, v] of full.results) console.log(`${kind}\t${k}\t${v}`);
    // Every new tab is a new host connection, so its first call starts korvane-host again.
    for (let i = 0; i < Number(opt.first); i++) {
      const first = await B.runPage(browser, url, { environment: 'mode=first', timeout: 30000 });
      if (first.verdict !== 'PASS') throw new Error(first.verdict);
      for (const [k, v] of first.results) if (k.endsWith('-ms')) console.log(`${kind}\trepeat-${k}\t${v}`);
    }
  } catch (e) {
    console.error(`${kind}: ${e.message}`);
    status = 1;
  } finally {
    await browser.close().catch(() => {});
  }
}
server.close();
process.exit(status);
