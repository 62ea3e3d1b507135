// Checks the tool's exported credentials with Digital Bazaar's W3C libraries:
// @digitalbazaar/vc verifies the eddsa-jcs-2022 proof, and jsonld expands
// the credential in safe mode, which fails on any member its contexts do not
// define. Every context comes from a file: the W3C's from the npm packages
// that ship them, Open Badges 3.0.3 from tests/credential/contexts. Nothing
// is fetched; a did:key is resolved from the key it names.
//
//   node digital_bazaar.mjs --binary CORVELLACTL --questions FILE --modules DIR --contexts DIR
//
// DIR of --modules is the node_modules folder that scripts/bootstrap.sh
// installs from tests/credential/interop/package-lock.json.

import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {parseArgs} from 'node:util';
import {pathToFileURL} from 'node:url';

const {values: options} = parseArgs({
  options: {
    binary: {type: 'string'},
    questions: {type: 'string'},
    modules: {type: 'string'},
    contexts: {type: 'string'},
  },
});
for (const name of ['binary', 'questions', 'modules', 'contexts']) {
  if (!options[name]) {
    console.error(`digital_bazaar.mjs: --${name} is required`);
    process.exit(2);
  }
  options[name] = path.resolve(options[name]);
}
if (!fs.existsSync(path.join(options.modules, '@digitalbazaar', 'vc'))) {
  console.error(`digital_bazaar.mjs: no Digital Bazaar packages in ${options.modules}; run scripts/bootstrap.sh`);
  process.exit(2);
}

// A package of the installed folder by its entry point: the script lives
// outside that folder, so bare specifiers would not find it.
async function load(name) {
  const directory = path.join(options.modules, name);
  const manifest = JSON.parse(fs.readFileSync(path.join(directory, 'package.json'), 'utf8'));
  let entry = manifest.exports;
  if (entry && typeof entry === 'object') entry = entry['.'] ?? entry;
  if (entry && typeof entry === 'object') entry = entry.import ?? entry.default;
  entry = entry ?? manifest.main ?? 'index.js';
  return import(pathToFileURL(path.join(directory, entry)).href);
}

const vc = await load('@digitalbazaar/vc');
const {DataIntegrityProof} = await load('@digitalbazaar/data-integrity');
const eddsaJcs = await load('@digitalbazaar/eddsa-jcs-2022-cryptosuite');
const jsonld = (await load('jsonld')).default;

const readJson = file => JSON.parse(fs.readFileSync(file, 'utf8'));
const contexts = new Map([
  ['https://www.w3.org/ns/credentials/v2',
    readJson(path.join(options.modules, '@digitalbazaar/credentials-context/contexts/v2.jsonld'))],
  ['https://www.w3.org/ns/credentials/undefined-terms/v2',
    readJson(path.join(options.modules, '@digitalbazaar/credentials-context/contexts/undefined-terms-v2.jsonld'))],
  ['https://w3id.org/security/data-integrity/v2',
    readJson(path.join(options.modules, '@digitalbazaar/data-integrity-context/contexts/data-integrity-v2.jsonld'))],
  ['https://purl.imsglobal.org/spec/ob/v3p0/context-3.0.3.json',
    readJson(path.join(options.contexts, 'ob-v3p0-context-3.0.3.json'))],
]);

// The documents a verifier asks for: the contexts above, and for a did:key
// its verification method or its controller document, built from the key.
async function documentLoader(url) {
  if (contexts.has(url)) return {contextUrl: null, documentUrl: url, document: contexts.get(url)};
  if (url.startsWith('did:key:z6Mk')) {
    const did = url.split('#')[0];
    const multikey = did.slice('did:key:'.length);
    const method = {
      '@context': 'https://w3id.org/security/multikey/v1',
      id: `${did}#${multikey}`,
      type: 'Multikey',
      controller: did,
      publicKeyMultibase: multikey,
    };
    const document = url.includes('#') ? method : {
      '@context': ['https://www.w3.org/ns/did/v1', 'https://w3id.org/security/multikey/v1'],
      id: did,
      verificationMethod: [method],
      assertionMethod: [method.id],
    };
    return {contextUrl: null, documentUrl: url, document};
  }
  throw new Error(`not held offline: ${url}`);
}

let passed = 0;
let failed = 0;
function check(condition, what, detail = '') {
  if (condition) {
    passed += 1;
    console.log(`ok - ${what}`);
  } else {
    failed += 1;
    console.log(`FAILED - ${what}${detail ? `: ${detail}` : ''}`);
  }
}

function verified(credential) {
  const suite = new DataIntegrityProof({cryptosuite: eddsaJcs.createVerifyCryptosuite()});
  return vc.verifyCredential({credential, suite, documentLoader});
}

// The reason safe-mode expansion gives up, or null when it drops nothing.
async function expansionFailure(document) {
  try {
    await jsonld.expand(structuredClone(document), {documentLoader, safe: true});
    return null;
  } catch (error) {
    return String(error.details?.event?.message ?? error.message);
  }
}

// From an empty directory to an exported credential, through the tool.
const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'corvella-interop-'));
function tool(...args) {
  return execFileSync(options.binary, args, {cwd: directory, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe']});
}
const toolJson = (...args) => tool('--json', ...args).trim().split('\n').map(line => JSON.parse(line));
try {
  const [assessment] = toolJson('assessment', 'create', '--title', 'Interoperability', '--min-correct', '1',
    '--questions', options.questions);
  tool('assessment', 'publish', assessment.id);
  const [assignment] = toolJson('assign', '--assessment-id', assessment.id);
  const answers = readJson(options.questions).map(question => question.correct_index).join(',');
  const completion = toolJson('attempt', '--assignment-id', assignment.id, '--answers', answers)
    .find(result => result.type === 'completion');
  const [certificate] = toolJson('certify', '--completion-id', completion.id);
  tool('credential', 'export', '--certificate-id', certificate.id, '--output', 'credential.json');
  const credential = readJson(path.join(directory, 'credential.json'));

  const result = await verified(credential);
  check(result.verified, 'the exported credential verifies under @digitalbazaar/vc with eddsa-jcs-2022',
    JSON.stringify(result.error ?? result.results, null, 1));

  const failure = await expansionFailure(credential);
  check(failure === null, 'JSON-LD safe-mode expansion of the credential drops nothing', failure);
  const expanded = JSON.stringify(await jsonld.expand(structuredClone(credential), {documentLoader}));
  const signature = credential.evidence[0].certificate.signature;
  check(expanded.includes(signature), 'the expanded credential still holds the certificate it carries');

  // The earlier form named two contexts: safe mode drops the certificate.
  const earlier = structuredClone(credential);
  earlier['@context'] = earlier['@context'].slice(0, 2);
  delete earlier.proof;
  const earlierFailure = await expansionFailure(earlier);
  check(earlierFailure !== null && earlierFailure.includes('did not expand'),
    `without the undefined-terms context, safe mode refuses the certificate (${earlierFailure})`,
    earlierFailure ?? 'it expanded');

  // Changed copies: a member of the carried certificate, the name, a context.
  const tamperings = [
    ['its certificate\'s expiry changed',
      copy => { copy.evidence[0].certificate.payload.expires_at = '2999-01-01T00:00:00Z'; }],
    ['its name changed', copy => { copy.name += '!'; }],
    ['another learner', copy => { copy.credentialSubject.id = 'urn:uuid:00000000-0000-4000-8000-000000000000'; }],
    ['a context dropped', copy => { copy['@context'].pop(); }],
  ];
  for (const [what, edit] of tamperings) {
    const copy = structuredClone(credential);
    edit(copy);
    check(!(await verified(copy)).verified, `a copy with ${what} does not verify`);
  }
} catch (error) {
  check(false, 'the run completed', error.stack ?? String(error));
} finally {
  fs.rmSync(directory, {recursive: true, force: true});
}

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
