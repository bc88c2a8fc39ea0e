#!/usr/bin/env bash
# talvo-tools xs from the outside: the plain lines, the JSON object, batches
# and the exit statuses.
# usage: xs_tools_test.sh TALVO_TOOLS DATA_DIR
set -u
tools=$1 data=$2
export G_F=$data
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expect_status() {  # expect_status NAME WANT -- command...
  local name=$1 want=$2
  shift 3
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" = "$want" ] || { echo "FAIL $name: exit status $got, want $want"; cat "$work/err"; fail=1; }
}

expect_status "water" 0 -- "$tools" xs H2O --density 1 --thickness 0.1
grep -q "^sld  *-0.5599164809815348  *1e-6/A2$" "$work/out" || { echo "FAIL plain sld line"; cat "$work/out"; fail=1; }
grep -q "^H-O faber_ziman  *-30.93" "$work/out" || { echo "FAIL plain partial line"; fail=1; }

expect_status "json" 0 -- "$tools" xs Gd2O3 --density 7.41 --json
python3 - "$work/out" <<'PY' || fail=1
import json, sys
m = json.load(open(sys.argv[1]))
keys = ["formula", "atoms", "mass", "wavelength", "density", "number_density", "per_atom", "sld", "sld_im",
        "mu_abs", "mu_scatt", "mu_total", "penetration_depth", "transmission", "elements", "partials"]
assert list(m) == keys, list(m)
assert list(m["per_atom"]) == ["b_coh", "b_coh_im", "b_free", "sigma_coh", "sigma_inc", "sigma_scatt",
                               "sigma_free", "sigma_abs_2200", "sigma_abs"], m["per_atom"]
assert list(m["elements"][0]) == ["symbol", "count", "fraction", "b_coh", "b_coh_im", "sigma_coh",
                                  "sigma_scatt", "sigma_abs_2200"]
assert [p["pair"] for p in m["partials"]] == ["Gd-Gd", "O-O", "Gd-O"]
assert abs(m["per_atom"]["sigma_coh"] - 14.26) < 0.005, m["per_atom"]["sigma_coh"]
assert m["transmission"] is None and m["density"] == 7.41
PY

expect_status "no formula" 2 -- "$tools" xs
expect_status "bad formula" 1 -- "$tools" xs "Ca(OH"
grep -q 'missing ")"' "$work/err" || { echo "FAIL bad formula message"; fail=1; }
expect_status "zero density" 1 -- "$tools" xs H2O --density 0
expect_status "negative density" 1 -- "$tools" xs H2O --density -2
expect_status "unknown isotope" 1 -- "$tools" xs "Fe[55]"
grep -q "isotope 55Fe is not in" "$work/err" || { echo "FAIL isotope message"; fail=1; }

printf 'H2O 1.0\n# a comment\n\nD2O\nXx2 1\nSiO2 2.2\n' >"$work/batch"
expect_status "batch" 1 -- "$tools" xs --batch "$work/batch"
[ "$(head -1 "$work/out" | cut -d, -f1-4)" = "formula,density,number_density,atoms" ] || { echo "FAIL batch header"; fail=1; }
[ "$(wc -l <"$work/out")" = 4 ] || { echo "FAIL batch rows"; cat "$work/out"; fail=1; }
grep -q "^D2O,,,3," "$work/out" || { echo "FAIL batch row without density"; fail=1; }
grep -q "batch, line 5: formula \"Xx2\": unknown element" "$work/err" || { echo "FAIL batch error line"; cat "$work/err"; fail=1; }
# The batch row gives the numbers of the single run.
sld=$("$tools" xs SiO2 --density 2.2 --json | python3 -c 'import json,sys; print(repr(json.load(sys.stdin)["sld"]))')
grep -q "^SiO2,2.2,.*,$sld," "$work/out" || { echo "FAIL batch and single run differ ($sld)"; fail=1; }

# A batch that is no regular file, or holds an endless line, is refused.
expect_status "batch device" 1 -- "$tools" xs --batch /dev/zero
grep -q "not a regular file" "$work/err" || { echo "FAIL batch device message"; fail=1; }
head -c 70000 /dev/zero | tr '\0' H >"$work/long"
expect_status "batch long line" 1 -- "$tools" xs --batch "$work/long"
grep -q "line 1: longer than 65536 characters" "$work/err" || { echo "FAIL batch long line message"; fail=1; }
# A line too long among good ones is named and left out, as a bad formula
# is; the lines around it, and after it, still give their rows.
# Lines just past the limit (65537 and 65538 characters, one more with CR-LF)
# and far past it.
hs() { head -c "$1" /dev/zero | tr '\0' H; }
{ echo H2O; hs 65537; printf '\nD2O\n'; hs 65538; printf '\nSiO2 2.2\n'; hs 65538; printf '\r\nCO2\n'
  hs 70000; printf '\nNaCl\n'; } >"$work/long_among"
expect_status "batch long line among good ones" 1 -- "$tools" xs --batch "$work/long_among"
[ "$(grep -c "^.*long_among, line [2468]: longer than 65536 characters$" "$work/err")" = 4 ] &&
  [ "$(wc -l <"$work/err")" = 4 ] || { echo "FAIL long lines among: messages"; head -c 500 "$work/err"; fail=1; }
[ "$(cut -d, -f1 "$work/out" | tr '\n' ' ')" = "formula H2O D2O SiO2 CO2 NaCl " ] ||
  { echo "FAIL long lines among: rows"; cut -c1-40 "$work/out"; fail=1; }
[ $fail = 0 ] && echo "talvo-tools xs checks passed"
exit $fail
