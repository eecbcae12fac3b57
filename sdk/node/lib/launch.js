// Finding the launcher, the private socket folder, and the open requests
// that `launcher --open` and second instances hand to a running one.

import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

/** Longest path a Unix socket address holds, without its terminating zero. */
export const SOCKET_PATH_MAX = 107;

function isExecutable(file) {
  try {
    const st = fs.statSync(file);
    if (!st.isFile()) return false;
    fs.accessSync(file, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

/**
 * The launcher binary to start. An explicit path (anything with a slash)
 * is taken as it is; a bare name, and the default, are looked up in order
 * on PATH, then where an installed package puts it: the bin folder of the
 * prefix this library is installed under, /usr/local/bin and /usr/bin.
 * Desktop entries and services often run with a short PATH, hence the
 * installed locations.
 * @param {string} [launcher] a path or a program name; default "launcher"
 * @param {NodeJS.ProcessEnv} [env]
 */
export function findLauncher(launcher, env = process.env) {
  const name = launcher || env.OVALIS_LAUNCHER || 'launcher';
  if (name.includes('/')) {
    const file = path.resolve(name);
    if (!isExecutable(file)) throw new Error(`launcher not found or not executable: ${file}`);
    return file;
  }
  const tried = [];
  for (const dir of (env.PATH || '').split(':')) {
    if (!dir) continue;
    const file = path.join(dir, name);
    if (isExecutable(file)) return file;
  }
  tried.push('PATH');
  // <prefix>/share/nodejs/ovalis-backend/lib or <prefix>/lib/node_modules/ovalis-backend/lib
  const here = path.dirname(fileURLToPath(import.meta.url));
  const prefixes = [path.resolve(here, '../../../..'), path.resolve(here, '../../..')];
  const dirs = [...prefixes.map((p) => path.join(p, 'bin')), '/usr/local/bin', '/usr/bin'];
  for (const dir of [...new Set(dirs)]) {
    const file = path.join(dir, name);
    tried.push(dir);
    if (isExecutable(file)) return file;
  }
  throw new Error(`launcher not found: looked for ${name} on ${tried.join(', ')}; ` +
    'pass options.launcher or set OVALIS_LAUNCHER');
}

/**
 * A fresh folder only this user can enter (mode 0700), for the socket: the
 * socket is the only authentication the launcher link has.
 */
export function makePrivateFolder() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-'));
  fs.chmodSync(dir, 0o700);
  return dir;
}

/**
 * The open request for an argument, exactly as `launcher --open` makes it:
 * {activate: true} for nothing, {url} for an address that is not a file,
 * {paths: [...]} for a file (a file:// URI turned into its path).
 * @param {string} [arg]
 */
export function openRequest(arg) {
  if (!arg) return { activate: true };
  if (arg.includes('://') && !arg.startsWith('file://') && !fs.existsSync(arg)) return { url: arg };
  let p = arg;
  if (arg.startsWith('file://')) {
    try {
      p = fileURLToPath(arg);
    } catch {
      /* kept as it was, like the launcher does */
    }
  }
  return { paths: [p] };
}

/** Whether a request is one of the three forms an instance acts on. */
export function isOpenRequest(r) {
  if (r === null || typeof r !== 'object' || Array.isArray(r)) return false;
  if (Array.isArray(r.paths)) return r.paths.every((p) => typeof p === 'string');
  return typeof r.url === 'string' || r.activate === true;
}

// A socket file someone else made is not ours to talk to or to replace.
function ownedByOthers(socketPath) {
  try {
    const st = fs.lstatSync(socketPath);
    return typeof process.getuid === 'function' && st.uid !== process.getuid();
  } catch {
    return false;
  }
}

/**
 * Hands an open request (an object, or an argument as `launcher --open`
 * takes it) to the instance listening on socketPath. Resolves true when
 * that instance took the whole request, false when nobody listens there.
 * @param {string} socketPath
 * @param {object | string} [request]
 */
export function forwardOpen(socketPath, request, timeoutMs = 3000) {
  const req = typeof request === 'object' && request !== null ? request : openRequest(request);
  const message = `${JSON.stringify(req)}\n`;
  if (ownedByOthers(socketPath)) return Promise.resolve(false);
  return new Promise((resolve) => {
    let done = false;
    const finish = (ok) => {
      if (done) return;
      done = true;
      clearTimeout(timer);
      s.destroy();
      resolve(ok);
    };
    const s = net.createConnection(socketPath);
    const timer = setTimeout(() => finish(false), timeoutMs);
    s.on('error', () => finish(false));
    s.on('connect', () => s.end(message, () => finish(true)));
  });
}

// A request is one short line; anything longer is not a request.
const OPEN_REQUEST_MAX = 1 << 20;

/**
 * Listens on a fixed socket for open requests; fn gets each request object.
 * Rejects when another instance listens there, or when the socket file
 * belongs to another user. A socket file nobody answers is left by an
 * instance that died and is replaced. Resolves with the server; closing it
 * removes the socket file.
 * @param {string} socketPath
 * @param {(request: object) => void} fn
 */
export async function listenForOpen(socketPath, fn) {
  if (!socketPath || Buffer.byteLength(socketPath) > SOCKET_PATH_MAX) {
    throw new Error(`open socket path is empty or too long: ${socketPath}`);
  }
  if (ownedByOthers(socketPath)) throw new Error(`${socketPath} belongs to another user`);
  if (await connects(socketPath)) throw new Error(`another instance is listening on ${socketPath}`);
  try {
    if (fs.lstatSync(socketPath).isSocket()) fs.unlinkSync(socketPath);
  } catch {
    /* not there */
  }
  const server = net.createServer((c) => {
    const parts = [];
    let size = 0;
    let finished = false;
    const finish = () => {
      if (finished) return;
      finished = true;
      c.destroy();
      let text = Buffer.concat(parts).toString('utf8');
      const nl = text.indexOf('\n');
      if (nl >= 0) text = text.slice(0, nl);
      let req = null;
      try {
        req = JSON.parse(text);
      } catch {
        /* reported below */
      }
      if (req !== null && typeof req === 'object' && !Array.isArray(req)) fn(req);
      else if (text !== '') process.stderr.write('ovalis: ignored a malformed open request\n');
    };
    c.setTimeout(5000, () => c.destroy());
    c.on('data', (chunk) => {
      parts.push(chunk);
      size += chunk.length;
      if (chunk.includes(10)) finish();
      else if (size >= OPEN_REQUEST_MAX) {
        parts.length = 0;
        finish();
      }
    });
    c.on('end', finish);
    c.on('error', () => c.destroy());
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen({ path: socketPath, backlog: 8 }, () => {
      server.off('error', reject);
      resolve();
    });
  });
  // Only this user may hand the instance files and URLs to open.
  fs.chmodSync(socketPath, 0o600);
  server.on('close', () => {
    try {
      fs.unlinkSync(socketPath);
    } catch {
      /* already gone */
    }
  });
  return server;
}

function connects(socketPath) {
  return new Promise((resolve) => {
    const s = net.createConnection(socketPath);
    s.on('error', () => resolve(false));
    s.on('connect', () => {
      s.destroy();
      resolve(true);
    });
  });
}
