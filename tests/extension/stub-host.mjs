#!/usr/bin/env node
// A stand-in for korvane-host that speaks the native-messaging framing and announces the version given in
// KORVANE_STUB_VERSION: the page library must refuse a host of another version family.
import { readSync, writeSync } from 'node:fs';

const version = process.env.KORVANE_STUB_VERSION || '1.0.0.0';

function send(message) {
  const body = Buffer.from(JSON.stringify(message), 'utf8');
  const head = Buffer.alloc(4);
  head.writeUInt32LE(body.length);
  writeSync(1, Buffer.concat([head, body]));
}

function readExactly(n) {
  const buffer = Buffer.alloc(n);
  let got = 0;
  while (got < n) {
    let count = 0;
    try {
      count = readSync(0, buffer, got, n - got, null);
    } catch (e) {
      if (e.code === 'EAGAIN') continue;
      throw e;
    }
    if (count === 0) return null;
    got += count;
  }
  return buffer;
}

send({ type: 'hello', version, protocol: 1 });
for (;;) {
  const head = readExactly(4);
  if (!head) break;
  const body = readExactly(head.readUInt32LE());
  if (!body) break;
  const request = JSON.parse(body.toString('utf8'));
  send({ id: request.id, ok: true, result: '', state: { version, lastError: 0 } });
}
