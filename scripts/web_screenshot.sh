#!/usr/bin/env bash
# The README's picture of the offline page: headless Chromium opens the built
# web/index.html from disk with a calculation in its query string and saves
# what it shows; pngquant (when there) makes the PNG a third of its size.
# usage: scripts/web_screenshot.sh [OUTPUT.png]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/web/screenshot.png}
[ -f "$here/web/talvo-wasm.js" ] || { echo "build the page first: cmake --preset wasm && cmake --build --preset wasm" >&2; exit 1; }
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
query='formula=Gd2O3&density=7.41&thickness=0.002&wavelength=0.5:6:0.05&xray=Cu'
chromium --headless --no-sandbox --disable-gpu --no-first-run --hide-scrollbars --user-data-dir="$profile" \
  --virtual-time-budget=10000 --window-size=900,1180 --screenshot="$out" "file://$here/web/index.html?$query" 2>/dev/null
if command -v pngquant >/dev/null; then pngquant --force --skip-if-larger --quality 60-85 --output "$out" -- "$out"; fi
ls -l "$out"
