// The application's ovalis.json: read, checked and turned into the
// launcher's command line and environment. docs/ovalis-json.md is the
// reference for the fields and for the exact wording of every error, which
// all libraries share.

import fs from 'node:fs';
import path from 'node:path';

import { originGlob } from './origins.js';

/** A bad ovalis.json; the message is the one line to show. */
export class ConfigError extends Error {
  constructor(message) {
    super(message);
    this.name = 'ConfigError';
    this.code = 'OVALIS_CONFIG';
  }
}

// ---- a JSON reader for files people write -----------------------------------
// JSON.parse keeps the last of two equal members and words its errors
// differently in every engine; this one keeps members in order, repeats
// included, and says where the text stopped making sense.

class Syntax {
  constructor(at) {
    this.at = at;
  }
}

function parseDocument(text) {
  let i = 0;
  const ws = () => {
    while (i < text.length) {
      const c = text[i];
      if (c === ' ' || c === '\t' || c === '\n' || c === '\r') ++i;
      else break;
    }
  };
  const fail = () => {
    throw new Syntax(i);
  };
  const str = () => {
    ++i;
    let out = '';
    for (;;) {
      if (i >= text.length) fail();
      const c = text[i];
      const code = c.charCodeAt(0);
      if (c === '"') {
        ++i;
        return out;
      }
      if (code < 0x20) fail();
      if (c !== '\\') {
        out += c;
        ++i;
        continue;
      }
      const e = text[++i];
      const simple = { '"': '"', '\\': '\\', '/': '/', b: '\b', f: '\f', n: '\n', r: '\r', t: '\t' }[e];
      if (simple !== undefined) {
        out += simple;
        ++i;
      } else if (e === 'u') {
        const hex = text.slice(i + 1, i + 5);
        if (!/^[0-9a-fA-F]{4}$/.test(hex)) fail();
        out += String.fromCharCode(parseInt(hex, 16));
        i += 5;
      } else {
        fail();
      }
    }
  };
  const value = (depth) => {
    if (depth > 256) fail();
    ws();
    const c = text[i];
    if (c === '{') {
      ++i;
      const members = [];
      ws();
      if (text[i] === '}') {
        ++i;
        return { members };
      }
      for (;;) {
        ws();
        if (text[i] !== '"') fail();
        const key = str();
        ws();
        if (text[i] !== ':') fail();
        ++i;
        members.push([key, value(depth + 1)]);
        ws();
        if (text[i] === ',') {
          ++i;
          continue;
        }
        if (text[i] === '}') {
          ++i;
          return { members };
        }
        fail();
      }
    }
    if (c === '[') {
      ++i;
      const items = [];
      ws();
      if (text[i] === ']') {
        ++i;
        return items;
      }
      for (;;) {
        items.push(value(depth + 1));
        ws();
        if (text[i] === ',') {
          ++i;
          continue;
        }
        if (text[i] === ']') {
          ++i;
          return items;
        }
        fail();
      }
    }
    if (c === '"') return str();
    for (const [word, v] of [['true', true], ['false', false], ['null', null]]) {
      if (text.startsWith(word, i)) {
        i += word.length;
        return v;
      }
    }
    const m = /^-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?/.exec(text.slice(i, i + 400));
    if (!m || m[0] === '' || m[0] === '-') fail();
    i += m[0].length;
    return Number(m[0]);
  };
  const v = value(0);
  ws();
  if (i < text.length) fail();
  return v;
}

// Parsed objects are {members: [[key, value], ...]}; arrays are arrays.
const isObj = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
const member = (o, key) => {
  const m = o.members.find(([k]) => k === key);
  return m ? m[1] : undefined;
};

// ---- messages ---------------------------------------------------------------

function memberPath(base, key) {
  if (/^[A-Za-z0-9_$-]+$/.test(key)) return base ? `${base}.${key}` : key;
  return `${base}[${JSON.stringify(key)}]`;
}

function shownString(s) {
  const chars = [...s];
  let cut = chars.length > 40 ? `${chars.slice(0, 37).join('')}...` : s;
  cut = cut.replace(/["\\\x00-\x1f]/g, (c) => {
    const named = { '"': '\\"', '\\': '\\\\', '\n': '\\n', '\t': '\\t', '\r': '\\r', '\b': '\\b', '\f': '\\f' }[c];
    return named ?? `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`;
  });
  return `"${cut}"`;
}

function kind(v) {
  if (v === null) return 'null';
  if (v === true) return 'true';
  if (v === false) return 'false';
  if (typeof v === 'number') return 'a number';
  if (Array.isArray(v)) return 'an array';
  if (isObj(v)) return 'an object';
  return shownString(v);
}

// ---- value rules ----------------------------------------------------------------

const oneLineText = (s) => !/[\x00-\x1f\x7f]/.test(s);
const relativePath = (s) => s !== '' && s[0] !== '/' && oneLineText(s) && !s.includes('\\') &&
  !s.split('/').includes('..');
const appId = (s) => s.length > 0 && s.length <= 255 && s.split('.').length >= 2 &&
  s.split('.').every((p) => /^[A-Za-z_-][A-Za-z0-9_-]*$/.test(p));
const versionText = (s) => s.length <= 64 && /^[0-9][A-Za-z0-9.+~-]*$/.test(s);
const mimeType = (s) => /^[A-Za-z0-9!#$&^_.+-]+\/[A-Za-z0-9!#$&^_.+-]+$/.test(s);
const urlScheme = (s) => /^[A-Za-z][A-Za-z0-9+.-]*$/.test(s);
const originPattern = (s) => s !== '' && !/[\x00-\x20\x7f]/.test(s);
const isUrl = (s) => s.startsWith('http://') || s.startsWith('https://');
const oneOf = (...words) => (s) => words.includes(s);

class Reader {
  constructor(file, dir) {
    this.file = file;
    this.dir = dir;
  }

  fail(field, text) {
    throw new ConfigError(`${this.file}: ${field}: ${text}`);
  }

  expected(field, what, got) {
    if (typeof got === 'number') this.fail(field, `expected ${what}`);
    this.fail(field, `expected ${what}, got ${kind(got)}`);
  }

  duplicates(o, base) {
    const seen = new Set();
    for (const [k] of o.members) {
      if (seen.has(k)) this.fail(memberPath(base, k), 'duplicate field');
      seen.add(k);
    }
  }

  // Refuses repeated and unknown members of an object before its values
  // are looked at.
  members(o, base, known, allowSchema = false) {
    this.duplicates(o, base);
    for (const [k] of o.members) {
      if (!(allowSchema && k === '$schema') && !known.includes(k)) this.fail(memberPath(base, k), 'unknown field');
    }
  }

  string(v, field, what, ok) {
    if (typeof v !== 'string' || !ok(v)) this.expected(field, what, v);
    return v;
  }

  boolean(v, field) {
    if (typeof v !== 'boolean') this.expected(field, 'true or false', v);
    return v;
  }

  integer(v, field, lo, hi) {
    if (typeof v !== 'number' || v < lo || v > hi || !Number.isInteger(v)) {
      this.expected(field, `an integer from ${lo} to ${hi}`, v);
    }
    return v;
  }

  object(v, field) {
    if (!isObj(v)) this.expected(field, 'an object', v);
  }

  strings(v, field, what, itemWhat, ok, nonEmpty = false) {
    if (!Array.isArray(v) || (nonEmpty && v.length === 0)) this.expected(field, what, v);
    return v.map((x, i) => this.string(x, `${field}[${i}]`, itemWhat, ok));
  }

  file_(field, rel) {
    let st = null;
    try {
      st = fs.statSync(path.join(this.dir, rel));
    } catch {
      /* missing */
    }
    if (!st || !st.isFile()) this.fail(field, `no such file: ${rel}`);
  }
}

function readWindow(r, w, c) {
  r.object(w, 'window');
  r.members(w, 'window', ['title', 'width', 'height', 'chrome', 'activation', 'deferShow']);
  const get = (k) => member(w, k);
  if (get('title') !== undefined) c.window.title = r.string(get('title'), 'window.title', 'a one-line string', oneLineText);
  if (get('width') !== undefined) c.window.width = r.integer(get('width'), 'window.width', 1, 16384);
  if (get('height') !== undefined) c.window.height = r.integer(get('height'), 'window.height', 1, 16384);
  const ch = get('chrome');
  if (ch !== undefined) {
    r.object(ch, 'window.chrome');
    r.members(ch, 'window.chrome', ['frame', 'controls', 'transparent', 'vibrancy', 'square', 'firstMouse', 'menuBar']);
    const fields = ['', '', '', '', '', '', ''];
    const flag = (key, i) => {
      const v = member(ch, key);
      if (v !== undefined) fields[i] = r.boolean(v, `window.chrome.${key}`) ? '1' : '0';
    };
    flag('frame', 0);
    const controls = member(ch, 'controls');
    if (controls !== undefined) {
      const what = '"all", "none" or an array of "close", "minimize" and "maximize"';
      if (typeof controls === 'string') {
        fields[1] = r.string(controls, 'window.chrome.controls', what, oneOf('all', 'none'));
      } else if (Array.isArray(controls)) {
        const names = r.strings(controls, 'window.chrome.controls', what, '"close", "minimize" or "maximize"',
          oneOf('close', 'minimize', 'maximize'));
        fields[1] = names.length ? names.join(',') : 'none';
      } else {
        r.expected('window.chrome.controls', what, controls);
      }
    }
    flag('transparent', 2);
    const vib = member(ch, 'vibrancy');
    if (vib !== undefined) fields[3] = r.string(vib, 'window.chrome.vibrancy', 'a one-line string', oneLineText);
    flag('square', 4);
    flag('firstMouse', 5);
    flag('menuBar', 6);
    c.window.chrome = fields;
  }
  if (get('activation') !== undefined) {
    c.window.accessory = r.string(get('activation'), 'window.activation', '"regular" or "accessory"',
      oneOf('regular', 'accessory')) === 'accessory';
  }
  if (get('deferShow') !== undefined) c.window.deferShow = r.boolean(get('deferShow'), 'window.deferShow');
}

function readBackend(r, b, c) {
  r.object(b, 'backend');
  r.members(b, 'backend', ['command', 'build', 'watch']);
  const nonEmpty = (s) => s !== '';
  const cmd = member(b, 'command');
  if (cmd === undefined) r.fail('backend.command', 'missing (expected a non-empty array of strings)');
  c.backend.command = r.strings(cmd, 'backend.command', 'a non-empty array of strings', 'a non-empty string', nonEmpty, true);
  const build = member(b, 'build');
  if (build !== undefined) {
    c.backend.build = r.strings(build, 'backend.build', 'a non-empty array of strings', 'a non-empty string', nonEmpty, true);
  }
  const watch = member(b, 'watch');
  if (watch !== undefined) {
    c.backend.watch = r.strings(watch, 'backend.watch', 'an array of relative paths', 'a relative path', relativePath);
  }
}

/**
 * Checks the text of an ovalis.json already read. file is the path used in
 * messages; dir is the application folder, where page and icon must exist.
 * Throws ConfigError with the documented one-line message.
 * @param {string | Uint8Array} text
 */
export function parseAppConfig(text, file, dir) {
  if (typeof text !== 'string') {
    try {
      text = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true }).decode(text);
    } catch {
      throw new ConfigError(`${file}: not UTF-8 text`);
    }
  }
  let d;
  try {
    d = parseDocument(text);
  } catch (err) {
    if (!(err instanceof Syntax)) throw err;
    let line = 1;
    let col = 1;
    for (let i = 0; i < err.at && i < text.length; ++i) {
      const code = text.charCodeAt(i);
      if (code === 10) {
        line += 1;
        col = 1;
      } else if (code < 0xdc00 || code > 0xdfff) {
        col += 1; // a low surrogate finishes a character already counted
      }
    }
    throw new ConfigError(`${file}: invalid JSON at line ${line}, column ${col}`);
  }
  if (!isObj(d)) throw new ConfigError(`${file}: expected a JSON object, got ${kind(d)}`);

  const r = new Reader(file, dir);
  const c = {
    file, dir, id: '', name: '', version: '', description: '', icon: '', page: '',
    window: { title: '', width: 960, height: 640, chrome: null, accessory: false, deferShow: false },
    backend: { command: [], build: [], watch: ['backend'] },
    origins: [], media: [], downloads: '', popups: '', mimeTypes: [], schemes: [], automation: false,
  };
  r.members(d, '', ['id', 'name', 'version', 'description', 'icon', 'page', 'window', 'backend',
    'api', 'downloads', 'popups', 'opens', 'automation'], true);
  const get = (k) => member(d, k);
  const need = (k, what) => {
    const v = get(k);
    if (v === undefined) r.fail(k, `missing (expected ${what})`);
    return v;
  };
  const idWhat = 'an application id such as "org.example.Hello"';
  c.id = r.string(need('id', idWhat), 'id', idWhat, appId);
  const nameWhat = 'a non-empty one-line string';
  c.name = r.string(need('name', nameWhat), 'name', nameWhat, (s) => s !== '' && oneLineText(s));
  const versionWhat = 'a version such as "1.0.0"';
  c.version = r.string(need('version', versionWhat), 'version', versionWhat, versionText);
  if (get('description') !== undefined) c.description = r.string(get('description'), 'description', 'a one-line string', oneLineText);
  if (get('icon') !== undefined) {
    c.icon = r.string(get('icon'), 'icon', 'a relative path to a .png or .svg file',
      (s) => relativePath(s) && /\.(png|svg)$/i.test(s));
    r.file_('icon', c.icon);
  }
  const pageWhat = 'a relative path to an HTML file or an http(s) URL';
  c.page = r.string(need('page', pageWhat), 'page', pageWhat, (s) => (isUrl(s) && oneLineText(s)) || relativePath(s));
  if (!isUrl(c.page)) r.file_('page', c.page);
  c.window.title = c.name;
  if (get('window') !== undefined) readWindow(r, get('window'), c);
  readBackend(r, need('backend', 'an object'), c);
  const api = get('api');
  if (api !== undefined) {
    r.object(api, 'api');
    r.members(api, 'api', ['origins', 'media']);
    const origins = member(api, 'origins');
    if (origins !== undefined) {
      r.object(origins, 'api.origins');
      r.duplicates(origins, 'api.origins'); // its names are patterns, so none is unknown
      const grantsWhat = '"calls", "media.proxy", "media.camera" or "media.microphone"';
      for (const [pattern, grants] of origins.members) {
        const field = memberPath('api.origins', pattern);
        if (!originPattern(pattern)) r.fail(field, 'expected an origin pattern such as "http://127.0.0.1:*"');
        c.origins.push({
          pattern,
          grants: r.strings(grants, field, 'an array of grants', grantsWhat,
            oneOf('calls', 'media.proxy', 'media.camera', 'media.microphone')),
        });
      }
    }
    const media = member(api, 'media');
    if (media !== undefined) {
      c.media = r.strings(media, 'api.media', 'an array of "camera" and "microphone"', '"camera" or "microphone"',
        oneOf('camera', 'microphone'));
    }
  }
  if (get('downloads') !== undefined) {
    c.downloads = r.string(get('downloads'), 'downloads', '"auto", "ask" or "deny"', oneOf('auto', 'ask', 'deny'));
  }
  if (get('popups') !== undefined) {
    c.popups = r.string(get('popups'), 'popups', '"external", "window" or "deny"', oneOf('external', 'window', 'deny'));
  }
  const opens = get('opens');
  if (opens !== undefined) {
    r.object(opens, 'opens');
    r.members(opens, 'opens', ['mimeTypes', 'schemes']);
    const mt = member(opens, 'mimeTypes');
    if (mt !== undefined) c.mimeTypes = r.strings(mt, 'opens.mimeTypes', 'an array of strings', 'a MIME type such as "text/plain"', mimeType);
    const sc = member(opens, 'schemes');
    if (sc !== undefined) {
      c.schemes = r.strings(sc, 'opens.schemes', 'an array of strings', 'a URL scheme such as "myapp"', urlScheme)
        .map((s) => s.toLowerCase());
    }
  }
  if (get('automation') !== undefined) c.automation = r.boolean(get('automation'), 'automation');
  return new AppConfig(c);
}

/**
 * Reads <dir>/ovalis.json, or the file itself when the path names a file.
 * No path means OVALIS_APP_DIR, else the current folder.
 * Throws ConfigError with the documented one-line message.
 * @param {string} [where]
 */
export function loadAppConfig(where, env = process.env) {
  let dir;
  let file;
  if (!where) {
    if (env.OVALIS_APP_DIR) {
      dir = env.OVALIS_APP_DIR;
      file = `${dir}/ovalis.json`;
    } else {
      dir = '.';
      file = 'ovalis.json';
    }
  } else if (isDirectory(where)) {
    dir = where;
    file = where.endsWith('/') ? `${where}ovalis.json` : `${where}/ovalis.json`;
  } else {
    file = where;
    dir = path.dirname(where);
  }
  // Absolute, so that page and icon paths survive a change of folder.
  dir = path.resolve(dir);
  let bytes;
  try {
    bytes = fs.readFileSync(file);
  } catch (err) {
    throw new ConfigError(`${file}: cannot read: ${systemReason(err)}`);
  }
  return parseAppConfig(bytes, file, dir);
}

function isDirectory(p) {
  try {
    return fs.statSync(p).isDirectory();
  } catch {
    return false;
  }
}

// The system's own wording ("No such file or directory"), as C's strerror
// gives it, rather than Node's "ENOENT: no such file or directory, open ...".
function systemReason(err) {
  const words = {
    ENOENT: 'No such file or directory', EACCES: 'Permission denied', EISDIR: 'Is a directory',
    ENOTDIR: 'Not a directory', ELOOP: 'Too many levels of symbolic links', EIO: 'Input/output error',
    ENAMETOOLONG: 'File name too long', EPERM: 'Operation not permitted',
  };
  return words[err.code] ?? err.message;
}

/** A checked ovalis.json. */
export class AppConfig {
  constructor(c) {
    Object.assign(this, c);
  }

  get pageIsUrl() {
    return isUrl(this.page);
  }

  /** The page as the launcher takes it: an absolute file path or the URL. */
  get pageTarget() {
    return this.pageIsUrl ? this.page : `${this.dir}/${this.page}`;
  }

  /** Absolute; empty when there is no icon. */
  get iconPath() {
    return this.icon ? `${this.dir}/${this.icon}` : '';
  }

  /** <runtime>/<id>.sock: the fixed socket of the running instance. */
  socketPath(env = process.env) {
    return `${env.XDG_RUNTIME_DIR || '/tmp'}/${this.id}.sock`;
  }

  /** The OVALIS_* variables the launcher is started with. */
  launcherEnv() {
    const env = { OVALIS_APP_ID: this.id };
    if (this.icon) env.OVALIS_ICON = this.iconPath;
    if (this.window.chrome) env.OVALIS_CHROME = this.window.chrome.join('\t');
    if (this.window.accessory) env.OVALIS_ACTIVATION = 'accessory';
    if (this.window.deferShow) env.OVALIS_DEFER_SHOW = '1';
    if (this.downloads) env.OVALIS_DOWNLOADS = this.downloads;
    if (this.popups) env.OVALIS_POPUPS = this.popups;
    if (this.automation) env.OVALIS_AUTOMATION = '1';
    if (this.media.length) env.OVALIS_MEDIA = this.media.join(',');
    const keys = { 'media.proxy': 'proxy', 'media.camera': 'camera', 'media.microphone': 'microphone' };
    const rules = [];
    for (const o of this.origins) {
      for (const g of o.grants) if (keys[g]) rules.push(`${keys[g]} ${o.pattern}`);
    }
    if (rules.length) env.OVALIS_MEDIA_ORIGINS = rules.join('\n');
    return env;
  }

  /** The page's own origin when it is a URL: scheme://host[:port] as the launcher reports it. */
  get pageOrigin() {
    if (!this.pageIsUrl) return '';
    try {
      return new URL(this.page).origin;
    } catch {
      return '';
    }
  }

  /** Whether page calls from this origin may reach the backend. */
  callsAllowed(origin) {
    if (origin === 'file://') return true;
    if (this.pageIsUrl && origin === this.pageOrigin) return true;
    return this.origins.some((o) => o.grants.includes('calls') && originGlob(o.pattern, origin));
  }
}
