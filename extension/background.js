// Korvane background: carries page requests from the content script to the native host korvane-host and
// its replies back. One host connection per tab. The page's origin comes from the browser's record of the
// content script's frame, never from the page; the host pins it for the connection.
'use strict';

const ext = globalThis.browser || globalThis.chrome;
const HOST_NAME = 'eu.brindlemoor.korvane';
const REQUEST_TYPES = new Set(['open', 'invoke', 'get', 'set', 'close']);

// tab id -> { native, origin, hello, pending: Map(host id -> {port, id, type}), nextId, page }
const connections = new Map();

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

function closeConnection(tabId) {
  const conn = connections.get(tabId);
  if (!conn) return;
  connections.delete(tabId);
  try {
    conn.native.disconnect();
  } catch (e) {
    // Already closed.
  }
}

function connect(tabId, origin) {
  const conn = { native: null, origin, hello: null, pending: new Map(), nextId: 0, page: null };
  conn.native = ext.runtime.connectNative(HOST_NAME);
  conn.native.onMessage.addListener((message) => {
    if (message && message.type === 'hello') {
      conn.hello = message;
      return;
    }
    if (message && message.type === 'event') {
      if (conn.page) send(conn.page, { type: 'event', name: message.name, args: message.args || [] });
      return;
    }
    if (!message || typeof message !== 'object') return;
    // The host answers in order; a request it could not read (too large, not JSON) gets a reply without
    // an id, which belongs to the oldest request still waiting.
    let key = message.id;
    if (key === null || key === undefined) key = conn.pending.keys().next().value;
    const waiting = conn.pending.get(key);
    if (!waiting) return;
    conn.pending.delete(key);
    const reply = Object.assign({}, message, { id: waiting.id });
    if (waiting.type === 'open') reply.host = conn.hello;
    send(waiting.port, reply);
  });
  conn.native.onDisconnect.addListener((port) => {
    const reason = disconnectReason(port);
    // Before the hello the host never ran (no manifest, not allowed for this extension, failed to start).
    const code = conn.hello ? 'host_disconnected' : 'host_missing';
    if (connections.get(tabId) === conn) connections.delete(tabId);
    for (const waiting of conn.pending.values()) {
      send(waiting.port, { id: waiting.id, ok: false, error: { code, message: reason } });
    }
    conn.pending.clear();
    if (conn.page) send(conn.page, { type: 'host-closed', code, message: reason });
  });
  connections.set(tabId, conn);
  return conn;
}

function request(tabId, origin, port, message) {
  if (!message || typeof message !== 'object' || !REQUEST_TYPES.has(message.type)) {
    send(port, {
      id: message && typeof message.id === 'number' ? message.id : null,
      ok: false,
      error: { code: 'malformed', message: 'unknown request type' },
    });
    return;
  }
  let conn = connections.get(tabId);
  // The tab now shows another origin: its host connection belongs to the old one.
  if (conn && conn.origin !== origin) {
    closeConnection(tabId);
    conn = null;
  }
  if (!conn) conn = connect(tabId, origin);
  conn.page = port;
  const id = ++conn.nextId;
  conn.pending.set(id, { port, id: message.id, type: message.type });
  const out = Object.assign({}, message, { id, origin });
  delete out.korvane;
  try {
    conn.native.postMessage(out);
  } catch (e) {
    conn.pending.delete(id);
    send(port, { id: message.id, ok: false, error: { code: 'host_disconnected', message: String(e) } });
  }
}

ext.runtime.onConnect.addListener((port) => {
  const sender = port.sender || {};
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
  port.onMessage.addListener((message) => request(tabId, origin, port, message));
  port.onDisconnect.addListener(() => {
    disconnectReason(port);
    const conn = connections.get(tabId);
    if (!conn) return;
    if (conn.page === port) conn.page = null;
    for (const [id, waiting] of conn.pending) {
      if (waiting.port === port) conn.pending.delete(id);
    }
  });
});

ext.tabs.onRemoved.addListener((tabId) => closeConnection(tabId));
