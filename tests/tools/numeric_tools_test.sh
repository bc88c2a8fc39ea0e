#!/usr/bin/env bash
# talvo-tools peak, sq2gr and filon from the outside: numbers against hand
# values, messages on standard error, exit codes, and input that is refused.
# usage: numeric_tools_test.sh TALVO_TOOLS
set -u
tools=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
say() { echo "FAIL $*"; fail=1; }

# run NAME EXPECTED_STATUS STDERR_PATTERN -- command...: leaves standard output in $out.
run() {
  local name=$1 want_status=$2 pattern=$3 status
  shift 4
  out=$("$@" 2>"$tmp/err")
  status=$?
  [ "$status" = "$want_status" ] || say "$name: status $status (want $want_status): $(head -3 "$tmp/err")"
  if [ -n "$pattern" ]; then
    grep -q -- "$pattern" "$tmp/err" || say "$name: standard error lacks \"$pattern\": $(head -3 "$tmp/err")"
  fi
}
# near NAME GOT WANT TOLERANCE
near() {
  awk -v g="$2" -v w="$3" -v t="$4" 'BEGIN { d = g - w; if (d < 0) d = -d; exit !(g != "" && d <= t) }' ||
    say "$1: got \"$2\", want $3 within $4"
}
field() { echo "$out" | awk -v row="$1" -v col="$2" 'NR == row { print $col }'; }

# Peaks: heights at the centre are 2 sqrt(ln 2 / pi) / W and 2 / (pi W).
run "gaussian" 0 "" -- "$tools" peak gaussian --center 3 --fwhm 2 --x 2:4:1
near "gaussian at C" "$(field 2 2)" 0.46971863934982566 1e-16
near "gaussian at C - W/2" "$(field 1 2)" 0.23485931967491283 1e-16
[ "$(echo "$out" | wc -l)" = 3 ] || say "gaussian: 3 rows wanted"
run "lorentzian" 0 "" -- "$tools" peak lorentzian --center 1 --fwhm 2 --x 1:1:1
near "lorentzian at C" "$(field 1 2)" 0.31830988618379069 1e-16
run "pseudo-voigt" 0 "" -- "$tools" peak pseudo-voigt --center 0 --fwhm 1 --eta 0.25 --x 0:0:1
near "pseudo-voigt at C" "$(field 1 2)" 0.8637329021166339 1e-15
run "peak x from standard input" 0 "" -- bash -c "echo 0.5 | '$tools' peak lorentzian --center 0 --fwhm 1"
near "lorentzian at half width" "$(field 1 2)" 0.31830988618379069 1e-16
run "pseudo-voigt without eta" 2 "needs it" -- "$tools" peak pseudo-voigt --center 0 --fwhm 1 --x 0:1:1
run "eta on a gaussian" 2 "belongs to pseudo-voigt" -- "$tools" peak gaussian --center 0 --fwhm 1 --eta 0.5 --x 0:1:1
run "eta out of range" 1 "between 0 and 1" -- "$tools" peak pseudo-voigt --center 0 --fwhm 1 --eta 2 --x 0:1:1
run "zero width" 1 "positive" -- "$tools" peak gaussian --center 0 --fwhm 0 --x 0:1:1
# A width so small that the peak's height overflows: refused, never inf or NaN rows.
for shape in gaussian lorentzian "pseudo-voigt --eta 0.5"; do
  # shellcheck disable=SC2086
  run "$shape of width 1e-320" 1 "height" -- "$tools" peak $shape --center 1 --fwhm 1e-320 --x 0:2:1
  [ -z "$out" ] || say "$shape of width 1e-320 printed rows: $out"
done
# A number density so small that g(r) overflows: refused, never inf rows.
printf '0 1\n0.5 1.2\n1 1.1\n1.5 1\n2 1\n' >"$tmp/sq"
run "sq2gr with rho0 1e-320" 1 "g(r)" -- "$tools" sq2gr "$tmp/sq" --rho0 1e-320 --r 0.5:1:0.5
[ -z "$out" ] || say "sq2gr with rho0 1e-320 printed rows: $out"
# A very wide Lorentzian is low but not zero: 2 / (pi W) at its centre.
run "lorentzian of width 1e308" 0 "" -- "$tools" peak lorentzian --center 0 --fwhm 1e308 --x 0:0:1
near "lorentzian of width 1e308 at its centre (x 1e308)" "$(field 1 2 | awk '{ printf "%.15g", $1 * 1e308 }')" 0.636619772367581 1e-12
run "unknown shape" 2 "unknown peak shape" -- "$tools" peak voigt --center 0 --fwhm 1 --x 0:1:1

# sq2gr of a Gaussian-broadened shell at R = 2.5 (width 0.2):
# Q (S(Q) - 1) = sqrt(2 pi) 0.2 exp(-0.02 Q^2) sin(2.5 Q), G(r) = exp(-(r-2.5)^2/0.08) - exp(-(r+2.5)^2/0.08).
awk 'BEGIN { pi = atan2(0, -1); w = 0.2; R = 2.5
  for (i = 0; i <= 4500; i++) { q = i / 100
    s = 1 + (q == 0 ? sqrt(2 * pi) * w * R : sqrt(2 * pi) * w * exp(-q * q * w * w / 2) * sin(q * R) / q)
    printf "%.2f %.17g 0.01\n", q, s } }' >"$tmp/shell.sq"
run "sq2gr shell" 0 "" -- "$tools" sq2gr "$tmp/shell.sq" --rho0 0.1 --r 2:3:0.5 --window none
[ "$(echo "$out" | wc -l)" = 3 ] || say "sq2gr shell: 3 rows wanted"
near "G(2)" "$(field 1 2)" 0.04393693362340742 2e-8
near "G(2.5)" "$(field 2 2)" 1.0 2e-8
near "g(2.5)" "$(field 2 3)" 1.3183098861837907 2e-8
[ "$(field 2 4)" != 0 ] || say "sq2gr shell: sigma_G from the sigma column wanted"
{ echo "# a comment and a blank line"; echo; cat "$tmp/shell.sq"; echo "45.01 1 0.01"; } >"$tmp/even.sq"
run "sq2gr even count" 0 "the last step is integrated exactly as the straight line through its values" -- \
  "$tools" sq2gr "$tmp/even.sq" --rho0 0.1 --r 2.5:2.5:1 --window none
near "G(2.5) with a last step where S = 1" "$(field 1 2)" 1.0 2e-8
run "sq2gr from standard input, no sigma" 0 "" -- \
  bash -c "cut -d' ' -f1,2 '$tmp/shell.sq' | '$tools' sq2gr - --rho0 0.1 --r 2.5:2.5:1"
[ "$(field 1 4)" = 0 ] || say "sq2gr without sigma: sigma_G 0 wanted, got $(field 1 4)"
printf '0 1\n0.1 1.1\n0.25 1.2\n0.3 1.1\n0.4 1\n' >"$tmp/bent.sq"
run "sq2gr unequal steps" 0 "not equally spaced (Q(3) = 0.25" -- "$tools" sq2gr "$tmp/bent.sq" --rho0 0.1 --r 1:2:1
[ "$(echo "$out" | wc -l)" = 2 ] || say "sq2gr unequal steps: 2 rows wanted"
printf '0 1\n0.1 1.1\n' >"$tmp/two.sq"
run "sq2gr two points" 1 "at least 3" -- "$tools" sq2gr "$tmp/two.sq" --rho0 0.1 --r 1:2:1
run "sq2gr r = 0" 1 "r must be positive: r(1) = 0" -- "$tools" sq2gr "$tmp/shell.sq" --rho0 0.1 --r 0:1:0.5
printf '0 1\n0.1 1.1\n0.2 x\n' >"$tmp/text.sq"
run "sq2gr bad number" 1 "line 3: not a number: \"x\"" -- "$tools" sq2gr "$tmp/text.sq" --rho0 0.1 --r 1:2:1
run "sq2gr missing file" 1 "cannot open" -- "$tools" sq2gr "$tmp/none.sq" --rho0 0.1 --r 1:2:1
run "sq2gr unknown window" 2 "unknown window: \"hann\"" -- "$tools" sq2gr "$tmp/shell.sq" --rho0 0.1 --r 1:2:1 --window hann
run "sq2gr window parameter" 1 "sq2gr: the Gaussian window needs a p1" -- \
  "$tools" sq2gr "$tmp/shell.sq" --rho0 0.1 --r 1:2:1 --window gaussian

# filon: the integral of 1 over [0, 2] with k = 1 is 1 - cos 2; with sigma 0.1 on each point
# Filon's weights alpha cos 0, gamma sin 1, -alpha cos 2 + beta sin 2 / 2 give 0.1077740453011147.
printf '0 1 0.1\n1 1 0.1\n2 1 0.1\n' >"$tmp/three"
run "filon single with errors" 0 "" -- bash -c "'$tools' filon --single 1 --errors < '$tmp/three'"
near "filon integral" "$(field 1 2)" 1.4161468365471424 1e-15
near "filon sigma" "$(field 1 3)" 0.1077740453011147 1e-15
run "filon grid with errors" 0 "" -- bash -c "'$tools' filon --k 1:1:1 --errors < '$tmp/three'"
near "filon grid sigma" "$(field 1 3)" 0.1077740453011147 1e-15
run "filon unequal steps" 1 "not equally spaced" -- bash -c "printf '0 1\n1 1\n2.5 1\n' | '$tools' filon --k 0:1:1"
run "filon unequal steps, single" 1 "not equally spaced" -- \
  bash -c "printf '0 1\n1 1\n2.5 1\n' | '$tools' filon --single 1"
run "filon even count" 0 "the last step is integrated exactly as the straight line through its values" -- \
  bash -c "printf '0 1\n1 1\n2 1\n3 1\n' | '$tools' filon --k 1:1:1"
run "filon bad number" 1 "standard input, line 3: not a number: \"2x\"" -- \
  bash -c "printf '0 1\n1 1\n2x 1\n' | '$tools' filon --k 1:1:1"
run "filon short row" 1 "line 2: 2 columns needed, 1 found" -- bash -c "printf '0 1\n1\n2 1\n' | '$tools' filon --k 1:1:1"

# A grid too large is refused before any memory is taken: a billion points in 400 MB
# (where the program runs in 400 MB at all: a sanitizer's shadow memory does not).
limit="ulimit -v 400000;"
bash -c "$limit '$tools' --version" >/dev/null 2>&1 || limit=
run "grid too large" 2 "grid too large" -- bash -c "$limit '$tools' filon --k 0:1e9:1 < /dev/null"
run "grid of overflowing length" 2 "grid too large" -- "$tools" peak gaussian --center 0 --fwhm 1 --x 0:1e308:1e-300
run "grid too large, its count readable" 2 "has 1e+30 points, at most" -- "$tools" peak gaussian --center 0 --fwhm 1 --x 0:1:1e-30
# A grid whose TO - FROM passes the largest double is named so (it has 4 points, not "inf"); a STEP
# too small to change the numbers would repeat them (1 a hundred thousand times, 1e16 thrice).
run "grid span past the doubles" 2 "TO - FROM passes the largest number" -- \
  "$tools" peak gaussian --center 0 --fwhm 1 --x -1.7e308:1.7e308:1e308
run "grid of repeated points" 2 "too small for its points to differ" -- "$tools" foq H --q 1:1.000000000000001:1e-20
run "grid of repeated large points" 2 "too small for its points to differ" -- \
  "$tools" peak gaussian --center 0 --fwhm 1 --x 1e16:1.000000000000001e16:1
run "grid of points as written" 2 "too small for its points to differ" -- \
  "$tools" foq H --q 600000000000000:600000000000001:0.1
run "grid of tiny distinct points" 0 "" -- "$tools" foq H --q 0:1e-320:1e-322
# A trailing colon is an empty field, refused as the page refuses it.
run "grid with a trailing colon" 2 "grid value is not a number" -- "$tools" foq H --q 0:1:0.5:
# The count, taken before the points, is one short where TO lies a thousandth of a step below a point:
# 0:169999.999983:0.017 has 10^7 + 1 points, one past the limit.
run "grid one past the limit" 2 "has 10000001 points, at most" -- \
  "$tools" peak gaussian --center 0 --fwhm 1 --x 0:169999.999983:0.017

# A range whose TO lies below FROM computes nothing: wrong usage, not empty output and exit 0.
for cmd in "filon --k 10:0:1" "foq H --q 3:1:1" "sq2gr - --rho0 0.1 --r 5:1:0.1" \
  "peak gaussian --center 0 --fwhm 1 --x 3:1:1" "xray-average SiO2 --q 2:1:1"; do
  run "$cmd" 2 "needs TO at or above FROM" -- bash -c "'$tools' $cmd < '$tmp/three'"
  [ -z "$out" ] || say "$cmd: no rows wanted"
done

# Points that all lie at one x span nothing: filon refuses them as sq2gr does.
printf '1 1\n1 2\n1 3\n' >"$tmp/one_x"
run "filon at one x" 1 "all 3 points are at x = 1" -- bash -c "'$tools' filon --k 0:2:1 < '$tmp/one_x'"
run "filon at one x, single" 1 "all 3 points are at x = 1" -- bash -c "'$tools' filon --single 1 < '$tmp/one_x'"
run "sq2gr at one Q" 1 "must increase" -- bash -c "'$tools' sq2gr - --rho0 0.1 --r 1:1:1 < '$tmp/one_x'"

# moq computes M point by point: on an unsorted grid the Lorch window at Q = 1 = Qmax / 2 is
# sin(pi/2) / (pi/2) = 2 / pi even after Q = 3, beyond Qmax, which is 0.
run "moq unsorted" 0 "" -- bash -c "printf '0\n3\n1\n2\n' | '$tools' moq --option 1 --qmax 2"
[ "$(field 2 2)" = 0 ] || say "moq unsorted: M(3) = $(field 2 2), want 0"
near "moq unsorted M(1)" "$(field 3 2)" 0.63661977236758134 1e-15
# Every window is 0 beyond Qmax (Lorch would be -0.047 at Q = 21 for Qmax 20, Gaussian 0.33,
# the quadratic 1.5 (1 - 21/20)^2, the sphere transforms non-zero too); at Q = 10 none is.
for opt in "1" "2" "3" "4 --p1 0.05" "5 --p1 1" "5 --p1 2 --p2 0.3" "5 --p1 3"; do
  run "moq option $opt" 0 "" -- bash -c "printf '0\n21\n10\n20\n' | '$tools' moq --option $opt --qmax 20"
  [ "$(field 2 2)" = 0 ] || say "moq option $opt: M(21) = $(field 2 2) beyond Qmax 20, want 0"
  [ "$(field 3 2)" != 0 ] || say "moq option $opt: M(10) = 0"
done
# Window parameters whose window would be NaN are refused, by the routine or as not numbers.
for opt in "4 --p1 1e200" "4 --p1 1e-200" "5 --p1 1e200" "5 --p1 2 --p2 1e307"; do
  run "moq option $opt" 1 "^talvo-tools moq: the .* window.* not p[12] = " -- \
    bash -c "printf '0\n10\n20\n' | '$tools' moq --option $opt --qmax 20"
done
run "moq Qmax 1e-320" 1 "is too small: pi / Qmax passes the double range" -- bash -c "printf '0\n10\n' | '$tools' moq --option 1 --qmax 1e-320"
# Q is a magnitude: a negative one, even far below 0, is refused, never a window of -inf.
run "moq Q -1e300" 1 "^talvo-tools moq: Q must be a finite number at or above 0: Q(2) = -1e+300$" -- \
  bash -c "printf '0\n-1e300\n20\n' | '$tools' moq --option 3 --qmax 20"
[ -z "$out" ] || say "moq Q -1e300 printed rows: $out"
run "moq unknown option" 1 "unknown option 9: give 1 (Lorch)" -- bash -c "printf '0\n10\n' | '$tools' moq --option 9 --qmax 10"
run "moq p1 NaN" 2 "not a number: \"nan\"" -- bash -c "printf '0\n10\n' | '$tools' moq --option 4 --p1 nan --qmax 10"
run "sq2gr gaussian p1 1e200" 1 "needs a p1 whose square is a finite number above 0, not p1 = 1e+200" -- \
  "$tools" sq2gr "$tmp/shell.sq" --rho0 0.1 --r 1:2:1 --window gaussian --p1 1e200

# sq2gr integrates only up to Qmax. Q (S(Q) - 1) = sin(2Q) / 2 on a grid to Q = 30, Gaussian window
# exp(-0.0025 Q^2) (0.37 at Q = 20) closing at --qmax 20: against Simpson's rule over [0, 20]
# with 20000 panels, and against the same data cut at Q = 20.
awk 'BEGIN { for (i = 0; i <= 3000; i++) { q = i / 100; printf "%.2f %.17g\n", q, q == 0 ? 2 : 1 + sin(2 * q) / (2 * q) } }' \
  >"$tmp/long.sq"
head -2001 "$tmp/long.sq" >"$tmp/cut.sq"
for r in 0.39 2.7; do
  want=$(awk -v r="$r" 'function f(q) { return sin(2 * q) / 2 * exp(-0.0025 * q * q) * sin(q * r) }
    BEGIN { n = 20000; h = 20 / n; s = f(0) + f(20)
      for (i = 1; i < n; i++) s += (i % 2 ? 4 : 2) * f(i * h)
      printf "%.17g", 2 / atan2(0, -1) * s * h / 3 }')
  run "sq2gr to Qmax, r = $r" 0 "" -- "$tools" sq2gr "$tmp/long.sq" --rho0 0.1 --r "$r:$r:1" --window gaussian \
    --p1 0.05 --qmax 20
  near "G($r) up to Qmax 20" "$(field 1 2)" "$want" 1e-8
  long=$(field 1 2)
  run "sq2gr of data cut at Qmax, r = $r" 0 "" -- "$tools" sq2gr "$tmp/cut.sq" --rho0 0.1 --r "$r:$r:1" \
    --window gaussian --p1 0.05 --qmax 20
  [ "$(field 1 2)" = "$long" ] || say "sq2gr r = $r: $long on data to 30, $(field 1 2) on data cut at Qmax"
done

for sub in peak sq2gr; do
  "$tools" "$sub" --help | grep -q "usage: talvo-tools $sub" || say "$sub --help"
done
[ $fail = 0 ] && echo "numeric talvo-tools checks passed"
exit $fail
