#!/usr/bin/env bash
# Two runs started together under the same report name, one for iron and one
# for nickel: whichever finishes last, the report and the sample left behind
# must both be its own, never one run's report beside the other's sample.
# usage: same_name_race.sh TALVO DATA_DIR [PAIRS]
set -u
talvo=$1 data=$2 pairs=${3:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data/$f" "$f"; done
printf '1\n\n1\nFe 1\n7.874\nshared\n' >iron
printf '1\n\n1\nNi 1\n8.908\nshared\n' >nickel

# The element a report was written for, and the one a sample holds.
report_of() { sed -n 's/^ \(Fe\|Ni\)=.*/\1/p' shared.talvo; }
sample_of() { sed -n '4s/^\(Fe\|Ni\) .*/\1/p' shared.sample; }

fail=0 mixed=0
for ((i = 1; i <= pairs; i++)); do
  rm -f shared.talvo shared.sample
  "$talvo" <iron >/dev/null 2>&1 &
  a=$!
  "$talvo" <nickel >/dev/null 2>&1 &
  b=$!
  wait "$a"; sa=$?
  wait "$b"; sb=$?
  [ "$sa" = 0 ] && [ "$sb" = 0 ] || { echo "pair $i: exit statuses $sa and $sb"; fail=1; continue; }
  r=$(report_of) s=$(sample_of)
  [ -n "$r" ] && [ -n "$s" ] || { echo "pair $i: report [$r] or sample [$s] not readable"; fail=1; continue; }
  [ "$r" = "$s" ] || mixed=$((mixed + 1))
done
[ $mixed = 0 ] || { echo "$mixed of $pairs pairs left one run's report beside the other's sample"; fail=1; }
left=$(ls -A | grep '^\.')
[ -z "$left" ] || { echo "temporary files left: $left"; fail=1; }
[ $fail = 0 ] && echo "$pairs racing pairs each left a report and a sample of the same run"
exit $fail
