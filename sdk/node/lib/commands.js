// Line builders for every command the launcher understands. Each returns
// the wire line (without its line feed), or an array of lines for the block
// commands (menus, tray, context menu). Free text is escaped where the
// launcher unescapes it and flattened to one line where it takes the text as
// it stands, so no argument can split a line or add a field. Arguments that
// cannot be written at all (a window id with a blank, a number that is not
// finite) throw instead of producing a line that means something else.
//
// Requests take the request id the answer will carry ("GOT <id> <json>");
// `Backend` picks ids and matches answers, so most code calls its methods.

import { escapedFields, jsonText, oneLine, plainFields, targeted, wireEscape } from './wire.js';

/**
 * A number as the launcher reads it: six significant digits, no trailing
 * zeros, an exponent only for very large or small values (C's "%.6g").
 */
export function num(v) {
  v = Number(v);
  if (!Number.isFinite(v)) throw new RangeError(`${v} cannot be sent as a number`);
  if (v === 0) return Object.is(v, -0) ? '-0' : '0';
  const [mant, expText] = v.toExponential(5).split('e');
  const exp = Number(expText);
  const strip = (s) => (s.includes('.') ? s.replace(/\.?0+$/, '') : s);
  if (exp < -4 || exp >= 6) {
    const e = Math.abs(exp);
    return `${strip(mant)}e${exp < 0 ? '-' : '+'}${e < 10 ? '0' : ''}${e}`;
  }
  return strip(v.toFixed(5 - exp));
}

const int = (v) => {
  const n = Math.trunc(Number(v));
  if (!Number.isFinite(n)) throw new RangeError(`${v} cannot be sent as a whole number`);
  return String(n);
};
const flag = (b) => (b === undefined || b === null ? '' : b ? '1' : '0');
const str = (s) => (s === undefined || s === null ? '' : String(s));

// "KW" or "KW@<window>", a blank and the rest.
const at = (kw, window, rest) => `${targeted(kw, window)} ${rest}`;

// "KW <id> <rest>": the request form. The id must be one word.
function req(kw, id, rest) {
  return `${kw} ${oneLine(str(id)).replace(/ /g, '_')} ${rest}`;
}

// ---- core ------------------------------------------------------------------
export const evalIn = (window, script) => at('EVAL', window, wireEscape(str(script)));
export const evalAll = (script) => `EVAL@* ${wireEscape(str(script))}`;
export const title = (window, text) => at('TITLE', window, oneLine(str(text)));
export const size = (window, width, height) => at('SIZE', window, `${int(width)} ${int(height)}`);
export const get = (id, key) => req('GET', id, oneLine(str(key)));
export const quit = () => 'QUIT';
export const reload = () => 'RELOAD';

/**
 * Offers a file to the page: "BLOB <id> <mode> <path>", mode "move" (the
 * launcher takes the file and removes it) or "keep" (it only reads it).
 * Throws when the id is not 1 to 64 of A-Z a-z 0-9 _ -, the mode is
 * neither, or the path is not absolute.
 */
export function blob(id, mode, file) {
  id = String(id);
  if (!/^[A-Za-z0-9_-]{1,64}$/.test(id)) throw new TypeError(`blob id ${JSON.stringify(id)} cannot be written on a line`);
  if (mode !== 'move' && mode !== 'keep') throw new TypeError(`blob mode must be "move" or "keep", not ${JSON.stringify(mode)}`);
  file = String(file);
  if (!file.startsWith('/')) throw new TypeError(`blob path must be absolute: ${JSON.stringify(file)}`);
  return `BLOB ${id} ${mode} ${wireEscape(file)}`;
}
export const ret = (callId, ok, answer) => `RET ${oneLine(str(callId)).replace(/ /g, '_')} ${ok ? 0 : 1} ${jsonText(answer)}`;

// ---- windows ---------------------------------------------------------------
function chromeFields(c = {}) {
  return [flag(c.frame), str(c.controls), flag(c.transparent), str(c.vibrancy),
    flag(c.square), flag(c.firstMouse), flag(c.menubar)];
}

/**
 * WINOPEN for a secondary window. The id ends up inside a quoted script
 * literal in the new page and as the first word of later lines, so ids that
 * could break out of either are refused.
 */
export function winopen(w) {
  const id = str(w.id);
  if (id === '' || id === 'main' || /[\x00-\x20\x7f'"\\@:]/.test(id)) {
    throw new TypeError(`window id ${JSON.stringify(id)} cannot name a window`);
  }
  const f = new Array(17).fill('');
  f[0] = id;
  f[1] = str(w.target);
  f[2] = str(w.title);
  if (w.width > 0 && w.height > 0) f[3] = `${int(w.width)}x${int(w.height)}`;
  const c = chromeFields(w.chrome);
  for (let i = 0; i < 6; ++i) f[4 + i] = c[i];
  if (w.x !== undefined && w.x !== null && w.y !== undefined && w.y !== null) {
    f[10] = int(w.x);
    f[11] = int(w.y);
  }
  f[12] = c[6];
  f[14] = str(w.parent);
  f[16] = w.show === false ? '0' : '';
  return `WINOPEN ${plainFields(f)}`;
}
export const winclose = (id) => `WINCLOSE ${oneLine(str(id))}`;
export const winop = (window, op) => at('WINOP', window, oneLine(str(op)));
export const chrome = (window, c) => at('CHROME', window, plainFields(chromeFields(c)));
export const dragwin = (window) => targeted('DRAGWIN', window);
export const resizewin = (window, edge) => at('RESIZEWIN', window, oneLine(str(edge)));

// ---- menus -----------------------------------------------------------------
/** Menu entries: plain items, submenus, separators and stock roles. */
export const item = (id, label, opts = {}) =>
  ({ kind: 'item', id, label, ...(typeof opts === 'string' ? { accel: opts } : opts) });
export const submenu = (id, label, children, opts = {}) => ({ kind: 'submenu', id, label, children, ...opts });
export const separator = () => ({ kind: 'separator' });
export const stock = (role) => ({ kind: 'role', role });

function addItems(out, items = []) {
  for (const i of items) {
    const kind = i.kind ?? (i.children ? 'submenu' : i.role ? 'role' : 'item');
    if (kind === 'separator') {
      out.push('SEP');
    } else if (kind === 'role') {
      out.push(`ROLEITEM ${oneLine(str(i.role))}`);
    } else if (kind === 'submenu') {
      out.push(`SUB ${plainFields([str(i.id), str(i.label), str(i.icon)])}`);
      addItems(out, i.children);
      out.push('SUBEND');
    } else {
      const flags = (i.checked ? 'c' : '') + (i.disabled ? 'd' : '');
      out.push(`ITEM ${plainFields([str(i.id), str(i.label), str(i.accel), flags, str(i.icon)])}`);
    }
  }
}

/** A menu bar for one window ("" for the application menu of every window). */
export function menubar(window, menus) {
  const out = [window === undefined || window === null || window === '' ? 'MENUBEGIN' : targeted('MENUBEGIN', window)];
  if (out[0] === 'MENUBEGIN' && window === 'main') out[0] = 'MENUBEGIN@main';
  for (const m of menus) {
    if (m.role) {
      // The launcher drops an Edit menu that gets no entries, so the role's
      // entries follow it, and an Edit menu given none gets the usual ones.
      out.push(`MENUROLE ${oneLine(str(m.role))}`);
      if (!m.items?.length && m.role === 'edit') out.push('ROLEITEM standard');
      addItems(out, m.items);
      continue;
    }
    out.push(`MENU ${oneLine(str(m.title))}`);
    addItems(out, m.items);
  }
  out.push('MENUEND');
  return out;
}
export function tray(t) {
  const out = [`TRAYBEGIN ${plainFields([str(t.title), str(t.icon), '1', str(t.tooltip), t.clickItem ? '1' : ''])}`];
  addItems(out, t.items);
  out.push('TRAYEND');
  return out;
}
export const trayRemove = () => 'TRAYREMOVE';
export function contextMenu(items) {
  const out = ['CTXBEGIN'];
  addItems(out, items);
  out.push('CTXEND');
  return out;
}
export const contextClear = () => 'CTXCLEAR';
export const contextSuppress = (on) => (on ? 'CTXSUPPRESS 1' : 'CTXSUPPRESS 0');
export const menuReset = (window) => `MENURESET@${oneLine(str(window))}`;
/** Unset parts stay as they are; window "" updates every window. */
export function menuUpdate(window, id, { label, checked, enabled } = {}) {
  const fields = plainFields([str(id), str(label), flag(checked), flag(enabled)]);
  if (window === undefined || window === null || window === '') return `MENUUPD ${fields}`;
  return `${targeted('MENUUPD', String(window)).replace(/^MENUUPD$/, 'MENUUPD@main')} ${fields}`;
}

// ---- web content -----------------------------------------------------------
/**
 * A dialog answering a call id: a page's "<window>:<seq>", or "q<digits>"
 * for the backend's own request.
 */
export function dlg(callId, op, fields = []) {
  const f = [str(op)];
  fields.forEach((v, i) => {
    // The detail of an alert or a confirmation reads backslash-n as a line
    // break, so its own line breaks and backslashes travel escaped.
    const detail = i === 1 && (op === 'alert' || op === 'confirm');
    f.push(detail ? wireEscape(str(v)) : str(v));
  });
  return req('DLG', callId, plainFields(f));
}
export const navr = (navId, verdict) => req('NAVR', navId, oneLine(str(verdict)));
export const popupr = (qId, verdict) => req('POPUPR', qId, oneLine(str(verdict)));
export const find = (callId, text, forward = true, matchCase = false) =>
  req('FIND', callId, plainFields([str(text), forward ? '1' : '0', matchCase ? '1' : '0']));
export const stopfind = (callId) => `STOPFIND ${oneLine(str(callId))}`;
export const print = (window) => targeted('PRINT', window);
export const pdf = (window, id, path) => req(targeted('PDF', window), id, wireEscape(str(path)));
export function cookies(id, op, fields = []) {
  let rest = oneLine(str(op));
  if (fields.length) rest += `\t${escapedFields(fields.map(str))}`;
  return req('COOKIES', id, rest);
}
export const permission = (id, request, name) => req(request ? 'PERMREQ' : 'PERMCHK', id, oneLine(str(name)));

// ---- desktop ---------------------------------------------------------------
export function clipwrite(d) {
  const f = [str(d.text), str(d.html), str(d.image), str(d.fallbackText), ...(d.paths ?? []).map(str)];
  return `CLIPWRITE ${escapedFields(f)}`;
}
export const clipwatch = (intervalMs) => `CLIPWATCH ${int(intervalMs)}`;
export function notify(id, title, body, { subtitle = '', sound = false, actions = [] } = {}) {
  const acts = actions.length
    ? wireEscape(jsonText(actions.map((a) => ({ id: str(a.id), title: str(a.title) }))))
    : '';
  return `NOTIFY ${plainFields([str(id), str(title), str(body), str(subtitle), sound ? '1' : '0'])}\t${acts}`;
}
export const power = (id, on, display, reason) =>
  req('POWER', id, `${on ? 'on' : 'off'}\t${display ? '1' : ''}\t${wireEscape(str(reason))}`);
export const secret = (id, op, service, account, value = '') =>
  req('SECRET', id, `${oneLine(str(op))}\t${escapedFields([str(service), str(account), str(value)])}`);
export const shell = (id, op, target) => req('SHELL', id, `${oneLine(str(op))}\t${wireEscape(str(target))}`);
export const loginGet = (id) => req('LOGIN', id, 'get');
export const loginSet = (id, enabled) => req('LOGIN', id, enabled ? 'set 1' : 'set 0');
/** A count; null or undefined hides it. */
export const badge = (count) => `BADGE ${count === undefined || count === null ? '' : int(count)}`;
/** 0..1; null or undefined clears it. */
export const progress = (value) => (value === undefined || value === null ? 'PROGRESS' : `PROGRESS ${num(value)}`);
export const attention = () => 'ATTENTION';
export const appicon = (path) => `APPICON ${wireEscape(str(path))}`;

// ---- audio -----------------------------------------------------------------
export function audioFilters(chain) {
  return `AUDIOFILTERS ${chain.map((f) => {
    const type = oneLine(str(f.type)).replace(/,/g, '_');
    let spec = `${type},${num(f.freq ?? 0)},${num(f.q ?? 0)},${num(f.gain ?? 0)}`;
    if (f.gainR !== undefined && f.gainR !== null) spec += `,${num(f.gainR)}`;
    return spec;
  }).join('\t')}`;
}
export const audioFilterSet = (index, freq, q, gain) => `AUDIOFILTERSET ${int(index)}\t${num(freq)}\t${num(q)}\t${num(gain)}`;
export const audioBalance = (v) => `AUDIOBALANCE ${num(v)}`;
export const samplerLoad = (id, name, path) => req('SAMPLER', id, `LOAD\t${escapedFields([str(name), str(path)])}`);
export const samplerPlay = (voice, name, { gain = 1, pan = 0, rate = 1, loop = false } = {}) =>
  `SAMPLER PLAY ${int(voice)}\t${oneLine(str(name))}\t${num(gain)}\t${num(pan)}\t${num(rate)}\t${loop ? '1' : '0'}`;
/** Unset parts of a voice stay as they are. */
export function samplerSet(voice, { gain, pan, rate } = {}) {
  const f = (v) => (v === undefined || v === null ? '_' : num(v));
  return `SAMPLER SET ${int(voice)}\t${f(gain)}\t${f(pan)}\t${f(rate)}`;
}
export const samplerStop = (voice) => `SAMPLER STOP ${int(voice)}`;
export const samplerStopAll = () => 'SAMPLER STOPALL';
export const samplerMaster = (v) => `SAMPLER MASTER ${num(v)}`;
export const samplerUnload = (name) => `SAMPLER UNLOAD ${wireEscape(str(name))}`;
export const audiotap = (id, appScope, intervalMs) => req('AUDIOTAP', id, `${appScope ? 'app' : 'system'}\t\t${int(intervalMs)}`);
export const audiotapStop = () => 'AUDIOTAP STOP';
export const sound = (id, nameOrPath) => req('SOUND', id, wireEscape(str(nameOrPath)));
export const say = (id, text, voice = '', rate = 0) => req('SAY', id, `${escapedFields([str(text), str(voice)])}\t${num(rate)}`);
export const saystop = () => 'SAYSTOP';
export const voices = (id) => req('VOICES', id, '');
export function nowplaying(np) {
  const j = {
    title: str(np.title), artist: str(np.artist), album: str(np.album),
    duration: Number(np.duration ?? 0), elapsed: Number(np.elapsed ?? 0), playing: !!np.playing,
  };
  return `NOWPLAYING ${wireEscape(jsonText(j))}`;
}
export const nowplayingClear = () => 'NOWPLAYING clear';

// ---- input -----------------------------------------------------------------
export const hkreg = (id, hotkey, combo) => req('HKREG', id, plainFields([str(hotkey), str(combo)]));
export const hkunreg = (hotkey) => `HKUNREG ${oneLine(str(hotkey))}`;
export const keystroke = (id, combo) => req('KEYSTROKE', id, oneLine(str(combo)));
export const mousetrack = (id, restoreToken = '') => req('MOUSETRACK', id, oneLine(str(restoreToken)));
export const mousetrackStop = () => 'MOUSETRACK STOP';

// ---- capture and files -----------------------------------------------------
export const capture = (id) => req('CAPTURE', id, '');
export const pickcolor = (id) => req('PICKCOLOR', id, '');
export const thumb = (id, path, size = 256) => req('THUMB', id, `${wireEscape(str(path))}\t${size > 0 ? int(size) : '256'}`);
export const spotlight = (id, query) => req('SPOTLIGHT', id, wireEscape(str(query)));

// ---- requests this platform answers as unavailable --------------------------
// They still answer, so a backend written for every platform can ask and
// read the refusal instead of special-casing Linux.
export const ocr = (id, path) => req('OCR', id, oneLine(str(path)));
export const osa = (id, script) => req('OSA', id, oneLine(str(script)));
export const record = (id, op) => req('RECORD', id, oneLine(str(op)));
export const winctrl = (id, op) => req('WINCTRL', id, oneLine(str(op)));
export const aiAvailable = (id) => req('AI available', id, '');
export const aiGenerate = (id, request) => req('AI generate', id, jsonText(request));
export const auth = (id, reason) => req('AUTH', id, oneLine(str(reason)));
