// The backend libraries against each other, on the same page in one run:
// the Python and JavaScript libraries against the C++ one. For each: the
// time from starting the backend to its first answered page call, the
// sequential round trip of 2000 calls, and a burst of 5000 calls in flight.
// Rounds alternate the order of the libraries; medians and ratios to C++
// are printed as a table and written as JSON.
//
//   node sdk_bench.mjs --launcher <launcher> --cpp <sdk_bench_cpp> [--rounds N] [--json out.json]
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '..');
const PAGE = path.join(here, 'pages/bench.html');

const opts = { rounds: 3, json: 'sdk_bench.json', launcher: '', cpp: '' };
for (let i = 2; i + 1 < process.argv.length; i += 2) opts[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
if (!opts.launcher || !opts.cpp) {
  process.stderr.write('usage: sdk_bench.mjs --launcher <launcher> --cpp <sdk_bench_cpp> [--rounds N] [--json out.json]\n');
  process.exit(2);
}

const pythonLib = path.join(root, 'sdk/python');
const libs = [
  { name: 'C++', cmd: [opts.cpp] },
  { name: 'Python', cmd: ['python3', path.join(here, 'sdk_bench_backend.py')], env: { PYTHONPATH: pythonLib },
    missing: !fs.existsSync(path.join(pythonLib, 'ovalis/__init__.py')) },
  { name: 'JavaScript', cmd: [process.execPath, path.join(here, 'sdk_bench_backend.mjs')] },
].filter((l) => !l.missing);

const median = (v) => {
  if (!v.length) return NaN;
  const s = [...v].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// One backend run: resolves {firstMs, result} or rejects.
function runBackend(lib, mode, n) {
  return new Promise((resolve, reject) => {
    const t0 = process.hrtime.bigint();
    const [exe, ...args] = lib.cmd;
    const child = spawn(exe, [...args, opts.launcher, PAGE, mode, String(n)], {
      env: { ...process.env, ...(lib.env ?? {}) }, stdio: ['ignore', 'pipe', 'inherit'],
    });
    let firstMs = null;
    let result = null;
    let buf = '';
    const timer = setTimeout(() => child.kill('SIGKILL'), 120000);
    child.stdout.on('data', (d) => {
      buf += d;
      let nl;
      while ((nl = buf.indexOf('\n')) >= 0) {
        const l = buf.slice(0, nl);
        buf = buf.slice(nl + 1);
        if (l === 'FIRST' && firstMs === null) firstMs = Number(process.hrtime.bigint() - t0) / 1e6;
        else if (l.startsWith('RESULT ')) result = JSON.parse(l.slice(7));
      }
    });
    child.on('error', reject);
    child.on('exit', (code) => {
      clearTimeout(timer);
      if (code !== 0 || firstMs === null || !result) reject(new Error(`${lib.name} ${mode}: status ${code}, no result`));
      else resolve({ firstMs, result });
    });
  });
}

const samples = Object.fromEntries(libs.map((l) => [l.name, { start: [], seq: [], burst: [] }]));
let allOk = true;
const rounds = Number(opts.rounds);
for (let r = 0; r < rounds; ++r) {
  // Rotate the order each round so no library always runs warm.
  const order = libs.map((_, i) => libs[(i + r) % libs.length]);
  for (const lib of order) {
    const s = samples[lib.name];
    try {
      const idle = await runBackend(lib, 'idle', 0);
      s.start.push(idle.firstMs);
      const seq = await runBackend(lib, 'seq', 2000);
      s.seq.push(seq.result.ms / 2000);
      const burst = await runBackend(lib, 'burst', 5000);
      allOk &&= burst.result.ok !== false;
      s.burst.push(5000 / (burst.result.ms / 1000));
    } catch (err) {
      allOk = false;
      process.stderr.write(`sdk_bench: ${err.message}\n`);
    }
  }
  process.stderr.write(`round ${r + 1}/${rounds} done\n`);
}

const goals = {
  Python: { seq: 1.5, burst: 0.5 },
  JavaScript: { seq: 1.3, burst: 0.8 },
};
const rows = [
  { key: 'start', name: 'start to first answered call', unit: 'ms' },
  { key: 'seq', name: 'sequential round trip (2000 calls)', unit: 'ms/call' },
  { key: 'burst', name: 'burst throughput (5000 in flight)', unit: 'calls/s' },
];
const med = Object.fromEntries(libs.map((l) => [l.name, Object.fromEntries(rows.map((row) => [row.key, median(samples[l.name][row.key])]))]));
const cpp = med['C++'];
const results = [];
const pad = (s, n) => String(s).padEnd(n);
const lpad = (s, n) => String(s).padStart(n);
const others = libs.filter((l) => l.name !== 'C++');
process.stdout.write(`\n${pad('benchmark', 36)} ${pad('unit', 8)}${libs.map((l) => lpad(l.name, 12)).join('')}` +
  `${others.map((l) => lpad(`${l.name}/C++`, 16)).join('')}\n`);
for (const row of rows) {
  let text = `${pad(row.name, 36)} ${pad(row.unit, 8)}${libs.map((l) => lpad(med[l.name][row.key].toFixed(3), 12)).join('')}`;
  for (const l of others) {
    const ratio = med[l.name][row.key] / cpp[row.key];
    const goal = goals[l.name]?.[row.key];
    const met = goal === undefined ? null : row.key === 'burst' ? ratio >= goal : ratio <= goal;
    const target = goal === undefined ? '' : `${row.key === 'burst' ? '>=' : '<='} ${goal}x`;
    text += lpad(`${ratio.toFixed(2)}${goal === undefined ? '' : met ? ' ok' : ' NO'}`, 16);
    results.push({ name: row.name, unit: row.unit, library: l.name, value: med[l.name][row.key], cpp: cpp[row.key], ratio, target, met });
  }
  process.stdout.write(`${text}\n`);
}
process.stdout.write(`goals: Python <= 1.5x round trip and >= 0.5x burst; JavaScript <= 1.3x and >= 0.8x. ` +
  `every run answered: ${allOk ? 'yes' : 'NO'}   rounds: ${rounds}\n`);
fs.writeFileSync(opts.json, `${JSON.stringify({ rounds, all_answered: allOk, libraries: libs.map((l) => l.name), medians: med, results })}\n`);
process.stdout.write(`results written to ${opts.json}\n`);
