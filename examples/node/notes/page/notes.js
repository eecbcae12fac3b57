// The notes page: a list, an editor, and the backend calls behind them.
const $ = (id) => document.getElementById(id);
const call = (method, params) => window.ovalis.api.call(method, params ?? {});
let current = null;

function status(text) {
  $('status').textContent = text;
}

async function refresh() {
  const list = await call('notes.list');
  $('list').replaceChildren(...list.map((n) => {
    const b = document.createElement('button');
    b.textContent = n.title;
    b.className = n.id === current ? 'current' : '';
    b.onclick = () => openNote(n.id);
    return b;
  }));
  return list;
}

async function openNote(id) {
  const note = await call('notes.get', { id });
  current = note.id;
  $('text').value = note.text;
  await refresh();
}

async function save() {
  const saved = await call('notes.save', { id: current, text: $('text').value });
  current = saved.id;
  status(`saved “${saved.title}”`);
  await refresh();
  return saved;
}

function fresh() {
  current = null;
  $('text').value = '';
  $('text').focus();
}

// Imported files become new notes, unsaved until the user saves them.
async function importFiles(paths) {
  let last = null;
  for (const p of paths) {
    last = await call('notes.import', { path: p });
    current = null;
    $('text').value = last.text;
    status(`imported ${last.name}`);
  }
  return last;
}

async function importPicked() {
  const file = await call('notes.pickFile');
  return file ? importFiles([file]) : null;
}

async function keepToken() {
  await call('sync.setToken', { token: $('token').value });
  $('token').value = '';
  status('sync token kept in the keyring');
}

$('new').onclick = fresh;
$('save').onclick = () => save().catch((e) => status(e.message));
$('import').onclick = () => importPicked().catch((e) => status(e.message));
$('keep').onclick = () => keepToken().catch((e) => status(e.message));

window.ovalis.api.on('menu', (id) => {
  if (id === 'new') fresh();
  else if (id === 'save') save().catch((e) => status(e.message));
  else if (id === 'import') importPicked().catch((e) => status(e.message));
});
window.ovalis.api.on('open-files', ({ paths }) => importFiles(paths).catch((e) => status(e.message)));

// The example's own test: every feature once, then the backend is told.
async function runTour() {
  const result = { ok: false };
  try {
    const picked = await importPicked();
    result.imported = picked && picked.name;
    const saved = await save();
    result.saved = saved.title;
    result.listed = (await refresh()).some((n) => n.id === saved.id);
    $('token').value = 's3cret\ttoken';
    await keepToken();
    result.token = await call('sync.hasToken');
    result.cleared = await call('sync.clearToken');
    result.rejected = await call('notes.import', { path: '/etc/passwd' }).then(() => false, (e) => e.message);
    result.ok = !!(result.imported && result.listed && result.token && result.cleared && result.rejected);
  } catch (e) {
    result.error = e && e.message ? e.message : String(e);
  }
  await call('notes.tourDone', result);
}

refresh().then(() => {
  if (window.__notesTour) runTour();
});
