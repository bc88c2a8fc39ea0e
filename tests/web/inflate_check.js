// web/inflate.js against node's zlib: stored, fixed and dynamic blocks, empty
// and incompressible input, and a stream whose stored blocks follow compressed
// ones. usage: node inflate_check.js SOURCE_DIR; exit status 1 on a mismatch.
'use strict';
const fs = require('fs');
const zlib = require('zlib');
const crypto = require('crypto');
const talvoInflate = new Function(fs.readFileSync(process.argv[2] + '/web/inflate.js', 'utf8') + '\nreturn talvoInflate;')();
let bad = 0;
const check = (name, packed, want) => {
  let got;
  try {
    got = Buffer.from(talvoInflate(new Uint8Array(packed), want.length));
  } catch (e) {
    got = Buffer.from(String(e));
  }
  if (Buffer.compare(got, want) !== 0) {
    console.log('differs:', name);
    bad++;
  }
};
const text = Buffer.from(fs.readFileSync(process.argv[2] + '/web/page.js'));
const samples = { empty: Buffer.alloc(0), one: Buffer.from('a'), repeats: Buffer.from('abcabcabc'.repeat(3000)),
                  text, random: crypto.randomBytes(70000) };
for (const [name, sample] of Object.entries(samples))
  for (const level of [0, 1, 6, 9]) check(`${name} at level ${level}`, zlib.deflateRawSync(sample, { level }), sample);
check('fixed codes only', zlib.deflateRawSync(text.subarray(0, 200), { strategy: zlib.constants.Z_FIXED }), text.subarray(0, 200));
const parts = [Buffer.from('abcabc'.repeat(5000)), crypto.randomBytes(40000), Buffer.from('xyz'.repeat(3000))];
const d = zlib.createDeflateRaw({ level: 6 });
const chunks = [];
d.on('data', (c) => chunks.push(c));
d.on('end', () => {
  check('stored blocks after compressed ones', Buffer.concat(chunks), Buffer.concat(parts));
  console.log(bad ? `${bad} inflations differ` : 'every inflation the same as zlib');
  process.exit(bad ? 1 : 0);
});
d.write(parts[0]);
d.flush(zlib.constants.Z_FULL_FLUSH, () => {
  d.write(parts[1]);
  d.flush(zlib.constants.Z_FULL_FLUSH, () => d.end(parts[2]));
});
