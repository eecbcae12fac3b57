#!/usr/bin/env node
// A stand-in for the launcher's end of the link, for tests that need no
// display: `peer.mjs <page> <socket> ...` connects like the launcher, sends
// the lines of PEER_SEND (a JSON array), records every line it gets in
// PEER_LOG, answers "GET <id> ..." with "GOT <id> null" and ends on QUIT
// (unless PEER_IGNORE_QUIT is set).
import fs from 'node:fs';
import net from 'node:net';

const s = net.createConnection(process.argv[3]);
const log = process.env.PEER_LOG;
s.on('connect', () => {
  for (const l of JSON.parse(process.env.PEER_SEND || '[]')) s.write(`${l}\n`);
});
let buf = '';
s.on('data', (d) => {
  buf += d;
  let nl;
  while ((nl = buf.indexOf('\n')) >= 0) {
    const l = buf.slice(0, nl);
    buf = buf.slice(nl + 1);
    if (log) fs.appendFileSync(log, `${l}\n`);
    const get = /^GET (\S+) /.exec(l);
    if (get) s.write(`GOT ${get[1]} null\n`);
    if (l === 'QUIT' && !process.env.PEER_IGNORE_QUIT) process.exit(0);
  }
});
s.on('close', () => process.exit(0));
