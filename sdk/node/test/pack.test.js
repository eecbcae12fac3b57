// The package as npm ships it: `npm pack` makes the tarball, and a project
// that installs the tarball (offline) can import the library and its types.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
let npm = null;
try {
  npm = execFileSync('npm', ['--version'], { encoding: 'utf8' }).trim();
} catch {
  /* skipped */
}

test('npm pack makes a tarball that installs and imports offline', { skip: !npm && 'no npm', timeout: 120000 }, () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'ovalis-pack-'));
  try {
    const env = { ...process.env, npm_config_cache: path.join(tmp, 'cache'), npm_config_update_notifier: 'false' };
    const out = execFileSync('npm', ['pack', '--json', '--pack-destination', tmp, root], { encoding: 'utf8', env });
    const [info] = JSON.parse(out);
    const files = info.files.map((f) => f.path).sort();
    assert.ok(files.includes('index.d.ts') && files.includes('lib/backend.js') && files.includes('package.json'), files.join(' '));
    assert.ok(!files.some((f) => f.startsWith('test/')), 'tests stay out of the package');
    // The page API's declarations ship too, for type-checking page code.
    assert.ok(files.includes('ovalis.d.ts'), files.join(' '));

    const app = path.join(tmp, 'app');
    fs.mkdirSync(app);
    fs.writeFileSync(path.join(app, 'package.json'), '{"name":"app","version":"1.0.0","private":true,"type":"module"}');
    execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', path.join(tmp, info.filename)], { cwd: app, env, stdio: 'pipe' });
    fs.writeFileSync(path.join(app, 'main.js'),
      "import { Backend, line } from 'ovalis-backend';\n" +
      "console.log(typeof Backend, line.get('1', 'windows'));\n");
    assert.equal(execFileSync(process.execPath, ['main.js'], { cwd: app, encoding: 'utf8' }), 'function GET 1 windows\n');
    const installed = JSON.parse(fs.readFileSync(path.join(app, 'node_modules/ovalis-backend/package.json'), 'utf8'));
    assert.deepEqual(installed.dependencies ?? {}, {}, 'no runtime dependencies');
  } finally {
    fs.rmSync(tmp, { recursive: true, force: true });
  }
});
