// Korvane's window: asks the user whether a site may use the signing certificates, and confirms each
// signature, with the card PIN typed here. It only shows what the background sends and hands back the
// user's answer; the PIN goes to the background once, on Sign, and the field is emptied at once.
'use strict';

(() => {
  const ext = globalThis.browser || globalThis.chrome;
  const token = location.hash.slice(1);
  const $ = (id) => document.getElementById(id);
  const port = ext.runtime.connect({ name: 'korvane-window' });
  let state = '';
  // Counts the views shown, so that a driver can tell a new answer from the same one.
  let views = 0;

  function post(message) {
    try {
      port.postMessage(message);
    } catch (e) {
      window.close();
    }
  }

  function render(view) {
    state = view.state;
    $('site').textContent = view.site || '';
    for (const name of document.querySelectorAll('.site-name')) name.textContent = view.site || '';
    $('permission-view').hidden = view.state !== 'permission';
    $('confirm-view').hidden = view.state !== 'confirm' && view.state !== 'busy' && view.state !== 'done';
    $('busy-view').hidden = view.state !== 'busy';
    if (view.state !== 'permission') {
      $('subject').textContent = view.subject || '';
      $('issuer').textContent = view.issuer || '';
      $('algorithm').textContent = view.algorithm || '';
      $('hash').textContent = view.hash || '';
      $('pin-row').hidden = !view.needsPin;
      $('pin-status').textContent = view.pinStatus || '';
      const waiting = view.state !== 'confirm';
      $('sign').disabled = waiting;
      $('cancel').disabled = view.state === 'busy' || view.state === 'done';
      $('pin').disabled = waiting;
    }
    document.body.dataset.view = String(++views);
    document.body.dataset.state = view.state;
    if (view.state === 'confirm' && view.needsPin) $('pin').focus();
    else if (view.state === 'permission') $('allow').focus();
  }

  port.onMessage.addListener((message) => {
    if (message && message.type === 'show') render(message.view);
  });
  // Without the background nothing here can be answered.
  port.onDisconnect.addListener(() => window.close());
  post({ type: 'hello', token });

  $('allow').addEventListener('click', () => {
    if (state === 'permission') post({ type: 'allow', remember: $('remember').checked });
  });
  $('deny').addEventListener('click', () => {
    if (state === 'permission') post({ type: 'deny' });
  });
  $('sign-form').addEventListener('submit', (event) => {
    event.preventDefault();
    if (state !== 'confirm') return;
    const field = $('pin');
    const pin = $('pin-row').hidden ? '' : field.value;
    field.value = '';
    post({ type: 'sign', pin });
  });
  $('cancel').addEventListener('click', () => {
    if (state === 'confirm') post({ type: 'cancel' });
  });
  document.addEventListener('keydown', (event) => {
    // Escape closes the window, which counts as Cancel.
    if (event.key === 'Escape' && state !== 'busy') window.close();
  });

  // Both browsers stop an idle background after about 30 s; a message now and then keeps it (and the
  // pending answer) alive while the user decides.
  setInterval(() => post({ type: 'keepalive' }), 20000);
})();
