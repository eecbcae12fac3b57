// The notes example's backend: notes kept as one JSON file in the user's
// data folder, a menu, a file dialog to import text files, a sync token in
// the desktop's secret store, and a notification when a note is saved.
//
//   node backend/main.mjs [--tour]
//
// With --tour the page walks through every feature by itself and the
// backend prints what it saw, then quits: the example's own test.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { Backend, ConfigError, loadAppConfig } from '../../../../sdk/node/index.js';

const appDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const tour = process.argv.includes('--tour');
const log = (text) => process.stdout.write(`notes: ${text}\n`);

let config;
try {
  config = loadAppConfig(process.env.OVALIS_APP_DIR || appDir);
} catch (err) {
  if (!(err instanceof ConfigError)) throw err;
  process.stderr.write(`${err.message}\n`);
  process.exit(2);
}

// ---- the notes themselves ----------------------------------------------------
const dataDir = path.join(process.env.XDG_DATA_HOME || path.join(os.homedir(), '.local/share'), config.id);
const storeFile = path.join(dataDir, 'notes.json');

function loadNotes() {
  try {
    const notes = JSON.parse(fs.readFileSync(storeFile, 'utf8'));
    return Array.isArray(notes) ? notes : [];
  } catch {
    return [];
  }
}

function saveNotes(notes) {
  fs.mkdirSync(dataDir, { recursive: true, mode: 0o700 });
  // Write then rename, so a crash never leaves half a file behind.
  const tmp = `${storeFile}.tmp`;
  fs.writeFileSync(tmp, JSON.stringify(notes, null, 1), { mode: 0o600 });
  fs.renameSync(tmp, storeFile);
}

let notes = loadNotes();
const titleOf = (text) => (text.split('\n')[0].trim() || 'Untitled').slice(0, 80);

// ---- the backend -----------------------------------------------------------------
const app = new Backend();
const SERVICE = config.id;

app.handle('notes.list', () => notes.map(({ id, title }) => ({ id, title })));
app.handle('notes.get', ({ id }) => {
  const note = notes.find((n) => n.id === id);
  if (!note) throw new Error(`no note ${id}`);
  return note;
});
app.handle('notes.save', ({ id, text }) => {
  if (typeof text !== 'string') throw new Error('a note is text');
  let note = notes.find((n) => n.id === id);
  if (!note) {
    note = { id: `n${Date.now().toString(36)}${Math.random().toString(36).slice(2, 6)}`, text: '' };
    notes.unshift(note);
  }
  note.text = text;
  note.title = titleOf(text);
  saveNotes(notes);
  app.notify(`saved-${note.id}`, 'Note saved', note.title);
  log(`saved "${note.title}"`);
  return { id: note.id, title: note.title };
});
app.handle('notes.delete', ({ id }) => {
  notes = notes.filter((n) => n.id !== id);
  saveNotes(notes);
  return true;
});
// The file dialog answers the page directly: its promise gets the path.
app.handle('notes.pickFile', (params, call) => call.dialog('open', ['txt,md']));
// Only files the user picked or opened get read: the page names the path,
// so the backend checks it is a plain text file of sensible size.
app.handle('notes.import', ({ path: file }) => {
  if (typeof file !== 'string' || !path.isAbsolute(file)) throw new Error('an absolute path is needed');
  if (!/\.(txt|md)$/i.test(file)) throw new Error('only .txt and .md files are notes');
  const st = fs.statSync(file);
  if (!st.isFile() || st.size > 1 << 20) throw new Error('not a text file of at most 1 MiB');
  log(`imported ${path.basename(file)}`);
  return { name: path.basename(file), text: fs.readFileSync(file, 'utf8') };
});
app.handle('sync.setToken', async ({ token }) => {
  const r = await app.secret('set', SERVICE, 'sync-token', String(token));
  if (!r?.ok) throw new Error(r?.error || 'the secret store refused');
  return true;
});
app.handle('sync.hasToken', async () => {
  const r = await app.secret('get', SERVICE, 'sync-token');
  if (!r?.ok) throw new Error(r?.error || 'the secret store is not available');
  return typeof r.value === 'string' && r.value !== '';
});
app.handle('sync.clearToken', async () => (await app.secret('del', SERVICE, 'sync-token'))?.ok === true);
app.handle('notes.tourDone', async (result) => {
  // The tour also checks what only the backend sees: the menu it installed.
  const item = await app.get('item:import');
  log(`tour ${result.ok && item?.exists ? 'ok' : 'FAILED'} ${JSON.stringify({ ...result, menuItem: item })}`);
  setImmediate(() => app.quit());
  return true;
});
app.declareEvents('menu', 'open-files');

// Menu entries are handed to the page, which owns the editor.
app.on('MENU', (ev) => {
  if (ev.rest === 'quit') app.quit();
  else app.emit('main', 'menu', ev.rest);
});
app.onOpen((req) => log(`asked to open ${JSON.stringify(req)}`));

if (!(await app.startApp(config, tour ? { env: { OVALIS_INJECT: 'window.__notesTour=true;' } } : {}))) {
  log('handed over to the running instance');
  process.exit(0);
}
app.setMenus('', [
  { title: 'File', items: [
    { id: 'new', label: 'New Note', accel: 'Ctrl+N' },
    { id: 'import', label: 'Import…', accel: 'Ctrl+O' },
    { id: 'save', label: 'Save', accel: 'Ctrl+S' },
    { kind: 'separator' },
    { id: 'quit', label: 'Quit', accel: 'Ctrl+Q' },
  ] },
  { role: 'edit', items: [{ role: 'standard' }] },
]);
log('ready');
process.exitCode = await app.run();
