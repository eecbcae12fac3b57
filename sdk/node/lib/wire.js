// The backend's side of the wire text: reading page calls and answers, and
// the escaping every command builder relies on. Pure functions, so they can
// be tested alone.

/**
 * Escapes text for a field the launcher unescapes: backslash, line feed,
 * carriage return and tab become two-byte escapes.
 * @param {string} s
 */
export function wireEscape(s) {
  s = String(s);
  // Most fields need nothing; skip the replace then.
  if (!/[\\\n\r\t]/.test(s)) return s;
  return s.replace(/[\\\n\r\t]/g, (c) =>
    c === '\\' ? '\\\\' : c === '\n' ? '\\n' : c === '\r' ? '\\r' : '\\t');
}

/**
 * The launcher's reading of an escaped field: backslash-n, -t and -r stand
 * for the control characters, a backslash before any other character for
 * that character, and a lone trailing backslash stays.
 * @param {string} s
 */
export function wireUnescape(s) {
  if (!s.includes('\\')) return s;
  let out = '';
  for (let i = 0; i < s.length; ++i) {
    const c = s[i];
    if (c !== '\\' || i + 1 === s.length) {
      out += c;
      continue;
    }
    const e = s[++i];
    out += e === 'n' ? '\n' : e === 't' ? '\t' : e === 'r' ? '\r' : e;
  }
  return out;
}

// Every control character, line breaks above all: they would end the line
// and start a new command.
// eslint-disable-next-line no-control-regex
const CONTROL = /[\x00-\x1f\x7f]/g;

/**
 * Text for a field the launcher takes as it stands: every control character
 * becomes a blank, so the text can neither end the line nor add a field.
 * @param {string} s
 */
export function oneLine(s) {
  s = String(s);
  return s.replace(CONTROL, ' ');
}

/** Splits at every tab, empty fields included: N tabs give N + 1 fields. */
export function splitTabs(s) {
  return s.split('\t');
}

/** Joins fields with tabs after escaping each one. */
export function escapedFields(fields) {
  return fields.map(wireEscape).join('\t');
}

/** Joins fields with tabs, each made a single line without tabs. */
export function plainFields(fields) {
  return fields.map(oneLine).join('\t');
}

/**
 * "KW" for the main window ("" or "main"), "KW@<window>" for another.
 * Throws when the id cannot be written in that form (a blank or a control
 * character in it): the line would name another window or command.
 */
export function targeted(keyword, window) {
  if (window === undefined || window === null || window === '' || window === 'main') return keyword;
  window = String(window);
  if (/[\x00-\x20\x7f]/.test(window)) throw new TypeError(`window id ${JSON.stringify(window)} cannot be written on a line`);
  return `${keyword}@${window}`;
}

/**
 * Compact JSON text for a value. Never holds a raw line break, so it is
 * always safe as the last part of a wire line; undefined becomes null.
 */
export function jsonText(value) {
  const t = JSON.stringify(value === undefined ? null : value);
  return t === undefined ? 'null' : t;
}

/**
 * One page call, decoded from the rest of "CALL <window>:<seq> [<payload>,<origin>]".
 * Returns null when not even a call id can be read (then nobody can be
 * answered); otherwise an object whose `error` is set when the line has a
 * call id but no usable payload.
 * @param {string} rest
 */
export function parseCall(rest) {
  const sp = rest.indexOf(' ');
  const id = sp < 0 ? rest : rest.slice(0, sp);
  const colon = id.lastIndexOf(':');
  if (id === '' || colon < 0 || colon + 1 === id.length) return null;
  const c = { callId: id, window: id.slice(0, colon), origin: '', method: '', params: null, error: '' };
  if (sp < 0) {
    c.error = 'call without a payload';
    return c;
  }
  let outer;
  try {
    outer = JSON.parse(rest.slice(sp + 1));
  } catch {
    outer = null;
  }
  if (!Array.isArray(outer) || typeof outer[0] !== 'string') {
    c.error = 'malformed call line';
    return c;
  }
  if (typeof outer[1] === 'string') c.origin = outer[1];
  // The payload travels as a JSON string holding the page's own JSON text.
  let payload;
  try {
    payload = JSON.parse(outer[0]);
  } catch {
    payload = null;
  }
  if (payload === null || typeof payload !== 'object' || Array.isArray(payload)) {
    c.error = 'call payload is not a JSON object';
    return c;
  }
  if (typeof payload.method === 'string') c.method = payload.method;
  if (payload.params !== undefined) c.params = payload.params;
  if (c.method === '') c.error = 'call without a method';
  return c;
}

/**
 * One "GOT <id> <json>" answer (the rest after "GOT "); null without an id.
 * The value is null when the JSON text does not parse.
 */
export function parseGot(rest) {
  const sp = rest.indexOf(' ');
  if (sp <= 0) return null;
  let value = null;
  let parsed = false;
  try {
    value = JSON.parse(rest.slice(sp + 1));
    parsed = true;
  } catch {
    /* the launcher's answers always parse; a foreign one stays null */
  }
  return { id: rest.slice(0, sp), value, parsed };
}

/** "RET <call-id> 0|1 <json>". */
export function retLine(callId, ok, answer) {
  return `RET ${callId} ${ok ? 0 : 1} ${jsonText(answer)}`;
}

/** The script that hands {event, data} to a page's event hub. */
export function emitScript(event, data) {
  return `window.__emit&&window.__emit({event:${JSON.stringify(String(event))},data:${jsonText(data)}})`;
}

/**
 * An "EVAL" line that delivers {event, data} to the page of one window;
 * harmless in a document without the hub.
 */
export function emitLine(window, event, data) {
  return `${targeted('EVAL', window)} ${wireEscape(emitScript(event, data))}`;
}

/**
 * The parts of an event line the launcher sent: its keyword, the text after
 * it, the tab fields of that text, and the JSON it carries. JSON is found
 * either as the whole rest ("NAV {...}") or after one leading word, which is
 * then `id` ("WINSTATE second {...}").
 * @param {string} line
 */
export function parseEvent(line) {
  const sp = line.indexOf(' ');
  const keyword = sp < 0 ? line : line.slice(0, sp);
  const rest = sp < 0 ? '' : line.slice(sp + 1);
  const ev = { keyword, rest, id: undefined, data: undefined };
  let json = rest;
  const c0 = rest.charCodeAt(0);
  if (c0 !== 0x7b && c0 !== 0x5b) {
    const sp2 = rest.indexOf(' ');
    const c1 = sp2 < 0 ? 0 : rest.charCodeAt(sp2 + 1);
    if (c1 === 0x7b || c1 === 0x5b) {
      ev.id = rest.slice(0, sp2);
      json = rest.slice(sp2 + 1);
    } else {
      json = '';
    }
  }
  if (json !== '') {
    try {
      ev.data = JSON.parse(json);
    } catch {
      ev.id = undefined;
    }
  }
  return ev;
}

/**
 * Cuts a byte stream into lines: everything before each line feed is one
 * line (decoded as UTF-8); empty lines are dropped and an unfinished tail
 * waits for more bytes. Cutting at the byte 0x0A never splits a UTF-8
 * character, so a character torn across two reads arrives whole.
 */
export class LineFramer {
  constructor() {
    /** @type {Buffer[]} */
    this._parts = [];
    this._size = 0;
  }

  /** Bytes waiting for their line feed. */
  get pending() {
    return this._size;
  }

  /**
   * @param {Buffer} chunk
   * @param {(line: string) => void} onLine
   */
  feed(chunk, onLine) {
    let start = 0;
    let nl = chunk.indexOf(10);
    if (nl < 0) {
      this._parts.push(chunk);
      this._size += chunk.length;
      return;
    }
    if (this._size > 0) {
      this._parts.push(chunk.subarray(0, nl));
      const head = Buffer.concat(this._parts);
      this._parts = [];
      this._size = 0;
      if (head.length > 0) onLine(head.toString('utf8'));
      start = nl + 1;
      nl = chunk.indexOf(10, start);
    }
    while (nl >= 0) {
      if (nl > start) onLine(chunk.toString('utf8', start, nl));
      start = nl + 1;
      nl = chunk.indexOf(10, start);
    }
    if (start < chunk.length) {
      // Copy the tail: the reader may reuse its buffer.
      this._parts.push(Buffer.from(chunk.subarray(start)));
      this._size = chunk.length - start;
    }
  }
}
