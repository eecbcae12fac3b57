// The notes example end to end: its backend starts the real launcher from
// ovalis.json, and the page's tour imports a file through the file dialog,
// saves it (with a notification), keeps a sync token in the keyring and
// takes it out again, and has a path outside the rules refused.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

const appDir = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const launcher = process.env.OVALIS_TEST_LAUNCHER;
const skip = !launcher ? 'OVALIS_TEST_LAUNCHER not set' : !process.env.DISPLAY && !process.env.WAYLAND_DISPLAY ? 'no display' : false;

test('the tour uses the menu, a file dialog, the keyring and a notification', { skip, timeout: 180000 }, async (t) => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'notes-node-'));
  t.after(() => fs.rmSync(tmp, { recursive: true, force: true }));
  // The instance's open socket goes into the session's runtime folder.
  const socket = `${process.env.XDG_RUNTIME_DIR || '/tmp'}/org.ovalis.NotesNode.sock`;
  const file = path.join(tmp, 'shopping list.md');
  fs.writeFileSync(file, 'Shopping\n- tea\n- "quoted" \\ back\tslash é\n');

  const child = spawn(process.execPath, ['backend/main.mjs', '--tour'], {
    cwd: appDir,
    env: {
      ...process.env, OVALIS_LAUNCHER: launcher, XDG_DATA_HOME: path.join(tmp, 'data'),
      OVALIS_TEST_AUTODLG: `path:${file}`,
    },
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  let out = '';
  child.stdout.on('data', (d) => {
    out += d;
  });
  const status = await new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  assert.equal(status, 0, out);
  const tour = /^notes: tour (\S+) (.*)$/m.exec(out);
  assert.ok(tour, out);
  const result = JSON.parse(tour[2]);
  assert.equal(tour[1], 'ok', tour[2]);
  assert.equal(result.imported, 'shopping list.md');
  assert.equal(result.saved, 'Shopping');
  assert.match(result.rejected, /only \.txt and \.md files are notes/);
  assert.deepEqual(result.menuItem, { exists: true, label: 'Import…', checked: false, enabled: true });
  const stored = JSON.parse(fs.readFileSync(path.join(tmp, 'data/org.ovalis.NotesNode/notes.json'), 'utf8'));
  assert.equal(stored[0].text, fs.readFileSync(file, 'utf8'));
  // The instance's open socket went with it.
  assert.equal(fs.existsSync(socket), false);
});
