// Korvane content script: the page's door to the extension. It takes only messages that the page's own
// window posted and that are marked as Korvane requests, hands them to the background, and posts every
// answer to the page's own origin alone, so that no other window or frame can read them.
'use strict';

(() => {
  const ext = globalThis.browser || globalThis.chrome;
  const origin = window.location.origin;
  // An opaque origin (file:, sandboxed frames) cannot be answered to one origin alone.
  if (!origin || origin === 'null') return;
  const version = ext.runtime.getManifest().version;
  const PAGE_TYPES = new Set(['open', 'invoke', 'get', 'set', 'close']);
  // Values nested deeper than this are refused here, as the host refuses them.
  const MAX_DEPTH = 32;
  let port = null;

  function toPage(message) {
    window.postMessage(Object.assign({ korvane: 'extension' }, message), origin);
  }

  // The background may be stopped and started again; the port is opened again on the next request.
  function background() {
    if (port) return port;
    const opened = ext.runtime.connect({ name: 'korvane' });
    port = opened;
    opened.onMessage.addListener((message) => toPage(message));
    opened.onDisconnect.addListener(() => {
      if (port !== opened) return;
      port = null;
      toPage({ type: 'host-closed', code: 'extension_restarted', message: 'the extension was restarted' });
    });
    return opened;
  }

  // Nesting depth of a value that JSON carried (a text or number is 0), without recursion.
  function tooDeep(value, limit) {
    const stack = [[value, 0]];
    while (stack.length) {
      const [item, depth] = stack.pop();
      if (item === null || typeof item !== 'object') continue;
      if (depth + 1 > limit) return true;
      for (const key of Object.keys(item)) stack.push([item[key], depth + 1]);
    }
    return false;
  }

  function malformed(id, text) {
    toPage({ id, ok: false, error: { code: 'malformed', message: `malformed: ${text}` } });
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window || event.origin !== origin) return;
    const raw = event.data;
    if (!raw || typeof raw !== 'object' || raw.korvane !== 'page') return;
    if (raw.type === 'ping') {
      toPage({ type: 'hello', extension: version });
      return;
    }
    const id = raw.id;
    if (typeof id !== 'number') return;
    let data;
    try {
      // A copy made here, so that nothing of the page's object travels on.
      data = JSON.parse(JSON.stringify(raw));
    } catch (e) {
      // A BigInt, a cycle, or nesting too deep for the engine: answered at once, never dropped.
      malformed(id, 'the arguments cannot be sent as JSON');
      return;
    }
    if (!PAGE_TYPES.has(data.type)) {
      malformed(id, 'unknown request type');
      return;
    }
    // Each argument may nest as deep as a value; the list holding them adds one level.
    if (tooDeep(data.args, MAX_DEPTH + 1) || tooDeep(data.value, MAX_DEPTH) || tooDeep(data.params, MAX_DEPTH)) {
      malformed(id, `values nested deeper than ${MAX_DEPTH}`);
      return;
    }
    delete data.korvane;
    delete data.origin;
    try {
      background().postMessage(data);
    } catch (e) {
      port = null;
      toPage({ id, ok: false, error: { code: 'extension_restarted', message: String(e) } });
    }
  });

  // A page restored from the back/forward cache lost its port while cached; the next request opens one.
  window.addEventListener('pageshow', (event) => {
    if (!event.persisted || !port) return;
    const old = port;
    port = null;
    try {
      old.disconnect();
    } catch (e) {
      // Already gone.
    }
  });

  toPage({ type: 'hello', extension: version });
})();
