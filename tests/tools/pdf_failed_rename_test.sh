#!/usr/bin/env bash
# A rename that fails while a pattern's files go in place (a file owned by another user in a sticky folder, a
# failing disk: here a shim makes one fail): the run stops that pattern's set at the failure and puts back the
# files it had renamed, says so, exits 1, and the other patterns go on. Nothing hidden is left, and a rerun
# puts the whole set in place. The failure is tried on the first, a middle and the last file of the set, over
# previous files and where there were none.
# usage: pdf_failed_rename_test.sh TALVO_TOOLS SHIM TEST_FILES_DIR
set -u
tools=$1 shim=$2 files=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
cp "$files/lab_xy/zro2_mo.xy" p1.xy
cp "$files/lab_xy/zro2_mo.xy" p2.xy
kinds=(iq sq fq gr gofr rdf)
run() {  # run WINDOW FOLDER [FAILING SUFFIX]
  LD_PRELOAD=$shim TALVO_RENAME_FAIL=${3:-} "$tools" pdf p1.xy p2.xy --composition ZrO2 --density 5.68 \
    --geometry capillary --mu-r 1.25 --wavelength 0.71073 --window "$1" -o "$2/" >/dev/null 2>err
}
# The window each file of pattern P in FOLDER says it was reduced with ("-" for none), in the order of kinds.
windows() {
  local k out=""
  for k in "${kinds[@]}"; do
    if [ -f "$1/$2.$k" ]; then out+="$(sed -n 's/^# window = //p' "$1/$2.$k" | head -1) "; else out+="- "; fi
  done
  echo "${out% }"
}
fail=0
for kind in iq fq rdf; do
  for previous in none ""; do
    dir=out_${kind}_${previous:-new}
    mkdir "$dir"
    if [ -n "$previous" ]; then run none "$dir" || { echo "the first run failed"; cat err; exit 1; }; fi
    run lorch "$dir" "p1.$kind"
    status=$?
    want="cannot write $dir/p1.$kind: Input/output error: none of the set's files was replaced, the previous ones are kept"
    [ $status = 1 ] || { echo "$dir: exit $status, not 1"; fail=1; }
    grep -qF "talvo-tools pdf: p1.xy: $want" err || { echo "$dir: not the message wanted:"; cat err; fail=1; }
    grep -qF "1 of 2 patterns failed" err || { echo "$dir: no count of the failed patterns"; fail=1; }
    kept=$( [ -n "$previous" ] && echo "none none none none none none" || echo "- - - - - -")
    [ "$(windows "$dir" p1)" = "$kept" ] || { echo "$dir: p1's files after the failure: $(windows "$dir" p1)"; fail=1; }
    [ "$(windows "$dir" p2)" = "lorch lorch lorch lorch lorch lorch" ] ||
      { echo "$dir: p2's files: $(windows "$dir" p2)"; fail=1; }
    left=$(ls -A "$dir" | grep '^\.')
    [ -z "$left" ] || { echo "$dir: left after the failure: $left"; fail=1; }
    # The same run again, nothing failing: the whole set.
    run lorch "$dir" || { echo "$dir: the rerun failed"; cat err; fail=1; }
    [ "$(windows "$dir" p1)" = "lorch lorch lorch lorch lorch lorch" ] ||
      { echo "$dir: p1's files after the rerun: $(windows "$dir" p1)"; fail=1; }
    left=$(ls -A "$dir" | grep '^\.')
    [ -z "$left" ] || { echo "$dir: left after the rerun: $left"; fail=1; }
  done
done
[ $fail = 0 ] && echo "a rename failing on the first, a middle or the last file put back the previous set every time"
exit $fail
