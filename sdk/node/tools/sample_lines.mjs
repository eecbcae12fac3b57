// Prints the lines the library builds for a fixed set of calls, one per
// line. The other libraries' sample_lines programs make the same calls: the
// outputs must be equal, and together they show that every command of the
// protocol guide has a builder.
import { emitLine, line as l, retLine } from '../index.js';

const H = 'a\tb\nc\\d "e" é';

function out(x) {
  for (const s of typeof x === 'string' ? [x] : x ?? []) process.stdout.write(`${s}\n`);
}
// Builders refuse what cannot be written by throwing, where the other
// libraries build an empty line; the output shows both as an empty line.
function maybe(fn) {
  try {
    out(fn());
  } catch (err) {
    if (!(err instanceof TypeError)) throw err;
    out('');
  }
}

out(retLine('main:3', true, { text: H, n: 1.5, list: [null, true] }));
out(retLine('second:4', false, { message: H }));
out(emitLine('second', 'tick', { n: 5 }));
out(l.evalIn('main', H));
out(l.evalIn('second', H));
out(l.evalAll(H));
out(l.title('main', H));
out(l.title('second', H));
out(l.size('', 800, 600));
out(l.get('1', 'win:main'));
out(l.quit());
out(l.reload());
out(l.blob('3f9a0c2d7e614b55a1d08c3e9f27b6d4', 'move', `/run/user/1000/app/${H}`));
out(l.blob('up_1-x', 'keep', '/tmp/a b.png'));
maybe(() => l.blob('bad id', 'move', '/tmp/x'));
maybe(() => l.blob('a', 'copy', '/tmp/x'));
out(l.winopen({ id: 'second', target: '/tmp/p.html', title: H, width: 720, height: 480,
  chrome: { frame: false, controls: 'all' }, x: 10, y: 20, parent: 'main', show: false }));
maybe(() => l.winopen({ id: 'bad id' }));
out(l.winclose('second'));
out(l.winop('second', 'zoom'));
out(l.chrome('main', { frame: true, transparent: false, menubar: true }));
out(l.dragwin('main'));
out(l.resizewin('second', 'se'));
out(l.menubar('', [{ title: H, items: [l.item('new', H, { accel: 'Ctrl+N', checked: true }), l.separator(),
  l.submenu('recent', 'Open Recent', [l.item('r1', 'notes.txt')]), l.stock('copy')] }, { role: 'edit' }]));
out(l.menubar('second', [{ title: 'View', items: [l.item('x', 'X', { disabled: true })] }]));
out(l.tray({ title: 'App', icon: '/i.png', tooltip: H, clickItem: true, items: [l.item('show', 'Show')] }));
out(l.trayRemove());
out(l.contextMenu([l.stock('copy'), l.item('hello', 'Say Hello')]));
out(l.contextClear());
out(l.contextSuppress(true));
out(l.menuReset('second'));
out(l.menuUpdate('', 'ticks', { checked: false }));
out(l.menuUpdate('second', 'ticks', { label: 'Label', checked: true, enabled: true }));
out(l.dlg('main:5', 'confirm', ['Quit?', H, 'Quit', 'Stay']));
out(l.dlg('q40', 'save', ['txt', 'notes.txt', 'downloads']));
out(l.navr('n1', 'allow'));
out(l.popupr('p1', 'deny'));
out(l.find('main:8', H, true, false));
out(l.stopfind('main:9'));
out(l.print('second'));
out(l.pdf('second', '12', '/tmp/a b.pdf'));
out(l.pdf('main', '13', H));
out(l.cookies('20', 'get', ['https://example.org']));
out(l.cookies('21', 'set', ['sid', H, 'example.org', '/', '1767225600000', '1', '1', 'lax']));
out(l.permission('30', false, 'notifications'));
out(l.permission('31', true, 'automation'));
out(l.clipwrite({ text: H, html: '<b>x</b>', paths: ['/a', '/b'] }));
out(l.clipwatch(500));
out(l.notify('n1', 'Title', H, { subtitle: 'sub', sound: true, actions: [{ id: 'open', title: 'Open log' }] }));
out(l.notify('', 'T', 'B'));
out(l.power('1', true, true, H));
out(l.power('2', false, false, ''));
out(l.secret('3', 'set', 'svc', H, H));
out(l.shell('7', 'open', H));
out(l.loginGet('10'));
out(l.loginSet('11', true));
out(l.badge(3));
out(l.badge(null));
out(l.progress(0.4));
out(l.progress(null));
out(l.attention());
out(l.appicon(H));
out(l.audioFilters([{ type: 'peaking', freq: 1000, q: 1.4, gain: -3 }, { type: 'low,shelf', freq: 120, q: 0.7, gain: 4, gainR: 2.5 }]));
out(l.audioFilterSet(0, 1200, 1.4, -2));
out(l.audioBalance(-0.25));
out(l.samplerLoad('14', 'kick', H));
out(l.samplerPlay(1, 'kick', { gain: 0.8, pan: 0, rate: 1, loop: false }));
out(l.samplerSet(1, { pan: -0.5 }));
out(l.samplerStop(1));
out(l.samplerStopAll());
out(l.samplerMaster(0.9));
out(l.samplerUnload('kick'));
out(l.audiotap('15', true, 80));
out(l.audiotapStop());
out(l.sound('16', ''));
out(l.say('18', H, '', 0.5));
out(l.saystop());
out(l.voices('19'));
out(l.nowplaying({ title: H, artist: 'Band', album: 'Album', duration: 180, elapsed: 12.5, playing: true }));
out(l.nowplayingClear());
out(l.hkreg('20', 'find', 'ctrl+shift+f'));
out(l.hkunreg('find'));
out(l.keystroke('21', 'ctrl+v'));
out(l.mousetrack('22', ''));
out(l.mousetrackStop());
out(l.capture('23'));
out(l.pickcolor('24'));
out(l.thumb('25', H, 128));
out(l.spotlight('26', H));
out(l.ocr('27', '/tmp/a.png'));
out(l.osa('28', 'tell application "Finder"'));
out(l.record('29', 'start'));
out(l.winctrl('30', 'move'));
out(l.auth('31', 'unlock'));
out(l.aiAvailable('32'));
out(l.aiGenerate('33', { prompt: H }));
out(l.get('id with blank', 'a\nb'));
