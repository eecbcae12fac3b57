// Bytes through the Backend, against the stand-in launcher (peer.mjs):
// announced uploads reach handlers as Buffers and their files go, bad
// references are answered without the handler, and bytes a handler
// returns are offered in a file named by a BLOB line before the RET.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { Backend } from '../index.js';
import { Inbox } from '../lib/blobs.js';

const PEER = path.join(path.dirname(new URL(import.meta.url).pathname), 'peer.mjs');

const call = (seq, method, params, origin = 'file://') =>
  `CALL main:${seq} ${JSON.stringify([JSON.stringify({ method, params }), origin])}`;
const announce = (id, file, size) => `BLOB ${JSON.stringify({ id, size, path: file })}`;
const ref = (id, size) => ({ $blob: id, size });

function tempDir(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-bytes-test-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

async function until(cond, ms = 10000) {
  const end = Date.now() + ms;
  while (!cond() && Date.now() < end) await new Promise((r) => setTimeout(r, 10));
  return cond();
}

test('uploads reach handlers as Buffers, bad references are refused, bytes answers are offered', async (t) => {
  const dir = tempDir(t);
  const file = (name, data) => {
    const p = path.join(dir, name);
    fs.writeFileSync(p, data);
    return p;
  };
  const binary = Buffer.from([0, 10, 255, 1, 2]);
  const kept = file('kept', 'kept bytes');
  const up = [file('u1', binary), file('u2', 'xyz'), file('u3', 'q'), file('u4', 'short')];
  const log = path.join(dir, 'log');
  const send = [
    announce('u1', up[0], 5),
    call(1, 'sum', { name: 'n', bytes: ref('u1', 5), again: [ref('u1', 5)] }),
    call(2, 'sum', { deep: [ref('never', 1)] }),
    announce('u2', up[1], 3),
    call(3, 'no.such.method', { bytes: ref('u2', 3) }),
    announce('u3', up[2], 1),
    call(4, 'sum', { bytes: ref('u3', 1) }, 'https://evil.example'),
    announce('u4', up[3], 999),
    call(5, 'sum', { bytes: ref('u4', 999) }),
    call(6, 'make', { n: 300000 }),
    call(7, 'sum', ref('u1', 5)),
    call(8, 'echo', { $blob: 'u9', size: 1, x: 1 }),
    call(9, 'file', { path: kept }),
    call(10, 'file', { path: '/nonexistent/x' }),
  ];
  const app = new Backend();
  let runs = 0;
  app.handle('sum', (p) => {
    runs += 1;
    return { length: p.bytes.length, same: p.bytes.equals(binary), again: p.again[0].equals(p.bytes), name: p.name };
  });
  app.handle('make', async ({ n }) => {
    const data = new Uint8Array(n);
    for (let i = 0; i < n; ++i) data[i] = i % 251;
    return data;
  });
  app.handle('echo', (p) => p);
  app.handle('file', (p, c) => c.resolveFile(p.path));
  const stderr = process.stderr.write;
  process.stderr.write = () => true;
  t.after(() => { process.stderr.write = stderr; });
  await app.start({ launcher: PEER, page: '/p.html', env: { PEER_LOG: log, PEER_SEND: JSON.stringify(send) } });
  t.after(() => app.quit(100));
  const lines = () => (fs.existsSync(log) ? fs.readFileSync(log, 'utf8').split('\n').filter(Boolean) : []);
  assert.ok(await until(() => lines().length >= 12), lines().join('\n'));
  const got = lines();
  const byCall = (n) => got.find((l) => l.startsWith(`RET main:${n} `));
  assert.equal(byCall(1), 'RET main:1 0 {"length":5,"same":true,"again":true,"name":"n"}');
  assert.equal(byCall(2), 'RET main:2 1 {"message":"no such blob: never"}');
  assert.equal(byCall(3), 'RET main:3 1 {"message":"unknown method no.such.method"}');
  assert.equal(byCall(4), 'RET main:4 1 {"message":"origin https://evil.example may not call the backend"}');
  assert.equal(byCall(5), 'RET main:5 1 {"message":"no such blob: u4"}');
  // Call 1 claimed u1 at once, so call 7 finds it gone.
  assert.equal(byCall(7), 'RET main:7 1 {"message":"no such blob: u1"}');
  assert.equal(byCall(8), 'RET main:8 0 {"$blob":"u9","size":1,"x":1}');
  const offer = got.findIndex((l) => l.startsWith('BLOB ') && l.includes(' move '));
  const m = /^BLOB ([0-9a-f]{32}) move (\/.+)$/.exec(got[offer]);
  assert.ok(m, got[offer]);
  assert.equal(got[offer + 1], `RET main:6 0 {"$blob":"${m[1]}","size":300000}`);
  const data = fs.readFileSync(m[2]);
  assert.equal(data.length, 300000);
  assert.equal(data[299999], 299999 % 251);
  assert.equal(fs.statSync(path.dirname(m[2])).mode & 0o777, 0o700);
  const keep = got.findIndex((l) => l.startsWith('BLOB ') && l.includes(' keep '));
  assert.equal(got[keep].slice(37), ` keep ${kept}`);
  assert.equal(got[keep + 1], `RET main:9 0 {"$blob":"${got[keep].slice(5, 37)}","size":10}`);
  assert.match(byCall(10), /^RET main:10 1 \{"message":"cannot offer \/nonexistent\/x: /);
  assert.equal(runs, 1);
  for (const p of up) assert.equal(fs.existsSync(p), false, p);
  app.quit();
  assert.equal(await app.closed, 0);
  assert.equal(fs.existsSync(m[2]), false, 'the offers go with the backend');
});

test('the inbox drops the oldest upload beyond its limit', async (t) => {
  const dir = tempDir(t);
  const files = ['a', 'b', 'c'].map((n) => {
    fs.writeFileSync(path.join(dir, n), n);
    return path.join(dir, n);
  });
  const inbox = new Inbox(2);
  files.forEach((f, i) => inbox.announce(JSON.stringify({ id: 'abc'[i], size: 1, path: f })));
  inbox.announce('{"id":"x","size":1,"path":"relative"}');
  assert.equal(inbox.size, 2);
  assert.ok(await until(() => !fs.existsSync(files[0])));
  const r = await inbox.resolve(ref('b', 1));
  assert.deepEqual(r.params, Buffer.from('b'));
  inbox.clearSync();
  assert.equal(fs.existsSync(files[2]), false);
});
