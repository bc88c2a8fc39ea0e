#!/usr/bin/env bash
# A series under a low limit on open files (ulimit -n): where one pattern alone can be reduced and written,
# so can a series of them, on one thread or several, with the files a run without the limit writes, byte for
# byte. The run holds no more files open than one pattern alone does.
# usage: pdf_open_file_limit.sh TALVO_TOOLS TEST_FILES_DIR
set -u
tools=$1 files=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
inputs=()
for i in 1 2 3 4 5 6; do
  cp "$files/lab_xy/zro2_mo.xy" "p$i.xy"
  inputs+=("p$i.xy")
done
options=(--composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 --wavelength 0.71073)
"$tools" pdf "${inputs[@]}" "${options[@]}" -o free/ >/dev/null 2>&1 || { echo "the series without a limit failed"; exit 1; }
# The lowest limit at which one pattern alone is written.
lowest=
for limit in $(seq 8 64); do
  if (ulimit -n "$limit" && "$tools" pdf p1.xy "${options[@]}" -o "alone$limit/" >/dev/null 2>&1); then
    lowest=$limit
    break
  fi
done
[ -n "$lowest" ] || { echo "one pattern alone fails under every limit up to 64"; exit 1; }
fail=0
limits=("$lowest")
[ "$lowest" -lt 16 ] && limits+=(16)
for limit in "${limits[@]}"; do
  for jobs in 1 2 4; do
    dir=limit${limit}_j$jobs
    (ulimit -n "$limit" && "$tools" pdf "${inputs[@]}" "${options[@]}" -j $jobs -o "$dir/" >/dev/null 2>err)
    status=$?
    [ $status = 0 ] || { echo "ulimit -n $limit, -j $jobs: exit $status"; grep -v warning err | head -5; fail=1; }
    for f in free/*; do
      cmp -s "$f" "$dir/${f#free/}" || { echo "ulimit -n $limit, -j $jobs: $dir/${f#free/} differs from $f"; fail=1; }
    done
  done
done
[ $fail = 0 ] && echo "six patterns written under ulimit -n ${limits[*]} on 1, 2 and 4 threads (one alone needs $lowest)"
exit $fail
