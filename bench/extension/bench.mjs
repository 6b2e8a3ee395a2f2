#!/usr/bin/env node
// The extension half of bench/extension/run-bench, in Chromium and then in Firefox (one after the other, so
// that they do not compete). Prints BROWSER<TAB>KEY<TAB>VALUE.
// - bench.html with the site allowed once (remembered) and every signature confirmed in Korvane's window:
//   click on Sign -> signature in the page, and request -> window loaded, per signature;
// - the "version" round trip through korvane-host and through a bare echo host, in turns on fresh tabs, so
//   that both meet the same load;
// - the page's first calls in fresh tabs (each starts korvane-host).
//
// Usage: bench.mjs --host KORVANE_HOST --echo-host ECHO_HOST --work DIR --pki-chromium STORE
//                  --pki-firefox STORE [--first N] [--signatures N] [--turns N]
import { resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../../tests/extension/browsers.mjs';
import * as W from '../../tests/extension/korvane-window.mjs';

const { values: opt } = parseArgs({
  options: { host: { type: 'string' }, 'echo-host': { type: 'string' }, work: { type: 'string' },
             'pki-chromium': { type: 'string' }, 'pki-firefox': { type: 'string' },
             first: { type: 'string', default: '5' }, signatures: { type: 'string', default: '30' },
             turns: { type: 'string', default: '3' } },
});
const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
const p95 = (list) => { const s = [...list].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor(s.length * 0.95))]; };
const server = await B.startServer();
const url = server.url('bench/extension/bench.html');

// Answers Korvane's windows until stopped: Allow (remembered) on the first, Sign on every signature, noting
// in the window's own clock when it had loaded and when Sign was clicked.
function answerWindows(browser) {
  const loaded = [];
  const clicked = [];
  const known = [];
  let running = true;
  const loop = (async () => {
    while (running) {
      let found;
      try {
        found = await W.waitForWindow(browser, { known, timeout: 1000 });
      } catch {
        continue;
      }
      known.push(found.page);
      const { page, view } = found;
      if (view.state === 'permission') {
        await W.allow(page, { remember: true });
        continue;
      }
      await W.waitForState(page, 'confirm');
      loaded.push(await page.evaluate(() => {
        const entry = performance.getEntriesByType('navigation')[0];
        return performance.timeOrigin + (entry ? entry.domContentLoadedEventEnd : performance.now());
      }));
      // Clicked from inside, the time taken just before.
      clicked.push(await page.$eval('#sign', (button) => {
        const at = performance.timeOrigin + performance.now();
        button.click();
        return at;
      }).catch(() => NaN));
    }
  })();
  return { loaded, clicked, stop: async () => { running = false; await loop; } };
}

const numbers = (results, key) => (new Map(results).get(key) || '').split(',').filter(Boolean).map(Number);

let status = 0;
for (const kind of ['chromium', 'firefox']) {
  const run = B.makeRun(resolve(opt.work), kind, { hostPath: resolve(opt.host), pkiDir: resolve(opt[`pki-${kind}`]) });
  const started = Date.now();
  const browser = await B.launch(run);
  console.log(`${kind}\tbrowser-start-s\t${((Date.now() - started) / 1000).toFixed(2)}`);
  const windows = answerWindows(browser);
  try {
    const full = await B.runPage(browser, url, { environment: `window=1&signatures=${opt.signatures}`, timeout: 300000 });
    await windows.stop();
    if (full.verdict !== 'PASS') throw new Error(full.verdict);
    for (const [k, v] of full.results) if (!k.endsWith('-at')) console.log(`${kind}\t${k}\t${v}`);
    const asked = numbers(full.results, 'asked-at');
    const signed = numbers(full.results, 'signed-at');
    const { loaded, clicked } = windows;
    if (clicked.length !== signed.length || loaded.length !== asked.length) {
      throw new Error(`${clicked.length} clicks and ${loaded.length} windows for ${signed.length} signatures`);
    }
    const toSignature = signed.map((t, i) => t - clicked[i]).filter(Number.isFinite);
    const toWindow = loaded.map((t, i) => t - asked[i]);
    console.log(`${kind}\tsign-click-to-signature-ms-median\t${median(toSignature).toFixed(3)}`);
    console.log(`${kind}\tsign-click-to-signature-ms-p95\t${p95(toSignature).toFixed(3)}`);
    console.log(`${kind}\trequest-to-window-ms-median\t${median(toWindow).toFixed(1)}`);
    console.log(`${kind}\trequest-to-window-ms-p95\t${p95(toWindow).toFixed(1)}`);

    // "version" through korvane-host and through the echo host in turns, each on a fresh tab and host.
    const rounds = { host: [], echo: [] };
    for (let turn = 0; turn < Number(opt.turns); turn++) {
      for (const which of ['host', 'echo']) {
        run.hostPath = resolve(which === 'host' ? opt.host : opt['echo-host']);
        B.setHost(run, 'real');
        const floor = await B.runPage(browser, url, { environment: 'mode=floor', timeout: 60000 });
        if (floor.verdict !== 'PASS') throw new Error(`${which}: ${floor.verdict}`);
        rounds[which].push(Number(new Map(floor.results).get('version-ms-median')));
      }
    }
    run.hostPath = resolve(opt.host);
    B.setHost(run, 'real');
    console.log(`${kind}\tversion-turns-ms\t${rounds.host.join(',')}`);
    console.log(`${kind}\techo-version-turns-ms\t${rounds.echo.join(',')}`);
    console.log(`${kind}\tversion-turns-ms-median\t${median(rounds.host).toFixed(3)}`);
    console.log(`${kind}\techo-version-ms-median\t${median(rounds.echo).toFixed(3)}`);

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
    await windows.stop();
    await browser.close().catch(() => {});
  }
}
server.close();
process.exit(status);
