#!/usr/bin/env bash
# talvo-tools pdf killed (SIGKILL or SIGHUP) at random moments, most of them while its six files are written
# and put in place: the files under their names are always one run's whole set, the previous run's or the
# new one's. Runs alternate between two windows, so each file says by its content which run wrote it.
# SIGHUP waits while the names change. SIGKILL cannot be caught: a run killed between two renames leaves its
# list of renames, and the next run in the folder makes them first; the set is checked once that is done.
# usage: pdf_killed_runs.sh TALVO_TOOLS TEST_FILES_DIR [KILLS] [SECONDS]
set -u
tools=$1 files=$2 kills=${3:-150} budget=${4:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$files/lab_xy/zro2_mo.xy" .
run() {  # run WINDOW [PREFIX]
  # exec: a run in the background is the process itself, which the kills reach.
  exec "$tools" pdf zro2_mo.xy --composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 \
    --wavelength 0.71073 --window "$1" -o "${2:-out}" >/dev/null 2>&1
}
kinds=(iq sq fq gr gofr rdf)
mkdir none lorch
(run none) && mv out.* none/ && (run lorch) && mv out.* lorch/ || { echo "a whole run failed"; exit 1; }

# The set under the names: "none", "lorch", or what is wrong with it.
set_of() {
  local first="" k w
  for k in "${kinds[@]}"; do
    if cmp -s "out.$k" "none/out.$k"; then w=none
    elif cmp -s "out.$k" "lorch/out.$k"; then w=lorch
    else echo "out.$k is neither run's"; return; fi
    [ -z "$first" ] && first=$w
    [ "$w" = "$first" ] || { echo "out.$k is the $w run's beside out.${kinds[0]} of the $first run"; return; }
  done
  echo "$first"
}

# How long a whole run takes here (the shortest of three).
run_ms=
for _ in 1 2 3; do
  start=$(date +%s%N)
  (run none) || { echo "a whole run failed"; exit 1; }
  ms=$((($(date +%s%N) - start) / 1000000 + 1))
  [ -n "$run_ms" ] && [ "$run_ms" -le "$ms" ] || run_ms=$ms
done

fail=0 done_kills=0 ended=0 lists=0 window=lorch
deadline=$((SECONDS + budget))
while [ $done_kills -lt "$kills" ] && [ $SECONDS -lt $deadline ]; do
  window=$([ $window = none ] && echo lorch || echo none)
  signal=$([ $((done_kills % 2)) = 0 ] && echo KILL || echo HUP)
  run "$window" &
  pid=$!
  delay_ms=$((RANDOM % (run_ms + 1)))
  sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
  kill -s "$signal" "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null
  status=$?
  [ $status = 137 ] || [ $status = 129 ] || ended=$((ended + 1))
  done_kills=$((done_kills + 1))
  if ls -A | grep -q '^\.talvo-set\..*\.list$'; then
    # Killed between two renames: only SIGKILL can do that.
    [ "$signal" = KILL ] || { echo "SIGHUP after $delay_ms ms left a list of renames"; fail=1; }
    lists=$((lists + 1))
    (run "$window") || { echo "the run after kill $done_kills failed"; fail=1; }
  fi
  for f in $(ls -A | grep '^\.'); do
    case $f in
      .out.*.??????) ;;  # a whole file linked under its hidden name for the instant before its rename
      *) echo "kill $done_kills ($signal after $delay_ms ms): left $f"; fail=1 ;;
    esac
  done
  got=$(set_of)
  case $got in
    none | lorch) ;;
    *) echo "kill $done_kills ($signal after $delay_ms ms): $got"; fail=1 ;;
  esac
done
(run none) || { echo "the run after the kills failed"; fail=1; }
[ "$(set_of)" = none ] || { echo "the last run's set: $(set_of)"; fail=1; }
left=$(ls -A | grep '^\.')
[ -z "$left" ] || { echo "left after a whole run: $left"; fail=1; }
[ $fail = 0 ] && echo "$done_kills runs killed (a run takes about $run_ms ms; $ended ended first, $lists between" \
  "two renames): every set whole"
exit $fail
