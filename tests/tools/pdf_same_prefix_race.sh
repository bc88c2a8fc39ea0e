#!/usr/bin/env bash
# Four talvo-tools pdf runs started together with the same -o, two with one window and two with another:
# whichever finishes last, the six files left are all one run's, never files of two runs side by side.
# usage: pdf_same_prefix_race.sh TALVO_TOOLS TEST_FILES_DIR [ROUNDS]
set -u
tools=$1 files=$2 rounds=${3:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$files/lab_xy/zro2_mo.xy" .
run() {
  # exec: a run in the background is the process itself, which the kills reach.
  exec "$tools" pdf zro2_mo.xy --composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 \
    --wavelength 0.71073 --window "$1" -o "${2:-shared}" >/dev/null 2>&1
}
kinds=(iq sq fq gr gofr rdf)
mkdir none lorch
(run none) && mv shared.* none/ && (run lorch) && mv shared.* lorch/ || { echo "a whole run failed"; exit 1; }
fail=0 mixed=0
for ((i = 1; i <= rounds; i++)); do
  rm -f shared.*
  pids=()
  for w in none lorch none lorch; do
    run "$w" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || { echo "round $i: a run failed"; fail=1; }; done
  first=
  for k in "${kinds[@]}"; do
    if cmp -s "shared.$k" "none/shared.$k"; then w=none
    elif cmp -s "shared.$k" "lorch/shared.$k"; then w=lorch
    else echo "round $i: shared.$k is no run's"; fail=1; continue; fi
    [ -z "$first" ] && first=$w
    [ "$w" = "$first" ] || { mixed=$((mixed + 1)); break; }
  done
done
[ $mixed = 0 ] || { echo "$mixed of $rounds rounds left files of two runs under one prefix"; fail=1; }
left=$(ls -A | grep '^\.')
[ -z "$left" ] || { echo "temporary files left: $left"; fail=1; }
[ $fail = 0 ] && echo "$rounds rounds of four racing runs each left one run's six files"
exit $fail
