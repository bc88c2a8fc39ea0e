#!/usr/bin/env bash
# SIGINT, SIGTERM or SIGHUP while the report is being written: the run ends by
# that signal, no temporary file is left and the previous report is intact.
# The screen goes to a FIFO that is read only up to the line that says the
# report is open, so the run is held half-way through the report (it is far
# longer than a pipe holds) until the signal comes.
# usage: interrupted_write.sh TALVO DATA_DIR
set -u
talvo=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
for f in sears91.dat sears.ascii at_weights.dat; do ln -s "$data/$f" "$f"; done
# A typed 100-element isotope sample.
symbols=(H Li B C N O Si Fe Ni Cu)
{
  printf '2\n\n100\n'
  for i in $(seq 0 99); do echo "${symbols[i % 10]} 1 1.5"; done
  for i in $(seq 100); do echo "0 1"; done
  printf '0.5\nbig\n'
} >input
mkfifo screen
fail=0
for sig in INT TERM HUP; do
  echo "previous report" >big.talvo
  # A shell starts background jobs with SIGINT ignored; the run must get the
  # signals as from a terminal.
  env --default-signal=INT,TERM,HUP "$talvo" <input >screen 2>/dev/null &
  pid=$!
  exec 3<screen
  while IFS= read -r l <&3; do
    case $l in *"Output is written to file big.talvo"*) break ;; esac
  done
  # The report is written as a file without a name in this folder (shown as
  # "#INODE (deleted)"), or under a hidden name where the system has none.
  writing=$(ls -A | grep '^\.big\.talvo\.'; for fd in /proc/"$pid"/fd/*; do readlink "$fd"; done 2>/dev/null |
    grep -F "$(pwd -P)/#")
  [ -n "$writing" ] || { echo "$sig: no report being written when the signal was to come"; fail=1; }
  kill -s "$sig" "$pid"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "$sig: the run did not end"; kill -s KILL "$pid"; fail=1
  fi
  { wait "$pid"; } 2>/dev/null
  status=$?
  exec 3<&-
  want=$((128 + $(kill -l "$sig")))
  [ "$status" = "$want" ] || { echo "$sig: exit status $status, expected $want"; fail=1; }
  left=$(ls -A | grep '^\.')
  [ -z "$left" ] || { echo "$sig: temporary files left: $left"; fail=1; }
  [ "$(cat big.talvo)" = "previous report" ] || { echo "$sig: the previous report was changed"; fail=1; }
  [ ! -e big.sample ] || { echo "$sig: a sample was saved"; fail=1; }
done
[ $fail = 0 ] && echo "interrupted reports leave the previous report and no temporary file"
exit $fail
