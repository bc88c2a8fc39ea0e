#!/usr/bin/env bash
# A series rerun on a nearly full disk: a small file system (tmpfs, in a user and mount namespace of its own)
# holds the series' files and room for little more than one pattern's new set. Each pattern's files replace
# the previous ones before the next pattern's are written, so the rerun succeeds, on one thread or two, with
# the files a run elsewhere writes (at the same depth), byte for byte, and nothing hidden left. (Writing every pattern of a group
# before any went in place needed room for five new sets: "No space left on device".) Exit 77 where no such
# file system can be made here.
# usage: pdf_full_disk.sh TALVO_TOOLS TEST_FILES_DIR
set -u
tools=$1 files=$2
if [ "${3:-}" != --inside ]; then
  command -v unshare >/dev/null || { echo "no unshare here: a small file system cannot be made"; exit 77; }
  unshare --user --map-root-user --mount true 2>/dev/null ||
    { echo "no user and mount namespace here: a small file system cannot be made"; exit 77; }
  exec unshare --user --map-root-user --mount bash "$0" "$tools" "$files" --inside
fi
work=$(mktemp -d)
trap 'umount "$work/disk" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
inputs=()
for i in 1 2 3 4 5; do
  cp "$files/lab_xy/zro2_mo.xy" "p$i.xy"
  inputs+=("p$i.xy")
done
options=(--composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 --wavelength 0.71073)
for w in none lorch; do
  "$tools" pdf "${inputs[@]}" "${options[@]}" --window $w -o "$w/out/" >/dev/null 2>&1 || { echo "the series failed"; exit 1; }
done
# A set's room on a tmpfs: its files in whole pages.
set_kb=0
for w in none lorch; do
  kb=0
  for f in "$w"/out/p1.*; do kb=$((kb + ($(stat -c %s "$f") + 4095) / 4096 * 4)); done
  [ $kb -gt $set_kb ] && set_kb=$kb
done
# The five sets and room for one and a half more (and the folder's lists).
size_kb=$((5 * set_kb + 3 * set_kb / 2 + 64))
mkdir disk
mount -t tmpfs -o "size=${size_kb}k" tmpfs disk 2>/dev/null ||
  { echo "a tmpfs cannot be mounted here: a small file system cannot be made"; exit 77; }
fail=0
step=0
for run in "none 2" "lorch 2" "none 1" "lorch 1"; do
  read -r w jobs <<<"$run"
  step=$((step + 1))
  "$tools" pdf "${inputs[@]}" "${options[@]}" --window "$w" -j "$jobs" -o disk/out/ >/dev/null 2>err
  status=$?
  [ $status = 0 ] || { echo "run $step (--window $w -j $jobs) on $size_kb kB for five sets of $set_kb kB: exit $status"
                       grep -v warning err | head -6; fail=1; }
  for f in "$w"/out/*; do
    cmp -s "$f" "disk/out/${f#"$w"/out/}" || { echo "run $step: disk/out/${f#"$w"/out/} is not the --window $w run's"; fail=1; }
  done
  left=$(ls -A disk/out | grep '^\.')
  [ -z "$left" ] || { echo "run $step: left $left"; fail=1; }
done
[ $fail = 0 ] && echo "a series of five reran four times on a file system of $size_kb kB (a set takes $set_kb kB)"
exit $fail
