// ovalis.json: every bad file gets the exact message all libraries share,
// and a good one becomes the launcher's environment and origin rule.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { ConfigError, loadAppConfig } from '../index.js';

const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../..');
const cases = JSON.parse(fs.readFileSync(path.join(root, 'tests/conformance/ovalis-json-errors.json'), 'utf8'));

function appFolder(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-json-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.mkdirSync(path.join(dir, 'page'));
  fs.writeFileSync(path.join(dir, 'page/index.html'), '<!doctype html>');
  return dir;
}

test('bad files give the shared messages', (t) => {
  const dir = appFolder(t);
  const cwd = process.cwd();
  process.chdir(dir);
  t.after(() => process.chdir(cwd));
  for (const c of cases.cases) {
    fs.writeFileSync('ovalis.json', c.text_base64 ? Buffer.from(c.text_base64, 'base64') : c.text);
    assert.throws(() => loadAppConfig(), (err) => err instanceof ConfigError && err.message === c.error, c.name);
  }
  assert.throws(() => loadAppConfig(path.join(dir, 'nowhere')), { message: `${path.join(dir, 'nowhere')}: cannot read: No such file or directory` });
});

test('a good file becomes the launcher environment and the origin rule', (t) => {
  const dir = appFolder(t);
  fs.writeFileSync(path.join(dir, 'icon.svg'), '<svg/>');
  fs.writeFileSync(path.join(dir, 'ovalis.json'), JSON.stringify({
    ...cases.valid, icon: 'icon.svg',
    window: { title: 'Hi', chrome: { frame: false, controls: ['close'], menuBar: true }, activation: 'accessory' },
    api: { origins: { 'http://127.0.0.1:*': ['calls', 'media.proxy'], 'https://*.example.org': ['media.camera'] }, media: ['camera'] },
    popups: 'window', opens: { schemes: ['Hello'] },
  }));
  const c = loadAppConfig(dir);
  assert.equal(c.pageTarget, path.join(dir, 'page/index.html'));
  assert.deepEqual(c.launcherEnv(), {
    OVALIS_APP_ID: 'org.example.Hello', OVALIS_ICON: path.join(dir, 'icon.svg'),
    OVALIS_CHROME: '0\tclose\t\t\t\t\t1', OVALIS_ACTIVATION: 'accessory', OVALIS_POPUPS: 'window',
    OVALIS_MEDIA: 'camera', OVALIS_MEDIA_ORIGINS: 'proxy http://127.0.0.1:*\ncamera https://*.example.org',
  });
  assert.deepEqual(c.schemes, ['hello']);
  assert.equal(c.socketPath({ XDG_RUNTIME_DIR: '/run/user/7' }), '/run/user/7/org.example.Hello.sock');
  assert.equal(c.socketPath({}), '/tmp/org.example.Hello.sock');
  assert.deepEqual(['file://', 'http://127.0.0.1:8080', 'https://a.example.org', 'null'].map((o) => c.callsAllowed(o)),
    [true, true, false, false]);
});
