#!/usr/bin/env bash
# The committed data files and built-in tables are exactly what the generator
# writes from data/sources/: nobody edits one by hand.
# usage: make_data_test.sh SOURCE_DIR
set -u
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$src/scripts/make_data.py" "$work/data" --code "$work/code" || { echo "the generator failed"; exit 1; }
fail=0
for f in sears91.dat sears.ascii at_weights.dat neutron_sears92.tsv wk_neutral.foqdat it_neutral.foqdat; do
  cmp "$work/data/$f" "$src/data/$f" || { echo "data/$f is not what the generator writes"; fail=1; }
done
for f in $(cd "$work/code" && find . -type f -name '*.inc' | sed 's|^\./||' | sort); do
  cmp "$work/code/$f" "$src/talvo/$f" || { echo "talvo/$f is not what the generator writes"; fail=1; }
done
# Every file of data/ (outside its sources) comes from the generator.
for f in "$src"/data/*; do
  name=$(basename "$f")
  [ -d "$f" ] || [ "$name" = README.md ] || [ -f "$work/data/$name" ] || { echo "data/$name is not generated"; fail=1; }
done
[ $fail = 0 ] && echo "data files and built-in tables match the generator"
exit $fail
