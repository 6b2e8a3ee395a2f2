// Chromium and Firefox with the Korvane extension, for the end-to-end tests, the demo and the benchmark:
// a throwaway profile and HOME per run, the host manifests written into them, the staged tree served on
// loopback, and pages run with the same driver object (window.korvaneDriver) as the QtWebKit driver's.
import { createServer } from 'node:http';
import { createServer as createHttpsServer } from 'node:https';
import { createReadStream, existsSync, mkdirSync, rmSync, statSync, writeFileSync, chmodSync, cpSync, readFileSync, readdirSync } from 'node:fs';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

// For the scripts next door, which have no node_modules of their own.
export { puppeteer };

export const ROOT = resolve(fileURLToPath(new URL('../..', import.meta.url)));
// The build's staged tree (KORVANE_STAGED, default build/dev/staged): the extension and web/korvane.js with
// the version written into them, and links to the repository's pages. Pages are served from there.
export const STAGED = resolve(process.env.KORVANE_STAGED || join(ROOT, 'build', 'dev', 'staged'));
export const EXTENSION_DIR = join(STAGED, 'extension');
export const HOST_NAME = 'eu.brindlemoor.korvane';
// The build's id (KORVANE_CHROMIUM_ID) when it signs the extension with a key of its own.
export const CHROMIUM_ID = process.env.KORVANE_CHROMIUM_ID || 'alabeekhmfpcphinfmjnoohcmfmbgpkh';
export const GECKO_ID = 'korvane@brindlemoor.eu';
// A name that is not loopback for the browsers, mapped onto 127.0.0.1 for the http-origin checks.
export const NON_LOOPBACK_NAME = 'korvane.test';

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
                '.mjs': 'text/javascript; charset=utf-8', '.json': 'application/json', '.css': 'text/css',
                '.png': 'image/png' };

// Serves the staged tree read-only on 127.0.0.1 and ::1 (localhost), on one port; over https when given
// { tls: { key, cert } } (PEM texts).
export async function startServer({ tls } = {}) {
  if (!existsSync(join(EXTENSION_DIR, 'manifest.json'))) {
    throw new Error(`no staged extension in ${STAGED}: build the target korvane_staged (or set KORVANE_STAGED)`);
  }
  const handler = (req, res) => {
    const path = normalize(decodeURIComponent(new URL(req.url, 'http://x').pathname));
    const file = join(STAGED, path);
    let ok = req.method === 'GET' && file.startsWith(STAGED + sep) && !path.includes('node_modules');
    try {
      ok = ok && statSync(file).isFile();
    } catch {
      ok = false;
    }
    if (!ok) {
      res.writeHead(404).end('not found');
      return;
    }
    res.writeHead(200, { 'content-type': TYPES[extname(file)] || 'application/octet-stream', 'cache-control': 'no-store' });
    createReadStream(file).pipe(res);
  };
  const make = () => (tls ? createHttpsServer(tls, handler) : createServer(handler));
  const v4 = make();
  await new Promise((done) => v4.listen(0, '127.0.0.1', done));
  const port = v4.address().port;
  const v6 = make();
  await new Promise((done) => {
    v6.once('error', () => done()); // no IPv6 here: localhost then means 127.0.0.1 alone
    v6.listen(port, '::1', done);
  });
  return {
    port,
    url: (path, host = '127.0.0.1') => `${tls ? 'https' : 'http'}://${host}:${port}/${path.replace(/^\//, '')}`,
    close: () => { v4.close(); v6.close(); },
  };
}

// A copy of the fixture store for one run: SoftHSM2 rewrites its token files on a login, so two browsers
// signing at once must not share them. The files that name the store's folder are made to name the copy.
// The card's run folder is left out: it is the live state of an emulated card that may be running now.
export function copyStore(pkiDir, dest) {
  rmSync(dest, { recursive: true, force: true });
  const live = join(resolve(pkiDir), 'card', 'run');
  cpSync(pkiDir, dest, { recursive: true, filter: (src) => resolve(src) !== live });
  for (const file of ['softhsm2.conf', 'fixture.env', join('home', '.pki', 'nssdb', 'pkcs11.txt')]) {
    const text = readFileSync(join(pkiDir, file), 'utf8').split(resolve(pkiDir)).join(dest);
    writeFileSync(join(dest, file), text);
  }
  return dest;
}

// The throwaway folders of one browser run: profile, HOME and the host's launcher.
// With cardDir (a started card fixture), the host runs beside the emulated card, on the card's store.
export function makeRun(work, kind, { hostPath, pkiDir, hostOptions = ['--allow-loopback'], name = kind, cardDir }) {
  const dir = join(work, name);
  rmSync(dir, { recursive: true, force: true });
  const run = { kind, dir, profile: join(dir, 'profile'), home: join(dir, 'home'), hostPath, pkiDir, hostOptions, cardDir };
  for (const d of [run.profile, run.home, join(dir, 'host')]) mkdirSync(d, { recursive: true });
  run.manifestPath = kind === 'chromium'
    ? join(run.profile, 'NativeMessagingHosts', `${HOST_NAME}.json`)
    : join(run.home, '.mozilla', 'native-messaging-hosts', `${HOST_NAME}.json`);
  mkdirSync(join(run.manifestPath, '..'), { recursive: true });
  run.hostLog = join(dir, 'host', 'stderr.log');
  run.hostStarts = join(dir, 'host', 'starts');
  setHost(run, cardDir ? 'card' : 'real');
  return run;
}

// Points the host manifest at the real host ('real'), the real host beside the card ('card'), at a host of
// another version ('stub'), or removes it (null). Both browsers read the manifest again for every new host
// connection.
export function setHost(run, which) {
  if (which === null) {
    rmSync(run.manifestPath, { force: true });
    return;
  }
  const launcher = join(run.dir, 'host', `launch-${which}`);
  const env = `HOME='${run.pkiDir}/home' SOFTHSM2_CONF='${run.pkiDir}/softhsm2.conf'`;
  let target = `'${run.hostPath}' ${run.hostOptions.join(' ')}`;
  if (which === 'stub') target = `node '${join(ROOT, 'tests', 'extension', 'stub-host.mjs')}'`;
  // in-card-ns enters the card's namespace and sets HOME to the card's store.
  if (which === 'card') target = `env KORVANE_CARD_DIR='${run.cardDir}' '${join(ROOT, 'tests', 'fixtures', 'card', 'in-card-ns')}' ${target}`;
  // The host reads the store from its HOME; the browser's own HOME stays the throwaway one. Each start is
  // recorded, so that a test sees whether the browser started a host at all.
  writeFileSync(launcher, `#!/bin/sh\nexport ${env}\necho $$ >>'${run.hostStarts}'\n` +
                          `exec ${target} "$@" 2>>'${run.hostLog}'\n`);
  chmodSync(launcher, 0o755);
  const manifest = { name: HOST_NAME, description: 'Korvane signing host', path: launcher, type: 'stdio' };
  if (run.kind === 'chromium') manifest.allowed_origins = [`chrome-extension://${CHROMIUM_ID}/`];
  else manifest.allowed_extensions = [GECKO_ID];
  writeFileSync(run.manifestPath, JSON.stringify(manifest, null, 2));
}

// Starts the browser headless with the throwaway profile and HOME; the extension is loaded unless
// { extension: false }. With { installed: true } the browser starts through its system launcher and gets
// the extension only from what is installed on the machine (a package), and accepts the test server's
// self-made certificate.
export async function launch(run, { extension = true, headless = true, installed = false } = {}) {
  const env = { ...process.env, HOME: run.home, XDG_CONFIG_HOME: join(run.home, '.config'),
                XDG_CACHE_HOME: join(run.home, '.cache') };
  delete env.SOFTHSM2_CONF;
  // An installed host starts with the browser's environment: it finds the store through HOME (the run's
  // home is then the store's) and SoftHSM2's configuration.
  if (installed) env.SOFTHSM2_CONF = join(run.pkiDir, 'softhsm2.conf');
  let browser;
  if (run.kind === 'chromium') {
    const args = [`--host-resolver-rules=MAP ${NON_LOOPBACK_NAME} 127.0.0.1`, '--disable-features=HttpsUpgrades',
                  '--no-first-run', '--window-size=1100,800'];
    if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');
    if (extension && !installed) {
      args.push(`--load-extension=${EXTENSION_DIR}`, `--disable-extensions-except=${EXTENSION_DIR}`);
    }
    browser = await puppeteer.launch({
      executablePath: installed ? '/usr/bin/chromium' : process.env.KORVANE_CHROMIUM || '/usr/bin/chromium',
      headless, pipe: true, enableExtensions: extension, userDataDir: run.profile, env, args,
      acceptInsecureCerts: installed,
      defaultViewport: { width: 1100, height: 800 },
    });
  } else {
    const prefs = installed ? {} : { 'xpinstall.signatures.required': false, 'extensions.autoDisableScopes': 0 };
    browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: installed ? '/usr/bin/firefox-esr' : process.env.KORVANE_FIREFOX || '/usr/bin/firefox-esr',
      headless, userDataDir: run.profile, env, acceptInsecureCerts: installed,
      defaultViewport: { width: 1100, height: 800 },
      extraPrefsFirefox: {
        ...prefs,
        'network.dns.localDomains': NON_LOOPBACK_NAME,
        'dom.security.https_first': false,
        'dom.security.https_first_pbm': false,
        // Page clocks to the microsecond, for the benchmark (Firefox rounds them to a millisecond by default).
        'privacy.reduceTimerPrecision': false,
      },
    });
    if (extension && !installed) await browser.installExtension(EXTENSION_DIR);
  }
  return browser;
}

// Removes the extension from a running browser (Firefox; Chromium is started without it instead).
export async function removeExtension(browser) {
  await browser.uninstallExtension(GECKO_ID);
}

// Runs one page: window.korvaneDriver collects its results and verdict, as in the QtWebKit driver.
// Resolves with { verdict, results: [[key, value]...], logs, page } (the page stays open when keepOpen).
// With { reuse: page } the page navigates in that tab instead of a new one.
export async function runPage(browser, url, { environment = '', timeout = 40000, keepOpen = false, screenshot, reuse } = {}) {
  const page = reuse || await browser.newPage();
  await page.evaluateOnNewDocument((env) => {
    const state = { results: [], logs: [], verdict: undefined };
    window.__korvane = state;
    window.korvaneDriver = {
      environment: env,
      log: (text) => { state.logs.push(String(text)); },
      report: (key, value) => { state.results.push([String(key), String(value)]); },
      done: (verdict) => { if (state.verdict === undefined) state.verdict = String(verdict); },
      now: () => performance.now(),
    };
  }, environment);
  let verdict;
  try {
    await page.goto(url, { waitUntil: 'load', timeout });
    await page.waitForFunction(() => window.__korvane && window.__korvane.verdict !== undefined,
                               { timeout, polling: 25 });
  } catch (e) {
    verdict = `FAIL: ${e.message.split('\n')[0]}`;
  }
  let state = { results: [], logs: [], verdict };
  try {
    state = await page.evaluate(() => window.__korvane);
  } catch {
    // The page is gone; the verdict above says why.
  }
  if (screenshot) await page.screenshot({ path: screenshot });
  if (!keepOpen) await page.close();
  return { verdict: verdict || state.verdict, results: state.results, logs: state.logs, page };
}

export function writeResults(file, results) {
  writeFileSync(file, results.map(([k, v]) => `${k}\t${v}\n`).join(''));
}

// How many hosts the browser has started in this run.
export function hostStarts(run) {
  try {
    return readFileSync(run.hostStarts, 'utf8').split('\n').filter(Boolean).length;
  } catch {
    return 0;
  }
}

// The host processes of this run still alive: programs in /proc started as the host's path with this run's
// store (other runs of the same host may be going on at the same time).
export function hostProcesses(run) {
  const found = [];
  const store = `SOFTHSM2_CONF=${run.pkiDir}/softhsm2.conf`;
  for (const pid of readdirSync('/proc')) {
    if (!/^\d+$/.test(pid)) continue;
    try {
      if (readFileSync(`/proc/${pid}/cmdline`, 'utf8').split('\0')[0] === run.hostPath &&
          readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0').includes(store)) {
        found.push(Number(pid));
      }
    } catch {
      // Gone meanwhile.
    }
  }
  return found;
}
