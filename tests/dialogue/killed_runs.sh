#!/usr/bin/env bash
# Runs killed with SIGKILL at random moments, most of them while the report
# is being written: the report and sample under their final names are always
# whole (the previous run's or the new one's), and no temporary file is left
# behind. SIGKILL cannot be caught: the only file a kill may leave is a whole
# one, linked under its temporary name for the instant before it is renamed
# over the old one, and the next run of that name removes it.
# usage: killed_runs.sh TALVO DATA_DIR [KILLS] [SECONDS]
set -u
talvo=$1 data=$2 kills=${3:-150} budget=${4:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data/$f" "$f"; done
# A typed 100-element isotope sample: a report of about 700 KB.
symbols=(H Li B C N O Si Fe Ni Cu)
{
  printf '2\n\n100\n'
  for i in $(seq 0 99); do echo "${symbols[i % 10]} 1 1.5"; done
  for i in $(seq 100); do echo "0 1"; done
  printf '0.5\nbig\n'
} >input

whole() {  # a report or sample (or its temporary file) that ends as a complete one does
  case $1 in
    *.talvo | .*.talvo.*) [ "$(tail -n 1 -- "$1")" = " (bound sig_incoh/4pi is incoherent scattering level)" ] ;;
    *.sample | .*.sample.*) [ "$(tail -n 1 -- "$1")" = " 0.5000000" ] ;;
    *) false ;;
  esac
}

# How long a whole run takes here (the shortest of three): the kills are
# spread over that time.
run_ms=
for _ in 1 2 3; do
  start=$(date +%s%N)
  "$talvo" <input >/dev/null 2>&1 || { echo "a whole run failed"; exit 1; }
  ms=$((($(date +%s%N) - start) / 1000000 + 1))
  [ -n "$run_ms" ] && [ "$run_ms" -le "$ms" ] || run_ms=$ms
done
whole big.talvo && whole big.sample || { echo "a whole run wrote an incomplete file"; exit 1; }

fail=0 done_kills=0 ended=0 in_commit=0
deadline=$((SECONDS + budget))
while [ $done_kills -lt "$kills" ] && [ $SECONDS -lt $deadline ]; do
  "$talvo" <input >/dev/null 2>&1 &
  pid=$!
  delay_ms=$((RANDOM % (run_ms + 1)))
  sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
  kill -s KILL "$pid" 2>/dev/null
  { wait "$pid"; } 2>/dev/null
  [ $? = 137 ] || ended=$((ended + 1))
  done_kills=$((done_kills + 1))
  for f in $(ls -A | grep '^\.'); do
    if whole "$f"; then
      in_commit=$((in_commit + 1))
    else
      echo "kill $done_kills after $delay_ms ms: left $f"; fail=1; rm -f -- "$f"
    fi
  done
  for f in big.talvo big.sample; do
    whole "$f" || { echo "kill $done_kills after $delay_ms ms: $f is not whole"; fail=1; }
  done
done
"$talvo" <input >/dev/null 2>&1 || { echo "the run after the kills failed"; fail=1; }
left=$(ls -A | grep '^\.')
[ -z "$left" ] || { echo "left after a whole run: $left"; fail=1; }
[ $fail = 0 ] && echo "$done_kills runs killed (a run takes about $run_ms ms; $ended ended first," \
  "$in_commit inside a commit): nothing left behind"
exit $fail
