#!/usr/bin/env bash
# A series of talvo-tools pdf killed outright (kill -9) while it puts its patterns' files in place.
# 1. Killed at a fixed moment (a shim kills it at its third rename, inside a pattern's set), then two of the
#    files the set was still to replace are written by hand, one in place and one replaced: a later run of
#    another pattern into the folder ends the killed set, completing it only onto the files it replaced, so the
#    files written by hand stay; nothing hidden is left.
# 2. A 100-pattern series (-j 2) killed at random moments, alternating two windows so that each file says which
#    run wrote it: after each kill a run of one other pattern into the folder leaves every pattern's files one
#    run's, and no hidden file, whatever its name (lists of renames, files linked under hidden names).
# usage: pdf_killed_series.sh TALVO_TOOLS SHIM TEST_FILES_DIR [KILLS] [SECONDS]
set -u
tools=$1 shim=$2 files=$3 kills=${4:-60} budget=${5:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
cp "$files/lab_xy/zro2_mo.xy" other.xy
patterns=()
for i in $(seq -w 0 99); do
  ln -s other.xy "p$i.xy"
  patterns+=("p$i.xy")
done
options=(--composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 --wavelength 0.71073 --r 0:20:0.05)
kinds=(iq sq fq gr gofr rdf)
window_of() { sed -n 's/^# window = //p' "$1" | head -1; }
fail=0

# 1. A fixed moment, and files written by hand since.
mkdir a
"$tools" pdf p01.xy p02.xy p03.xy "${options[@]}" --window none -j 2 -o a/ >/dev/null 2>&1 ||
  { echo "the first series failed"; exit 1; }
(LD_PRELOAD=$shim TALVO_RENAME_AT=3 TALVO_RENAME_SIGNAL=KILL \
  "$tools" pdf p01.xy p02.xy p03.xy "${options[@]}" --window lorch -j 2 -o a/ >/dev/null 2>&1; exit $?) 2>/dev/null
status=$?
[ $status = 137 ] || { echo "the series was not killed (exit $status): the test proves nothing"; exit 1; }
ls -A a | grep -q '^\.talvo-set\..*\.list$' || { echo "the killed series left no list: the test proves nothing"; exit 1; }
echo "written by hand" >a/p01.fq
echo "replaced by hand" >a/p01.gr.new && mv a/p01.gr.new a/p01.gr
"$tools" pdf other.xy "${options[@]}" -o a/ >/dev/null 2>&1 || { echo "the run after the kill failed"; fail=1; }
[ "$(cat a/p01.fq)" = "written by hand" ] || { echo "the killed set's replay overwrote a/p01.fq written by hand"; fail=1; }
[ "$(cat a/p01.gr)" = "replaced by hand" ] || { echo "the killed set's replay overwrote a/p01.gr put there by hand"; fail=1; }
for k in iq sq gofr rdf; do
  [ "$(window_of a/p01.$k)" = lorch ] || { echo "a/p01.$k is not the killed run's: the set was not completed"; fail=1; }
done
for p in p02 p03; do
  for k in "${kinds[@]}"; do
    [ "$(window_of a/$p.$k)" = none ] || { echo "a/$p.$k changed, though the killed run never reached it"; fail=1; }
  done
done
left=$(ls -A a | grep '^\.')
[ -z "$left" ] || { echo "left after the run that followed the kill: $left"; fail=1; }

# 2. Random moments of a long series.
mkdir b
series() { exec "$tools" pdf "${patterns[@]}" "${options[@]}" --window "$1" -j 2 -o b/ >/dev/null 2>&1; }
start=$(date +%s%N)
(series none) || { echo "a whole series failed"; exit 1; }
run_ms=$((($(date +%s%N) - start) / 1000000 + 1))
# Each pattern's set in the folder: one window for all its files, or what is wrong.
sets() {
  awk -v kinds=${#kinds[@]} '
    /^# window = / { split(FILENAME, part, "/"); sub(/\.[a-z]+$/, "", part[2]); w[part[2]] = w[part[2]] " " $4
                     n[part[2]]++; nextfile }
    END { for (p in w) { split(w[p], ws, " "); for (i in ws) if (ws[i] != ws[1]) { print p ":" w[p]; break }
                         if (n[p] != kinds) print p ": " n[p] " files" } }' b/p*.*
}
done_kills=0 window=none lists=0 orphans=0
deadline=$((SECONDS + budget))
while [ $done_kills -lt "$kills" ] && [ $SECONDS -lt $deadline ]; do
  window=$([ $window = none ] && echo lorch || echo none)
  series "$window" &
  pid=$!
  delay_ms=$((RANDOM % (run_ms + 1)))
  sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null
  done_kills=$((done_kills + 1))
  ls -A b | grep -q '^\.talvo-set\..*\.list$' && lists=$((lists + 1))
  ls -A b | grep '^\.' | grep -qv '^\.talvo-set\.' && orphans=$((orphans + 1))
  "$tools" pdf other.xy "${options[@]}" -o b/ >/dev/null 2>&1 || { echo "the run after kill $done_kills failed"; fail=1; }
  left=$(ls -A b | grep '^\.')
  [ -z "$left" ] || { echo "kill $done_kills (after $delay_ms ms): left after the next run: $left"; fail=1; }
  wrong=$(sets)
  [ -z "$wrong" ] || { echo "kill $done_kills (after $delay_ms ms): sets of two runs: $wrong" | head -5; fail=1; }
done
[ $fail = 0 ] && echo "$done_kills series killed (one takes about $run_ms ms; $lists left a list, $orphans hidden" \
  "files): the next run ended every set whole and left nothing hidden; a killed set's replay kept files written by hand"
exit $fail
