// Korvane background: carries page requests from the content script to the native host korvane-host and
// its replies back, and lets the user decide in Korvane's own window: which sites may use the certificates,
// and each signature, with the card PIN typed there and nowhere else.
//
// Each page (one content-script port) gets its own host connection, started only once the user allowed the
// page's origin in that tab; it ends with the page (close, reload, navigation, back/forward cache). The page's
// origin comes from the browser's record of the content script's frame, never from the page; the host pins
// it for the connection. A page's signPkcs1 never reaches the host as such: the background asks the host to
// describe the certificate, shows that in the window, and sends the host a `sign` request (the only request
// that carries a PIN, and one a page cannot make) after the user pressed Sign.
'use strict';

const ext = globalThis.browser || globalThis.chrome;
const HOST_NAME = 'eu.brindlemoor.korvane';
const PAGE_TYPES = new Set(['open', 'invoke', 'get', 'set', 'close']);
const WINDOW_PAGE = 'window.html';
const WINDOW_TIMEOUT = 120000;
// A signature under way shows "Working" only when it lasts: a software key answers in milliseconds, and
// redrawing the window then would only slow the answer down.
const BUSY_AFTER = 150;
// A window whose answer just went to the page closes a moment later: closing it takes the browser a few
// milliseconds of work, which would otherwise meet the answer on its way.
const CLOSE_AFTER_ANSWER = 10;

const TEXTS = {
  not_allowed: 'not allowed: the user did not allow this site to use the signing certificates',
  cancelled: 'cancelled: the user cancelled in Korvane\'s window',
  timeout: 'timeout: Korvane\'s window was left unanswered',
  pin_in_page: 'PIN in page: Korvane asks the user for the PIN in its own window; remove the page\'s PIN ' +
    'entry and call signPkcs1 alone',
  gone: 'the page went away',
};

// What the extension keeps in its own storage: remembered sites (local) and the origin each tab allowed
// for this browser session (session, so that a background woken again still knows it).
const settings = { sites: new Set(), tabAllowed: new Map(), windowTimeout: WINDOW_TIMEOUT };
let loading = null;

function load() {
  if (!loading) {
    // Each part on its own: what cannot be read is asked of the user again.
    const session = ext.storage.session ? ext.storage.session.get('tabs').catch(() => ({})) : Promise.resolve({});
    const local = ext.storage.local.get(['sites', 'windowTimeout']).catch(() => ({}));
    loading = Promise.all([local, session]).then(([stored, kept]) => {
      for (const site of stored.sites || []) settings.sites.add(site);
      applyTimeout(stored.windowTimeout);
      for (const [tab, origin] of Object.entries(kept.tabs || {})) settings.tabAllowed.set(Number(tab), origin);
    });
  }
  return loading;
}

// A different delay for tests only: they write it through the extension's own pages; no page can.
function applyTimeout(value) {
  settings.windowTimeout = Number.isFinite(value) && value > 0 ? value : WINDOW_TIMEOUT;
}

function saveTabs() {
  if (!ext.storage.session) return;
  ext.storage.session.set({ tabs: Object.fromEntries(settings.tabAllowed) }).catch(() => {});
}

function allowed(page) {
  return settings.sites.has(page.origin) || settings.tabAllowed.get(page.tabId) === page.origin;
}

// Why a port went away: Firefox puts it on the port, Chromium on runtime.lastError (read it either way, so
// Chromium does not log it as unchecked).
function disconnectReason(port) {
  const lastError = ext.runtime.lastError;
  if (port && port.error && port.error.message) return port.error.message;
  if (lastError && lastError.message) return lastError.message;
  return 'the host closed the connection';
}

function send(port, message) {
  try {
    port.postMessage(message);
  } catch (e) {
    // The page went away while its request was in flight: nobody is left to answer.
  }
}

function failure(id, code, message) {
  return { id, ok: false, error: { code, message: message || TEXTS[code] || code } };
}

// ---- Pages and their host connections ----

// All live pages, by port.
const pages = new Set();

function makePage(port, tabId, origin) {
  return { port, tabId, origin, native: null, hello: null, pending: new Map(), nextId: 0,
           denied: false, asking: false, held: [], gone: false };
}

function connectHost(page) {
  const native = ext.runtime.connectNative(HOST_NAME);
  page.native = native;
  page.hello = null;
  native.onMessage.addListener((message) => {
    if (!message || typeof message !== 'object') return;
    if (message.type === 'hello') {
      page.hello = message;
      return;
    }
    if (message.type === 'event') {
      send(page.port, { type: 'event', name: message.name, args: message.args || [] });
      return;
    }
    // The host answers in order; a request it could not read (too large, not JSON) gets a reply without an
    // id, which belongs to the oldest request still waiting.
    let key = message.id;
    if (key === null || key === undefined) key = page.pending.keys().next().value;
    const waiting = page.pending.get(key);
    if (!waiting) return;
    page.pending.delete(key);
    waiting(message);
  });
  native.onDisconnect.addListener((port) => {
    const reason = disconnectReason(port);
    if (page.native !== native) return;
    // Before the hello the host never ran (no manifest, not allowed for this extension, failed to start).
    const code = page.hello ? 'host_disconnected' : 'host_missing';
    page.native = null;
    failPending(page, code, reason);
    send(page.port, { type: 'host-closed', code, message: reason });
  });
}

function failPending(page, code, message) {
  const waiting = [...page.pending.values()];
  page.pending.clear();
  for (const answer of waiting) answer({ id: null, ok: false, error: { code, message } });
}

function closeHost(page) {
  const native = page.native;
  page.native = null;
  if (!native) return;
  try {
    native.disconnect();
  } catch (e) {
    // Already closed.
  }
}

// Sends one request to the page's host (started on first use); answer gets the host's reply.
function toHost(page, request, answer) {
  if (!page.native) connectHost(page);
  const id = ++page.nextId;
  page.pending.set(id, answer);
  try {
    page.native.postMessage(Object.assign({}, request, { id, origin: page.origin }));
  } catch (e) {
    page.pending.delete(id);
    answer({ id: null, ok: false, error: { code: 'host_disconnected', message: String(e) } });
  }
}

// A page request passed on as it is; the reply goes back under the page's id.
function forward(page, message) {
  const pageId = message.id;
  const out = Object.assign({}, message);
  delete out.korvane;
  toHost(page, out, (reply) => {
    const back = Object.assign({}, reply, { id: pageId });
    if (message.type === 'open' && reply.ok !== false) back.host = page.hello;
    send(page.port, back);
  });
}

function isPinRequest(message) {
  if (message.type === 'invoke') return message.member === 'processPinChar' || message.member === 'deletePinChar';
  return message.type === 'set' && message.member === 'pin' && message.value !== '' && message.value !== null;
}

function onPageMessage(page, message) {
  if (page.gone) return;
  const id = message && typeof message.id === 'number' ? message.id : null;
  if (!message || typeof message !== 'object' || !PAGE_TYPES.has(message.type) || id === null) {
    send(page.port, failure(id, 'malformed', 'unknown request type'));
    return;
  }
  if (isPinRequest(message)) {
    send(page.port, failure(id, 'pin_in_page'));
    return;
  }
  if (message.type === 'close' && !page.native) {
    send(page.port, { id, ok: true, result: null });
    return;
  }
  if (page.denied) {
    send(page.port, failure(id, 'not_allowed'));
    return;
  }
  if (!allowed(page)) {
    // Nothing reaches the host, and no host starts, before the user allows the site.
    page.held.push(message);
    if (!page.asking) {
      page.asking = true;
      enqueue(page.tabId, { kind: 'permission', page });
    }
    return;
  }
  dispatch(page, message);
}

function dispatch(page, message) {
  if (message.type === 'invoke' && message.member === 'signPkcs1' && Array.isArray(message.args) &&
      message.args.length >= 2) {
    confirmSignature(page, message);
  } else {
    forward(page, message);
  }
}

// ---- Signatures: described by the host, confirmed in the window ----

function confirmSignature(page, message) {
  const [certificate, hash] = message.args;
  if (typeof certificate !== 'string' || typeof hash !== 'string') {
    send(page.port, failure(message.id, 'script_error', 'signPkcs1 takes the certificate identifier and the hash as texts'));
    return;
  }
  toHost(page, { type: 'describe', certificate, hash }, (reply) => {
    if (page.gone) return;
    // A refusal (unknown certificate, a hash of no known length...) goes back as the engine gave it.
    if (!reply.ok || !reply.result) {
      send(page.port, Object.assign({}, reply, { id: message.id, result: reply.ok ? '' : reply.result }));
      return;
    }
    enqueue(page.tabId, { kind: 'confirm', page, id: message.id, certificate, hash, info: reply.result });
  });
}

function pinStateText(state) {
  if (state === 'finalTry') return 'one try left: the next wrong PIN blocks the card';
  if (state === 'locked') return 'card blocked';
  return '';
}

function signWithPin(tab, win, pin) {
  const job = win.job;
  const request = { type: 'sign', certificate: job.certificate, hash: job.hash };
  if (pin) request.pin = pin;
  win.busy = true;
  toHost(job.page, request, (reply) => {
    win.busy = false;
    const state = reply.state || {};
    if (reply.ok && !reply.result && !win.closed && state.pinState !== 'locked' &&
        (state.isPinInvalid || state.isPinMissing)) {
      // The window stays open for another try; the host never presents the same wrong PIN twice.
      job.info.needsPin = true;
      const status = state.isPinInvalid
        ? ['wrong PIN', pinStateText(state.pinState)].filter(Boolean).join(': ')
        : 'type the card\'s PIN';
      show(win, { state: 'confirm', needsPin: true, pinStatus: status });
      restartTimer(tab, win);
      return;
    }
    if (reply.ok && !reply.result && state.pinState === 'locked' && !win.closed) {
      show(win, { state: 'done', pinStatus: 'card blocked' });
      answerPage(job.page, Object.assign({}, reply, { id: job.id }));
      finishWindow(tab, win, 3000);
      return;
    }
    if (win.closed && reply.ok && !reply.result && (state.isPinInvalid || state.isPinMissing)) {
      answerPage(job.page, failure(job.id, 'cancelled'));
    } else {
      answerPage(job.page, Object.assign({}, reply, { id: job.id }));
    }
    finishWindow(tab, win, CLOSE_AFTER_ANSWER);
  });
  setTimeout(() => {
    if (win.busy) show(win, { state: 'busy' });
  }, BUSY_AFTER);
}

function answerPage(page, reply) {
  if (!page.gone) send(page.port, reply);
}

// ---- Korvane's window: one per tab, the tab's other requests wait for it ----

// tab id -> { jobs: [], win: null | { job, token, windowId, port, timer, busy, closed }, closing }
const tabs = new Map();
const byToken = new Map();

function tabState(tabId) {
  let tab = tabs.get(tabId);
  if (!tab) {
    tab = { jobs: [], win: null, closing: false };
    tabs.set(tabId, tab);
  }
  return tab;
}

function enqueue(tabId, job) {
  const tab = tabState(tabId);
  tab.jobs.push(job);
  if (!tab.win && !tab.closing) {
    openNext(tabId, tab);
  } else if (tab.win && tab.win.windowId !== null) {
    ext.windows.update(tab.win.windowId, { focused: true }).catch(() => {});
  }
}

function randomToken() {
  const bytes = new Uint8Array(16);
  crypto.getRandomValues(bytes);
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

function openNext(tabId, tab) {
  const job = tab.jobs.shift();
  if (!job) {
    if (!tab.win && tabs.get(tabId) === tab) tabs.delete(tabId);
    return;
  }
  const win = { tabId, job, token: randomToken(), windowId: null, port: null, timer: null, busy: false,
                closed: false, view: null };
  tab.win = win;
  byToken.set(win.token, win);
  restartTimer(tab, win);
  ext.windows.create({ type: 'popup', url: ext.runtime.getURL(`${WINDOW_PAGE}#${win.token}`), width: 480,
                       height: 500, focused: true }).then((created) => {
    win.windowId = created.id;
    if (tab.win !== win) ext.windows.remove(created.id).catch(() => {});
  }, () => endWindow(tab, win, 'cancelled'));
}

function restartTimer(tab, win) {
  clearTimeout(win.timer);
  win.timer = setTimeout(() => endWindow(tab, win, 'timeout'), settings.windowTimeout);
}

// What the window shows for its job.
function viewOf(win) {
  const job = win.job;
  if (job.kind === 'permission') return { state: 'permission', site: job.page.origin };
  const info = job.info;
  return { state: 'confirm', site: job.page.origin, subject: info.subject, issuer: info.issuer,
           algorithm: info.algorithm, hash: info.hash, needsPin: !!info.needsPin,
           pinStatus: pinStateText(info.pinState) };
}

function show(win, change) {
  win.view = Object.assign(win.view || viewOf(win), change);
  if (win.port) send(win.port, { type: 'show', view: win.view });
}

// The job is answered: the window goes (after delay ms), and only then does the tab's next job get a
// window of its own, so that a tab never shows two.
function finishWindow(tab, win, delay) {
  if (tab.win !== win) return;
  clearTimeout(win.timer);
  byToken.delete(win.token);
  tab.win = null;
  tab.closing = true;
  const next = () => {
    tab.closing = false;
    if (!tab.win) openNext(win.tabId, tab);
  };
  // The browser handles the removal before a window created after it.
  const remove = () => {
    if (win.windowId !== null) ext.windows.remove(win.windowId).catch(() => {});
    next();
  };
  if (delay) setTimeout(remove, delay);
  else remove();
}

// The window ended without an answer (closed, Cancel, timeout): its call and the tab's waiting calls reject.
function endWindow(tab, win, code) {
  if (tab.win !== win || win.closed) return;
  win.closed = true;
  if (win.busy) {
    // The signature is under way: its reply still goes to the page.
    clearTimeout(win.timer);
    return;
  }
  const waiting = [win.job, ...tab.jobs];
  tab.jobs = [];
  for (const job of waiting) rejectJob(job, code);
  finishWindow(tab, win, 0);
}

function rejectJob(job, code) {
  const page = job.page;
  if (job.kind === 'confirm') {
    answerPage(page, failure(job.id, code));
    return;
  }
  page.asking = false;
  if (code === 'not_allowed') page.denied = true;
  const held = page.held;
  page.held = [];
  for (const message of held) answerPage(page, failure(message.id, code));
}

function onWindowMessage(win, message) {
  const tab = tabs.get(win.tabId);
  if (!tab || tab.win !== win || win.closed || !message) return;
  const job = win.job;
  if (message.type === 'keepalive') return;
  if (job.kind === 'permission') {
    if (message.type === 'allow') {
      const page = job.page;
      settings.tabAllowed.set(page.tabId, page.origin);
      saveTabs();
      if (message.remember && !settings.sites.has(page.origin)) {
        settings.sites.add(page.origin);
        ext.storage.local.set({ sites: [...settings.sites] }).catch(() => {});
      }
      page.asking = false;
      const held = page.held;
      page.held = [];
      finishWindow(tab, win, 0);
      for (const request of held) dispatch(page, request);
    } else if (message.type === 'deny') {
      endWindow(tab, win, 'not_allowed');
    }
    return;
  }
  if (win.busy) return;
  if (message.type === 'sign') {
    signWithPin(tab, win, typeof message.pin === 'string' ? message.pin : '');
  } else if (message.type === 'cancel') {
    endWindow(tab, win, 'cancelled');
  }
}

function onWindowConnect(port) {
  let win = null;
  port.onMessage.addListener((message) => {
    if (!win) {
      win = message && message.type === 'hello' ? byToken.get(message.token) : null;
      if (!win || win.port) {
        port.disconnect();
        return;
      }
      win.port = port;
      show(win, {});
      return;
    }
    onWindowMessage(win, message);
  });
  port.onDisconnect.addListener(() => {
    disconnectReason(port);
    if (!win) return;
    win.port = null;
    const tab = tabs.get(win.tabId);
    if (tab) endWindow(tab, win, 'cancelled');
  });
}

// ---- The page's end, tab changes and sites taken back ----

// The page is gone (closed, reloaded, navigated, cached): its host, waiting calls and window go with it.
function endPage(page) {
  if (page.gone) return;
  page.gone = true;
  pages.delete(page);
  closeHost(page);
  page.pending.clear();
  page.held = [];
  const tab = tabs.get(page.tabId);
  if (!tab) return;
  tab.jobs = tab.jobs.filter((job) => job.page !== page);
  if (tab.win && tab.win.job.page === page) {
    tab.win.closed = true;
    finishWindow(tab, tab.win, 0);
  } else if (!tab.win && !tab.closing && !tab.jobs.length) {
    tabs.delete(page.tabId);
  }
}

// A site the user took back: its sessions end at once and its pages must ask again.
function revoke(origin) {
  settings.sites.delete(origin);
  let changed = false;
  for (const [tabId, allowedOrigin] of settings.tabAllowed) {
    if (allowedOrigin === origin) {
      settings.tabAllowed.delete(tabId);
      changed = true;
    }
  }
  if (changed) saveTabs();
  for (const page of pages) {
    if (page.origin !== origin) continue;
    const hadHost = !!page.native;
    closeHost(page);
    failPending(page, 'not_allowed', TEXTS.not_allowed);
    const tab = tabs.get(page.tabId);
    if (tab) {
      const dropped = tab.jobs.filter((job) => job.page === page);
      tab.jobs = tab.jobs.filter((job) => job.page !== page);
      for (const job of dropped) rejectJob(job, 'not_allowed');
      if (tab.win && tab.win.job.page === page) endWindow(tab, tab.win, 'not_allowed');
      page.denied = false;
    }
    if (hadHost) send(page.port, { type: 'host-closed', code: 'not_allowed', message: TEXTS.not_allowed });
  }
}

ext.runtime.onConnect.addListener((port) => {
  const sender = port.sender || {};
  if (port.name === 'korvane-window') {
    // Only Korvane's own window page speaks here.
    if (sender.id !== ext.runtime.id || !String(sender.url || '').startsWith(ext.runtime.getURL(WINDOW_PAGE))) {
      port.disconnect();
      return;
    }
    onWindowConnect(port);
    return;
  }
  let origin = null;
  try {
    origin = new URL(sender.url).origin;
  } catch (e) {
    origin = null;
  }
  // Only the content script of a tab's top frame speaks for a page.
  if (port.name !== 'korvane' || !sender.tab || sender.frameId !== 0 || !origin || origin === 'null') {
    port.disconnect();
    return;
  }
  const tabId = sender.tab.id;
  // The tab now shows another origin: what it allowed belonged to the old one.
  if (settings.tabAllowed.has(tabId) && settings.tabAllowed.get(tabId) !== origin) {
    settings.tabAllowed.delete(tabId);
    saveTabs();
  }
  const page = makePage(port, tabId, origin);
  pages.add(page);
  const ready = load();
  port.onMessage.addListener((message) => {
    ready.then(() => onPageMessage(page, message));
  });
  port.onDisconnect.addListener(() => {
    disconnectReason(port);
    endPage(page);
  });
});

ext.tabs.onRemoved.addListener((tabId) => {
  for (const page of [...pages]) if (page.tabId === tabId) endPage(page);
  if (settings.tabAllowed.delete(tabId)) saveTabs();
});

ext.windows.onRemoved.addListener((windowId) => {
  for (const [, tab] of tabs) {
    if (tab.win && tab.win.windowId === windowId) endWindow(tab, tab.win, 'cancelled');
  }
});

ext.storage.onChanged.addListener((changes, area) => {
  if (area !== 'local') return;
  load().then(() => {
    if (changes.windowTimeout) applyTimeout(changes.windowTimeout.newValue);
    if (!changes.sites) return;
    const now = new Set(changes.sites.newValue || []);
    for (const site of [...settings.sites]) if (!now.has(site)) revoke(site);
    for (const site of now) settings.sites.add(site);
  });
});

load();
