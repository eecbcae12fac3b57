// The Backend's own rules, against a stand-in for the launcher's end of the
// link (peer.mjs): hostile call lines each get one answer and never break
// the link, lines sent before the connection keep their order, and a
// launcher that ignores QUIT is stopped.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { Backend } from '../index.js';

const PEER = path.join(path.dirname(new URL(import.meta.url).pathname), 'peer.mjs');

function peerLog(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-peer-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const file = path.join(dir, 'log');
  return { file, lines: () => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8').split('\n').filter(Boolean) : []) };
}

test('hostile call lines each get one answer, and the link survives them', async (t) => {
  const log = peerLog(t);
  const hostile = [
    'CALL', 'CALL ', 'CALL main', 'CALL main:', 'CALL :1 x', 'CALL main:1', 'CALL main:2 not json',
    'CALL main:3 ["{\\"params\\":{}}","file://"]', 'CALL main:4 [1,2]', 'CALL main:5 ["[]","file://"]',
    'CALL main:6 ["{\\"method\\":\\"twice\\"}","file://"]', 'CALL main:7 ["{\\"method\\":\\"echo\\"}","https://evil.example"]',
    'CALL main:8 ["{\\"method\\":\\"echo\\",\\"params\\":\\"\\u2028\\\\n\\"}","file://"]',
    'CALL main:9 ["{\\"method\\":\\"big\\"}","file://"]',
    'GOT', 'GOT 99', 'GOT 99 {broken', 'NAV {broken', 'WINSTATE main {"x":', '\u0000\u0001', 'é'.repeat(5000),
  ];
  const app = new Backend();
  app.handle('echo', (p) => p);
  app.handle('big', async () => ({ n: 1n }));
  app.handle('twice', (p, call) => {
    call.resolve(1);
    call.resolve(2);
    throw new Error('after the answer');
  });
  const seen = [];
  app.on('NAV', (ev) => seen.push(ev));
  app.on('WINSTATE', (ev) => seen.push(ev));
  await app.start({
    launcher: PEER, page: '/p.html',
    env: { PEER_LOG: log.file, PEER_SEND: JSON.stringify(hostile) },
  });
  assert.equal(await app.get('windows'), null);
  app.quit();
  assert.equal(await app.closed, 0);
  const rets = log.lines().filter((l) => l.startsWith('RET '));
  // ":1" names no window, yet it is a call id: the launcher drops the answer.
  assert.deepEqual(rets.map((l) => l.split(' ')[1]), [':1', 'main:1', 'main:2', 'main:3', 'main:4', 'main:5', 'main:6', 'main:7', 'main:8', 'main:9']);
  assert.match(rets[7], /^RET main:7 1 \{"message":"origin https:\/\/evil\.example may not call the backend"\}$/);
  assert.equal(rets[6], 'RET main:6 0 1');
  assert.equal(JSON.parse(rets[8].slice('RET main:8 0 '.length)), '\u2028\n');
  // An answer JSON cannot hold is still an answer, and the backend lives on.
  assert.match(rets[9], /^RET main:9 1 \{"message":"the answer is not JSON: /);
  assert.deepEqual(seen.map((e) => [e.keyword, e.data]), [['NAV', undefined], ['WINSTATE', undefined]]);
});

test('lines sent before the launcher connects go out first, in order', async (t) => {
  const log = peerLog(t);
  const app = new Backend();
  app.title('main', 'one');
  app.send(['TITLE two', 'TITLE three']);
  assert.throws(() => app.send('TITLE a\nQUIT'), TypeError);
  await app.start({ launcher: PEER, page: '/p.html', env: { PEER_LOG: log.file } });
  await app.get('windows');
  app.quit();
  await app.closed;
  assert.deepEqual(log.lines().slice(0, 4), ['TITLE one', 'TITLE two', 'TITLE three', 'GET 1 windows']);
});

test('a launcher that ignores QUIT is terminated, and the socket folder goes', async (t) => {
  const log = peerLog(t);
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-tmp-'));
  const saved = process.env.TMPDIR;
  process.env.TMPDIR = tmp;
  t.after(() => {
    if (saved === undefined) delete process.env.TMPDIR;
    else process.env.TMPDIR = saved;
    fs.rmSync(tmp, { recursive: true, force: true });
  });
  const app = new Backend();
  await app.start({ launcher: PEER, page: '/p.html', env: { PEER_LOG: log.file, PEER_IGNORE_QUIT: '1' } });
  assert.equal(fs.readdirSync(tmp).length, 0, 'the socket is gone once the launcher is in');
  const stderr = process.stderr.write;
  process.stderr.write = () => true;
  t.after(() => {
    process.stderr.write = stderr;
  });
  assert.equal(await app.quit(200), 128 + 15);
  assert.equal(app.connected, false);
  assert.deepEqual(fs.readdirSync(tmp), []);
  assert.ok(log.lines().includes('QUIT'));
});
