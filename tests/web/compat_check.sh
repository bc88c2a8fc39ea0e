#!/usr/bin/env bash
# The wasm build's stand-ins for the C++20 pieces its libc++ lacks
# (web/compat/) give the same text as the native library: compat_check.cpp
# built by CXX and by em++, run natively and under node, outputs compared; and
# web/inflate.js inflates what zlib deflates.
# usage: compat_check.sh CXX SOURCE_DIR; exit status 77 (skipped) without em++ or node.
set -eu
cxx=$1
src=$2
command -v em++ >/dev/null || { echo "skipped: no em++ (scripts/install-deps.sh --web installs emscripten)"; exit 77; }
command -v node >/dev/null || { echo "skipped: no node to run the WebAssembly"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cxx" -std=c++20 -O2 "$src/tests/web/compat_check.cpp" -o "$work/native"
NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}" EM_CACHE="${EM_CACHE:-}" \
  em++ -std=c++20 -O2 -sSINGLE_FILE=1 -include "$src/web/compat/cxx20_compat.hpp" \
  --js-library "$src/web/compat/shortest.js" "$src/tests/web/compat_check.cpp" -o "$work/wasm.js"
"$work/native" > "$work/native.txt"
node "$work/wasm.js" > "$work/wasm.txt"
lines=$(wc -l < "$work/native.txt")
if ! cmp -s "$work/native.txt" "$work/wasm.txt"; then
  echo "the wasm build's number text differs from the native one:"
  diff "$work/native.txt" "$work/wasm.txt" | head -20
  exit 1
fi
# Every shortest text read back to its value.
if grep -qw BAD "$work/wasm.txt"; then
  echo "a shortest text does not read back:"
  grep -m5 -w BAD "$work/wasm.txt"
  exit 1
fi
echo "$lines lines the same"
# The inflater that unpacks the page's WebAssembly.
node "$src/tests/web/inflate_check.js" "$src"
