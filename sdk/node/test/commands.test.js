// Command lines as the protocol guide shows them, and what hostile text
// does to them: nothing may split a line, add a field or retarget a window.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { line as l, splitTabs, wireUnescape } from '../index.js';

const NASTY = 'a\tb\nc\\d\re "q"';

test('builders write the guide\'s lines', () => {
  const T = '\t';
  const golden = [
    [l.title('second', 'Notes — draft'), 'TITLE@second Notes — draft'],
    [l.size('main', 800, 600), 'SIZE 800 600'],
    [l.get('1', 'windows'), 'GET 1 windows'],
    [l.winopen({ id: 'second', target: '/app/page.html', title: 'Second window', width: 720, height: 480, parent: 'main' }),
      `WINOPEN second${T}/app/page.html${T}Second window${T}720x480${T.repeat(11)}main${T}${T}`],
    [l.winop('second', 'zoom'), 'WINOP@second zoom'],
    [l.menuUpdate('', 'ticks', { checked: false }), `MENUUPD ticks${T}${T}0${T}`],
    [l.dlg('main:5', 'save', ['txt', 'notes.txt', 'downloads']), `DLG main:5 save${T}txt${T}notes.txt${T}downloads`],
    [l.dlg('q40', 'confirm', ['Quit now?', 'Unsaved\nchanges', 'Quit', 'Stay']),
      `DLG q40 confirm${T}Quit now?${T}Unsaved\\nchanges${T}Quit${T}Stay`],
    [l.navr('n1', 'allow'), 'NAVR n1 allow'],
    [l.find('main:8', 'panel', true, false), `FIND main:8 panel${T}1${T}0`],
    [l.pdf('second', '13', '/tmp/second.pdf'), 'PDF@second 13 /tmp/second.pdf'],
    [l.cookies('21', 'set', ['sid', 'x', 'example.org', '/', '1767225600000', '1', '1', 'lax']),
      `COOKIES 21 set${T}sid${T}x${T}example.org${T}/${T}1767225600000${T}1${T}1${T}lax`],
    [l.permission('31', true, 'automation'), 'PERMREQ 31 automation'],
    [l.clipwrite({ text: 'hello world', html: '<b>hello</b>' }), `CLIPWRITE hello world${T}<b>hello</b>${T}${T}`],
    [l.notify('n1', 'Build finished', 'All 12 targets passed', { subtitle: 'ovalis', actions: [{ id: 'open', title: 'Open log' }] }),
      `NOTIFY n1${T}Build finished${T}All 12 targets passed${T}ovalis${T}0${T}[{"id":"open","title":"Open log"}]`],
    [l.power('1', true, true, 'Rendering video'), `POWER 1 on${T}1${T}Rendering video`],
    [l.secret('3', 'set', 'org.example.app', 'token', 's3cret'), `SECRET 3 set${T}org.example.app${T}token${T}s3cret`],
    [l.shell('8', 'reveal', '/home/me/notes.txt'), `SHELL 8 reveal${T}/home/me/notes.txt`],
    [l.loginSet('11', true), 'LOGIN 11 set 1'],
    [l.badge(3), 'BADGE 3'], [l.badge(null), 'BADGE '], [l.progress(0.4), 'PROGRESS 0.4'], [l.progress(), 'PROGRESS'],
    [l.audioFilters([{ type: 'peaking', freq: 1000, q: 1.4, gain: -3 }, { type: 'highpass', freq: 30, q: 0.7, gain: 0, gainR: 0 }]),
      `AUDIOFILTERS peaking,1000,1.4,-3${T}highpass,30,0.7,0,0`],
    [l.audioFilters([]), 'AUDIOFILTERS '],
    [l.audioFilterSet(0, 1200, 1.4, -2), `AUDIOFILTERSET 0${T}1200${T}1.4${T}-2`],
    [l.samplerLoad('14', 'kick', '/app/sounds/kick.wav'), `SAMPLER 14 LOAD${T}kick${T}/app/sounds/kick.wav`],
    [l.samplerPlay(1, 'kick', { gain: 0.8 }), `SAMPLER PLAY 1${T}kick${T}0.8${T}0${T}1${T}0`],
    [l.samplerSet(1, { pan: -0.5 }), `SAMPLER SET 1${T}_${T}-0.5${T}_`],
    [l.audiotap('15', true, 80), `AUDIOTAP 15 app${T}${T}80`],
    [l.say('18', 'Hello there', '', 0.5), `SAY 18 Hello there${T}${T}0.5`],
    [l.hkreg('20', 'find', 'ctrl+shift+f'), `HKREG 20 find${T}ctrl+shift+f`],
    [l.thumb('25', '/home/me/photo.jpg', 128), `THUMB 25 /home/me/photo.jpg${T}128`],
    [l.tray({ title: 'My App', icon: '/app/icon.png', tooltip: 'My App', clickItem: true, items: [l.item('show', 'Show')] }).join('|'),
      `TRAYBEGIN My App${T}/app/icon.png${T}1${T}My App${T}1|ITEM show${T}Show${T}${T}${T}|TRAYEND`],
    [l.contextMenu([l.stock('copy'), l.item('hello', 'Say Hello')]).join('|'), `CTXBEGIN|ROLEITEM copy|ITEM hello${T}Say Hello${T}${T}${T}|CTXEND`],
    [l.aiGenerate('9', { prompt: 'x' }), 'AI generate 9 {"prompt":"x"}'],
  ];
  for (const [got, want] of golden) assert.equal(got, want);
  assert.deepEqual(
    l.menubar('', [{ title: 'File', items: [l.item('new', 'New Window', 'Shift+N'), l.submenu('recent', 'Open Recent', [l.item('r1', 'notes.txt')]), l.separator(), l.item('quit', 'Quit', 'Q')] },
      { role: 'edit', items: [l.stock('standard')] }, { title: 'View', items: [l.item('ticks', 'Show Ticks', { checked: true }), l.stock('standard')] }]),
    ['MENUBEGIN', 'MENU File', `ITEM new${T}New Window${T}Shift+N${T}${T}`, `SUB recent${T}Open Recent${T}`, `ITEM r1${T}notes.txt${T}${T}${T}`,
      'SUBEND', 'SEP', `ITEM quit${T}Quit${T}Q${T}${T}`, 'MENUROLE edit', 'ROLEITEM standard', 'MENU View', `ITEM ticks${T}Show Ticks${T}${T}c${T}`,
      'ROLEITEM standard', 'MENUEND']);
  // A bare Edit menu gets the usual entries: the launcher drops one without any.
  assert.deepEqual(l.menubar('w2', [{ role: 'edit' }]), ['MENUBEGIN@w2', 'MENUROLE edit', 'ROLEITEM standard', 'MENUEND']);
});

test('hostile text stays inside its field', () => {
  const lines = [
    l.secret('1', 'set', NASTY, 'acc', NASTY), l.power('2', true, false, NASTY), l.shell('3', 'open', NASTY),
    l.title('main', NASTY), l.evalIn('w2', NASTY), l.notify(NASTY, NASTY, NASTY, { actions: [{ id: NASTY, title: NASTY }] }),
    l.dlg('main:1', 'alert', [NASTY, NASTY, NASTY]), l.clipwrite({ text: NASTY, paths: [NASTY, '/c'] }),
    l.get('a b\nc', NASTY), l.say('4', NASTY, NASTY, 1), l.nowplaying({ title: NASTY }), l.thumb('5', NASTY),
    ...l.menubar('', [{ title: NASTY, items: [l.item(NASTY, NASTY, NASTY)] }]),
  ];
  for (const x of lines) assert.doesNotMatch(x, /[\r\n]/, x);

  const sec = splitTabs(l.secret('1', 'set', NASTY, 'acc', NASTY));
  assert.equal(sec.length, 4);
  assert.deepEqual([wireUnescape(sec[1]), wireUnescape(sec[3])], [NASTY, NASTY]);
  const clip = splitTabs(l.clipwrite({ text: NASTY, paths: ['/a\tb', '/c'] }).slice('CLIPWRITE '.length));
  assert.deepEqual(clip.map(wireUnescape), [NASTY, '', '', '', '/a\tb', '/c']);
  // A request id with a blank would shift every field of the request.
  assert.equal(l.get('a b\nc', 'windows'), 'GET a_b_c windows');
  // The notification's actions travel as escaped JSON in the last field.
  const n = splitTabs(l.notify('n', 't', 'b', { actions: [{ id: 'x', title: NASTY }] }));
  assert.equal(n.length, 6);
  assert.deepEqual(JSON.parse(wireUnescape(n[5])), [{ id: 'x', title: NASTY }]);
});

test('what cannot be written is refused, not sent as something else', () => {
  assert.throws(() => l.title('a b', 'x'), TypeError);
  assert.throws(() => l.evalIn('w\n2', 'x'), TypeError);
  for (const id of ['', 'main', "it's", 'a@b', 'a:b', 'a b', 'back\\slash']) {
    assert.throws(() => l.winopen({ id, target: '/p.html' }), TypeError, id);
  }
  assert.throws(() => l.audioBalance(NaN), RangeError);
  assert.throws(() => l.size('main', Infinity, 2), RangeError);
  assert.deepEqual([l.num(1e-5), l.num(1234567), l.num(0.000123457), l.num(999999.5), l.num(-3.25)],
    ['1e-05', '1.23457e+06', '0.000123457', '1e+06', '-3.25']);
});
