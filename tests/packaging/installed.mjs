#!/usr/bin/env node
// One browser started through its system launcher with only what a package installed: signs on an https
// page with the fixture store (signatures checked by tests/browser/check-results), or, with --expect
// absent, finds no Korvane extension.
//
// Usage: installed.mjs --browser chromium|firefox --profile DIR --pki STORE --tls DIR [--expect signs|absent]
//   DIR under --tls holds key.pem and cert.pem for the server; the profile is used as it is (it may exist).
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../extension/browsers.mjs';

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
const name = `${opt.browser}.installed.${opt.expect}`;
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
    let result;
    for (let tries = 0; tries < 4 && !ok; tries++) {
      result = await B.runPage(browser, server.url('tests/extension/pages/signing.html'));
      ok = result.verdict === 'PASS';
      if (!ok) await new Promise((done) => setTimeout(done, 2000));
    }
    detail = result.logs.filter((l) => !l.startsWith('ok ')).join('\n') + `\nverdict: ${result.verdict}`;
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
