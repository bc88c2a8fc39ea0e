#!/usr/bin/env bash
# Reports, sample files and the screen transcript that cannot be written completely: the run says so
# and exits non-zero, and a file of the same name from before stays as it was.
# usage: disk_full.sh TALVO DATA_DIR
set -u
talvo=$1 data=$2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data/$f" "$f"; done
water='1\n\n2\nH 2\nO 1\n1.0\nwater\n'

# 1. The report does not fit under a file-size limit of 512 bytes.
echo "previous report" >water.talvo
echo "previous sample" >water.sample
# The transcript goes through a pipe, which the limit does not cover.
out=$( (ulimit -f 1; printf "$water" | "$talvo"; echo "exit $?") | cat)
status=$(tail -n 1 <<<"$out" | cut -d' ' -f2)
[ "$status" != 0 ] || { echo "report: exit status 0 after a failed write"; fail=1; }
grep -q " Error writing data to iunit = 10" <<<"$out" || { echo "report: no message"; echo "$out" | tail -3; fail=1; }
[ "$(cat water.talvo)" = "previous report" ] || { echo "report: the previous report was damaged"; fail=1; }
[ "$(cat water.sample)" = "previous sample" ] || { echo "report: the previous sample was damaged"; fail=1; }
[ -z "$(ls -A | grep '^\.')" ] || { echo "report: temporary files left: $(ls -A | grep '^\.')"; fail=1; }

# 2. A folder has the sample's name. The name is refused when it is given and asked again: the run
# used to write the report and only then fail on the sample, leaving a new report beside an old
# sample. The previous report and the folder stay as they were.
rm -f water.sample && mkdir water.sample
out=$(printf "${water}water_2\n" | "$talvo"); status=$?
[ "$status" = 0 ] || { echo "sample: exit status $status after a second name"; fail=1; }
grep -q " water.sample is a folder: give another name" <<<"$out" || { echo "sample: no message"; fail=1; }
[ -d water.sample ] || { echo "sample: the folder was replaced"; fail=1; }
[ "$(cat water.talvo)" = "previous report" ] || { echo "sample: the report beside the folder was replaced"; fail=1; }
grep -q "Faber-Ziman" water_2.talvo && [ -s water_2.sample ] || { echo "sample: no report under the second name"; fail=1; }
[ -z "$(ls -A | grep '^\.')" ] || { echo "sample: temporary files left"; fail=1; }

# 3. The screen transcript cannot be written (a full disk, a closed output):
# the report and sample are still written, but the run must not pass for
# whole with its transcript lost.
rmdir water.sample
for target in /dev/full closed; do
  rm -f water.talvo water.sample
  if [ $target = closed ]; then
    err=$(printf "$water" | "$talvo" 2>&1 >&-); status=$?
  else
    err=$(printf "$water" | "$talvo" 2>&1 >/dev/full); status=$?
  fi
  [ "$status" != 0 ] || { echo "screen $target: exit status 0 with the transcript lost"; fail=1; }
  grep -q "^talvo: cannot write the screen output" <<<"$err" || { echo "screen $target: no message: $err"; fail=1; }
  grep -q "Faber-Ziman" water.talvo && [ -s water.sample ] || { echo "screen $target: no report or sample"; fail=1; }
done
for arg in --help --version; do
  "$talvo" $arg >/dev/full 2>/dev/null && { echo "$arg: exit status 0 into a full disk"; fail=1; }
done
[ $fail = 0 ] && echo "unwritable report, sample and screen handled"
exit $fail
