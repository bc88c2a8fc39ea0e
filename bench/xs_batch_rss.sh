#!/usr/bin/env bash
# Peak memory of `talvo-tools xs --batch` for 10^3 and 10^6 rows: the rows are
# written as they are made, so the peak must not grow with their number
# (target: 10^6 rows within 2x the peak of 10^3 rows).
# usage: bench/xs_batch_rss.sh TALVO_TOOLS [DATA_DIR]
set -eu
tools=$1
export G_F=${2:-$(dirname "$0")/../data/}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
formulas=(H2O D2O SiO2 Gd2O3 "CuSO4+5H2O" "Ca(OH)2" Ni0.3Ti0.7 "Li[6]0.95Li[7]0.05" Fe2O3 "Mg3(Si4O10)(OH)2")
make_batch() {  # make_batch ROWS FILE
  awk -v n="$1" -v f="${formulas[*]}" 'BEGIN { k = split(f, names, " ");
    for (i = 0; i < n; ++i) printf "%s %.6g\n", names[i % k + 1], 1 + 0.000001 * i }' >"$2"
}
peak() {  # peak FILE: the peak resident set in KiB
  /usr/bin/time -f %M "$tools" xs --batch "$1" 2>&1 >/dev/null | tail -1
}
make_batch 1000 "$work/small"
make_batch 1000000 "$work/large"
small=$(peak "$work/small")
start=$(date +%s.%N)
large=$(peak "$work/large")
seconds=$(echo "$(date +%s.%N) - $start" | bc)
ratio=$(echo "scale=2; $large / $small" | bc)
echo "xs --batch peak RSS: 10^3 rows $small KiB, 10^6 rows $large KiB (${seconds%???????} s): ratio $ratio (target <= 2)"
[ "$(echo "$ratio <= 2" | bc)" = 1 ]
