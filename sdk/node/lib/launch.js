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
 * Makes sure the folder of a fixed socket path exists and is private: owned
 * by this user and closed to everybody else. A folder others can write to
 * would let them put their own socket where the desktop looks for ours.
 */
export function ensurePrivateFolder(dir) {
  fs.mkdirSync(dir, { recursive: true, mode: 0o700 });
  const st = fs.lstatSync(dir);
  const uid = typeof process.getuid === 'function' ? process.getuid() : st.uid;
  if (!st.isDirectory() || st.uid !== uid || (st.mode & 0o077) !== 0) {
    throw new Error(`socket folder ${dir} must be a folder of this user with mode 0700`);
  }
}

/**
 * Where an application's single-instance socket lives by default: under
 * $XDG_RUNTIME_DIR (private to the user and cleared at log-out), or in a
 * private folder of the temporary folder when there is none.
 * @param {string} appId
 */
export function instanceSocketPath(appId, env = process.env) {
  const id = String(appId).replace(/[^A-Za-z0-9._-]/g, '_');
  if (!id) throw new TypeError('an application id is needed for its socket');
  const runtime = env.XDG_RUNTIME_DIR;
  const base = runtime && path.isAbsolute(runtime)
    ? path.join(runtime, 'ovalis')
    : path.join(os.tmpdir(), `ovalis-${typeof process.getuid === 'function' ? process.getuid() : 'user'}`);
  return path.join(base, `${id}.sock`);
}

/**
 * The open request for an argument, exactly as `launcher --open` writes it:
 * {"activate":true} for nothing, {"url":...} for an address that is not a
 * file, {"paths":[...]} for a file (a file:// URI turned into its path).
 * @param {string} [arg]
 */
export function openRequestMessage(arg) {
  if (!arg) return '{"activate":true}';
  if (arg.includes('://') && !arg.startsWith('file://') && !fs.existsSync(arg)) {
    return `{"url":${JSON.stringify(arg)}}`;
  }
  let p = arg;
  if (arg.startsWith('file://')) {
    try {
      p = fileURLToPath(arg);
    } catch {
      /* kept as it was, like the launcher does */
    }
  }
  return `{"paths":[${JSON.stringify(p)}]}`;
}

/**
 * Hands an open request to the instance listening on socketPath. Resolves
 * true when every byte was written, false when nobody listens there.
 * @param {string} socketPath
 * @param {string} [arg]
 */
export function forwardOpen(socketPath, arg, timeoutMs = 3000) {
  const message = `${openRequestMessage(arg)}\n`;
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
