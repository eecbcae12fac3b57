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

import { Backend, LauncherGoneError, TimeoutError, findLauncher, loadAppConfig } from '../../index.js';

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
    await app.start({ launcher: LAUNCHER, page: PAGE, title: 'node sdk test' });
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
        if (dir === '>' && l.startsWith('RET ') && l.includes('may not call the backend')) resolve(l);
      };
    });
    app.eval('main', "ovalis.api.call('echo',1)");
    assert.match(await refusal, /^RET main:\d+ 1 \{"message":"origin http:\/\/127\.0\.0\.1:\d+ may not call the backend/);
    app.trace = traced;
    app.trustOrigin('http://127.0.0.1:*');
    assert.deepEqual(await run("ovalis.api.call('echo',2)"), { ok: true, v: 2 });
  });
});

describe('an application started from ovalis.json', { skip, timeout: 3 * SLOW }, () => {
  test('one instance takes launcher --open requests and second starts', async (t) => {
    const dir = sockFolder();
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    fs.mkdirSync(path.join(dir, 'page'));
    fs.copyFileSync(PAGE, path.join(dir, 'page/index.html'));
    // Its own id: the open socket lives in the session's runtime folder,
    // which also holds the display's socket and so stays as it is.
    const id = `org.example.NodeSdkTest${process.pid}`;
    fs.writeFileSync(path.join(dir, 'ovalis.json'), JSON.stringify({
      id, name: 'Node SDK test', version: '1.0.0', page: 'page/index.html',
      backend: { command: ['node', 'backend.mjs'] }, window: { width: 640, height: 480 },
    }));
    const saved = process.env.OVALIS_LAUNCHER;
    process.env.OVALIS_LAUNCHER = LAUNCHER;
    t.after(() => {
      if (saved === undefined) delete process.env.OVALIS_LAUNCHER;
      else process.env.OVALIS_LAUNCHER = saved;
    });
    const config = loadAppConfig(dir);
    const socket = config.socketPath();
    assert.equal(socket, `${process.env.XDG_RUNTIME_DIR || '/tmp'}/${id}.sock`);

    const app = new Backend({ requestTimeout: SLOW });
    const run = makePageRunner(app);
    const opened = [];
    app.onOpen((req) => opened.push(req));
    const loaded = pageLoaded(app);
    assert.equal(await app.startApp(config), true);
    await loaded;
    assert.equal(fs.statSync(socket).mode & 0o777, 0o600);
    const forward = (arg) => new Promise((resolve) => {
      execFile(LAUNCHER, ['--open', socket, '/bin/false', arg], (err) => resolve(err ? err.code : 0));
    });
    const heard = run("new Promise(r=>ovalis.api.on('open-url',d=>r(d)))");
    await new Promise((r) => setTimeout(r, 300));
    assert.equal(await forward('https://example.org/a?b=c d'), 0);
    assert.deepEqual(await heard, { ok: true, v: { url: 'https://example.org/a?b=c d' } });
    const files = run("new Promise(r=>ovalis.api.on('open-files',d=>r(d)))");
    await new Promise((r) => setTimeout(r, 300));
    assert.equal(await forward('file:///tmp/my%20notes.txt'), 0);
    assert.deepEqual(await files, { ok: true, v: { paths: ['/tmp/my notes.txt'] } });

    // A second start hands over to the running instance and starts nothing.
    const second = new Backend();
    assert.equal(await second.startApp(config), false);
    assert.equal(second.pid, undefined);
    await new Promise((r) => setTimeout(r, 300));
    assert.deepEqual(opened, [{ url: 'https://example.org/a?b=c d' }, { paths: ['/tmp/my notes.txt'] }, { activate: true }]);

    assert.equal(await app.quit(), 0);
    assert.equal(fs.existsSync(socket), false);
  });
});

describe('the launcher going away', { skip, timeout: 2 * SLOW }, () => {
  test('pending requests fail, and the backend cleans up', async () => {
    const app = new Backend({ requestTimeout: SLOW });
    await app.start({ launcher: LAUNCHER, page: PAGE });
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
