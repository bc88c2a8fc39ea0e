#!/usr/bin/env bash
# A series stopped (Ctrl-Z, kill -STOP) while it puts a pattern's files in place holds the folder's lock: another
# run into that folder waits a bounded time (10 s), then fails saying which process holds the folder, with
# nothing of its own left there, instead of waiting for ever. Continued, the stopped series ends its sets
# whole. A shim stops the series at its second rename, always the same moment.
# usage: pdf_locked_folder_test.sh TALVO_TOOLS SHIM TEST_FILES_DIR
set -u
tools=$1 shim=$2 files=$3
work=$(mktemp -d)
series=
trap '[ -n "$series" ] && kill -CONT "$series" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
for p in p1 p2 p3 other; do cp "$files/lab_xy/zro2_mo.xy" $p.xy; done
options=(--composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 --wavelength 0.71073)
mkdir out
fail=0
LD_PRELOAD=$shim TALVO_RENAME_AT=2 TALVO_RENAME_SIGNAL=STOP TALVO_RENAME_DONE=$work/stopped \
  "$tools" pdf p1.xy p2.xy p3.xy "${options[@]}" -j 2 -o out/ >series.out 2>series.err &
series=$!
holder=$series
# Until the series is stopped (the shim says so, and the system shows it stopped).
for _ in $(seq 600); do
  [ -e stopped ] && [ "$(cut -d' ' -f3 "/proc/$series/stat" 2>/dev/null)" = T ] && break
  sleep 0.1
done
[ "$(cut -d' ' -f3 "/proc/$series/stat" 2>/dev/null)" = T ] || { echo "the series never stopped"; exit 1; }
# timeout: a run that waits for ever is the fault itself.
timeout 120 "$tools" pdf other.xy "${options[@]}" -o out/ >other.out 2>other.err
status=$?
[ $status != 124 ] || { echo "the second run was still waiting for the folder after 120 s"; fail=1; }
[ $status = 1 ] || { echo "the second run: exit $status, not 1"; cat other.err; fail=1; }
grep -qF "talvo-tools pdf: cannot write out/other.iq: the folder out is locked by process $series: waited 10 s" \
  other.err || { echo "the second run does not name the holder:"; cat other.err; fail=1; }
[ ! -s other.out ] || { echo "the second run printed files as written:"; cat other.out; fail=1; }
ls out | grep -q '^other\.' && { echo "the second run left files: $(ls out | grep '^other\.')"; fail=1; }
kill -CONT "$series"
wait "$series"
status=$?
series=
[ $status = 0 ] || { echo "the continued series: exit $status"; cat series.err; fail=1; }
for p in p1 p2 p3; do
  for k in iq sq fq gr gofr rdf; do [ -s "out/$p.$k" ] || { echo "the continued series did not write out/$p.$k"; fail=1; }; done
done
left=$(ls -A out | grep '^\.')
[ -z "$left" ] || { echo "left after the series: $left"; fail=1; }
[ $fail = 0 ] && echo "a run into a folder held by a stopped series failed after 10 s naming process $holder"
exit $fail
