// The TypeScript declarations: every export of the library is declared,
// and a backend written as the guide shows type-checks against them.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import * as lib from '../index.js';

const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const dts = fs.readFileSync(path.join(root, 'index.d.ts'), 'utf8');

test('every export is declared, down to each line builder and method', () => {
  const declared = new Set([...dts.matchAll(/^export (?:class|function|namespace|const) (\w+)/gm)].map((m) => m[1]));
  assert.deepEqual(Object.keys(lib).filter((k) => !declared.has(k)), []);
  const ns = dts.slice(dts.indexOf('export namespace line'));
  const builders = new Set([...ns.matchAll(/^ {2}function (\w+)/gm)].map((m) => m[1]));
  assert.deepEqual(Object.keys(lib.line).filter((k) => !builders.has(k)), []);
  const cls = dts.slice(dts.indexOf('export class Backend'), dts.indexOf('export namespace line'));
  const methods = Object.getOwnPropertyNames(lib.Backend.prototype).filter((m) => !m.startsWith('_') && m !== 'constructor');
  assert.deepEqual(methods.filter((m) => !new RegExp(`^ {2}(?:readonly )?${m}[(:]`, 'm').test(cls)), []);
});

let tsc = null;
try {
  execFileSync('tsc', ['--version'], { stdio: 'ignore' });
  tsc = 'tsc';
} catch {
  /* skipped */
}

test('a typed backend compiles against the declarations', { skip: !tsc && 'no tsc', timeout: 120000 }, () => {
  execFileSync(tsc, ['-p', path.join(root, 'test/types/tsconfig.json')], { stdio: 'pipe' });
});
