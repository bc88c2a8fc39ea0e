#!/usr/bin/env bash
# talvo-tools foq, element, xray-average, xray and compton from the outside:
# rows, comment lines, messages on standard error and exit codes.
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
  "talvo-tools foq: warning: the International Tables coefficients are fitted up to Q = 8 pi = 25.13 per Angstrom" -- \
  "$tools" foq H --table it --q 25.5:25.5:1
check "foq wk beyond its fit" 0 "80 4.9e-05" \
  "talvo-tools foq: warning: the Waasmaier-Kirfel coefficients are fitted up to Q = 24 pi = 75.40 per Angstrom" -- \
  "$tools" foq H --q 80:80:1
grep -q "Error 9" "$err" && { echo "FAIL foq: the routine's Error 9 on standard error"; fail=1; }
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
  "talvo-tools xray-average: warning: the International Tables coefficients are fitted up to Q = 8 pi" -- \
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
check "xray-average isotope mass" 1 "" "no mass is listed for the isotope Li[5]: give the number density instead" -- \
  "$tools" xray-average 'Li[5]F' --q 0:1:1 --density 2.6
# Listed isotopes weigh their NIST mass: 7Li 7.016004, F 18.9984, n = 2.6 / (1.66053906660 * 26.014404 / 2).
t0=$("$tools" xray-average 'Li[7]F' --q 0:0:1 --density 2.6 2>"$err" | sed -n 1p)
case $t0 in
  *", n 0.1203761268"*" atoms/A^3)") ;;
  *) echo "FAIL xray-average Li[7]F density: $t0"; cat "$err"; fail=1 ;;
esac
check "xray-average count beyond the range" 1 "" "the count of H comes to 1e+108, beyond 1e-100 to 1e100" -- \
  "$tools" xray-average "$(printf '(%.0s' {1..11})H1000000000$(printf ')1000000000%.0s' {1..11})" --q 0:1:1
check "xray-average no formula" 2 "" "give one FORMULA" -- "$tools" xray-average --q 0:1:1
check "xray-average bad table" 2 "" "--table is wk or it" -- "$tools" xray-average SiO2 --table xx --q 0:1:1

"$tools" --help | grep -q "^  xray-average " || { echo "FAIL xray-average missing from --help"; fail=1; }
"$tools" xray-average --help | grep -q "usage: talvo-tools xray-average" || { echo "FAIL xray-average --help"; fail=1; }
# Ions: O2- at Q = 0 is c + sum a of its published coefficients,
# 0.025429 + 3.990247 + 2.300563 + 0.607200 + 1.907882 + 1.167080 = 9.998401.
check "foq O2-" 0 "0 9.998401" "" -- "$tools" foq O2- --q 0:0:1
check "foq Fe+3 is Fe3+" 0 "$("$tools" foq Fe3+ --q 0:2:1 2>/dev/null)" "" -- "$tools" foq Fe+3 --q 0:2:1
check "foq ion the table lacks" 1 "" "the ion Fe5+ (the table has Fe2+, Fe3+)" -- "$tools" foq Fe5+ --q 0:1:1
check "foq ion with it" 2 "" "ions are in the Waasmaier-Kirfel table only" -- "$tools" foq O2- --table it --q 0:1:1
check "foq ion from a file" 2 "" "held in the program only" -- "$tools" foq O2- --source file --q 0:1:1
check "foq cval is Cval" 0 "$("$tools" foq Cval --q 0:2:1 2>/dev/null)" "" -- "$tools" foq cval --q 0:2:1

# Al{3+}2O{2-}3 at Q = 0: f(0) of Al3+ is 0.019397 + 4.132015 + 0.912049 + 1.102425 + 0.614876 + 3.219136
# = 9.999898, of O2- 9.998401; c = 0.4 and 0.6.
out=$("$tools" xray-average "Al{3+}2O{2-}3" --q 0:0:1 2>"$err")
status=$?
[ "$status" = 0 ] && [ ! -s "$err" ] || { echo "FAIL xray-average ions: status $status"; cat "$err"; fail=1; }
[ "$(sed -n 1p <<<"$out")" = "# Q <f2> <f>2 w_Al3+-Al3+ w_O2--O2- w_Al3+-O2-" ] || { echo "FAIL ion columns: $out"; fail=1; }
awk 'NR == 2 { f2 = 0.4 * 9.999898^2 + 0.6 * 9.998401^2; fm = (0.4 * 9.999898 + 0.6 * 9.998401)^2
  exit !(($2 - f2)^2 < 1e-20 * f2^2 && ($3 - fm)^2 < 1e-20 * fm^2) }' <<<"$out" ||
  { echo "FAIL xray-average ions at Q = 0: $out"; fail=1; }
out=$("$tools" xray-average "Fe{3+}2O{2-}3" --q 0:0:1 --anode Cu 2>"$err")
grep -q "^# at 8.04778 keV (f_table = henke93), f' f'': Fe3+ -" <<<"$out" || { echo "FAIL xray-average --anode: $out"; fail=1; }
check "xray-average energy beyond the tables" 1 "" \
  "the energy 500 keV is outside the tables' 10 eV to 432.9451 keV (Henke's to 30 keV, Chantler's FFAST above)" -- \
  "$tools" xray-average SiO2 --q 0:1:1 --energy 500
out=$("$tools" xray-average SiO2 --q 0:0:1 --energy 60 2>"$err")
grep -q "^# at 60 keV (f_table = chantler-ffast), f' f'': Si 0.0129" <<<"$out" ||
  { echo "FAIL xray-average at 60 keV: $out"; cat "$err"; fail=1; }
check "xray-average two energies" 2 "" "give one of --energy, --wavelength and --anode" -- \
  "$tools" xray-average SiO2 --q 0:1:1 --energy 8 --anode Cu

# xray: one JSON object with the energy and wavelength first and xs's keys.
json=$("$tools" xray Gd2O3 --anode Cu --density 7.41 --json 2>"$err")
status=$?
[ "$status" = 0 ] && [ ! -s "$err" ] || { echo "FAIL xray --json: status $status"; cat "$err"; fail=1; }
python3 -c '
import json, sys
m = json.loads(sys.argv[1])
keys = list(m)
assert keys[:2] == ["energy", "wavelength"], keys
assert m["energy"] == 8.04778 and abs(m["wavelength"] - 1.54060) < 1e-5, m
for k in ("number_density", "sld", "sld_im", "mu_photo", "mu_total", "transmission"):
    assert k in m, k
assert m["transmission"] is None and m["sld"] > 40 and m["mu_total"] > m["mu_photo"] > 0, m
assert [e["symbol"] for e in m["elements"]] == ["Gd", "O"], m
' "$json" || { echo "FAIL xray --json: $json"; fail=1; }
out=$("$tools" xray SiO2 --energy 8.048 --density 2.2 --thickness 0.01 2>"$err")
for name in "energy" "sld" "sld_im" "critical_angle" "mu_total" "attenuation_length" "transmission" "Si f1"; do
  grep -q "^$name  *[0-9]" <<<"$out" || { echo "FAIL xray plain lacks $name: $out"; fail=1; }
done
# Plain numbers have 6 significant digits as xs's do (--digits N for more); JSON the shortest text of the double.
# The wavelength of 8.04778 keV is 12.398419843320026 / 8.04778 = 1.540601239512... A.
out=$("$tools" xray SiO2 --energy 8.04778 2>"$err")
grep -q "^wavelength  *1.5406  *A$" <<<"$out" || { echo "FAIL xray plain 6 digits: $out"; fail=1; }
out=$("$tools" xray SiO2 --energy 8.04778 --digits 12 2>"$err")
grep -q "^wavelength  *1.54060123951  *A$" <<<"$out" || { echo "FAIL xray --digits 12: $out"; fail=1; }
json=$("$tools" xray SiO2 --energy 8.04778 --json --digits 3 2>"$err")
python3 -c '
import json, sys
m = json.loads(sys.argv[1])
assert m["wavelength"] == 12.398419843320026 / 8.04778, m["wavelength"]
' "$json" || { echo "FAIL xray --json keeps every digit: $json"; fail=1; }
check "xray --digits 0" 2 "" "--digits must be 1 to 17" -- "$tools" xray SiO2 --energy 8 --digits 0
check "xray --digits 18" 2 "" "--digits must be 1 to 17" -- "$tools" xray SiO2 --energy 8 --digits 18
# element: the modern lookups' words, the command naming itself.
check "element unknown symbol" 1 "" "talvo-tools element: unknown element symbol \"Qq\"" -- "$tools" element Qq
check "element three letters" 1 "" "talvo-tools element: unknown element symbol \"Fex\"" -- "$tools" element Fex
check "element no such Z" 1 "" "talvo-tools element: no element with Z = 0 in the element table (Z = 1 to 96)" -- \
  "$tools" element --z 0
check "element D" 0 "D 1 2.016" "" -- "$tools" element d
check "xray by wavelength" 0 "$("$tools" xray SiO2 --energy 8.04778 --density 2.2 2>/dev/null)" "" -- \
  "$tools" xray SiO2 --wavelength "$(python3 -c 'print(12.398419843320026 / 8.04778)')" --density 2.2
check "xray no energy" 2 "" "give --energy E (keV), --wavelength L (Angstrom) or --anode NAME" -- "$tools" xray SiO2
check "xray unknown anode" 1 "" "talvo-tools xray: no anode \"Zn\"" -- "$tools" xray SiO2 --anode Zn
# Above Henke's 30 keV, Chantler's FFAST, and the output says so (W K alpha 1, a synchrotron's 60 keV).
for source in "--anode W" "--energy 60"; do
  # shellcheck disable=SC2086
  out=$("$tools" xray SiO2 $source --density 2.2 2>"$err")
  status=$?
  [ "$status" = 0 ] && [ ! -s "$err" ] && grep -q "^f_table  *chantler-ffast$" <<<"$out" &&
    grep -q "^mu_total  *0\.5" <<<"$out" || { echo "FAIL xray SiO2 $source: status $status"; echo "$out"; cat "$err"; fail=1; }
done
grep -q '"f_table": "henke93"' <<<"$("$tools" xray SiO2 --anode Cu --json)" || { echo "FAIL xray f_table in JSON"; fail=1; }
check "xray beyond U" 1 "" "not Pu (Z = 94)" -- "$tools" xray PuO2 --anode Cu
check "xray empty formula" 1 "" "talvo-tools xray: empty formula" -- "$tools" xray "" --anode Cu
check "xray NaN energy" 2 "" "talvo-tools xray: --energy is not a number: \"nan\"" -- "$tools" xray SiO2 --energy nan
# Isotopes weigh their own mass: D2O at 1.107 g/cm3 has n = 1.107 / (1.66053906660 (2 * 2.014102 + 15.9994) / 3),
# Li[6]F the mass 6.015122 + 18.9984.
for args in "D2O --density 1.107" "H[2]2O --density 1.107" "Li[6]F --density 2.6"; do
  # shellcheck disable=SC2086
  json=$("$tools" xray $args --anode Cu --json 2>"$err")
  python3 -c '
import json, sys
m = json.loads(sys.argv[1])
mass = {"D2O": 2 * 2.014102 + 15.9994, "H[2]2O": 2 * 2.014102 + 15.9994, "Li[6]F": 6.015122 + 18.9984}[m["formula"]]
assert abs(m["mass"] - mass) < 1e-9, m["mass"]
n = m["density"] / (1.66053906660 * mass / m["atoms"])
assert abs(m["number_density"] - n) < 1e-15, (m["number_density"], n)
' "$json" || { echo "FAIL xray $args: $json"; cat "$err"; fail=1; }
done
check "xray unlisted isotope" 1 "" "talvo-tools xray: no mass is listed for the isotope Li[5]" -- \
  "$tools" xray 'Li[5]F' --anode Cu --density 2.6
# Below some edges f1 < 0 (Ac at 85.8491 eV: -27.1953): n > 1 and no critical angle, never NaN.
out=$("$tools" xray Ac --energy 0.0858491 --density 10 2>"$err")
grep -q "^critical_angle  *-  *degrees$" <<<"$out" || { echo "FAIL xray no critical angle: $out"; fail=1; }
grep -qi "nan\|inf" <<<"$out" && { echo "FAIL xray NaN or inf: $out"; fail=1; }
check "xray density beyond the range of numbers" 1 "" "the density 1e+308 g/cm3 gives values beyond the range" -- \
  "$tools" xray SiO2 --anode Cu --density 1e308
# Every --json output is JSON (no NaN, no Infinity), whatever the formula, energy and options.
for args in "SiO2 --anode Cu" "Gd2O3 --anode CuKa --density 7.41 --thickness 0" "Ac --energy 0.0858491 --density 10" \
  "H --energy 0.0293 --density 0.07 --thickness 1e308" "U --energy 30 --density 19.05 --thickness 1e-300" \
  "Fe{3+}2O{2-}3+5H2O --wavelength 0.7093 --density 5" "(Li[6]F)0.5(Li[7]F)0.5 --anode Mo --density 2.6"; do
  # shellcheck disable=SC2086
  json=$("$tools" xray $args --json 2>"$err")
  python3 -c '
import json, sys
def refuse(c): raise ValueError("not JSON: " + c)
json.loads(sys.argv[1], parse_constant=refuse)
' "$json" || { echo "FAIL xray $args --json is not JSON: $json"; cat "$err"; fail=1; }
done

# compton: SiO2 at x = sin(theta)/lambda = 0.5 (Q = 2 pi), where Hubbell tabulates S: Si 7.937, O 5.828.
out=$("$tools" compton SiO2 --q 6.283185307179586:6.283185307179586:1 2>"$err")
status=$?
[ "$status" = 0 ] && [ ! -s "$err" ] || { echo "FAIL compton: status $status"; cat "$err"; fail=1; }
grep -v '^#' <<<"$out" | awk '{ exit !(NF == 2 && ($2 - (7.937 + 2 * 5.828) / 3)^2 < 1e-20) }' ||
  { echo "FAIL compton SiO2 at Q = 2 pi: $out"; fail=1; }
[ "$(grep -c '^#' <<<"$out")" = 2 ] || { echo "FAIL compton comment lines: $out"; fail=1; }
out=$("$tools" compton O --q 0:20:10 --balyuzi 2>"$err")
grep -q "talvo-tools compton: warning: the Balyuzi fit holds up to sin(theta)/lambda = 1.4" "$err" ||
  { echo "FAIL compton --balyuzi beyond 1.4 does not warn"; cat "$err"; fail=1; }
[ "$(grep -vc '^#' <<<"$out")" = 3 ] || { echo "FAIL compton --balyuzi rows: $out"; fail=1; }
out=$("$tools" compton O --q 0:10:5 --wavelength 0.7093 --breit-dirac 2 2>"$err")
grep -q "^# Breit-Dirac factor (lambda/lambda')^2 at lambda = 0.7093 A" <<<"$out" ||
  { echo "FAIL compton --breit-dirac: $out"; fail=1; }
# --breit-dirac 0: S as tabulated, the header says so (the factor is below 1 at Q > 0).
out=$("$tools" compton O --q 0:10:5 --wavelength 0.7093 --breit-dirac 0 2>"$err")
plain=$("$tools" compton O --q 0:10:5 2>"$err")
grep -q "^# no Breit-Dirac factor (--breit-dirac 0) at lambda = 0.7093 A" <<<"$out" &&
  [ "$(grep -v '^#' <<<"$out")" = "$(grep -v '^#' <<<"$plain")" ] || { echo "FAIL compton --breit-dirac 0: $out"; fail=1; }
check "compton bad power" 1 "" "the Breit-Dirac power is 0 (none), 2 or 3, not 4" -- \
  "$tools" compton O --q 0:1:1 --wavelength 0.7 --breit-dirac 4
# The README's compton example runs as written, to its last row.
readme_line=$(grep -o 'talvo-tools compton SiO2 [^#]*' "$data/../README.md")
[ -n "$readme_line" ] || { echo "FAIL the README has no compton SiO2 example"; fail=1; }
# shellcheck disable=SC2086
out=$("$tools" ${readme_line#talvo-tools } 2>"$err")
status=$?
[ "$status" = 0 ] && [ ! -s "$err" ] || { echo "FAIL the README's $readme_line: status $status"; cat "$err"; fail=1; }
[ "$(grep -v '^#' <<<"$out" | tail -1 | cut -d' ' -f1)" = 17 ] || { echo "FAIL the README's compton: not to Q = 17"; fail=1; }
check "compton power without wavelength" 2 "" "--breit-dirac needs --wavelength" -- \
  "$tools" compton O --q 0:1:1 --breit-dirac 2
check "compton Q beyond 4 pi / lambda" 1 "" "is beyond 4 pi / lambda" -- "$tools" compton O --q 0:20:10 --wavelength 0.7093
check "compton unknown element" 1 "" "unknown element \"Qq\"" -- "$tools" compton Qq --q 0:1:1
check "compton negative Q" 1 "" "Q must be finite and not below 0: -1" -- sh -c "echo -1 | '$tools' compton O"

for c in xray compton; do
  "$tools" --help | grep -q "^  $c " || { echo "FAIL $c missing from --help"; fail=1; }
  "$tools" $c --help | grep -q "usage: talvo-tools $c" || { echo "FAIL $c --help"; fail=1; }
done
"$tools" xray --help | grep -qF "xray Gd2O3 --anode Cu --density 7.41 --json" || { echo "FAIL xray --help example"; fail=1; }
"$tools" foq --help | grep -qF "O2-" || { echo "FAIL foq --help names ions"; fail=1; }
"$tools" xray-average --help | grep -qF "Al{3+}2O{2-}3" || { echo "FAIL xray-average --help names ions"; fail=1; }
[ $fail = 0 ] && echo "talvo-tools X-ray checks passed"
exit $fail
