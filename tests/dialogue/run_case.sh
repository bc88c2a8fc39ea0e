#!/usr/bin/env bash
# Runs one scripted dialogue of talvo and compares what it printed and wrote.
#
# usage: run_case.sh TALVO CASE_DIR DATA_DIR [--update]
#
# CASE_DIR holds:
#   input            the standard input, line by line
#   expected_stdout  the whole screen transcript
#   status           the expected exit status (default 0)
#   env              optional KEY=VALUE lines for the environment
#   files/           optional files put in the working folder before the run
#   expected/        the files the run must leave (besides files/ and the data)
# The run happens in an empty folder holding links to the shipped data files.
# With --update the expected files are rewritten from the run instead.
set -u
talvo=$1 case_dir=$(cd "$2" && pwd) data_dir=$3 update=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data_dir/$f" "$work/$f"; done
[ -d "$case_dir/files" ] && cp -r "$case_dir/files/." "$work/"
before=$(cd "$work" && find . -mindepth 1 | sort)
envs=()
[ -f "$case_dir/env" ] && while IFS= read -r l; do [ -n "$l" ] && envs+=("$l"); done <"$case_dir/env"
(cd "$work" && env -u G_F "${envs[@]}" timeout 10 "$talvo" <"$case_dir/input" >"$work/.stdout" 2>"$work/.stderr")
status=$?
expected_status=$(cat "$case_dir/status" 2>/dev/null || echo 0)
after=$(cd "$work" && find . -mindepth 1 ! -name .stdout ! -name .stderr | sort)
new_files=$(comm -13 <(echo "$before") <(echo "$after"))

if [ "$update" = --update ]; then
  cp "$work/.stdout" "$case_dir/expected_stdout"
  [ "$status" = 0 ] && rm -f "$case_dir/status" || echo "$status" >"$case_dir/status"
  rm -rf "$case_dir/expected"
  if [ -n "$new_files" ]; then
    mkdir -p "$case_dir/expected"
    for f in $new_files; do cp "$work/$f" "$case_dir/expected/"; done
  fi
  exit 0
fi

fail=0
if ! diff -u "$case_dir/expected_stdout" "$work/.stdout"; then echo "screen transcript differs"; fail=1; fi
if [ "$status" != "$expected_status" ]; then echo "exit status $status, expected $expected_status"; fail=1; fi
expected_files=$( [ -d "$case_dir/expected" ] && (cd "$case_dir/expected" && find . -mindepth 1 | sort) )
if [ "$new_files" != "$expected_files" ]; then
  echo "files written: [$new_files], expected: [$expected_files]"; fail=1
fi
for f in $expected_files; do
  if ! cmp -s "$case_dir/expected/$f" "$work/$f"; then diff -u "$case_dir/expected/$f" "$work/$f"; echo "$f differs"; fail=1; fi
done
[ -s "$work/.stderr" ] && { echo "standard error:"; cat "$work/.stderr"; }
exit $fail
