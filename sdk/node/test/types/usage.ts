// Compiled by the declarations test: a backend written the way the guide
// shows must type-check against index.d.ts, and misuse must not.
import { Backend, line, LauncherGoneError, TimeoutError, type LineEvent, type OpenRequest } from '../../index.js';

async function main(): Promise<number> {
  const app = new Backend({ requestTimeout: 5000, trustedOrigins: ['https://app.example.org'] });
  app.handle('notes.save', async (params: { text: string }, call) => {
    if (call.origin !== 'file://') throw new Error('not here');
    return { saved: params.text.length };
  });
  app.handle('notes.open', (_params, call) => call.dialog('open', ['txt,md']));
  app.on('MENU', (ev: LineEvent) => {
    if (ev.rest === 'quit') void app.quit();
  });
  app.on('WINSTATE', (ev) => console.log(ev.id, ev.data));
  app.onOpen((req: OpenRequest) => console.log(req.paths ?? req.url ?? req.activate));
  app.declareEvents('saved', ['tick']);
  await app.start({ page: new URL('file:///tmp/page.html'), title: 'Notes', width: 800, height: 600 });
  app.setMenus('', [{ title: 'File', items: [line.item('open', 'Open…', 'Ctrl+O'), line.separator(), line.item('quit', 'Quit')] }]);
  app.notify('n1', 'Saved', 'All notes saved', { actions: [{ id: 'open', title: 'Open' }] });
  try {
    const w: string[] = await app.get('windows', { timeout: 1000 });
    const s = await app.secret('get', 'org.example.notes', 'token');
    console.log(w, s.value);
  } catch (err) {
    if (err instanceof TimeoutError || err instanceof LauncherGoneError) console.log(err.code);
  }
  const l: string = line.winopen({ id: 'second', target: '/tmp/b.html', chrome: { frame: false } });
  app.send([l, line.badge(3)]);
  return app.run();
}

void main();
