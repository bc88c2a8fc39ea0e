#!/usr/bin/env bash
# talvo-tools xrdml --scans from the outside: rows of every scan of real files,
# and errors (exit 1, no rows) for input that is not a whole XRDML file.
# usage: xrdml_tools_test.sh TALVO_TOOLS FILES_DIR
set -u
tools=$1 files=$2/xrdml
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() {  # check NAME EXPECTED_STATUS EXPECTED_OUTPUT -- command...
  local name=$1 want_status=$2 want=$3
  shift 4
  local got status
  got=$(timeout 20 "$@" 2>"$tmp/stderr")
  status=$?
  if [ "$status" != "$want_status" ] || [ "$got" != "$want" ]; then
    echo "FAIL $name: status $status (want $want_status)"; echo "got:"; echo "$got"; echo "want:"; echo "$want"
    cat "$tmp/stderr"; fail=1
  fi
}
check_error() {  # check_error NAME MESSAGE -- command...: exit 1, nothing on standard output
  local name=$1 message=$2
  shift 3
  check "$name" 1 "" -- "$@"
  grep -qF -- "$message" "$tmp/stderr" || { echo "FAIL $name: no \"$message\" in: $(cat "$tmp/stderr")"; fail=1; }
}
pole=$files/polefigure_91_scans.xrdml
rsm=$files/rsm_401_scans_list_positions.xrdml
att=$files/schema10_attenuated.xrdml

# Pole figure: 91 Phi scans of 1199 points; scan 2 tilts Psi to 1.00 and
# begins "17 12 8"; Phi runs -179.70 to 179.70 in steps of 0.3.
check "pole figure header" 0 "$(printf '# wavelength 1.541874\n# scans 91\n# scan 1 x Phi fixed 2Theta=53.686 Omega=26.843 Psi=0 X=0.43 Y=-0.17 Z=16.438\n1 -179.7 15 3.872983346207417')" \
  -- bash -c "'$tools' xrdml '$pole' --scans all | head -4"
check "pole figure rows" 0 "109109" -- bash -c "'$tools' xrdml '$pole' --scans all | grep -vc '^#'"
check "pole figure scan 2" 0 "$(printf '# scan 2 x Phi fixed 2Theta=53.686 Omega=26.843 Psi=1 X=0.43 Y=-0.17 Z=16.438\n2 -179.7 17 4.123105625617661\n2 -179.39999999999998 12 3.4641016151377544\n2 -179.1 8 2.8284271247461903')" \
  -- bash -c "'$tools' xrdml '$pole' --scans all | sed -n 1203,1206p"
check "pole figure last row" 0 "91 179.7 12 3.4641016151377544" -- bash -c "'$tools' xrdml '$pole' --scans all | tail -1"
check "pole figure by tilt" 0 "$(printf '91 90 17 4.123105625617661')" \
  -- bash -c "'$tools' xrdml '$pole' --scans 91 --axis psi | sed -n 4p"

# Reciprocal-space map: 401 scans of 255 listed 2Theta positions, Omega 33.0546 + 0.005 (k - 1).
check "map scan 401" 0 "$(printf '# scan 401 x 2Theta fixed Omega=35.0546 Phi=-1.64 Psi=0.12 X=0 Y=0 Z=17.671\n401 67.67550446 2 1.4142135623730951\n401 67.68300542 1 1')" \
  -- bash -c "'$tools' xrdml '$rsm' --scans 401 | sed -n 3,5p"
check "map rows" 0 "102255" -- bash -c "'$tools' xrdml '$rsm' --scans all | grep -vc '^#'"
check "map counts per second" 0 "1 69.58109554 1 0.7071067811865476" -- bash -c "'$tools' xrdml '$rsm' --scans 1 --cps | tail -1"

# Attenuated points: intensity 357568 behind the factor 148 at point 30,
# e = sqrt(357568 * 148); 117888 without it at point 31; 0.50 s per point.
check "attenuated error" 0 "$(printf '1 0.69 357568 7274.6177906471485\n1 0.71 117888 343.34821974199895')" \
  -- bash -c "'$tools' xrdml '$att' --scans all | sed -n 33,34p"
check "attenuated cps" 0 "1 0.69 715136 14549.235581294297" -- bash -c "'$tools' xrdml '$att' --scans all --cps | sed -n 33p"

# One line, or LF for CR-LF: the same rows.
tr -d '\r\n' <"$pole" >"$tmp/one_line.xrdml"
tr -d '\r' <"$pole" >"$tmp/lf.xrdml"
want=$("$tools" xrdml "$pole" --scans all | md5sum)
for f in one_line lf; do
  check "layout $f" 0 "$want" -- bash -c "'$tools' xrdml '$tmp/$f.xrdml' --scans all | md5sum"
done

# Errors: a message, exit 1 and no rows.
mkfifo "$tmp/fifo.xrdml"
printf 'not xml at all\n' >"$tmp/junk.xrdml"
head -c 1000000 "$rsm" >"$tmp/cut.xrdml"
sed 's|<commonCountingTime unit="seconds">0.440</commonCountingTime>||' "$files/schema15_2theta.xrdml" >"$tmp/no_time.xrdml"
sed 's|>8 11 6 10 |>8 1,1 6 10 |' "$files/schema15_2theta.xrdml" >"$tmp/comma.xrdml"
check_error "zero device" "not a regular file: /dev/zero" -- "$tools" xrdml /dev/zero --scans all
check_error "zero device, summed" "not a regular file: /dev/zero" -- "$tools" xrdml /dev/zero
check_error "fifo without writer" "not a regular file" -- "$tools" xrdml "$tmp/fifo.xrdml" --scans all
check_error "fifo, summed" "not a regular file" -- "$tools" xrdml "$tmp/fifo.xrdml"
check_error "junk" "not an XRDML file" -- "$tools" xrdml "$tmp/junk.xrdml" --scans all
check_error "junk, summed" "No scan in file" -- "$tools" xrdml "$tmp/junk.xrdml"
check_error "one line, summed" "No scan in file" -- "$tools" xrdml "$tmp/one_line.xrdml"
check_error "cut short" "it is cut short" -- "$tools" xrdml "$tmp/cut.xrdml" --scans all
check_error "decimal comma" "scan 1, point 2: intensity \"1,1\" is not a plain non-negative number" \
  -- "$tools" xrdml "$tmp/comma.xrdml" --scans all
check_error "cps without counting time" "scan 1 gives no counting time" -- "$tools" xrdml "$tmp/no_time.xrdml" --scans all --cps
check_error "no such axis" "scan 1 has no axis Chi" -- "$tools" xrdml "$pole" --scans all --axis Chi
check_error "no such scan" "no scan 92" -- "$tools" xrdml "$pole" --scans 92
check "scans not a number" 2 "" -- "$tools" xrdml "$pole" --scans some
check "axis without scans" 2 "" -- "$tools" xrdml "$pole" --axis Phi
check "scans with --scan" 2 "" -- "$tools" xrdml "$pole" --scans all --scan 1
[ $fail = 0 ] && echo "talvo-tools xrdml checks passed"
exit $fail
