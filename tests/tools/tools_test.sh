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
check "no subcommand" 2 "" -- "$tools"
for sub in foq element density xrdml moq filon pdf; do
  "$tools" "$sub" --help | grep -q "usage: talvo-tools $sub" || { echo "FAIL $sub --help"; fail=1; }
done
"$tools" --version | grep -q '^talvo-tools [0-9]' || { echo "FAIL --version"; fail=1; }
[ $fail = 0 ] && echo "talvo-tools checks passed"
exit $fail
