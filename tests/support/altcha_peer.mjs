// The independent ALTCHA peer for the tests and benchmarks: altcha-lib (npm) run with node.
//   node altcha_peer.mjs MODULES solve            challenge JSON on stdin -> payload (base64)
//   node altcha_peer.mjs MODULES create KEY EXPIRES COST [DATA-JSON]   -> challenge JSON
//   node altcha_peer.mjs MODULES verify KEY N     payload on stdin, verified N times -> JSON
// MODULES is the folder holding node_modules (see install-altcha-peers.sh).
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';

const [modules, command, ...args] = process.argv.slice(2);
const require = createRequire(modules + '/package.json');
const lib = require('altcha-lib');
const { deriveKey } = require('altcha-lib/algorithms/pbkdf2');
const input = () => readFileSync(0, 'utf8').trim();

if (command === 'solve') {
  const challenge = JSON.parse(input());
  const solution = await lib.solveChallenge({ challenge, deriveKey, timeout: 60000 });
  if (!solution) throw new Error('no solution');
  const payload = { challenge: { parameters: challenge.parameters, signature: challenge.signature }, solution };
  process.stdout.write(Buffer.from(JSON.stringify(payload)).toString('base64'));
} else if (command === 'create') {
  const [key, expires, cost, data] = args;
  const challenge = await lib.createChallenge({
    algorithm: 'PBKDF2/SHA-256', cost: Number(cost), deriveKey, hmacSignatureSecret: key,
    expiresAt: Number(expires), ...(data ? { data: JSON.parse(data) } : {}),
  });
  process.stdout.write(JSON.stringify(challenge));
} else if (command === 'verify') {
  const [key, times] = args;
  const payload = JSON.parse(Buffer.from(input(), 'base64').toString('utf8'));
  let result = null;
  const start = process.hrtime.bigint();
  for (let i = 0; i < Number(times); i++)
    result = await lib.verifySolution({ challenge: payload.challenge, solution: payload.solution, deriveKey,
                                        hmacSignatureSecret: key });
  const ns = Number(process.hrtime.bigint() - start);
  process.stdout.write(JSON.stringify({ verified: result.verified, microsPerVerify: ns / 1000 / Number(times) }));
} else {
  throw new Error('unknown command ' + command);
}
