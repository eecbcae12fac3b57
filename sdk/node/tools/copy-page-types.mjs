// Before `npm pack`: the page API's declarations (window.ovalis) live with
// the client script in the launcher's sources; the package carries a copy so
// that page code can be type-checked against it too.
import fs from 'node:fs';

const from = new URL('../../../src/webview/ovalis.d.ts', import.meta.url);
const to = new URL('../ovalis.d.ts', import.meta.url);
if (fs.existsSync(from)) fs.copyFileSync(from, to);
else if (!fs.existsSync(to)) process.stderr.write('copy-page-types: no ovalis.d.ts to ship\n');
