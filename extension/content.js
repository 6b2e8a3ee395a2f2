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
  let port = null;

  function toPage(message) {
    window.postMessage(Object.assign({ korvane: 'extension' }, message), origin);
  }

  // The background may be stopped and started again; the port is opened again on the next request.
  function background() {
    if (port) return port;
    port = ext.runtime.connect({ name: 'korvane' });
    port.onMessage.addListener((message) => toPage(message));
    port.onDisconnect.addListener(() => {
      port = null;
      toPage({ type: 'host-closed', code: 'extension_restarted', message: 'the extension was restarted' });
    });
    return port;
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window || event.origin !== origin) return;
    let data;
    try {
      // A copy made here, so that nothing of the page's object travels on.
      data = JSON.parse(JSON.stringify(event.data));
    } catch (e) {
      return;
    }
    if (!data || typeof data !== 'object' || data.korvane !== 'page') return;
    if (data.type === 'ping') {
      toPage({ type: 'hello', extension: version });
      return;
    }
    if (typeof data.id !== 'number') return;
    delete data.korvane;
    delete data.origin;
    try {
      background().postMessage(data);
    } catch (e) {
      port = null;
      toPage({ id: data.id, ok: false, error: { code: 'extension_restarted', message: String(e) } });
    }
  });

  toPage({ type: 'hello', extension: version });
})();
