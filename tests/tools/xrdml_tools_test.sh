#!/usr/bin/env bash
# talvo-tools xrdml from the outside: rows of every scan of real files (--scans),
# one scan or the sum of all (the default), and errors (exit 1, no rows) for
# input that is not a whole XRDML file or whose numbers give no finite values.
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
check_error "junk, summed" "not an XRDML file" -- "$tools" xrdml "$tmp/junk.xrdml"
check_error "one line, summed" "Too many scans in file: 91, of which this reading takes 20; --scans all reads every scan" \
  -- "$tools" xrdml "$tmp/one_line.xrdml"
check_error "cut short" "it is cut short" -- "$tools" xrdml "$tmp/cut.xrdml" --scans all
check_error "decimal comma" "scan 1, point 2: intensity \"1,1\" is not a plain non-negative number" \
  -- "$tools" xrdml "$tmp/comma.xrdml" --scans all
check_error "cps without counting time" "scan 1 gives no counting time" -- "$tools" xrdml "$tmp/no_time.xrdml" --scans all --cps
check_error "no such axis" "scan 1 has no axis Chi" -- "$tools" xrdml "$pole" --scans all --axis Chi
check_error "no such scan" "no scan 92" -- "$tools" xrdml "$pole" --scans 92
check "scans not a number" 2 "" -- "$tools" xrdml "$pole" --scans some
check "axis without scans" 2 "" -- "$tools" xrdml "$pole" --axis Phi
check "scans with --scan" 2 "" -- "$tools" xrdml "$pole" --scans all --scan 1

# The default reading takes the whole file too: one scan, or the sum of all.
single=$files/single_scan_intensities.xrdml
check "default, first rows" 0 "$(printf '# wavelength 1.540598\n# scans 1\n5.00835563 1719 41.46082488325576')" \
  -- bash -c "'$tools' xrdml '$single' | head -3"
check "default, scan 1 as --scans 1" 0 "$("$tools" xrdml "$single" --scans 1 | sed 1,3d | cut -d' ' -f2- | md5sum)" \
  -- bash -c "'$tools' xrdml '$single' --scan 1 | sed 1,2d | md5sum"
# Attributes in another order, single quotes: the same rows (not x = 0).
sed "s|<positions axis=\"2Theta\" unit=\"deg\">|<positions unit='deg' axis='2Theta'>|" "$single" >"$tmp/quotes.xrdml"
check "attributes in any order" 0 "$("$tools" xrdml "$single" | md5sum)" \
  -- bash -c "'$tools' xrdml '$tmp/quotes.xrdml' | md5sum"
# Counts behind an attenuator: y = 368505 counts times the factor 148, e = 148 sqrt(368505).
sed 's|<intensities unit="counts">54538740 |<counts>368505 |; s|</intensities>|</counts>|' "$att" >"$tmp/att_counts.xrdml"
check "default applies attenuation" 0 "$(printf '# wavelength 1.541874\n# scans 1\n0.11 54538740 89842.8267587346')" \
  -- bash -c "'$tools' xrdml '$tmp/att_counts.xrdml' | head -3"
# Two copies of the single scan, summed: y = 2 x 1719, e = sqrt(3438); per second
# over the summed 2 x 50.165 s: 3438 / 100.33 and sqrt(3438) / 100.33.
awk 'NR >= 79 && NR <= 104 { block = block $0 "\n" } { print } NR == 104 { printf "%s", block }' "$single" >"$tmp/two.xrdml"
check "two scans summed" 0 "$(printf '# wavelength 1.540598\n# scans 2\n5.00835563 3438 58.63446085707619')" \
  -- bash -c "'$tools' xrdml '$tmp/two.xrdml' | head -3"
check "two scans summed, cps" 0 "5.00835563 34.26691916674972 0.5844160356531066" \
  -- bash -c "'$tools' xrdml '$tmp/two.xrdml' --cps | sed -n 3p"
check "scan 2 of two" 0 "5.00835563 34.26691916674972 0.8264890836889417" \
  -- bash -c "'$tools' xrdml '$tmp/two.xrdml' --scan 2 --cps | sed -n 3p"
sed '0,/<startPosition>5.00835563/s|<startPosition>5.00835563|<startPosition>6.00835563|' "$tmp/two.xrdml" >"$tmp/shifted.xrdml"
check_error "scans that do not match" "Incompatible scans: point 1 of scan 2 lies at 5.00835563, not at 6.00835563" \
  -- "$tools" xrdml "$tmp/shifted.xrdml"
check_error "no scan 3" "no scan 3" -- "$tools" xrdml "$tmp/two.xrdml" --scan 3
# What the record-by-record reader let through, refused with exit 1.
sed 's|<commonCountingTime unit="seconds">50.165<|<commonCountingTime unit="seconds">0<|' "$single" >"$tmp/time0.xrdml"
sed 's|<commonCountingTime unit="seconds">50.165<|<commonCountingTime unit="seconds">-1<|' "$single" >"$tmp/time_negative.xrdml"
sed 's|>1719 1766 |>1719 -1766 |' "$single" >"$tmp/negative.xrdml"
sed 's|>1719 1766 |>1,719 1766 |' "$single" >"$tmp/comma1.xrdml"
check_error "decimal comma, summed" "point 1: intensity \"1,719\" is not a plain non-negative number" -- "$tools" xrdml "$tmp/comma1.xrdml"
check_error "counting time 0" "counting time 0, no counts per second" -- "$tools" xrdml "$tmp/time0.xrdml" --cps
check_error "counting time 0, summed" "counting time 0, no counts per second" -- "$tools" xrdml "$tmp/time0.xrdml" --scan 1 --cps
check_error "negative counting time" "counting time \"-1\" is not a plain non-negative number" -- "$tools" xrdml "$tmp/time_negative.xrdml" --cps
check_error "negative count" "point 2: intensity \"-1766\" is not a plain non-negative number" -- "$tools" xrdml "$tmp/negative.xrdml"

# Finite numbers whose arithmetic is not: refused, never printed as inf or NaN.
sed 's|<startPosition>5.00835563<|<startPosition>-1.7e308<|; s|<endPosition>80.00853080<|<endPosition>1.7e308<|' \
  "$single" >"$tmp/huge_range.xrdml"
sed 's|>148.00 148.00 |>1e308 148.00 |' "$tmp/att_counts.xrdml" >"$tmp/huge_factor.xrdml"
for how in "--scans all" "--scan 1" ""; do
  # shellcheck disable=SC2086
  check_error "huge positions $how" "point 1: the position of axis 2Theta is beyond the range of a double" \
    -- "$tools" xrdml "$tmp/huge_range.xrdml" $how
  # shellcheck disable=SC2086
  check_error "huge attenuation factor $how" "point 1: the intensity is beyond the range of a double" \
    -- "$tools" xrdml "$tmp/huge_factor.xrdml" $how
done
sed 's|>1719 1766 |>1e308 1766 |' "$tmp/two.xrdml" >"$tmp/two_huge.xrdml"  # in both scans
check "one huge count" 0 "5.00835563 1e+308 1e+154" -- bash -c "'$tools' xrdml '$tmp/two_huge.xrdml' --scan 1 | sed -n 3p"
check_error "two huge counts summed" "point 1: the sum of the scans is beyond the range of a double" \
  -- "$tools" xrdml "$tmp/two_huge.xrdml"

# Out of memory is a message and exit 1, never an abort: one scan of 8 million
# points (16 MB of text) needs 64 MB for its numbers and 192 MB for x, y and e.
# Address space limited to 60 MB fails the reading, to 150 MB the values.
{
  printf '<xrdMeasurements><scan scanAxis="2Theta"><dataPoints><positions axis="2Theta">'
  printf '<startPosition>1</startPosition><endPosition>2</endPosition></positions><intensities>'
  yes 1 | head -n 8000000 | tr '\n' ' '
  printf '</intensities></dataPoints></scan></xrdMeasurements>\n'
} >"$tmp/big.xrdml"
if (ulimit -v 60000 && "$tools" --version >/dev/null 2>&1); then
  for limit in 60000 150000; do
    out=$( (ulimit -v $limit && exec "$tools" xrdml "$tmp/big.xrdml" --scans all) 2>"$tmp/stderr")
    status=$?
    if [ $status != 1 ] || [ -n "$out" ] || ! grep -q "out of memory" "$tmp/stderr"; then
      echo "FAIL out of memory within $limit KB: status $status (want 1 and a message)"; cat "$tmp/stderr"; fail=1
    fi
  done
else
  # A sanitizer's run-time reserves terabytes of address space for itself.
  echo "note: out-of-memory checks need a build that runs within 60 MB of address space"
fi

[ $fail = 0 ] && echo "talvo-tools xrdml checks passed"
exit $fail
