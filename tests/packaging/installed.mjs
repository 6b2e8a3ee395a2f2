#!/usr/bin/env node
// One browser started through its system launcher with only what a package installed: signs on an https
// page with the fixture store, answering Korvane's window as a user does (Allow for the site, then Sign for
// each signature; signatures checked by tests/browser/check-results), or, with --expect absent, finds no
// Korvane extension.
//
// Usage: installed.mjs --browser chromium|firefox --profile DIR --pki STORE --tls DIR [--expect signs|absent]
//   DIR under --tls holds key.pem and cert.pem for the server; the profile is used as it is (it may exist).
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { basename, join, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../extension/browsers.mjs';
import * as W from '../extension/korvane-window.mjs';

const { values: opt } = parseArgs({
  options: { browser: { type: 'string' }, profile: { type: 'string' }, pki: { type: 'string' },
             tls: { type: 'string' }, expect: { type: 'string', default: 'signs' } },
});
const pki = resolve(opt.pki);
const profile = resolve(opt.profile);
mkdirSync(profile, { recursive: true });
const tls = { key: readFileSync(join(opt.tls, 'key.pem')), cert: readFileSync(join(opt.tls, 'cert.pem')) };
const server = await B.startServer({ tls });
const run = { kind: opt.browser, profile, home: join(pki, 'home'), pkiDir: pki };
// Named after the profile: two runs of one browser side by side keep their results apart.
const name = `${basename(profile)}.installed.${opt.expect}`;
// The fixture store's PIN, typed in Korvane's window when the key asks for one.
const PIN = '1234';
const started = Date.now();
const browser = await B.launch(run, { installed: true });
let ok = false;
let detail = '';
try {
  if (opt.expect === 'absent') {
    const result = await B.runPage(browser, server.url('tests/extension/pages/absent.html'),
                                   { environment: 'expect=extension_missing', timeout: 20000 });
    ok = result.verdict === 'PASS';
    detail = result.logs.join('\n');
  } else {
    // A browser through its launcher can take seconds to bring an installed extension up: the first page
    // may come before it.
    const answers = W.autoAnswer(browser, { pin: PIN });
    let result;
    let views = [];
    try {
      for (let tries = 0; tries < 4 && !ok; tries++) {
        const from = answers.log.length;
        result = await B.runPage(browser, server.url('tests/extension/pages/signing.html'));
        views = answers.log.slice(from);
        ok = result.verdict === 'PASS';
        if (!ok) await new Promise((done) => setTimeout(done, 2000));
      }
    } finally {
      await answers.stop();
    }
    detail = result.logs.filter((l) => !l.startsWith('ok ')).join('\n') + `\nverdict: ${result.verdict}`;
    detail += answers.errors.map((e) => `\nKorvane's window: ${e.message}`).join('');
    if (ok) {
      // The user was asked once for the page's own site, and confirmed each signature the page got, seeing
      // the hash that was signed (the page also signs once after its refusals without reporting it).
      const site = new URL(server.url('')).origin;
      const asked = views.filter((v) => v.state === 'permission');
      const confirmed = views.filter((v) => v.state === 'confirm');
      const shown = new Set(confirmed.map((v) => v.hash.toLowerCase()));
      const hashes = result.results.filter(([k]) => k === 'signature')
        .map(([, v]) => Buffer.from(v.split(' ')[2], 'base64').toString('hex'));
      const problems = views.filter((v) => v.site !== site).map((v) => `a ${v.state} window for ${v.site}`);
      if (asked.length !== 1) problems.push(`${asked.length} permission windows`);
      if (confirmed.length !== hashes.length + 1) problems.push(`${confirmed.length} confirmations`);
      problems.push(...hashes.filter((h) => !shown.has(h)).map((h) => `${h} signed unseen`));
      if (problems.length) {
        ok = false;
        detail = `Korvane's window on ${site}: ${problems.join(', ')}`;
      }
    }
    if (ok) {
      const file = join(profile, '..', `${name}.results`);
      B.writeResults(file, result.results);
      const out = spawnSync('bash', [join(B.ROOT, 'tests', 'browser', 'check-results'), file, pki, name],
                            { encoding: 'utf8' });
      ok = out.status === 0;
      detail = (out.stdout + out.stderr).trim();
    }
  }
} finally {
  await browser.close().catch(() => {});
  server.close();
}
console.log(`${name}: ${ok ? 'PASS' : 'FAIL'} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
if (!ok) console.log(detail.replace(/^/gm, '  '));
process.exit(ok ? 0 : 1);
