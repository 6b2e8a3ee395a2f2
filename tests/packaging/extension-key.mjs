#!/usr/bin/env node
// A signing key given at build time: the id the build derives from it is the id Chromium gives the staged
// extension carrying its public key, and the .crx Chromium packs with it carries that id.
//
// Usage: extension-key.mjs --work DIR   (DIR is wiped; needs the staged extension, KORVANE_STAGED)
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, rmSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import * as B from '../extension/browsers.mjs';

const { puppeteer } = B;

const { values: opt } = parseArgs({ options: { work: { type: 'string' } } });
const work = resolve(opt.work);
rmSync(work, { recursive: true, force: true });
mkdirSync(work, { recursive: true });
const run = (cmd, args) => {
  const out = spawnSync(cmd, args, { encoding: 'utf8', cwd: work });
  if (out.status !== 0) throw new Error(`${cmd} ${args.join(' ')}: ${out.stderr || out.stdout}`);
  return out.stdout;
};

const key = join(work, 'key.pem');
run('openssl', ['genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:2048', '-out', key]);
const cmake = `include(${join(B.ROOT, 'cmake', 'ExtensionId.cmake')})
korvane_extension_key("${key}" id public)
message("\${id} \${public}")`;
const script = join(work, 'id.cmake');
spawnSync('sh', ['-c', `cat > '${script}'`], { input: cmake });
const out = spawnSync('cmake', ['-P', script], { encoding: 'utf8', cwd: work });
const [id, publicKey] = out.stderr.trim().split(' ');
run('cmake', [`-DSOURCE=${B.EXTENSION_DIR}`, `-DDEST=${join(work, 'extension')}`, `-DMANIFEST_KEY=${publicKey}`,
              '-P', join(B.ROOT, 'cmake', 'stage-web.cmake')]);

let failures = 0;
const expect = (ok, what) => { console.log(`${ok ? 'ok' : 'FAIL'}: ${what}`); if (!ok) failures++; };

const args = [`--load-extension=${join(work, 'extension')}`, `--disable-extensions-except=${join(work, 'extension')}`];
if (process.getuid() === 0) args.push('--no-sandbox');
const browser = await puppeteer.launch({ executablePath: process.env.KORVANE_CHROMIUM || '/usr/bin/chromium',
                                         headless: true, pipe: true, enableExtensions: true, args,
                                         userDataDir: join(work, 'profile') });
try {
  const worker = await browser.waitForTarget((t) => t.url().startsWith('chrome-extension://'), { timeout: 15000 });
  const loaded = new URL(worker.url()).host;
  expect(/^[a-p]{32}$/.test(id) && loaded === id, `Chromium loads the extension as ${loaded}; the build says ${id}`);
} finally {
  await browser.close();
}

run(process.env.KORVANE_CHROMIUM || '/usr/bin/chromium',
    ['--no-sandbox', '--headless', `--user-data-dir=${join(work, 'pack-profile')}`,
     `--pack-extension=${join(work, 'extension')}`, `--pack-extension-key=${key}`]);
const crx = readFileSync(join(work, 'extension.crx'));
const raw = Buffer.from([...id].map((c) => (c.charCodeAt(0) - 97).toString(16)).join(''), 'hex');
expect(crx.subarray(0, 4).toString() === 'Cr24' && crx.indexOf(raw) > 0, 'the .crx is signed for that id');
process.exit(failures ? 1 : 0);
