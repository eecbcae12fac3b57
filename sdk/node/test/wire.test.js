// Framing and escaping: hostile text must come back exactly as it went in,
// and no text may split a line or add a field.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  escapedFields, LineFramer, oneLine, parseCall, parseEvent, parseGot, plainFields, splitTabs,
  wireEscape, wireUnescape,
} from '../index.js';

const NASTY = 'a\tb\nc\\d\re "q" é \u2028 \\n';

test('escaped fields survive the launcher split and unescape', () => {
  for (const s of [NASTY, '', '\\', 'trailing\\', '\t\t', '\n']) {
    assert.equal(wireUnescape(wireEscape(s)), s);
    assert.doesNotMatch(wireEscape(s), /[\n\r\t]/);
  }
  const fields = splitTabs(escapedFields([NASTY, '', 'x\ty']));
  assert.deepEqual(fields.map(wireUnescape), [NASTY, '', 'x\ty']);
  // Fields taken as they stand lose their control characters, not their place.
  assert.deepEqual(splitTabs(plainFields(['a\tb', 'c\nd', ''])), ['a b', 'c d', '']);
  assert.equal(oneLine('x\x00\x1f\x7fy'), 'x   y');
});

test('the framer cuts lines at line feeds only, whatever the chunks', () => {
  const text = 'SYS theme light\n\nCALL main:1 ["é\\u00e9"]\r\nGOT 1 "\u2028"\npartial';
  const bytes = Buffer.from(text);
  // Every split point, including ones inside a multi-byte character.
  for (let cut = 0; cut <= bytes.length; ++cut) {
    const f = new LineFramer();
    const lines = [];
    f.feed(bytes.subarray(0, cut), (l) => lines.push(l));
    f.feed(bytes.subarray(cut), (l) => lines.push(l));
    assert.deepEqual(lines, ['SYS theme light', 'CALL main:1 ["é\\u00e9"]\r', 'GOT 1 "\u2028"']);
    assert.equal(f.pending, 'partial'.length);
  }
});

test('page calls are read, and broken ones still name the call to answer', () => {
  const ok = parseCall('second:12 ["{\\"method\\":\\"notes.save\\",\\"params\\":{\\"text\\":\\"a\\\\tb\\"}}","file://"]');
  assert.deepEqual(ok, {
    callId: 'second:12', window: 'second', origin: 'file://', method: 'notes.save',
    params: { text: 'a\tb' }, error: '',
  });
  // A window id may itself hold a colon: the seq is after the last one.
  assert.equal(parseCall('a:b:3 ["{\\"method\\":\\"m\\"}",""]').window, 'a:b');
  assert.equal(parseCall('nocolon ["{}"]'), null);
  assert.equal(parseCall('main: ["{}"]'), null);
  const broken = {
    'main:1': 'call without a payload',
    'main:1 not json': 'malformed call line',
    'main:1 [1,"file://"]': 'malformed call line',
    'main:1 ["[1,2]","file://"]': 'call payload is not a JSON object',
    'main:1 ["{\\"params\\":1}","file://"]': 'call without a method',
  };
  for (const [rest, error] of Object.entries(broken)) {
    const c = parseCall(rest);
    assert.equal(c.callId, 'main:1', rest);
    assert.equal(c.error, error, rest);
  }
});

test('answers and events carry their JSON parsed', () => {
  assert.deepEqual(parseGot('7 {"ok":true}'), { id: '7', value: { ok: true }, parsed: true });
  assert.deepEqual(parseGot('7 {broken'), { id: '7', value: null, parsed: false });
  assert.equal(parseGot('7'), null);
  assert.equal(parseGot(' 7 null'), null);

  const nav = parseEvent('NAV {"window":"main","kind":"finish"}');
  assert.deepEqual([nav.keyword, nav.id, nav.data.kind], ['NAV', undefined, 'finish']);
  const ws = parseEvent('WINSTATE second {"focused":true}');
  assert.deepEqual([ws.id, ws.data], ['second', { focused: true }]);
  assert.deepEqual(parseEvent('DROP ["/a b"]').data, ['/a b']);
  const menu = parseEvent('MENU quit');
  assert.deepEqual([menu.rest, menu.id, menu.data], ['quit', undefined, undefined]);
  const bad = parseEvent('WINSTATE x {no');
  assert.deepEqual([bad.rest, bad.id, bad.data], ['x {no', undefined, undefined]);
  assert.deepEqual(parseEvent('TRAYCLICK'), { keyword: 'TRAYCLICK', rest: '', id: undefined, data: undefined });
});
