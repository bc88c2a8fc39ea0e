#!/usr/bin/env bash
# End-of-input sweep: every scripted dialogue is run again with its input cut
# after each line. Each run must end by itself within a second, with an exit
# status and no crash, and must leave no temporary or partial file behind.
#
# usage: sweep.sh TALVO DIALOGUE_DIR DATA_DIR
set -u
talvo=$1 dialogues=$2 data_dir=$3
fail=0 runs=0
for case_dir in "$dialogues"/*/; do
  [ -f "$case_dir/input" ] || continue
  lines=$(wc -l <"$case_dir/input")
  for ((k = 0; k < lines; k++)); do
    work=$(mktemp -d)
    for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data_dir/$f" "$work/$f"; done
    [ -d "$case_dir/files" ] && cp -r "$case_dir/files/." "$work/"
    before=$(cd "$work" && find . -mindepth 1 | sort)
    head -n "$k" "$case_dir/input" >"$work/.input"
    (cd "$work" && env -u G_F timeout 1 "$talvo" <.input >/dev/null 2>&1)
    status=$?
    runs=$((runs + 1))
    if [ "$status" -ge 124 ]; then
      echo "$(basename "$case_dir") cut after $k lines: exit status $status (hang or crash)"; fail=1
    fi
    left=$(cd "$work" && find . -mindepth 1 ! -name .input | sort | comm -13 <(echo "$before") -)
    for f in $left; do
      case "$f" in
        ./.*) echo "$(basename "$case_dir") cut after $k lines: temporary file $f left behind"; fail=1 ;;
      esac
    done
    rm -rf "$work"
  done
done
echo "$runs cut runs"
exit $fail
