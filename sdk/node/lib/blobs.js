// Bytes between page and backend: files the launcher announces with
// "BLOB {json}" lines and page calls name with {"$blob":"<id>","size":N}
// references, and files this backend offers with "BLOB <id> move <path>"
// before answering with such a reference.

import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import fsp from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';

/** A fresh id: 32 hex digits of cryptographic randomness. */
export function randomId() {
  return randomBytes(16).toString('hex');
}

/** Whether a value is bytes a handler may answer with. */
export function isBytes(v) {
  return v instanceof ArrayBuffer || ArrayBuffer.isView(v);
}

/** The bytes of an ArrayBuffer or any view of one, without a copy. */
export function asUint8Array(v) {
  if (v instanceof Uint8Array) return v;
  if (v instanceof ArrayBuffer) return new Uint8Array(v);
  return new Uint8Array(v.buffer, v.byteOffset, v.byteLength);
}

/**
 * The id of a reference {"$blob":"<id>","size":N} (those two members and
 * no other); undefined when v is not one.
 */
export function referenceId(v) {
  if (v === null || typeof v !== 'object' || Array.isArray(v) || isBytes(v)) return undefined;
  const keys = Object.keys(v);
  if (keys.length !== 2 || typeof v.$blob !== 'string' || v.$blob === '' || typeof v.size !== 'number') return undefined;
  return v.$blob;
}

// Calls fn(ref, replace) for every reference in the tree; replace(x) puts x
// in its place.
function eachReference(v, fn, replace = null) {
  if (referenceId(v) !== undefined) {
    fn(v, replace);
    return;
  }
  if (Array.isArray(v)) {
    v.forEach((e, i) => eachReference(e, fn, (x) => { v[i] = x; }));
  } else if (v !== null && typeof v === 'object' && !isBytes(v)) {
    for (const k of Object.keys(v)) eachReference(v[k], fn, (x) => { v[k] = x; });
  }
}

function removeFile(file) {
  return fsp.unlink(file).catch((err) => {
    if (err.code !== 'ENOENT') process.stderr.write(`ovalis: cannot remove ${file}: ${err.message}\n`);
  });
}

// The whole file, which must be a regular file of exactly `size` bytes.
async function readUpload(file, size) {
  const fh = await fsp.open(file, fs.constants.O_RDONLY | fs.constants.O_NOFOLLOW);
  try {
    const st = await fh.stat();
    if (!st.isFile() || st.size !== size) throw new Error('not a regular file of the announced size');
    const data = Buffer.allocUnsafe(size);
    let off = 0;
    while (off < size) {
      const { bytesRead } = await fh.read(data, off, size - off, off);
      if (bytesRead === 0) throw new Error('the file is shorter than announced');
      off += bytesRead;
    }
    return data;
  } finally {
    await fh.close();
  }
}

/**
 * Uploads the launcher has announced and no call has named yet. The oldest
 * is dropped (and its file removed) beyond `limit`, so a page that uploads
 * and never calls cannot fill the disk through us.
 */
export class Inbox {
  constructor(limit = 256) {
    this.limit = limit;
    this._entries = new Map();
  }

  get size() {
    return this._entries.size;
  }

  /** The JSON text of a "BLOB {...}" line; malformed announcements are ignored. */
  announce(text) {
    let a;
    try {
      a = JSON.parse(text);
    } catch {
      return;
    }
    if (a === null || typeof a !== 'object' || typeof a.id !== 'string' || a.id === '' ||
        typeof a.path !== 'string' || !a.path.startsWith('/') ||
        !Number.isSafeInteger(a.size) || a.size < 0) return;
    const old = this._entries.get(a.id);
    this._entries.delete(a.id);
    if (old && old.path !== a.path) removeFile(old.path);
    this._entries.set(a.id, { path: a.path, size: a.size });
    for (const [id, e] of this._entries) {
      if (this._entries.size <= this.limit) break;
      this._entries.delete(id);
      removeFile(e.path);
    }
  }

  /**
   * Replaces every reference in params by a Buffer of its file, then
   * removes the files. Resolves with {ok: true} or, when a reference names
   * no announced upload or its file cannot be read in full, with
   * {ok: false, bad: id}; the files the call named are removed then too.
   * The uploads are claimed at once, before anything is read.
   */
  async resolve(params) {
    const claimed = new Map();
    let bad;
    eachReference(params, (ref) => {
      const id = ref.$blob;
      if (claimed.has(id)) return;
      const e = this._entries.get(id);
      this._entries.delete(id);
      claimed.set(id, e);
      if (!e && bad === undefined) bad = id;
    });
    const data = new Map();
    await Promise.all([...claimed].map(async ([id, e]) => {
      if (!e) return;
      if (bad === undefined) {
        try {
          data.set(id, await readUpload(e.path, e.size));
        } catch (err) {
          process.stderr.write(`ovalis: cannot read the upload ${e.path}: ${err.message}\n`);
          bad ??= id;
        }
      }
      await removeFile(e.path);
    }));
    if (bad !== undefined) return { ok: false, bad };
    // The reference may be the params object itself.
    let out = params;
    eachReference(params, (ref, replace) => {
      if (replace) replace(data.get(ref.$blob));
      else out = data.get(ref.$blob);
    });
    return { ok: true, params: out };
  }

  /** Removes the files a call names without reading them: for calls no handler sees. */
  discard(params) {
    eachReference(params, (ref) => {
      const e = this._entries.get(ref.$blob);
      if (!e) return;
      this._entries.delete(ref.$blob);
      removeFile(e.path);
    });
  }

  /** Removes every file still waiting; synchronous, for the process's end. */
  clearSync() {
    for (const e of this._entries.values()) {
      try {
        fs.unlinkSync(e.path);
      } catch {
        /* the launcher's folder may be gone already */
      }
    }
    this._entries.clear();
  }
}

const TMPFS_MAGIC = 0x01021994;

/** Whether a directory lies on a file system held in memory. */
function inMemory(dir) {
  try {
    if (typeof fs.statfsSync === 'function') return fs.statfsSync(dir).type === TMPFS_MAGIC;
    const real = fs.realpathSync(dir);
    let best = '';
    let kind = '';
    for (const line of fs.readFileSync('/proc/self/mounts', 'utf8').split('\n')) {
      const [, point, type] = line.split(' ');
      if (!point) continue;
      const inside = real === point || real.startsWith(point.replace(/\/$/, '') + '/');
      if (inside && point.length >= best.length) [best, kind] = [point, type];
    }
    return kind === 'tmpfs' || kind === 'ramfs';
  } catch {
    return false;
  }
}

/**
 * Where offered files go: in memory, as the launcher keeps its own (the
 * runtime directory when it is, else /dev/shm), else the temp directory.
 */
function bytesBase() {
  for (const base of [process.env.XDG_RUNTIME_DIR, '/dev/shm']) {
    if (!base) continue;
    try {
      fs.accessSync(base, fs.constants.W_OK);
    } catch {
      continue;
    }
    if (inMemory(base)) return base;
  }
  return os.tmpdir();
}

/** Files this backend offers, in a private folder made on first use. */
export class Outbox {
  constructor() {
    this.dir = '';
  }

  /** Writes the bytes to a new file named id; resolves with its path. */
  async write(id, bytes) {
    if (!this.dir) {
      const base = bytesBase();
      // mkdtemp makes the folder 0700: only this user can read what we offer.
      this.dir = fs.mkdtempSync(path.join(base, 'ovalis-bytes-'));
    }
    const file = path.join(this.dir, id);
    await fsp.writeFile(file, asUint8Array(bytes), { flag: 'wx', mode: 0o600 });
    return file;
  }

  /** Removes the folder and the offers the launcher never took. */
  clearSync() {
    if (!this.dir) return;
    fs.rmSync(this.dir, { recursive: true, force: true });
    this.dir = '';
  }
}
