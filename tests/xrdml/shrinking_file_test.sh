#!/usr/bin/env bash
# An XRDML file cut short by another process while talvo-tools reads it: a
# message and exit 1, never a signal. The shim preloaded into talvo-tools cuts
# the file to half its size at the reader's first map or read of it.
# usage: shrinking_file_test.sh TALVO_TOOLS SHIM FILES_DIR
set -u
tools=$1 shim=$2 files=$3/xrdml
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
# A sanitizer run-time must come first among the libraries; the shim comes
# before it here, which is harmless for what the shim intercepts.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
for how in "--scans all" "--scan 1" ""; do
  cp "$files/rsm_401_scans_list_positions.xrdml" "$tmp/map.xrdml"
  size=$(stat -c %s "$tmp/map.xrdml")
  # shellcheck disable=SC2086
  out=$(LD_PRELOAD=$shim TALVO_SHRINK_FILE=$tmp/map.xrdml timeout 20 "$tools" xrdml "$tmp/map.xrdml" $how 2>"$tmp/err")
  status=$?
  now=$(stat -c %s "$tmp/map.xrdml")
  if [ "$now" != $((size / 2)) ]; then
    echo "FAIL '$how': the file was not cut ($now bytes of $size): the test proves nothing"; fail=1
  elif [ $status != 1 ] || [ -n "$out" ] || ! grep -q "became shorter while it was read" "$tmp/err"; then
    echo "FAIL '$how': status $status (want 1, no rows and a message)"; cat "$tmp/err"; fail=1
  fi
done
[ $fail = 0 ] && echo "shrinking file checks passed"
exit $fail
