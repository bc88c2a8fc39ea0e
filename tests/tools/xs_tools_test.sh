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
# Six significant digits by default, more on request.
grep -q "^sld  *-0.559916  *1e-6/A2$" "$work/out" || { echo "FAIL plain sld line"; cat "$work/out"; fail=1; }
grep -q "^H-O faber_ziman  *-30.9342$" "$work/out" || { echo "FAIL plain partial line"; fail=1; }
grep -q "^note: no density" <("$tools" xs H2O) || { echo "FAIL note without a density"; fail=1; }
"$tools" xs H2O --density 1 --digits 17 | grep -q "^sld  *-0.55991648098153479  *1e-6/A2$" || { echo "FAIL --digits 17"; fail=1; }
expect_status "digits 18" 2 -- "$tools" xs H2O --digits 18
expect_status "digits 0" 2 -- "$tools" xs H2O --digits 0

expect_status "json" 0 -- "$tools" xs Gd2O3 --density 7.41 --json
python3 - "$work/out" <<'PY' || fail=1
import json, sys
m = json.load(open(sys.argv[1]))
keys = ["formula", "atoms", "mass", "wavelength", "density", "number_density", "per_atom", "sld", "sld_im",
        "mu_abs", "mu_scatt", "mu_total", "penetration_depth", "transmission", "elements", "partials"]
assert list(m) == keys + ["per_formula", "sld_inc", "absorption_length", "notes", "warnings", "units"], list(m)
assert list(m["per_atom"]) == ["b_coh", "b_coh_im", "b_free", "sigma_coh", "sigma_inc", "sigma_scatt",
                               "sigma_free", "sigma_abs_2200", "sigma_abs"], m["per_atom"]
assert list(m["elements"][0]) == ["symbol", "count", "fraction", "b_coh", "b_coh_im", "sigma_coh",
                                  "sigma_scatt", "sigma_abs_2200", "sigma_inc", "sigma_abs", "source"]
assert [p["pair"] for p in m["partials"]] == ["Gd-Gd", "O-O", "Gd-O"]
# Gd at 1.798 A from the Lynn & Seeger rows at 0.024 eV (5.14 - 13.65i fm) and 0.026 eV (5.65 - 13.76i),
# linear in E = 0.0253044 eV: 5.4726 - 13.7217i fm, 4 pi |b|^2 / 100 = 27.42 b; per atom with O's 4.2317 b.
t = (0.0253044 - 0.024) / 0.002
b = complex(5.14 + t * 0.51, -13.65 - t * 0.11)
assert abs(m["per_atom"]["sigma_coh"] - (2 * 4 * 3.14159265 * abs(b) ** 2 / 100 + 3 * 4.2317) / 5) < 0.005, m["per_atom"]
assert m["elements"][0]["source"].startswith("Lynn & Seeger 1990"), m["elements"][0]
assert m["elements"][1]["source"].startswith("Sears 1992"), m["elements"][1]
assert any("incoherent cross-section is the thermal" in n for n in m["notes"]), m["notes"]
assert m["units"]["sld_inc"] == "1e-6/A2" and m["units"]["absorption_length"] == "cm"
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
[ "$(head -1 "$work/out" | cut -d, -f1-5)" = "formula,density,wavelength,thickness,number_density" ] || { echo "FAIL batch header"; fail=1; }
[ "$(wc -l <"$work/out")" = 4 ] || { echo "FAIL batch rows"; cat "$work/out"; fail=1; }
grep -q "^D2O,,1.798,,,3," "$work/out" || { echo "FAIL batch row without density"; fail=1; }
grep -q "batch, line 5: formula \"Xx2\": unknown element" "$work/err" || { echo "FAIL batch error line"; cat "$work/err"; fail=1; }
# CSV as spreadsheets write it (RFC 4180): a byte-order mark, quoted fields (a comma, a doubled quote
# and a line end inside), CR-LF; without a header a quoted "H2O",1 is the formula H2O. A bad row is
# named after the command, the good rows are written, and the exit status is 1.
printf '\xef\xbb\xbfformula,density,note\r\n"H2O","1","a ""quoted"", note"\r\n"SiO2",2.2,"two\r\nlines"\r\n"Xx",1,\r\nD2O,1-3,\r\n' >"$work/sheet.csv"
expect_status "batch from a spreadsheet" 1 -- "$tools" xs --batch "$work/sheet.csv"
[ "$(cut -d, -f1-2 "$work/out" | tail -n +2 | tr '\n' ' ')" = "H2O,1 SiO2,2.2 " ] || { echo "FAIL spreadsheet rows"; cat "$work/out" "$work/err"; fail=1; }
grep -q "^talvo-tools xs: .*sheet.csv, line 5: formula \"Xx\": unknown element" "$work/err" || { echo "FAIL spreadsheet error line"; cat "$work/err"; fail=1; }
grep -q "^talvo-tools xs: .*sheet.csv, line 6: the density is not a number: \"1-3\"" "$work/err" || { echo "FAIL spreadsheet number"; cat "$work/err"; fail=1; }
printf '"H2O",1\n"50%%vol H2O@1 // D2O@1n"\n' >"$work/quoted"
expect_status "batch quoted without header" 0 -- "$tools" xs --batch "$work/quoted"
[ "$(cut -d, -f1-2 "$work/out" | tail -n +2 | tr '\n' ' ')" = "H2O,1 50%vol H2O@1 // D2O@1n,1.055842964939879 " ] || { echo "FAIL quoted rows"; cat "$work/out" "$work/err"; fail=1; }
# The batch row gives the numbers of the single run.
"$tools" xs --batch "$work/batch" --digits 17 >"$work/out17" 2>/dev/null
"$tools" xs SiO2 --density 2.2 --json | python3 -c '
import csv, json, sys
single = json.load(sys.stdin)
rows = {r["formula"]: r for r in csv.DictReader(open(sys.argv[1]))}
for k in ("sld", "sld_im", "sld_inc", "mu_total", "number_density"):
    assert float(rows["SiO2"][k]) == single[k], (k, rows["SiO2"][k], single[k])
' "$work/out17" || { echo "FAIL batch and single run differ"; fail=1; }

# Sweeps: one row per wavelength, arrays in JSON.
expect_status "sweep json" 0 -- "$tools" xs --wavelength 1:10:1 --json Gd2O3 --density 7.41
python3 - "$work/out" <<'PY' || fail=1
import json, sys
m = json.load(open(sys.argv[1]))
assert m["wavelength"] == [1.0 * i for i in range(1, 11)], m["wavelength"]
for k in ("sld", "sld_im", "sld_inc", "mu_abs", "mu_total", "absorption_length", "penetration_depth"):
    assert len(m[k]) == 10, k
assert len(m["per_atom"]["sigma_abs"]) == 10 and len(m["per_formula"]["sigma_abs"]) == 10
assert len(m["elements"][0]["b_coh"]) == 10 and len(m["partials"][0]["weight"]) == 10
assert m["transmission"] is None and m["density"] == 7.41
assert any(w.startswith("Gd: ") for w in m["warnings"]), m["warnings"]  # 7-10 A are past the table's 0.002 eV
PY
grep -q "warning: Gd: the energy-dependent lengths are tabulated for 0.002-0.5 eV" "$work/err" || { echo "FAIL sweep warning"; cat "$work/err"; fail=1; }
expect_status "sweep plain" 0 -- "$tools" xs --wavelength 0.5,1.798,5 Sm2O3 --density 8.35
[ "$(grep -c '^  ' "$work/out")" = 3 ] || { echo "FAIL sweep plain rows"; cat "$work/out"; fail=1; }
grep -q "warning: Sm: .* at 5 A the value at the table's end is used" "$work/err" || { echo "FAIL Sm warning"; cat "$work/err"; fail=1; }
expect_status "sweep csv" 0 -- "$tools" xs --wavelength 0.5:10:0.1 --csv H2O --density 1
[ "$(wc -l <"$work/out")" = 97 ] || { echo "FAIL sweep csv rows: $(wc -l <"$work/out")"; fail=1; }
expect_status "sweep backwards" 2 -- "$tools" xs --wavelength 10:1:1 H2O
# A range is held to the wavelengths' limit of 10^6 before any is made, and says so (not the 10^7
# points of other grids, which 1:20000000:1 passes); a count past the doubles' range is no "inf".
expect_status "sweep past the limit" 2 -- "$tools" xs --wavelength 1:20000000:1 H2O
grep -q "grid too large: \"1:20000000:1\" has 2e+07 points, at most 1e+06" "$work/err" || { echo "FAIL sweep limit"; cat "$work/err"; fail=1; }
expect_status "sweep of uncountable points" 2 -- "$tools" xs --wavelength 1:2:1e-320 H2O
grep -q "has more than 1.7976931348623157e+308 points" "$work/err" || { echo "FAIL uncountable"; cat "$work/err"; fail=1; }
# A range gives the wavelengths as written (0.05 + 6 * 0.37 in doubles is 2.2699999999999996), in the warning too.
expect_status "sweep as written" 0 -- "$tools" xs --wavelength 0.05:40:0.37 --json Gd2O3 --density 7.41
python3 - "$work/out" <<'PY' || fail=1
import json, sys
m = json.load(open(sys.argv[1]))
assert m["wavelength"][6] == 2.27 and m["wavelength"][-1] == 39.64, m["wavelength"]
assert m["wavelength"] == [round(0.05 + 0.37 * i, 2) for i in range(108)], m["wavelength"]
PY
grep -q "at 0.05 A to 39.64 A (91 wavelengths)" "$work/err" || { echo "FAIL range warning"; cat "$work/err"; fail=1; }
expect_status "cadmium" 0 -- "$tools" xs Cd --wavelength 0.7
grep -q "warning: Cd: below 1 A" "$work/err" || { echo "FAIL Cd warning"; fail=1; }

# Mixtures: the density that follows, and errors that say where.
expect_status "mixture" 0 -- "$tools" xs "50%vol H2O@1 // D2O@1n" --json
python3 -c 'import json,sys; m=json.load(open(sys.argv[1])); assert abs(m["density"]-1.05585)<1e-5 and abs(m["sld"]-2.920)<5e-4, m' "$work/out" || fail=1
expect_status "bad mixture" 1 -- "$tools" xs "60%vol H2O@1 // 50%vol D2O@1 // D2O@1"
grep -q 'component 3 ("D2O@1" at position 33): the fractions add up to 110 %' "$work/err" || { echo "FAIL mixture message"; cat "$work/err"; fail=1; }
expect_status "two densities" 1 -- "$tools" xs "D2O@1.1" --density 1.2

# A CSV batch with a header, quoted fields and missing columns reads back what it writes.
cat >"$work/in.csv" <<'CSV'
formula,density,wavelength,thickness
H2O,1,,0.1
"50%vol H2O@1 // D2O@1n",,4.5,
"Gd2O3",7.41,0.5,0.001
Fe,,,
"3 g NaCl // 97 g H2O",1.02,2,0.2
CSV
expect_status "csv batch" 0 -- "$tools" xs --batch "$work/in.csv" --wavelength 6 --thickness 0.3
cp "$work/out" "$work/once.csv"
grep -q '^H2O,1,6,0.1,' "$work/once.csv" || { echo "FAIL missing wavelength from the command line"; fail=1; }
grep -q '^Fe,7.874,6,0.3,' "$work/once.csv" || { echo "FAIL element density and command-line thickness"; cat "$work/once.csv"; fail=1; }
expect_status "csv batch again" 0 -- "$tools" xs --batch "$work/once.csv"
cmp -s "$work/out" "$work/once.csv" || { echo "FAIL batch round trip"; diff "$work/out" "$work/once.csv"; fail=1; }
expect_status "csv batch json" 0 -- "$tools" xs --batch "$work/once.csv" --json
python3 - "$work/out" <<'PY' || fail=1
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert len(rows) == 5 and rows[2]["formula"] == "Gd2O3" and rows[2]["wavelength"] == 0.5, rows
PY

printf 'formula\n# water\nH2O\n' >"$work/one_column.csv"
expect_status "csv batch of formulas alone" 0 -- "$tools" xs --batch "$work/one_column.csv" --density 1
[ "$(tail -n +2 "$work/out" | cut -d, -f1-3)" = "H2O,1,1.798" ] || { echo "FAIL one-column batch"; cat "$work/out"; fail=1; }
printf 'formula,density\n"H2O,1\n' >"$work/open_quote.csv"
expect_status "csv batch open quote" 1 -- "$tools" xs --batch "$work/open_quote.csv"
grep -q "line 2: a quoted field is not closed" "$work/err" || { echo "FAIL open quote"; cat "$work/err"; fail=1; }

# One line past the limit after 1000 good rows: the rows are kept and the line named.
{ for i in $(seq 1000); do echo "H2O 1"; done; head -c 70000 /dev/zero | tr '\0' H; echo; echo "D2O 1.1"; } >"$work/long_after"
expect_status "long line after rows" 1 -- "$tools" xs --batch "$work/long_after"
[ "$(wc -l <"$work/out")" = 1002 ] || { echo "FAIL rows around the long line: $(wc -l <"$work/out")"; fail=1; }
grep -q "line 1001: longer than 65536 characters" "$work/err" || { echo "FAIL long line named"; cat "$work/err"; fail=1; }
tail -1 "$work/out" | grep -q "^D2O,1.1," || { echo "FAIL row after the long line"; fail=1; }

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
