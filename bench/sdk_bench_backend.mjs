// The JavaScript library's side of the library benchmark (sdk_bench.mjs
// runs it): node sdk_bench_backend.mjs <launcher> <page> <mode> <n>
import { Backend } from '../sdk/node/index.js';

const [launcher, page, mode, n] = process.argv.slice(2);
const b = new Backend();
let first = false;
b.handle('client.hello', () => {
  if (!first) {
    first = true;
    process.stdout.write('FIRST\n');
  }
  return { ok: true };
});
b.handle('bench.ping', (params) => params);
b.handle('bench.result', (params) => {
  process.stdout.write(`RESULT ${JSON.stringify(params)}\n`);
  setImmediate(() => b.quit());
  return {};
});
await b.start({ launcher, page, title: 'bench', env: { OVALIS_INJECT: `window.__bench={mode:'${mode}',n:${Number(n)}};` } });
process.exitCode = await b.run();
