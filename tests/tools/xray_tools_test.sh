#!/usr/bin/env bash
# talvo-tools foq, element and xray-average from the outside: rows, comment
# lines, messages on standard error and exit codes.
# usage: xray_tools_test.sh TALVO_TOOLS DATA_DIR
set -u
tools=$1 data=$2
fail=0
err=$(mktemp)
trap 'rm -f "$err"' EXIT
# check NAME STATUS STDOUT STDERR -- command...: STDERR is a text the
# standard error must hold ("" for none at all).
check() {
  local name=$1 want_status=$2 want=$3 want_err=$4
  shift 5
  local got status
  got=$("$@" 2>"$err")
  status=$?
  local bad=""
  [ "$status" = "$want_status" ] || bad="status $status (want $want_status)"
  [ "$got" = "$want" ] || bad="$bad; output differs"
  if [ -z "$want_err" ]; then
    [ -s "$err" ] && bad="$bad; unexpected standard error"
  else
    grep -qF -- "$want_err" "$err" || bad="$bad; standard error lacks: $want_err"
  fi
  if [ -n "$bad" ]; then
    echo "FAIL $name: $bad"; echo "got:"; echo "$got"; echo "standard error:"; cat "$err"; fail=1
  fi
}

# foq: the element the table lacks is named, not the routine that looked.
check "foq unknown element" 1 "" "talvo-tools foq: no Waasmaier-Kirfel form factor for element Qq" -- \
  "$tools" foq Qq --q 0:1:1
check "foq no D in it" 1 "" "talvo-tools foq: no International Tables form factor for element D" -- \
  "$tools" foq D --table it --q 0:1:1
check "foq symbol too long" 1 "" "no Waasmaier-Kirfel form factor for element Fex" -- "$tools" foq Fex --q 0:1:1
check "foq not in the data file" 1 "" "talvo-tools foq: no form factor for element D in wk_neutral.foqdat" -- \
  env G_F="$data" "$tools" foq D --source file --q 0:1:1
check "foq no such Z" 1 "" "talvo-tools foq: no element with Z = 99" -- "$tools" foq --z 99 --q 0:1:1
grep -q '\*\*get_' "$err" && { echo "FAIL foq: a routine's message on standard error"; fail=1; }

# Single-precision values as their shortest text: H's sums, each evaluated to
# 40 digits from the coefficients rounded to single precision and rounded again.
check "foq it at zero" 0 "0 0.99995303" "" -- "$tools" foq H --table it --q 0:0:1
check "foq it inside its fit" 0 "25 0.0030385565" "" -- "$tools" foq H --table it --q 25:25:1
check "table names in either case" 0 "25 0.0030385565" "" -- "$tools" foq H --table IT --q 25:25:1
check "foq it beyond its fit" 0 "25.5 0.0030383368" \
  "talvo-tools foq: the International Tables coefficients are fitted up to Q = 8 pi = 25.13 per Angstrom" -- \
  "$tools" foq H --table it --q 25.5:25.5:1
check "foq wk at 25.5" 0 "25.5 0.00014662909" "" -- "$tools" foq H --q 25.5:25.5:1
check "element weight" 0 "U 92 238.029" "" -- "$tools" element u

# xray-average: SiO2 at Q = 0 from f(0) = c + sum a: Si 13.998917, O 7.999706,
# <f^2> = (13.998917^2 + 2 * 7.999706^2) / 3 and <f>^2 = ((13.998917 + 2 * 7.999706) / 3)^2.
out=$("$tools" xray-average SiO2 --q 0:0:1 2>"$err")
status=$?
header=$(sed -n 1p <<<"$out")
row=$(sed -n 2p <<<"$out")
[ "$status" = 0 ] && [ ! -s "$err" ] || { echo "FAIL xray-average SiO2: status $status"; cat "$err"; fail=1; }
[ "$header" = "# Q <f2> <f>2 w_Si-Si w_O-O w_Si-O" ] || { echo "FAIL xray-average columns: $header"; fail=1; }
awk '{ ok = NF == 6 && $1 == 0 && $2 == "107.986756448587" && $3 == "99.988860310249";
       s = $4 + $5 + $6; ok = ok && s > 1 - 1e-12 && s < 1 + 1e-12;
       ok = ok && $4 > 0.21776834 && $4 < 0.21776835 && $6 > 0.49777642 && $6 < 0.49777643;
       exit !ok }' <<<"$row" || { echo "FAIL xray-average SiO2 row: $row"; fail=1; }

# With a density, T0 = 4 pi <f(0)>^2 n with n = 2.2 / (1.66053906660 * 60.0843 / 3).
t0=$("$tools" xray-average SiO2 --q 1:1:1 --density 2.2 | sed -n 1p)
case $t0 in
  "# T0 83.11804399"*" electrons^2/A^3 (4 pi <f(0)>^2 n with <f(0)> 9.999443, n 0.066150606780"*" atoms/A^3)") ;;
  *) echo "FAIL xray-average T0 line: $t0"; fail=1 ;;
esac
lines=$("$tools" xray-average H2O --q 0:1:0.5 --number-density 0.1 | wc -l)
[ "$lines" = 5 ] || { echo "FAIL xray-average: $lines lines, want T0, columns and 3 rows"; fail=1; }
rows=$(printf '0.5\n# a comment\n3\n' | "$tools" xray-average Fe | awk '!/^#/ { printf "%s %s;", $1, $NF }')
[ "$rows" = "0.5 1;3 1;" ] || { echo "FAIL xray-average from standard input: $rows"; fail=1; }

check "xray-average it beyond its fit" 0 "$("$tools" xray-average C --table it --q 26:26:1 2>/dev/null)" \
  "talvo-tools xray-average: the International Tables coefficients are fitted up to Q = 8 pi" -- \
  "$tools" xray-average C --table it --q 26:26:1
check "xray-average wk at 26" 0 "$("$tools" xray-average C --q 26:26:1 2>/dev/null)" "" -- \
  "$tools" xray-average C --q 26:26:1
check "xray-average unknown element" 1 "" "talvo-tools xray-average: formula \"SiQq2\": unknown element \"Qq\"" -- \
  "$tools" xray-average SiQq2 --q 0:1:1
# No Q rows on standard input (a range with TO below FROM is wrong usage, checked with the other grids).
check "xray-average empty grid" 1 "" "talvo-tools xray-average: the Q grid is empty" -- \
  bash -c "'$tools' xray-average SiO2 < /dev/null"
check "xray-average bad density" 1 "" "the density must be above 0 g/cm3" -- \
  "$tools" xray-average SiO2 --q 0:1:1 --density 0
check "xray-average isotope mass" 1 "" "the mass of Li[7] is not known here" -- \
  "$tools" xray-average 'Li[7]F' --q 0:1:1 --density 2.6
check "xray-average no formula" 2 "" "give one FORMULA" -- "$tools" xray-average --q 0:1:1
check "xray-average bad table" 2 "" "--table is wk or it" -- "$tools" xray-average SiO2 --table xx --q 0:1:1

"$tools" --help | grep -q "^  xray-average " || { echo "FAIL xray-average missing from --help"; fail=1; }
"$tools" xray-average --help | grep -q "usage: talvo-tools xray-average" || { echo "FAIL xray-average --help"; fail=1; }
[ $fail = 0 ] && echo "talvo-tools X-ray checks passed"
exit $fail
