// The library against the real launcher in a private desktop: page calls
// and answers with hostile text, events by keyword, time-outs, the origin
// rule, open requests from `launcher --open` and second instances, and the
// launcher going away in the middle of a request.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

import { Backend, LauncherGoneError, TimeoutError, findLauncher } from '../../index.js';

const here = path.dirname(new URL(import.meta.url).pathname);
const PAGE = process.env.OVALIS_TEST_PAGE || path.resolve(here, '../../../../tests/e2e/pages/blank.html');
let LAUNCHER = null;
try {
  LAUNCHER = findLauncher(process.env.OVALIS_TEST_LAUNCHER || undefined);
} catch {
  /* skipped below */
}
const skip = !LAUNCHER ? 'no launcher' : !process.env.DISPLAY && !process.env.WAYLAND_DISPLAY ? 'no display' : false;
// The machine may be busy: pages get time to load.
const SLOW = 60000;

const NASTY = 'tab\there "quoted" back\\slash line\nbreak\r é \u2028 </script>';

/** Runs an expression in the page and resolves with what it settles to. */
function makePageRunner(app) {
  const waiting = new Map();
  let next = 0;
  app.handle('test.report', ({ k, ok, v }) => {
    waiting.get(k)?.({ ok, v });
    waiting.delete(k);
    return null;
  });
  return (expr, window = 'main') => new Promise((resolve) => {
    const k = ++next;
    waiting.set(k, resolve);
    app.eval(window, `Promise.resolve().then(()=>(${expr})).then(` +
      `v=>ovalis.api.call('test.report',{k:${k},ok:true,v}),` +
      `e=>ovalis.api.call('test.report',{k:${k},ok:false,v:e}))`);
  });
}

/** Resolves once the main page has finished loading (a NAV finish line). */
function pageLoaded(app, match = () => true) {
  return new Promise((resolve) => {
    const fn = (ev) => {
      if (ev.data?.kind === 'finish' && match(ev.data.url)) {
        app.off('NAV', fn);
        resolve(ev.data);
      }
    };
    app.on('NAV', fn);
  });
}

function sockFolder() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-node-test-'));
  fs.chmodSync(dir, 0o700);
  return dir;
}

describe('a backend on the real launcher', { skip, timeout: 4 * SLOW }, () => {
  let app;
  let run;
  const themes = [];
  const navs = [];
  let loaded;

  before(async () => {
    app = new Backend({ requestTimeout: SLOW, trace: process.env.OVALIS_TEST_TRACE ? (d, l) => console.error(d, l.slice(0, 200)) : null });
    run = makePageRunner(app);
    app.handle('echo', (p) => p);
    app.handle('later', async (p) => {
      await new Promise((r) => setTimeout(r, 20));
      return { later: p };
    });
    app.handle('boom', () => {
      throw new Error(`no such note: ${NASTY}`);
    });
    app.handle('boom.async', async () => {
      throw new RangeError('async refusal');
    });
    app.handle('self', (p, call) => call.find(p));
    app.on('SYS', (ev) => themes.push(ev.rest));
    app.on('NAV', (ev) => navs.push(ev.data));
    loaded = pageLoaded(app);
    assert.equal(await app.start({ launcher: LAUNCHER, page: PAGE, title: 'node sdk test' }), true);
    await loaded;
  });

  after(async () => {
    if (app) assert.equal(await app.quit(), 0);
  });

  test('page calls reach handlers, and answers come back intact', async () => {
    assert.deepEqual(await run(`ovalis.api.call('echo',{text:${JSON.stringify(NASTY)},n:[1,2.5,null]})`),
      { ok: true, v: { text: NASTY, n: [1, 2.5, null] } });
    assert.deepEqual(await run("ovalis.api.call('later','x')"), { ok: true, v: { later: 'x' } });
    assert.deepEqual(await run("ovalis.api.call('boom')"), { ok: false, v: { message: `no such note: ${NASTY}` } });
    assert.deepEqual(await run("ovalis.api.call('boom.async')"), { ok: false, v: { message: 'async refusal' } });
    assert.deepEqual(await run("ovalis.api.call('no.such.method')"), { ok: false, v: { message: 'unknown method no.such.method' } });
    // A handler that answers by passing the call on: the launcher resolves it.
    const found = await run("ovalis.api.call('self','no such text')");
    assert.equal(found.ok, true);
    assert.equal(found.v.found, false);
    // A big payload in both directions.
    const big = 'x'.repeat(300000);
    assert.deepEqual(await run(`ovalis.api.call('echo',{big:'x'.repeat(300000)}).then(v=>v.big.length)`), { ok: true, v: big.length });
  });

  test('events arrive by keyword with their JSON, and reach the page', async () => {
    assert.match(themes[0], /^theme (light|dark)$/);
    assert.ok(navs.some((n) => n.kind === 'commit' && n.window === 'main'));
    const heard = run("new Promise(r=>ovalis.api.on('note-saved',d=>r(d)))");
    // Give the listener a moment to be in place before the event goes out.
    await new Promise((r) => setTimeout(r, 300));
    app.emit('main', 'note-saved', { title: NASTY });
    assert.deepEqual(await heard, { ok: true, v: { title: NASTY } });
  });

  test('requests resolve from their answers and time out when none comes', async () => {
    assert.deepEqual(await app.get('windows'), ['main']);
    assert.equal(await app.get('no-such-key'), null);
    await assert.rejects(app.request(() => 'EVAL@nosuch x', { timeout: 200 }), TimeoutError);
    const ac = new AbortController();
    const aborted = app.request(() => 'EVAL@nosuch x', { signal: ac.signal });
    ac.abort();
    await assert.rejects(aborted, { name: 'AbortError' });
    // The link is still good after both.
    const many = await Promise.all(Array.from({ length: 200 }, () => app.get('windows')));
    assert.equal(many.length, 200);
  });

  // Last in this suite: the remote page may not navigate back to a file.
  test('calls from other origins are refused until the application trusts them', async (t) => {
    const server = http.createServer((req, res) => {
      res.setHeader('content-type', 'text/html');
      res.end('<!doctype html><title>remote</title><p>remote');
    });
    await new Promise((r) => server.listen(0, '127.0.0.1', r));
    t.after(() => server.close());
    const url = `http://127.0.0.1:${server.address().port}/page.html`;
    const remote = pageLoaded(app, (u) => u === url);
    app.eval('main', `location.href=${JSON.stringify(url)}`);
    await remote;
    // The refusal cannot be reported through the bridge either: read it
    // off the wire.
    const traced = app.trace;
    const refusal = new Promise((resolve) => {
      app.trace = (dir, l) => {
        traced?.(dir, l);
        if (dir === '>' && l.startsWith('RET ') && l.includes('not accepted')) resolve(l);
      };
    });
    app.eval('main', "ovalis.api.call('echo',1)");
    assert.match(await refusal, /^RET main:\d+ 1 \{"message":"calls from http:\/\/127\.0\.0\.1:\d+ are not accepted/);
    app.trace = traced;
    app.trustOrigins('http://127.0.0.1:*');
    assert.deepEqual(await run("ovalis.api.call('echo',2)"), { ok: true, v: 2 });
  });
});

describe('single instance and open requests', { skip, timeout: 3 * SLOW }, () => {
  test('launcher --open and a second instance reach the running one', async () => {
    const dir = sockFolder();
    const socket = path.join(dir, 'notes.sock');
    const app = new Backend({ requestTimeout: SLOW });
    const opened = [];
    let seen;
    const got = new Promise((r) => {
      seen = r;
    });
    app.onOpen((req) => {
      opened.push(req);
      if (opened.length === 3) seen();
    });
    const ownFile = path.join(dir, 'my notes.txt');
    assert.equal(await app.start({ launcher: LAUNCHER, page: PAGE, socket, open: `file://${ownFile.replace(/ /g, '%20')}` }), true);
    const forward = (arg) => new Promise((resolve) => {
      execFile(LAUNCHER, ['--open', socket, '/bin/false', arg], (err) => resolve(err ? err.code : 0));
    });
    assert.equal(await forward('https://example.org/a?b=c'), 0);
    const second = new Backend();
    assert.equal(await second.start({ launcher: LAUNCHER, page: PAGE, socket, open: '' }), false);
    assert.equal(await second.closed, 0);
    await got;
    assert.deepEqual(opened, [{ paths: [ownFile] }, { url: 'https://example.org/a?b=c' }, { activate: true }]);
    assert.equal(await app.quit(), 0);
    assert.equal(fs.existsSync(socket), false);
    fs.rmSync(dir, { recursive: true });
  });

  test('a socket folder others can enter is refused', async () => {
    const dir = sockFolder();
    fs.chmodSync(dir, 0o755);
    const app = new Backend();
    await assert.rejects(app.start({ launcher: LAUNCHER, page: PAGE, socket: path.join(dir, 's.sock') }), /mode 0700/);
    fs.rmSync(dir, { recursive: true });
  });
});

describe('the launcher going away', { skip, timeout: 2 * SLOW }, () => {
  test('pending requests fail, and the backend cleans up', async () => {
    const app = new Backend({ requestTimeout: SLOW });
    assert.equal(await app.start({ launcher: LAUNCHER, page: PAGE }), true);
    // A dialog nobody answers keeps its request pending until the end.
    const pending = app.dialog('confirm', ['Still there?']);
    await app.get('windows');
    process.kill(app.pid, 'SIGKILL');
    await assert.rejects(pending, LauncherGoneError);
    assert.equal(await app.closed, 128 + 9);
    assert.equal(app.connected, false);
    await assert.rejects(app.get('windows'), LauncherGoneError);
    app.send('TITLE x'); // ignored, no throw
  });

  test('a launcher that cannot start is reported, not waited for', async () => {
    const app = new Backend();
    // An empty display name still counts as a display, one GTK cannot open.
    await assert.rejects(app.start({ launcher: LAUNCHER, page: PAGE, env: { DISPLAY: '', WAYLAND_DISPLAY: '' } }),
      /status 3 before it connected/);
    const bare = new Backend();
    await assert.rejects(bare.start({ launcher: '/nonexistent/launcher', page: PAGE }), /not found/);
  });
});
