#!/usr/bin/env python3
"""Packs emscripten's output into the page's one script: the JavaScript glue,
the inflater, and the WebAssembly compressed (raw DEFLATE, base64) so that the
script stays small (the X-ray tables alone are a megabyte of doubles) and still
opens from disk, where a page may not fetch a .wasm file beside it.

All of it is one function, talvoScript(), whose text (talvoScript.toString())
starts the same calculator in a Web Worker: a page opened from disk may not
start a worker from a file, but may from a Blob of that text.

usage: pack_wasm.py CORE_JS CORE_WASM INFLATE_JS OUTPUT_JS
"""
import base64
import sys
import zlib

core_js, core_wasm, inflate_js, output = sys.argv[1:5]
wasm = open(core_wasm, "rb").read()
packer = zlib.compressobj(9, zlib.DEFLATED, -15)
packed = base64.b64encode(packer.compress(wasm) + packer.flush()).decode("ascii")
with open(output + ".tmp", "w") as out:
    out.write("// TALVO's calculator for the offline page: built by the wasm preset, do not edit.\n")
    out.write("function talvoScript() {\n")
    out.write(open(core_js).read())
    out.write("\n")
    out.write(open(inflate_js).read())
    out.write(f"""
// TalvoModule(): the calculator, ready on return (the WebAssembly is inflated
// and compiled synchronously).
function TalvoModule() {{
  const text = atob('{packed}');
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return TalvoCore({{ wasmBinary: talvoInflate(bytes, {len(wasm)}) }});
}}
return TalvoModule;
}}
var TalvoModule = talvoScript();
if (typeof module === 'object' && module.exports) module.exports = TalvoModule;
""")
import os
os.replace(output + ".tmp", output)
