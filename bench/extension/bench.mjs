#!/usr/bin/env node
// The extension half of bench/extension/run-bench, in Chromium and then in Firefox (one after the other, so
// that they do not compete). Prints BROWSER<TAB>KEY<TAB>VALUE.
// - bench.html with the site allowed once (remembered) and every signature confirmed in Korvane's window:
//   click on Sign -> signature in the page, and request -> window loaded, per signature;
// - the same signatures through a bare echo host that answers at once (the path's floor);
// - the "version" round trip through korvane-host and through a bare echo host, in turns on fresh tabs, so
//   that both meet the same load;
// - the page's first calls in fresh tabs (each starts korvane-host).
//
// Usage: bench.mjs --host KORVANE_HOST --echo-host ECHO_HOST --work DIR --pki-chromium STORE
//                  --pki-firefox STORE [--first N] [--signatures N] [--turns N] [--browsers chromium,firefox]
import { resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../../tests/extension/browsers.mjs';
import * as W from '../../tests/extension/korvane-window.mjs';

const { values: opt } = parseArgs({
  options: { host: { type: 'string' }, 'echo-host': { type: 'string' }, work: { type: 'string' },
             'pki-chromium': { type: 'string' }, 'pki-firefox': { type: 'string' },
             first: { type: 'string', default: '5' }, signatures: { type: 'string', default: '30' },
             turns: { type: 'string', default: '3' }, browsers: { type: 'string', default: 'chromium,firefox' } },
});
const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
const p95 = (list) => { const s = [...list].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor(s.length * 0.95))]; };
const server = await B.startServer();
const url = server.url('bench/extension/bench.html');

// Answers Korvane's windows until stopped: Allow (remembered) on the first, Sign on every signature, noting
// in the window's own clock when it had loaded and when Sign was clicked.
function answerWindows(browser, key) {
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
      // The clicks so far, kept in the extension's storage by the windows before this one.
      const kept = await page.evaluate((k) => JSON.parse(localStorage.getItem(k) || '[]'), key);
      clicked.splice(0, clicked.length, ...kept);
      // Clicked from inside once the driver's own call has returned, so that its traffic does not meet the
      // signature's; the time is taken just before the click.
      await page.$eval('#sign', (button, k) => {
        setTimeout(() => {
          const at = performance.timeOrigin + performance.now();
          button.click();
          const list = JSON.parse(localStorage.getItem(k) || '[]');
          list.push(at);
          localStorage.setItem(k, JSON.stringify(list));
        }, 20);
      }, key).catch(() => {});
    }
  })();
  return { loaded, clicked, stop: async () => { running = false; await loop; } };
}

const numbers = (results, key) => (new Map(results).get(key) || '').split(',').filter(Boolean).map(Number);

let status = 0;
for (const kind of opt.browsers.split(',')) {
  const run = B.makeRun(resolve(opt.work), kind, { hostPath: resolve(opt.host), pkiDir: resolve(opt[`pki-${kind}`]) });
  const started = Date.now();
  const browser = await B.launch(run);
  console.log(`${kind}\tbrowser-start-s\t${((Date.now() - started) / 1000).toFixed(2)}`);
  // Signatures one after another through the given host, each confirmed in the window: prints the page's
  // own figures (with prefix) and click -> signature and request -> window.
  const signatures = async (hostPath, prefix) => {
    run.hostPath = resolve(hostPath);
    B.setHost(run, 'real');
    const windows = answerWindows(browser, `korvane-bench-clicks-${prefix}`);
    let full;
    try {
      full = await B.runPage(browser, url, { environment: `window=1&signatures=${opt.signatures}`, timeout: 300000 });
    } finally {
      await windows.stop();
    }
    if (full.verdict !== 'PASS') throw new Error(full.verdict);
    for (const [k, v] of full.results) if (!k.endsWith('-at')) console.log(`${kind}\t${prefix}${k}\t${v}`);
    const asked = numbers(full.results, 'asked-at');
    const signed = numbers(full.results, 'signed-at');
    const { loaded, clicked } = windows;
    // The last click is kept by a window that never follows.
    if (clicked.length !== signed.length - 1 || loaded.length !== asked.length) {
      throw new Error(`${clicked.length} clicks and ${loaded.length} windows for ${signed.length} signatures`);
    }
    const toSignature = clicked.map((t, i) => signed[i] - t);
    const toWindow = loaded.map((t, i) => t - asked[i]);
    console.log(`${kind}\t${prefix}sign-click-to-signature-ms-median\t${median(toSignature).toFixed(3)}`);
    console.log(`${kind}\t${prefix}sign-click-to-signature-ms-p95\t${p95(toSignature).toFixed(3)}`);
    console.log(`${kind}\t${prefix}request-to-window-ms-median\t${median(toWindow).toFixed(1)}`);
    console.log(`${kind}\t${prefix}request-to-window-ms-p95\t${p95(toWindow).toFixed(1)}`);
  };
  try {
    await signatures(opt.host, '');
    // The same signatures through the echo host, which answers at once: what the browsers' messaging and
    // the window's round trips cost with nothing of ours behind them.
    await signatures(opt['echo-host'], 'floor-');

    // "version" through korvane-host and through the echo host in turns, each on a fresh tab and host.
    const rounds = { host: [], echo: [] };
    const idle = { host: [], echo: [] };
    for (let turn = 0; turn < Number(opt.turns); turn++) {
      for (const which of ['host', 'echo']) {
        run.hostPath = resolve(which === 'host' ? opt.host : opt['echo-host']);
        B.setHost(run, 'real');
        const floor = await B.runPage(browser, url, { environment: 'mode=floor', timeout: 60000 });
        if (floor.verdict !== 'PASS') throw new Error(`${which}: ${floor.verdict}`);
        rounds[which].push(Number(new Map(floor.results).get('version-ms-median')));
        idle[which].push(Number(new Map(floor.results).get('idle-version-ms-median')));
      }
    }
    run.hostPath = resolve(opt.host);
    B.setHost(run, 'real');
    console.log(`${kind}\tversion-turns-ms\t${rounds.host.join(',')}`);
    console.log(`${kind}\techo-version-turns-ms\t${rounds.echo.join(',')}`);
    console.log(`${kind}\tversion-turns-ms-median\t${median(rounds.host).toFixed(3)}`);
    console.log(`${kind}\techo-version-ms-median\t${median(rounds.echo).toFixed(3)}`);
    console.log(`${kind}\tidle-version-turns-ms-median\t${median(idle.host).toFixed(3)}`);
    console.log(`${kind}\techo-idle-version-ms-median\t${median(idle.echo).toFixed(3)}`);

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
