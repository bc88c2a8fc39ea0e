#!/usr/bin/env bash
# Reports and sample files that cannot be written completely: the run says so
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

# 2. The sample cannot be put in place (a folder has its name).
rm -f water.sample && mkdir water.sample
out=$(printf "$water" | "$talvo"); status=$?
[ "$status" != 0 ] || { echo "sample: exit status 0 after a failed write"; fail=1; }
grep -q "write_sample: Error writing file water.sample" <<<"$out" || { echo "sample: no message"; fail=1; }
[ -d water.sample ] || { echo "sample: the folder was replaced"; fail=1; }
grep -q "Faber-Ziman" water.talvo || { echo "sample: the report is not complete"; fail=1; }
[ -z "$(ls -A | grep '^\.')" ] || { echo "sample: temporary files left"; fail=1; }
[ $fail = 0 ] && echo "unwritable report and sample files handled"
exit $fail
