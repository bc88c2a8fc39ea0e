// Raw DEFLATE (RFC 1951) decoding, synchronous, for the WebAssembly packed
// into talvo-wasm.js (web/pack_wasm.py). Synchronous so that the calculator is
// ready by the page's load event: a browser's DecompressionStream would make
// the start wait for the event loop. Bits are read least significant first;
// Huffman codes are canonical: the short ones looked up, the others decoded a
// bit at a time by code length.
function talvoInflate(src, size) {
  'use strict';
  const out = new Uint8Array(size);
  let at = 0, pos = 0, held = 0, have = 0;
  const need = (n) => {
    while (have < n) {
      if (pos >= src.length) throw new Error('inflate: input ends early');
      held |= src[pos++] << have;
      have += 8;
    }
    const v = held & ((1 << n) - 1);
    held >>>= n;
    have -= n;
    return v;
  };
  // A code from lengths[symbol]: how many codes of each length, the symbols
  // in code order, and for codes of up to FAST bits a table indexed by the
  // next FAST bits of input giving symbol << 4 | length.
  const FAST = 9;
  const code = (lengths) => {
    const counts = new Uint16Array(16);
    for (const l of lengths) counts[l]++;
    counts[0] = 0;
    const next = new Uint16Array(16);
    for (let l = 1; l < 16; l++) next[l] = next[l - 1] + counts[l - 1];
    const symbols = new Uint16Array(lengths.length);
    lengths.forEach((l, s) => { if (l) symbols[next[l]++] = s; });
    const fast = new Int32Array(1 << FAST).fill(-1);
    const first = new Uint16Array(16);
    for (let l = 1, c = 0; l < 16; l++) first[l] = c = (c + counts[l - 1]) << 1;
    lengths.forEach((l, s) => {
      if (!l) return;
      const c = first[l]++;
      if (l > FAST) return;
      let rev = 0;  // codes are sent from their first bit on, the input is read from its lowest
      for (let i = 0; i < l; i++) rev |= ((c >> i) & 1) << (l - 1 - i);
      for (let k = rev; k < 1 << FAST; k += 1 << l) fast[k] = (s << 4) | l;
    });
    return { counts, symbols, fast };
  };
  const decode = (h) => {
    while (have < FAST && pos < src.length) {
      held |= src[pos++] << have;
      have += 8;
    }
    if (have >= FAST) {
      const e = h.fast[held & ((1 << FAST) - 1)];
      if (e >= 0) {
        held >>>= e & 15;
        have -= e & 15;
        return e >> 4;
      }
    }
    let c = 0, first = 0, index = 0;
    const counts = h.counts;
    for (let l = 1; l < 16; l++) {
      if (have === 0) {
        if (pos >= src.length) throw new Error('inflate: input ends early');
        held = src[pos++];
        have = 8;
      }
      c |= held & 1;
      held >>>= 1;
      have--;
      const count = counts[l];
      if (c - first < count) return h.symbols[index + c - first];
      index += count;
      first = (first + count) << 1;
      c <<= 1;
    }
    throw new Error('inflate: bad code');
  };
  const LBASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163,
                 195, 227, 258];
  const LEXTRA = [0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0];
  const DBASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073,
                 4097, 6145, 8193, 12289, 16385, 24577];
  const DEXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13];
  const ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15];
  const fixedLengths = [];
  for (let s = 0; s < 288; s++) fixedLengths.push(s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8);
  const fixed = { lit: code(fixedLengths), dist: code(new Array(30).fill(5)) };

  for (let last = 0; !last;) {
    last = need(1);
    const type = need(2);
    if (type === 0) {  // stored: from the next byte boundary (whole bytes read ahead go back)
      pos -= have >> 3;
      held = 0;
      have = 0;
      const len = src[pos] | (src[pos + 1] << 8);
      pos += 4;
      out.set(src.subarray(pos, pos + len), at);
      pos += len;
      at += len;
      continue;
    }
    let lit = fixed.lit, dist = fixed.dist;
    if (type === 2) {
      const nlit = need(5) + 257, ndist = need(5) + 1, nclen = need(4) + 4;
      const clen = new Array(19).fill(0);
      for (let i = 0; i < nclen; i++) clen[ORDER[i]] = need(3);
      const lenCode = code(clen);
      const lengths = [];
      while (lengths.length < nlit + ndist) {
        const s = decode(lenCode);
        if (s < 16) lengths.push(s);
        else if (s === 16) lengths.push(...new Array(need(2) + 3).fill(lengths[lengths.length - 1]));
        else lengths.push(...new Array(s === 17 ? need(3) + 3 : need(7) + 11).fill(0));
      }
      lit = code(lengths.slice(0, nlit));
      dist = code(lengths.slice(nlit));
    } else if (type !== 1) {
      throw new Error('inflate: bad block type');
    }
    for (;;) {
      const s = decode(lit);
      if (s < 256) {
        out[at++] = s;
      } else if (s === 256) {
        break;
      } else {
        const len = LBASE[s - 257] + need(LEXTRA[s - 257]);
        const d = decode(dist);
        const back = DBASE[d] + need(DEXTRA[d]);
        for (let i = 0; i < len; i++, at++) out[at] = out[at - back];
      }
    }
  }
  if (at !== size) throw new Error('inflate: ' + at + ' bytes, not ' + size);
  return out;
}
