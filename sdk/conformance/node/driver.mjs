#!/usr/bin/env node
// Plays the conformance scenarios with the JavaScript backend library:
//   node driver.mjs <launcher> <scenario.json>...
// See sdk/conformance/README.md for the format and the contract.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { Backend, LauncherGoneError, line } from '../../node/index.js';

class Failure extends Error {}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Polls cond every few ms until it holds or the time is up.
async function until(cond, ms) {
  const end = Date.now() + ms;
  for (;;) {
    if (cond()) return true;
    if (Date.now() >= end) return false;
    await sleep(10);
  }
}

// n bytes of the page's T.bytes(n): byte i is i % 251.
function pattern(n) {
  const b = Buffer.alloc(n);
  for (let i = 0; i < n; ++i) b[i] = i % 251;
  return b;
}

function big(n) {
  const unit = 'ovalis-0123456789-';
  return unit.repeat(Math.ceil(n / unit.length)).slice(0, n);
}

// "$big:N" strings become N characters of the pattern.
function expand(j) {
  if (typeof j === 'string' && j.startsWith('$big:')) return big(Number(j.slice(5)));
  if (Array.isArray(j)) return j.map(expand);
  if (j !== null && typeof j === 'object') return Object.fromEntries(Object.entries(j).map(([k, v]) => [k, expand(v)]));
  return j;
}

function replaced(j, token, text) {
  if (typeof j === 'string') return j.split(token).join(text);
  if (Array.isArray(j)) return j.map((e) => replaced(e, token, text));
  if (j !== null && typeof j === 'object') return Object.fromEntries(Object.entries(j).map(([k, v]) => [k, replaced(v, token, text)]));
  return j;
}

function shown(j) {
  const s = JSON.stringify(j === undefined ? null : j);
  return s.length > 300 ? `${s.slice(0, 300)}...` : s;
}

function matches(want, got) {
  if (want === '$any') return got !== undefined;
  if (want !== null && typeof want === 'object' && !Array.isArray(want)) {
    if (got === null || typeof got !== 'object' || Array.isArray(got)) return false;
    return Object.entries(want).every(([k, v]) => k in got && matches(v, got[k]));
  }
  if (Array.isArray(want)) {
    return Array.isArray(got) && got.length === want.length && want.every((w, i) => matches(w, got[i]));
  }
  if (typeof want === 'number') return typeof got === 'number' && got === want;
  return JSON.stringify(want) === JSON.stringify(got);
}

function expect(want, got, what) {
  if (!matches(want, got)) throw new Failure(`${what}: expected ${shown(want)}, got ${shown(got)}`);
}

const arg = (a, i) => (Array.isArray(a) ? a[i] : undefined);
const sarg = (a, i) => (typeof arg(a, i) === 'string' ? arg(a, i) : '');
const strings = (j) => (Array.isArray(j) ? j.map((e) => (typeof e === 'string' ? e : JSON.stringify(e))) : []);

function menuItems(items) {
  if (!Array.isArray(items)) return [];
  return items.map((i) => {
    if (i.sep) return line.separator();
    if (i.role !== undefined) return line.stock(i.role);
    if (i.sub !== undefined) return line.submenu(i.sub, i.label ?? '', menuItems(i.items));
    return line.item(i.id ?? '', i.label ?? '', { accel: i.accel ?? '', checked: !!i.checked, disabled: !!i.disabled });
  });
}

class Player {
  constructor(launcher, template, s) {
    this.launcher = launcher;
    this.template = template;
    this.s = s;
    this.reports = new Map();
    this.calls = new Map();
    this.events = [];
    this.opens = [];
    this.refs = new Map();
    this.b = new Backend({ requestTimeout: 0 });
  }

  async play() {
    try {
      await this.setup();
      if (!Array.isArray(this.s.steps)) throw new Failure('no steps');
      let n = 0;
      for (const st of this.s.steps) {
        ++n;
        try {
          await this.step(st);
        } catch (err) {
          throw new Failure(`step ${n} (${st.do}): ${err.message}`);
        }
      }
    } finally {
      // A launcher still running at the end of a scenario is killed.
      if (this.b.pid && this.b.exitStatus === null) {
        try {
          process.kill(this.b.pid, 'SIGKILL');
        } catch {
          /* it ended meanwhile */
        }
        await this.b.closed;
      }
      if (this.server) {
        this.server.closeAllConnections();
        this.server.close();
      }
      if (this.dir) fs.rmSync(this.dir, { recursive: true, force: true });
    }
  }

  html(lines) {
    const script = strings(lines ?? []).map((l) => `${l}\n`).join('');
    if (!this.template.includes('<!--SCENARIO-->')) throw new Failure('page.html has no scenario marker');
    return this.template.replace('<!--SCENARIO-->', () => `<script>\n${script}</script>`);
  }

  // The served page: every GET gets it, and POST /report records what the
  // page reports.
  async serve(lines) {
    const body = Buffer.from(this.html(lines));
    this.server = http.createServer((req, res) => {
      const chunks = [];
      req.on('data', (c) => chunks.push(c));
      req.on('end', () => {
        if (req.method === 'POST' && req.url === '/report') {
          try {
            const r = JSON.parse(Buffer.concat(chunks).toString('utf8'));
            this.reports.set(r?.key, r?.value === undefined ? null : r.value);
          } catch {
            /* a report that is not JSON is no report */
          }
          res.writeHead(204).end();
          return;
        }
        res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' }).end(body);
      });
    });
    await new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(0, '127.0.0.1', resolve);
    });
    this.s = replaced(this.s, '$served', `http://127.0.0.1:${this.server.address().port}`);
  }

  async setup() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-conformance-'));
    if (this.s.serve !== null && typeof this.s.serve === 'object') await this.serve(this.s.serve.page);
    this.page = path.join(this.dir, 'page.html');
    fs.writeFileSync(this.page, this.html(this.s.page));

    const b = this.b;
    if (process.env.OVALIS_CONFORMANCE_TRACE) b.trace = (dir, l) => process.stderr.write(`${dir} ${l.slice(0, 300)}\n`);
    b.handle('conformance.report', (p) => {
      this.reports.set(p?.key, p?.value === undefined ? null : p.value);
      return null;
    });
    for (const [method, how] of Object.entries(this.s.handlers ?? {})) {
      b.handle(method, async (params, call) => {
        this.calls.set(method, (this.calls.get(method) ?? 0) + 1);
        if (how.delay_ms > 0) await sleep(how.delay_ms);
        return this.act(how, params, call);
      });
    }
    for (const kw of strings(this.s.events ?? [])) b.on(kw, (ev) => this.events.push({ keyword: kw, rest: ev.rest, used: false }));
    if (this.s.trust === 'all') b.trustAllOrigins();
    else if (Array.isArray(this.s.trust)) b.trustOrigin(...strings(this.s.trust));
    if (this.s.open_socket) {
      this.openPath = path.join(this.dir, 'open.sock');
      await b.listenForOpen(this.openPath, (r) => this.opens.push(r));
    }
    const launch = this.s.launch ?? {};
    await b.start({
      launcher: this.launcher,
      page: this.page,
      title: launch.title ?? 'conformance',
      width: launch.width ?? 640,
      height: launch.height ?? 480,
      env: Object.fromEntries(Object.entries(launch.env ?? {}).map(([k, v]) => [k, typeof v === 'string' ? v : JSON.stringify(v)])),
      connectTimeout: 60000,
    });
  }

  act(how, params, call) {
    if (how.echo) return params;
    if ('resolve' in how) return how.resolve;
    if ('reject' in how) throw new Error(typeof how.reject === 'string' ? how.reject : JSON.stringify(how.reject));
    if (how.origin) return { window: call.window, origin: call.origin };
    if (how.length) return { length: String(call.param('text', '')).length };
    if (how.check_bytes) {
      const data = params?.bytes;
      if (!Buffer.isBuffer(data)) throw new Error('no bytes');
      return { length: data.length, first: data.length ? data[0] : null, pattern: data.equals(pattern(data.length)), tag: params.tag ?? null };
    }
    if (how.make_bytes) return pattern(Math.trunc(Number(call.param('n', 0))));
    if (how.request) return this.request(how.request.op, how.request.args);
    if (how.dialog) return call.dialog(how.dialog.op, strings(how.dialog.fields));
    return null;
  }

  request(op, raw) {
    const a = expand(raw);
    const b = this.b;
    switch (op) {
      case 'get': return b.get(sarg(a, 0));
      case 'secret': return b.secret(sarg(a, 0), sarg(a, 1), sarg(a, 2), sarg(a, 3));
      case 'dialog': return b.dialog(sarg(a, 0), strings(arg(a, 1)));
      case 'permission': return b.permission(sarg(a, 1), { request: arg(a, 0) === true });
      case 'shell': return b.shell(sarg(a, 0), sarg(a, 1));
      case 'cookies': return b.cookies(sarg(a, 0), strings(arg(a, 1)));
      case 'power': return b.power(arg(a, 0) === true, { display: arg(a, 1) === true, reason: sarg(a, 2) });
      case 'login_get': return b.loginGet();
      default: throw new Failure(`unknown request op ${op}`);
    }
  }

  send(op, raw) {
    const a = expand(raw);
    const b = this.b;
    switch (op) {
      case 'emit': return b.emit(sarg(a, 0), sarg(a, 1), arg(a, 2));
      case 'emit_all': return b.emitAll(sarg(a, 0), arg(a, 1));
      case 'eval': return b.eval(sarg(a, 0), sarg(a, 1));
      case 'title': return b.title(sarg(a, 0), sarg(a, 1));
      case 'size': return b.size(sarg(a, 0), Number(arg(a, 1) ?? 0), Number(arg(a, 2) ?? 0));
      case 'open_window': {
        const w = arg(a, 0) ?? {};
        return b.openWindow({
          id: w.id ?? '', target: w.target === '$page' ? this.page : (w.target ?? ''), title: w.title ?? '',
          width: w.width ?? 0, height: w.height ?? 0, show: w.show !== false,
        });
      }
      case 'close_window': return b.closeWindow(sarg(a, 0));
      case 'winop': return b.winop(sarg(a, 0), sarg(a, 1));
      case 'menus':
        return b.setMenus(sarg(a, 0), (arg(a, 1) ?? []).map((m) => ({ role: m.role ?? '', title: m.title ?? '', items: menuItems(m.items) })));
      case 'notify': return b.notify(sarg(a, 0), sarg(a, 1), sarg(a, 2));
      case 'raw': return b.send(sarg(a, 0));
      default: throw new Failure(`unknown send op ${op}`);
    }
  }

  // A request's outcome without throwing: {value} or {gone} or {timeout}.
  async settle(promise, ms) {
    let timer;
    const late = new Promise((r) => {
      timer = setTimeout(() => r({ timeout: true }), ms);
    });
    const done = promise.then((value) => ({ value }), (err) => (err instanceof LauncherGoneError ? { gone: true } : { error: err }));
    try {
      return await Promise.race([done, late]);
    } finally {
      clearTimeout(timer);
    }
  }

  async step(st) {
    const what = st.do;
    const want = st.expect === undefined ? null : st.expect;
    const ms = st.timeout_ms ?? 20000;
    switch (what) {
      case 'wait_report': {
        const ok = await until(() => this.reports.has(st.key) && matches(want, this.reports.get(st.key)), ms);
        if (!ok) {
          throw new Failure(`report ${st.key}: expected ${shown(want)}, got ${this.reports.has(st.key) ? shown(this.reports.get(st.key)) : 'nothing'}`);
        }
        return;
      }
      case 'wait_call':
        if (!(await until(() => (this.calls.get(st.method) ?? 0) > 0, ms))) throw new Failure(`no call of ${st.method}`);
        return;
      case 'request':
      case 'await': {
        let p;
        if (what === 'request') {
          p = this.request(st.op, st.args);
          // Kept settled-or-not without an unhandled rejection.
          p.catch(() => {});
          if (st.as !== undefined) {
            this.refs.set(st.as, p);
            return;
          }
        } else {
          p = this.refs.get(st.ref);
          if (!p) throw new Failure(`no request named ${st.ref}`);
        }
        const r = await this.settle(p, ms);
        if (st.gone) {
          if (!r.gone) throw new Failure('value' in r ? `answered ${shown(r.value)}` : r.error ? r.error.message : 'still waiting');
          return;
        }
        if (r.gone) throw new Failure('the launcher went away');
        if (r.timeout) throw new Failure('no answer');
        if (r.error) throw new Failure(r.error.message);
        expect(want, r.value, 'answer');
        return;
      }
      case 'send':
        this.send(st.op, st.args);
        return;
      case 'wait_event': {
        let hit = null;
        const find = () => {
          for (const e of this.events) {
            if (e.used || e.keyword !== st.keyword) continue;
            let got;
            if (typeof want === 'string') {
              got = e.rest;
            } else {
              const at = e.rest.search(/[{[]/);
              try {
                got = JSON.parse(at < 0 ? e.rest : e.rest.slice(at));
              } catch {
                got = null;
              }
            }
            if (matches(want, got)) {
              hit = e;
              return true;
            }
          }
          return false;
        };
        if (!(await until(find, ms))) throw new Failure(`no ${st.keyword} line matching ${shown(want)}`);
        hit.used = true;
        return;
      }
      case 'open': {
        const before = this.opens.length;
        const argv = ['--open', this.openPath, '/bin/false'];
        if (typeof st.arg === 'string') argv.push(st.arg);
        const child = spawn(this.launcher, argv, { stdio: 'ignore' });
        let status = null;
        child.on('exit', (code, signal) => {
          status = code ?? 128 + (os.constants.signals[signal] ?? 0);
        });
        child.on('error', () => {
          status = 127;
        });
        const done = await until(() => status !== null && this.opens.length > before, ms);
        if (status === null) child.kill('SIGKILL');
        if (status !== null && status !== 0) throw new Failure(`launcher --open ended with status ${status}`);
        if (!done) throw new Failure('no open request arrived');
        expect(want, this.opens[before], 'open request');
        return;
      }
      case 'trust':
        if (st.all === true) this.b.trustAllOrigins();
        else this.b.trustOrigin(...strings(st.origins ?? []));
        return;
      case 'sleep':
        await sleep(st.ms ?? 0);
        return;
      case 'kill_launcher':
        if (this.b.pid) process.kill(this.b.pid, 'SIGKILL');
        return;
      case 'quit':
      case 'expect_exit': {
        if (what === 'quit') this.b.quit();
        // A launcher that never ends fails the step instead of hanging it.
        const guard = setTimeout(() => {
          if (this.b.pid && this.b.exitStatus === null) process.kill(this.b.pid, 'SIGKILL');
        }, ms);
        const status = await this.b.run();
        clearTimeout(guard);
        const wanted = st.status ?? 0;
        if (status !== wanted) throw new Failure(`the launcher ended with status ${status}, expected ${wanted}`);
        if (this.b.connected) throw new Failure('the library still counts itself connected');
        return;
      }
      default:
        if (!st.optional) throw new Failure(`unknown step ${what}`);
    }
  }
}

async function main(argv) {
  if (argv.length < 2) {
    process.stderr.write('usage: driver.mjs <launcher> <scenario.json>...\n');
    return 2;
  }
  const only = process.env.OVALIS_CONFORMANCE_ONLY ? ` ${process.env.OVALIS_CONFORMANCE_ONLY} ` : '';
  let failed = 0;
  let played = 0;
  for (const file of argv.slice(1)) {
    let name = file;
    try {
      let s;
      try {
        s = JSON.parse(fs.readFileSync(file, 'utf8'));
      } catch (err) {
        throw new Failure(`cannot read ${file}: ${err.message}`);
      }
      if (s === null || typeof s !== 'object' || Array.isArray(s)) throw new Failure('not a JSON object');
      name = s.name ?? file;
      if (only && !only.includes(` ${name} `)) continue;
      ++played;
      const template = fs.readFileSync(path.join(path.dirname(file), '../page.html'), 'utf8');
      await new Player(argv[0], template, s).play();
      process.stdout.write(`ok ${name}\n`);
    } catch (err) {
      ++failed;
      process.stdout.write(`FAIL ${name}: ${err instanceof Failure ? err.message : err.stack}\n`);
    }
  }
  process.stdout.write(`${played - failed} of ${played} scenarios passed\n`);
  return failed === 0 && played > 0 ? 0 : 1;
}

if (process.argv[1] && fs.realpathSync(process.argv[1]) === fileURLToPath(import.meta.url)) {
  process.exitCode = await main(process.argv.slice(2));
}
