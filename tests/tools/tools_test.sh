#!/usr/bin/env bash
# talvo-tools from the outside: output rows, exit codes and the grid rule.
# usage: tools_test.sh TALVO_TOOLS FILES_DIR
set -u
tools=$1 files=$2
fail=0
check() {  # check NAME EXPECTED_STATUS EXPECTED_OUTPUT -- command...
  local name=$1 want_status=$2 want=$3
  shift 4
  local got status
  got=$("$@" 2>/dev/null)
  status=$?
  if [ "$status" != "$want_status" ] || [ "$got" != "$want" ]; then
    echo "FAIL $name: status $status (want $want_status)"; echo "got:"; echo "$got"; echo "want:"; echo "$want"; fail=1
  fi
}
check "element by symbol" 0 "Fe 26 55.847" -- "$tools" element fe
check "element by Z" 0 "H 1 1.0079" -- "$tools" element --z 1
check "unknown element" 1 "" -- "$tools" element Qq
check "density" 0 "0.1002843439358346" -- "$tools" density 1.0 H 2 O 1
check "density back" 0 "1" -- "$tools" density -0.1002843439358346 H 2 O 1
check "foq grid includes TO" 0 "$(printf '0 0.999978\n1 0.8734591\n2 0.61031395')" -- "$tools" foq H --q 0:2:1
check "foq from stdin" 0 "0 0.999978" -- bash -c "echo 0 | '$tools' foq H"
check "foq warning still prints" 0 "80 4.9e-05" -- "$tools" foq H --q 80:80:1
check "foq bad table" 2 "" -- "$tools" foq H --table xx
check "foq unknown element" 1 "" -- "$tools" foq D
check "moq" 0 "$(printf '1 1\n2 1\n3 1\n4 0')" -- bash -c "printf '1\n2\n3\n4\n' | '$tools' moq --option 2 --qmax 3"
check "moq histogram" 0 "$(printf '1.5 1\n2.5 1\n3.5 0')" -- bash -c "printf '1\n2\n3\n4\n' | '$tools' moq --option 2 --qmax 3 --histogram"
check "moq error" 1 "" -- bash -c "printf '1\n2\n' | '$tools' moq --option 9 --qmax 2"
check "filon single" 0 "0 0" -- bash -c "printf '0 1\n1 1\n2 1\n' | '$tools' filon --single 0"
check "filon even single" 1 "" -- bash -c "printf '0 1\n1 1\n' | '$tools' filon --single 1"
check "filon usage" 2 "" -- bash -c "printf '0 1\n' | '$tools' filon"
check "line too long" 1 "" -- bash -c "{ printf '1 '; head -c 70000 /dev/zero | tr '\\0' 1; echo; } | '$tools' moq --option 2 --qmax 3"
check "xrdml" 0 "$(printf '# wavelength 1.540598\n# scans 1\n5.00835563 1719 41.46082488325576')" -- bash -c "'$tools' xrdml '$files/xrdml/single_scan_intensities.xrdml' | head -3"
# filon_ft computes in single precision: its integral prints as the shortest text of that float
# (the float nearest 1 - cos 2 is 1.41614687442779541015625); --single computes in double, one rounding from 1 - cos 2.
check "filon single-precision shortest" 0 "1 1.4161469" -- bash -c "printf '0 1\\n1 1\\n2 1\\n' | '$tools' filon --k 1:1:1"
check "filon double shortest" 0 "1 1.4161468365471426" -- bash -c "printf '0 1\\n1 1\\n2 1\\n' | '$tools' filon --single 1"
# A mistyped option is a usage error: --tabel it must not give the other table's numbers.
for sub in "foq H --tabel it --q 0:1:1" "xs H2O --densty 1" "element Fe --Z 26" "filon --k 1:1:1 --error"; do
  # shellcheck disable=SC2086
  out=$(echo "0 1" | "$tools" $sub 2>&1 >/dev/null); status=$?
  [ $status = 2 ] && grep -q "unknown option" <<<"$out" || { echo "FAIL unknown option in '$sub': status $status"; fail=1; }
done
check "xrdml missing" 1 "" -- "$tools" xrdml /no/such/file.xrdml
# errs NAME EXPECTED_STATUS STDERR_PATTERN -- command...: the status and a message that says why.
errs() {
  local name=$1 want_status=$2 pattern=$3 err status
  shift 4
  err=$("$@" 2>&1 >/dev/null)
  status=$?
  [ "$status" = "$want_status" ] && grep -q -- "$pattern" <<<"$err" ||
    { echo "FAIL $name: status $status (want $want_status), message: $err"; fail=1; }
}
# Amounts that give no density: negative, or whose sums pass the range of numbers; the message names the amount.
errs "density negative amount" 1 "amount of H, -2, must be a finite number not below 0" -- "$tools" density 1.0 H -2 O 1
errs "density amount too large" 1 "amount of O, 1e+308, is too large" -- "$tools" density 1.0 H 2 O 1e308
errs "density result too large" 1 "beyond the range of numbers" -- "$tools" density -1e308 U 1
errs "density amount NaN" 2 "AMOUNT is not a number: \"nan\"" -- "$tools" density 1.0 H nan O 1
errs "density amount inf" 2 "AMOUNT is not a number: \"inf\"" -- "$tools" density 1.0 H inf O 1
check "density zero amount" 0 "$("$tools" density 1.0 O 1)" -- "$tools" density 1.0 H 0 O 1
# Memory: a result larger than the library takes is refused before memory is taken (40 elements
# have 820 weights: 1.3 GB at 2e5 Q), and memory that runs out is an error with exit 1, never an abort.
forty=HHeLiBeBCNOFNeNaMgAlSiPSClArKCaScTiVCrMnFeCoNiCuZnGaGeAsSeBrKrRbSrYZr
errs "xray-average too large" 1 "820 weights at 200000 Q), more than 134217728: at most 163083 Q" -- \
  "$tools" xray-average $forty --q 0:19.9999:0.0001
if bash -c "ulimit -v 300000; '$tools' --version; exit \$?" >/dev/null 2>&1; then
  errs "xray-average out of memory" 1 "xray-average: out of memory" -- \
    bash -c "ulimit -v 300000; '$tools' xray-average HHeLiBeBCNOFNe --q 0:99.9999:0.0001"
  errs "grid out of memory" 1 "^talvo-tools peak: out of memory$" -- \
    bash -c "ulimit -v 60000; '$tools' peak gaussian --center 0 --fwhm 1 --x 0:1:2e-7"
else
  echo "skipped the out-of-memory checks: this build cannot start under ulimit -v (sanitizer shadow memory)"
fi
check "no subcommand" 2 "" -- "$tools"
for sub in foq element density xrdml moq filon pdf; do
  "$tools" "$sub" --help | grep -q "usage: talvo-tools $sub" || { echo "FAIL $sub --help"; fail=1; }
done
"$tools" --version | grep -q '^talvo-tools [0-9]' || { echo "FAIL --version"; fail=1; }
# The subcommand list: every summary starts in one column, the longest name's (xray-average) too.
"$tools" --help | awk '/^subcommands:/ { on = 1; next } /^[^ ]/ { on = 0 } on {
    match($0, /^  [^ ]+ +/); if (col == "") col = RLENGTH; else if (RLENGTH != col) bad = bad " " $1; n++ }
  END { exit !(n >= 13 && bad == "") }' || { echo "FAIL --help: the summaries are not in one column"; fail=1; }
[ $fail = 0 ] && echo "talvo-tools checks passed"
exit $fail
