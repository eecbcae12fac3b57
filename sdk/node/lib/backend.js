// Backend: the backend's end of the launcher link. It makes a private
// socket, starts the launcher on a page, accepts its connection, and then
//   - routes page calls ("CALL") to handlers registered by method name;
//   - matches answers ("GOT <id>") to the requests and queries that asked
//     for them, as promises with time-outs;
//   - hands every event line to handlers registered by keyword;
//   - offers one method per command family (commands.js builds the lines).

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { Inbox, isBytes, Outbox, randomId } from './blobs.js';
import * as line from './commands.js';
import { loadAppConfig } from './config.js';
import {
  findLauncher, forwardOpen, isOpenRequest, listenForOpen, makePrivateFolder, SOCKET_PATH_MAX,
} from './launch.js';
import { OriginPolicy } from './origins.js';
import { emitLine, emitScript, LineFramer, parseCall, parseEvent, parseGot, retLine } from './wire.js';

/** Base of the errors this library rejects with. */
export class OvalisError extends Error {
  constructor(message, code) {
    super(message);
    this.name = this.constructor.name;
    this.code = code;
  }
}

/** A request that got no answer in time. */
export class TimeoutError extends OvalisError {
  constructor(message) {
    super(message, 'OVALIS_TIMEOUT');
  }
}

/** A request that can no longer be answered: the launcher has gone. */
export class LauncherGoneError extends OvalisError {
  constructor(message = 'the launcher has gone') {
    super(message, 'OVALIS_GONE');
  }
}

const DEFAULT_REQUEST_TIMEOUT = 10000;

function rejection(err) {
  if (err instanceof Error) return { message: err.message };
  if (err !== null && typeof err === 'object' && typeof err.message === 'string') return { message: err.message };
  return { message: String(err) };
}

function report(what, err) {
  process.stderr.write(`ovalis: ${what}: ${err instanceof Error ? err.stack || err.message : String(err)}\n`);
}

/** One page call, with the means to answer it, now or later. */
export class Call {
  constructor(backend, parsed) {
    this._b = backend;
    /** "<window>:<seq>" */
    this.id = parsed.callId;
    this.window = parsed.window;
    this.origin = parsed.origin;
    this.method = parsed.method;
    this.params = parsed.params;
    this.answered = false;
  }

  /** A member of the params object, or the fallback. */
  param(key, fallback) {
    const p = this.params;
    const v = p !== null && typeof p === 'object' ? p[key] : undefined;
    return v === undefined ? fallback : v;
  }

  /**
   * Answers the call. Bytes (a Buffer, any typed array, a DataView or an
   * ArrayBuffer) reach the page's fetchBytes: they go to a file the
   * launcher takes over, and the answer names it.
   */
  resolve(value) {
    if (!isBytes(value)) {
      this._answer(this._ret(true, value));
    } else if (!this.answered) {
      this.answered = true;
      this._b._offer(this.id, value);
    }
  }

  reject(value) {
    this._answer(this._ret(false, value));
  }

  // The RET line; a value JSON cannot hold (a BigInt, a cycle) still gets
  // the page an answer, where a throw here would end the backend.
  _ret(ok, value) {
    if (this.answered) return '';
    try {
      return retLine(this.id, ok, value);
    } catch (err) {
      report(`the answer to ${this.method} is not JSON`, err);
      return retLine(this.id, false, { message: `the answer is not JSON: ${err.message}` });
    }
  }

  /**
   * Answers with the bytes of a file the backend already has, without a
   * copy: the launcher opens it where it is when the answer goes out, and
   * the file stays the backend's. Rejects with {"message": "cannot offer
   * <path>: <reason>"} when it is not a readable regular file.
   */
  resolveFile(file) {
    if (this.answered) return;
    this.answered = true;
    this._b._offerFile(this.id, String(file));
  }

  /** Rejects with {"message": text}. */
  fail(message) {
    this.reject({ message: String(message) });
  }

  /**
   * Answers with a native dialog: the launcher runs it and resolves the
   * page's promise with its result.
   */
  dialog(op, fields = []) {
    this._answer(line.dlg(this.id, op, fields));
  }

  /** Answers with find in page; the page's promise gets the match counts. */
  find(text, { forward = true, matchCase = false } = {}) {
    this._answer(line.find(this.id, text, forward, matchCase));
  }

  /** Ends find in page; the call resolves with true. */
  stopFind() {
    this._answer(line.stopfind(this.id));
  }

  _answer(l) {
    // A call has one answer; a second one would reach a promise that has
    // already settled, or a later call that reused the number.
    if (this.answered) return;
    this.answered = true;
    this._b.send(l);
  }
}

export class Backend {
  /**
   * @param {object} [options]
   * @param {number} [options.requestTimeout] ms a request waits by default (10000)
   * @param {number} [options.interactiveTimeout] ms for requests that wait for the user (0: none)
   * @param {string[]} [options.trustedOrigins] origin patterns trusted besides file://
   * @param {(dir: '<' | '>', line: string) => void} [options.trace]
   */
  constructor(options = {}) {
    this.requestTimeout = options.requestTimeout ?? DEFAULT_REQUEST_TIMEOUT;
    this.interactiveTimeout = options.interactiveTimeout ?? 0;
    this.trace = options.trace ?? null;
    this._origins = new OriginPolicy(options.trustedOrigins ?? []);
    this._refused = new Set();
    this._calls = new Map();
    this._lines = new Map();
    this._openHandlers = [];
    this._events = new Set();
    this._pending = new Map();
    this._nextId = 0;
    this._framer = new LineFramer();
    this._inbox = new Inbox();
    this._outbox = new Outbox();
    this._out = [];
    this._flushScheduled = false;
    this._sock = null;
    this._server = null;
    this._child = null;
    this._exitStatus = null;
    this._socketPath = '';
    this._dir = '';
    this._openServer = null;
    this._config = null;
    this._pageReady = false;
    this._openQueue = [];
    this._quitSent = false;
    this._started = false;
    this._timers = new Set();
    this._closedResolve = null;
    /** Resolves with the launcher's exit status once it has ended and the link is closed. */
    this.closed = new Promise((resolve) => {
      this._closedResolve = resolve;
    });
    this._onSignal = () => this.quit();
    this._onProcessExit = () => this._abandon();
  }

  // ---- handlers -------------------------------------------------------------

  /**
   * Routes page calls of one method to fn(params, call). The value fn
   * returns, or its promise resolves with, answers the call; an error it
   * throws, or a rejection, rejects the call with {"message": ...}. A
   * handler that answered by itself (call.dialog(), call.resolve(), ...)
   * has its return value ignored.
   */
  handle(method, fn) {
    if (typeof fn !== 'function') throw new TypeError('a call handler must be a function');
    this._calls.set(String(method), fn);
    return this;
  }

  /**
   * Event lines by keyword: the first word of the line ("MENU", "NAV",
   * "SYS", "DOWNLOAD", ...). fn gets {keyword, rest, id, data}: data is the
   * parsed JSON where the line carries JSON. Several handlers may share a
   * keyword. "GOT" handlers see only answers nobody is waiting for.
   */
  on(keyword, fn) {
    if (typeof fn !== 'function') throw new TypeError('an event handler must be a function');
    const list = this._lines.get(keyword) ?? [];
    list.push(fn);
    this._lines.set(keyword, list);
    return this;
  }

  off(keyword, fn) {
    const list = this._lines.get(keyword);
    if (list) this._lines.set(keyword, list.filter((f) => f !== fn));
    return this;
  }

  /**
   * Open requests of an application started with startApp() or runApp():
   * {activate: true}, {url} or {paths} from `launcher --open` (a desktop
   * entry) or a second instance. When fn runs, the main window has been
   * shown and the page has had its "open-url" or "open-files" event.
   */
  onOpen(fn) {
    if (typeof fn !== 'function') throw new TypeError('an open handler must be a function');
    this._openHandlers.push(fn);
    return this;
  }

  /** Events the pages may listen to, for the capability probe. */
  declareEvents(...names) {
    for (const n of names.flat()) this._events.add(String(n));
    return this;
  }

  /**
   * Trusts page calls from more origins: exact origins or patterns where
   * "*" matches any run of characters ("http://127.0.0.1:*").
   */
  trustOrigin(...patterns) {
    this._origins.add(patterns.flat());
    return this;
  }

  /**
   * Trusts page calls from every origin, third-party pages included. Only
   * for applications that check call.origin themselves.
   */
  trustAllOrigins() {
    this._origins.all = true;
    return this;
  }

  _trusts(origin) {
    return this._origins.trusts(origin) || (this._config !== null && this._config.callsAllowed(origin));
  }

  get trustedOrigins() {
    return this._origins.all ? ['*'] : [...this._origins.patterns];
  }

  // ---- start and stop -------------------------------------------------------

  get connected() {
    return this._sock !== null;
  }

  get pid() {
    return this._child?.pid;
  }

  /** The launcher's exit status once it has ended, else null. */
  get exitStatus() {
    return this._exitStatus;
  }

  /**
   * Makes the private socket, starts the launcher and waits for its
   * connection; resolves once connected.
   */
  async start(opts = {}) {
    if (this._started) throw new Error('this backend has already been started');
    this._started = true;
    try {
      const exe = findLauncher(opts.launcher, opts.env ? { ...process.env, ...opts.env } : process.env);
      const page = pageArgument(opts.page);
      // A page given as an http(s) URL is the application's own.
      if (/^https?:\/\//.test(page)) {
        try {
          this._origins.add([new URL(page).origin]);
        } catch {
          /* the launcher will refuse it */
        }
      }
      await this._listen();
      this._spawn(exe, page, opts);
      await this._waitConnected(opts.connectTimeout ?? 30000);
    } catch (err) {
      this._abandon();
      this._finish(this._exitStatus ?? 1);
      throw err;
    }
  }

  /**
   * Single instance: listens on a fixed socket (usually under
   * $XDG_RUNTIME_DIR, named in the desktop entry's `launcher --open` line)
   * for the requests `launcher --open` and forwardOpen() send; fn gets each
   * one as it is. Rejects when another instance listens there. The socket
   * closes with the backend.
   */
  async listenForOpen(socketPath, fn) {
    if (this._openServer) throw new Error('this backend already listens for open requests');
    this._openServer = await listenForOpen(socketPath, (req) => this._guard('open handler', () => fn(req)));
    if (this._finished) this._openServer.close();
    return this;
  }

  /**
   * Starts the launcher as an application's ovalis.json says (a checked
   * AppConfig from loadAppConfig()) and listens on the application's open
   * socket. When another instance already runs, it is asked to come to the
   * front and this resolves false: nothing was started, and this process
   * should end with status 0.
   */
  async startApp(config, opts = {}) {
    const sock = config.socketPath();
    if (await forwardOpen(sock, { activate: true })) return false;
    this._config = config;
    await this.listenForOpen(sock, (req) => this._openAppRequest(req));
    await this.start({
      launcher: process.env.OVALIS_LAUNCHER || undefined,
      page: config.pageTarget,
      title: config.window.title,
      width: config.window.width,
      height: config.window.height,
      version: config.version,
      ...opts,
      env: { ...config.launcherEnv(), ...(opts.env ?? {}) },
    });
    return true;
  }

  /**
   * The whole life of an application in one call: reads ovalis.json (from
   * dir, else OVALIS_APP_DIR, else the current folder), starts the launcher
   * and runs until it ends. Errors go to standard error. Resolves with the
   * exit status for the process: the launcher's, 0 when another instance
   * took over, 2 for a bad configuration, 1 when the start failed.
   */
  async runApp(dir) {
    let config;
    try {
      config = loadAppConfig(dir);
    } catch (err) {
      process.stderr.write(`${err.message}\n`);
      return 2;
    }
    try {
      if (!(await this.startApp(config))) return 0;
    } catch (err) {
      process.stderr.write(`ovalis: ${err.message}\n`);
      return 1;
    }
    return this.run();
  }

  /** The configuration of an application started with startApp(), else null. */
  get config() {
    return this._config;
  }

  /** Waits until the launcher has ended; resolves with its exit status. */
  run() {
    return this.closed;
  }

  /**
   * Asks the launcher to quit; stops it with SIGTERM when it has not gone
   * after graceMs, and with SIGKILL after as long again. Asked twice, it
   * stops waiting. Resolves with the exit status.
   */
  quit(graceMs = 5000) {
    if (this._exitStatus !== null || !this._child) return this.closed;
    if (this._quitSent) {
      this._kill('SIGTERM');
      return this.closed;
    }
    this._quitSent = true;
    if (this._sock) this.send(line.quit());
    else this._kill('SIGTERM');
    this._timer(graceMs, () => {
      process.stderr.write('ovalis: the launcher did not quit in time; terminating it\n');
      this._kill('SIGTERM');
      this._timer(graceMs, () => this._kill('SIGKILL'));
    });
    return this.closed;
  }

  async _listen() {
    this._dir = makePrivateFolder();
    this._socketPath = path.join(this._dir, 'backend.sock');
    if (Buffer.byteLength(this._socketPath) > SOCKET_PATH_MAX) {
      throw new Error(`socket path too long: ${this._socketPath}`);
    }
    const server = net.createServer((s) => this._onConnection(s));
    this._server = server;
    await new Promise((resolve, reject) => {
      server.once('error', reject);
      server.listen({ path: this._socketPath, backlog: 1 }, () => {
        server.off('error', reject);
        resolve();
      });
    });
    server.on('error', (err) => report('socket', err));
    process.on('exit', this._onProcessExit);
  }

  _spawn(exe, page, opts) {
    const args = [page, this._socketPath];
    const title = opts.title ?? '';
    const sized = opts.width > 0 && opts.height > 0;
    const version = opts.version ?? '';
    if (title || sized || version) args.push(title || 'ovalis');
    if (sized) args.push(`${Math.trunc(opts.width)}x${Math.trunc(opts.height)}`);
    else if (version) args.push('');
    if (version) args.push(version);
    const env = { ...process.env, ...(opts.env ?? {}) };
    // No shell: paths with blanks or quotes reach the launcher as they are.
    const child = spawn(exe, args, { env, stdio: ['ignore', 'inherit', 'inherit'] });
    this._child = child;
    this._spawnError = null;
    child.on('error', (err) => {
      this._spawnError = new Error(`cannot start ${exe}: ${err.message}`);
      if (this._exitStatus === null) this._launcherExited(127);
    });
    child.on('exit', (code, signal) => {
      this._launcherExited(code ?? 128 + (os.constants.signals[signal] ?? 0));
    });
    if (opts.handleSignals !== false) {
      process.on('SIGINT', this._onSignal);
      process.on('SIGTERM', this._onSignal);
    }
  }

  _waitConnected(timeoutMs) {
    if (this._sock) return Promise.resolve();
    return new Promise((resolve, reject) => {
      this._connectWaiter = { resolve, reject };
      this._connectTimer = this._timer(timeoutMs, () => {
        this._connectWaiter = null;
        process.stderr.write('ovalis: the launcher did not connect in time; stopping it\n');
        this._kill('SIGTERM');
        reject(new Error(`the launcher did not connect within ${timeoutMs} ms`));
      });
    });
  }

  _onConnection(s) {
    // Only the launcher knows the path; anybody after it is turned away.
    if (this._sock || this._exitStatus !== null) {
      s.destroy();
      return;
    }
    this._sock = s;
    // The connection is made; nobody else needs the listening end or its path.
    this._server.close();
    this._server = null;
    this._removeFiles();
    s.on('data', (chunk) => this._framer.feed(chunk, (l) => this._dispatch(l)));
    s.on('error', () => s.destroy());
    s.on('close', () => this._linkClosed());
    if (this._connectTimer) this._clearTimer(this._connectTimer);
    this._connectTimer = null;
    if (this._out.length) this._scheduleFlush();
    const w = this._connectWaiter;
    this._connectWaiter = null;
    if (w) w.resolve();
  }

  _openAppRequest(req) {
    if (!isOpenRequest(req)) return;
    // Before its script is there the page would miss the event; it says
    // hello when it is ready.
    if (!this._pageReady) this._openQueue.push(req);
    else this._deliverOpen(req);
  }

  _deliverOpen(req) {
    this.winop('main', 'show');
    if (typeof req.url === 'string') this.emit('main', 'open-url', { url: req.url });
    else if (Array.isArray(req.paths)) this.emit('main', 'open-files', { paths: req.paths });
    for (const fn of this._openHandlers) this._guard('open handler', () => fn(req));
  }

  _kill(sig) {
    if (this._child && this._exitStatus === null) {
      try {
        this._child.kill(sig);
      } catch {
        /* already gone */
      }
    }
  }

  _launcherExited(status) {
    if (this._exitStatus !== null) return;
    this._exitStatus = status;
    if (this._connectWaiter) {
      const w = this._connectWaiter;
      this._connectWaiter = null;
      w.reject(this._spawnError ?? new Error(`the launcher ended with status ${status} before it connected`));
    }
    if (this._sock) {
      // Lines the launcher wrote before it ended are still in the socket;
      // children it started may hold the socket open, so do not wait long.
      this._timer(200, () => this._sock?.destroy());
    } else {
      this._finish(status);
    }
  }

  _linkClosed() {
    this._sock = null;
    // Nothing will answer any more: waiters stop waiting.
    const pending = [...this._pending.values()];
    this._pending.clear();
    for (const p of pending) p.fail(new LauncherGoneError());
    if (this._exitStatus !== null) {
      this._finish(this._exitStatus);
    } else if (!this._quitSent) {
      // The launcher ends when its link does; make sure it does.
      this._timer(5000, () => this._kill('SIGTERM'));
    }
  }

  // Stops everything at once: used when start fails or the process exits.
  _abandon() {
    this._kill('SIGTERM');
    this._sock?.destroy();
    this._sock = null;
    this._server?.close();
    this._server = null;
    this._removeFiles();
    this._inbox.clearSync();
    this._outbox.clearSync();
    if (this._openServer) {
      // The process may be exiting: the socket file goes now, not on a later turn.
      const addr = this._openServer.address();
      this._openServer.close();
      this._openServer = null;
      try {
        if (typeof addr === 'string') fs.unlinkSync(addr);
      } catch {
        /* already gone */
      }
    }
  }

  _finish(status) {
    if (this._finished) return;
    this._finished = true;
    for (const t of this._timers) clearTimeout(t);
    this._timers.clear();
    this._server?.close();
    this._server = null;
    this._openServer?.close();
    this._openServer = null;
    this._removeFiles();
    // Nobody will take the offers left, nor name the uploads.
    this._inbox.clearSync();
    this._outbox.clearSync();
    process.off('exit', this._onProcessExit);
    process.off('SIGINT', this._onSignal);
    process.off('SIGTERM', this._onSignal);
    const pending = [...this._pending.values()];
    this._pending.clear();
    for (const p of pending) p.fail(new LauncherGoneError());
    this._closedResolve(status);
  }

  _removeFiles() {
    if (this._socketPath) {
      try {
        fs.unlinkSync(this._socketPath);
      } catch {
        /* already gone */
      }
    }
    if (this._dir) {
      try {
        fs.rmdirSync(this._dir);
      } catch {
        /* already gone */
      }
    }
    this._socketPath = '';
    this._dir = '';
  }

  _timer(ms, fn) {
    const t = setTimeout(() => {
      this._timers.delete(t);
      fn();
    }, ms);
    this._timers.add(t);
    return t;
  }

  _clearTimer(t) {
    clearTimeout(t);
    this._timers.delete(t);
  }

  // ---- lines ----------------------------------------------------------------

  /**
   * Sends one line, or several in order. Lines holding a raw line break are
   * refused: they would be two commands. Empty lines are not sent; nothing
   * is sent once the launcher has gone. Lines written in one turn of the
   * event loop leave together.
   * @param {string | string[]} l
   */
  send(l) {
    if (Array.isArray(l)) {
      for (const x of l) this.send(x);
      return;
    }
    if (typeof l !== 'string') throw new TypeError('a line must be a string');
    if (l === '') return;
    if (l.includes('\n') || l.includes('\r')) throw new TypeError('refusing to send a line with a raw line break');
    if (this._exitStatus !== null && !this._sock) return;
    if (this.trace) this.trace('>', l);
    this._out.push(l);
    if (this._sock) this._scheduleFlush();
  }

  _scheduleFlush() {
    if (this._flushScheduled) return;
    this._flushScheduled = true;
    setImmediate(() => {
      this._flushScheduled = false;
      if (!this._sock || this._out.length === 0) return;
      const data = `${this._out.join('\n')}\n`;
      this._out = [];
      this._sock.write(data);
    });
  }

  _dispatch(l) {
    if (this.trace) this.trace('<', l);
    if (l.startsWith('CALL ')) return this._onCall(l.slice(5));
    if (l.startsWith('BLOB ')) return this._inbox.announce(l.slice(5));
    if (l.startsWith('GOT ')) {
      const g = parseGot(l.slice(4));
      if (!g) return undefined;
      const p = this._pending.get(g.id);
      if (p) {
        this._pending.delete(g.id);
        p.done(g.value);
        return undefined;
      }
    }
    const sp = l.indexOf(' ');
    const list = this._lines.get(sp < 0 ? l : l.slice(0, sp));
    if (!list || list.length === 0) return undefined;
    const ev = parseEvent(l);
    for (const fn of [...list]) this._guard(`${ev.keyword} handler`, () => fn(ev));
    return undefined;
  }

  // Runs a handler; what it throws or rejects with is reported, never
  // allowed to stop the link.
  _guard(what, fn) {
    try {
      const r = fn();
      if (r && typeof r.then === 'function') r.then(undefined, (err) => report(`${what} failed`, err));
    } catch (err) {
      report(`${what} failed`, err);
    }
  }

  _onCall(rest) {
    const parsed = parseCall(rest);
    if (!parsed) return;
    const call = new Call(this, parsed);
    if (parsed.error) {
      call.fail(parsed.error);
      return;
    }
    const refs = rest.includes('$blob');
    if (!this._trusts(call.origin)) {
      if (refs) this._inbox.discard(call.params);
      if (!this._refused.has(call.origin)) {
        this._refused.add(call.origin);
        process.stderr.write(`ovalis: refused page calls from origin ${call.origin} (first: ${call.method} ` +
          `from window ${call.window}); trust it with Backend.trustOrigin or ovalis.json "api".origins\n`);
      }
      call.fail(`origin ${call.origin} may not call the backend` +
        (this._config ? ' (allow "calls" in ovalis.json "api".origins)' : ''));
      return;
    }
    if (call.method === 'client.hello' && call.window === 'main' && !this._pageReady) {
      this._pageReady = true;
      // The hello is answered first, then the requests that waited for the page.
      const waiting = this._openQueue;
      this._openQueue = [];
      setImmediate(() => waiting.forEach((r) => this._deliverOpen(r)));
    }
    const fn = this._calls.get(call.method);
    if (!fn) {
      // Bytes are read only for a handler; a call nobody handles only drops them.
      if (refs) this._inbox.discard(call.params);
      if (call.method === 'client.capabilities') call.resolve(this._capabilities(call));
      else if (call.method === 'client.hello') call.resolve({ ok: true });
      else call.fail(`unknown method ${call.method}`);
      return;
    }
    if (!refs) {
      this._runHandler(fn, call);
      return;
    }
    this._inbox.resolve(call.params).then(({ ok, bad, params }) => {
      if (!ok) {
        call.fail(`no such blob: ${bad}`);
        return;
      }
      call.params = params;
      this._runHandler(fn, call);
    }, (err) => call.reject(rejection(err)));
  }

  _runHandler(fn, call) {
    let result;
    try {
      result = fn(call.params, call);
    } catch (err) {
      if (!call.answered) call.reject(rejection(err));
      else report(`handler of ${call.method} failed`, err);
      return;
    }
    if (result && typeof result.then === 'function') {
      result.then(
        (v) => { if (!call.answered) call.resolve(v); },
        (err) => {
          if (!call.answered) call.reject(rejection(err));
          else report(`handler of ${call.method} failed`, err);
        });
    } else if (!call.answered) {
      call.resolve(result);
    }
  }

  // Offers bytes to the page: the file is written without holding up the
  // loop, then its BLOB line goes out before the answer that names it.
  _offer(callId, bytes) {
    if (this._finished) return;
    const id = randomId();
    const size = bytes.byteLength;
    this._outbox.write(id, bytes).then((file) => {
      this.send([line.blob(id, 'move', file), retLine(callId, true, { $blob: id, size })]);
    }, (err) => {
      report('cannot offer bytes', err);
      this.send(retLine(callId, false, { message: `cannot offer bytes: ${err.message}` }));
    });
  }

  _offerFile(callId, file) {
    const full = path.resolve(file);
    fs.promises.stat(full).then(async (st) => {
      if (!st.isFile()) throw new Error('not a regular file');
      await fs.promises.access(full, fs.constants.R_OK);
      const id = randomId();
      this.send([line.blob(id, 'keep', full), retLine(callId, true, { $blob: id, size: st.size })]);
    }).catch((err) => {
      this.send(retLine(callId, false, { message: `cannot offer ${file}: ${err.message}` }));
    });
  }

  _capabilities(call) {
    const verdicts = (names, known) => {
      const out = {};
      if (!Array.isArray(names)) return out;
      for (const n of names) {
        if (typeof n !== 'string') continue;
        out[n] = known(n) ? true : { why: 'unsupported', feature: n };
      }
      return out;
    };
    const hasCall = (m) => this._calls.has(m) || m === 'client.hello' || m === 'client.capabilities';
    return {
      calls: verdicts(call.param('calls'), hasCall),
      events: verdicts(call.param('events'), (e) => this._events.has(e)),
    };
  }

  // ---- requests -------------------------------------------------------------

  /**
   * A request with a fresh id: makeLine receives the id (digits only, so it
   * also works as "q<id>" for dialogs) and returns the line. Resolves with
   * the JSON value of the GOT answer; rejects with TimeoutError when none
   * came within options.timeout ms (0 or Infinity: no limit), with
   * LauncherGoneError when the launcher went away, or with the signal's
   * reason when options.signal aborts.
   */
  request(makeLine, { timeout, signal, interactive = false } = {}) {
    if (!this._sock) return Promise.reject(new LauncherGoneError(this._started ? undefined : 'the launcher is not connected'));
    const id = String(++this._nextId);
    let text;
    try {
      text = makeLine(id);
    } catch (err) {
      return Promise.reject(err);
    }
    const ms = timeout ?? (interactive ? this.interactiveTimeout : this.requestTimeout);
    return new Promise((resolve, reject) => {
      let timer = null;
      const onAbort = () => entry.fail(signal.reason ?? new OvalisError('aborted', 'ABORT_ERR'));
      const entry = {
        done: (v) => {
          if (timer) this._clearTimer(timer);
          signal?.removeEventListener('abort', onAbort);
          resolve(v);
        },
        fail: (err) => {
          this._pending.delete(id);
          if (timer) this._clearTimer(timer);
          signal?.removeEventListener('abort', onAbort);
          reject(err);
        },
      };
      if (signal?.aborted) {
        reject(signal.reason ?? new OvalisError('aborted', 'ABORT_ERR'));
        return;
      }
      this._pending.set(id, entry);
      if (ms > 0 && Number.isFinite(ms)) {
        timer = this._timer(ms, () => {
          timer = null;
          const kw = text.slice(0, text.indexOf(' ') < 0 ? text.length : text.indexOf(' '));
          entry.fail(new TimeoutError(`no answer to ${kw} ${id} within ${ms} ms`));
        });
      }
      signal?.addEventListener('abort', onAbort, { once: true });
      this.send(text);
    });
  }

  /** GET <key>: "windows", "win:<id>", "screens", "clipboard", ... */
  get(key, opts) {
    return this.request((id) => line.get(id, key), opts);
  }

  // ---- page events ----------------------------------------------------------

  /** Delivers {event, data} to the page of one window ("main" or an id). */
  emit(window, event, data) {
    this.send(emitLine(window, event, data));
  }

  /** Delivers {event, data} to the page of every window. */
  emitAll(event, data) {
    this.send(line.evalAll(emitScript(event, data)));
  }

  // ---- windows --------------------------------------------------------------
  eval(window, script) { this.send(line.evalIn(window, script)); }
  evalAll(script) { this.send(line.evalAll(script)); }
  title(window, text) { this.send(line.title(window, text)); }
  size(window, width, height) { this.send(line.size(window, width, height)); }
  winop(window, op) { this.send(line.winop(window, op)); }
  openWindow(spec) { this.send(line.winopen(spec)); }
  closeWindow(id) { this.send(line.winclose(id)); }
  chrome(window, c) { this.send(line.chrome(window, c)); }
  dragWindow(window) { this.send(line.dragwin(window)); }
  resizeWindow(window, edge) { this.send(line.resizewin(window, edge)); }
  reload() { this.send(line.reload()); }

  // ---- menus and tray -------------------------------------------------------
  setMenus(window, menus) { this.send(line.menubar(window, menus)); }
  resetMenus(window) { this.send(line.menuReset(window)); }
  updateMenu(window, id, changes) { this.send(line.menuUpdate(window, id, changes)); }
  setTray(t) { this.send(line.tray(t)); }
  removeTray() { this.send(line.trayRemove()); }
  setContextMenu(items) { this.send(line.contextMenu(items)); }
  clearContextMenu() { this.send(line.contextClear()); }
  suppressContextMenu(on) { this.send(line.contextSuppress(on)); }

  // ---- web content ----------------------------------------------------------
  /** A dialog of the backend's own; resolves with its result. Waits for the user. */
  dialog(op, fields = [], opts = {}) {
    return this.request((id) => line.dlg(`q${id}`, op, fields), { interactive: true, ...opts });
  }
  navReply(navId, verdict) { this.send(line.navr(navId, verdict)); }
  popupReply(qId, verdict) { this.send(line.popupr(qId, verdict)); }
  print(window) { this.send(line.print(window)); }
  pdf(window, file, opts) { return this.request((id) => line.pdf(window, id, file), opts); }
  cookies(op, fields = [], opts) { return this.request((id) => line.cookies(id, op, fields), opts); }
  permission(name, { request = false, ...opts } = {}) {
    return this.request((id) => line.permission(id, request, name), { interactive: request, ...opts });
  }

  // ---- desktop --------------------------------------------------------------
  clipWrite(data) { this.send(line.clipwrite(data)); }
  clipWatch(intervalMs) { this.send(line.clipwatch(intervalMs)); }
  notify(id, title, body, opts) { this.send(line.notify(id, title, body, opts)); }
  power(on, { display = false, reason = '', ...opts } = {}) {
    return this.request((id) => line.power(id, on, display, reason), opts);
  }
  secret(op, service, account, value = '', opts) {
    return this.request((id) => line.secret(id, op, service, account, value), opts);
  }
  shell(op, target, opts) { return this.request((id) => line.shell(id, op, target), opts); }
  loginGet(opts) { return this.request((id) => line.loginGet(id), opts); }
  loginSet(enabled, opts) { return this.request((id) => line.loginSet(id, enabled), opts); }
  badge(count) { this.send(line.badge(count)); }
  progress(value) { this.send(line.progress(value)); }
  attention() { this.send(line.attention()); }
  appIcon(file) { this.send(line.appicon(file)); }

  // ---- audio ----------------------------------------------------------------
  audioFilters(chain) { this.send(line.audioFilters(chain)); }
  audioFilterSet(index, freq, q, gain) { this.send(line.audioFilterSet(index, freq, q, gain)); }
  audioBalance(v) { this.send(line.audioBalance(v)); }
  samplerLoad(name, file, opts) { return this.request((id) => line.samplerLoad(id, name, file), opts); }
  samplerPlay(voice, name, opts) { this.send(line.samplerPlay(voice, name, opts)); }
  samplerSet(voice, changes) { this.send(line.samplerSet(voice, changes)); }
  samplerStop(voice) { this.send(line.samplerStop(voice)); }
  samplerStopAll() { this.send(line.samplerStopAll()); }
  samplerMaster(v) { this.send(line.samplerMaster(v)); }
  samplerUnload(name) { this.send(line.samplerUnload(name)); }
  audioTap(appScope, intervalMs, opts) { return this.request((id) => line.audiotap(id, appScope, intervalMs), opts); }
  audioTapStop() { this.send(line.audiotapStop()); }
  sound(nameOrPath = '', opts) { return this.request((id) => line.sound(id, nameOrPath), opts); }
  /** Resolves when the speech has ended. */
  say(text, { voice = '', rate = 0, ...opts } = {}) {
    return this.request((id) => line.say(id, text, voice, rate), { interactive: true, ...opts });
  }
  stopSpeaking() { this.send(line.saystop()); }
  voices(opts) { return this.request((id) => line.voices(id), opts); }
  nowPlaying(np) { this.send(line.nowplaying(np)); }
  nowPlayingClear() { this.send(line.nowplayingClear()); }

  // ---- input ----------------------------------------------------------------
  /** On Wayland the desktop may ask the user first. */
  hotkey(name, combo, opts) { return this.request((id) => line.hkreg(id, name, combo), { interactive: true, ...opts }); }
  hotkeyRemove(name) { this.send(line.hkunreg(name)); }
  keystroke(combo, opts) { return this.request((id) => line.keystroke(id, combo), opts); }
  /** May ask the user through the desktop's screen-cast dialog. */
  mouseTrack(restoreToken = '', opts) {
    return this.request((id) => line.mousetrack(id, restoreToken), { interactive: true, ...opts });
  }
  mouseTrackStop() { this.send(line.mousetrackStop()); }

  // ---- capture and files ----------------------------------------------------
  capture(opts) { return this.request((id) => line.capture(id), opts); }
  /** Waits for the user to pick. */
  pickColor(opts) { return this.request((id) => line.pickcolor(id), { interactive: true, ...opts }); }
  thumbnail(file, size = 256, opts) { return this.request((id) => line.thumb(id, file, size), opts); }
  search(query, opts) { return this.request((id) => line.spotlight(id, query), opts); }
}

/** The page argument: an absolute file path or an http(s) URL. */
function pageArgument(page) {
  if (page instanceof URL) page = page.protocol === 'file:' ? fileURLToPath(page) : page.href;
  if (typeof page !== 'string' || page === '') throw new TypeError('a page (file path or URL) is needed');
  if (/^[a-z][a-z0-9+.-]*:\/\//i.test(page)) return page.startsWith('file://') ? fileURLToPath(page) : page;
  return path.resolve(page);
}
