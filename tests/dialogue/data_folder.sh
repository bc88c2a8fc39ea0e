#!/usr/bin/env bash
# G_F names the data folder with or without its trailing "/", however long.
# usage: data_folder.sh TALVO DATA_DIR
set -u
talvo=$1 data=$2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder=$work/$(printf 'd%.0s' {1..120})/data
mkdir -p "$folder" "$work/run"
for f in sears91.dat sears.ascii at_weights.dat; do cp "$data/$f" "$folder/"; done
for g_f in "$folder" "$folder/"; do
  out=$(cd "$work/run" && printf '1\n\n1\nFe 1\n7.874\niron\n' | G_F=$g_f "$talvo"); status=$?
  [ $status = 0 ] || { echo "FAIL G_F=$g_f: exit status $status"; fail=1; }
  grep -qF " Default cross-section data file is $folder/sears91.dat" <<<"$out" || { echo "FAIL G_F=$g_f: data file"; echo "$out" | head -14; fail=1; }
  rm -f "$work/run/iron.talvo" "$work/run/iron.sample"
done
[ $fail = 0 ] && echo "long data folders work, with or without their /"
exit $fail
