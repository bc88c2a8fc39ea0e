#!/usr/bin/env bash
# talvo-tools model from the outside: PDFfit2's nickel G(r) through the
# command line, the header that reruns it, partials, and refused input.
# usage: model_tools_test.sh TALVO_TOOLS TEST_DATA_DIR
set -u
tools=$1
data=$2/pdf_model
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
say() { echo "FAIL $*"; fail=1; }

# run NAME EXPECTED_STATUS STDERR_PATTERN -- command...: leaves standard output in $tmp/out.
run() {
  local name=$1 want_status=$2 pattern=$3 status
  shift 4
  "$@" >"$tmp/out" 2>"$tmp/err"
  status=$?
  [ "$status" = "$want_status" ] || say "$name: status $status (want $want_status): $(head -3 "$tmp/err")"
  if [ -n "$pattern" ]; then
    grep -q -- "$pattern" "$tmp/err" || say "$name: standard error lacks \"$pattern\": $(head -3 "$tmp/err")"
  fi
}

# PDFfit2's G(r) of Ni.stru: the rows agree with its file within 1e-4 of max |G|.
run "nickel" 0 "" -- "$tools" model "$data/Ni.stru" --r 0:10:0.01 --peak-norm r --xray-weights z
grep -v '^#' "$tmp/out" >"$tmp/rows"
[ "$(wc -l <"$tmp/rows")" = 1001 ] || say "nickel: 1001 rows wanted, got $(wc -l <"$tmp/rows")"
paste -d ' ' "$tmp/rows" "$data/Ni-fit.fgr" | awk '
  { if ($1 != $3) { print "r differs at row " NR; bad = 1 }
    d = $2 - $4; if (d < 0) d = -d; if (d > worst) worst = d
    m = $4 < 0 ? -$4 : $4; if (m > top) top = m }
  END { if (bad || worst > 1e-4 * top) { print "worst " worst " of " top; exit 1 } }' ||
  say "nickel: rows differ from Ni-fit.fgr"
grep -q "^# peaks divided by the grid's r" "$tmp/out" || say "nickel: the header does not name the peak normalisation"
grep -q "^# weights: X-ray: f = Z - charge" "$tmp/out" || say "nickel: the header does not name the weights"

# The header's "key = value" lines rerun it: the same rows again.
args=$(grep '^# [a-z0-9-]* = ' "$tmp/out" | grep -v '^# structure = ' |
  awk '{ if ($4 == "1" && $2 == "partials") printf " --%s", $2; else printf " --%s %s", $2, $4 }')
cp "$tmp/rows" "$tmp/first"
# shellcheck disable=SC2086
run "rerun" 0 "" -- "$tools" model "$data/Ni.stru" $args
grep -v '^#' "$tmp/out" | cmp -s - "$tmp/first" || say "rerun: the header's settings give other rows"

# Partials of CdSe with neutrons: three pairs whose columns sum to G.
run "partials" 0 "" -- "$tools" model "$data/CdSe_cadmoselite.cif" --radiation neutron --uiso 0.006 --qmax 30 \
  --r 1:8:0.1 --partials
grep -q '^#L r G G_Cd-Cd G_Cd-Se G_Se-Se$' "$tmp/out" || say "partials: column names"
grep -q 'Sears (1992)' "$tmp/out" || say "partials: the header does not name the length table"
grep -v '^#' "$tmp/out" | awk '{ d = $2 - $3 - $4 - $5; if (d < 0) d = -d; if (d > 1e-4) bad = 1 } END { exit bad }' ||
  say "partials: the columns do not sum to G"

run "no displacements" 1 "give uiso" -- "$tools" model "$data/Ni.cif"
run "sratio without rcut" 2 "needs --rcut" -- "$tools" model "$data/Ni.stru" --sratio 0.7
run "unknown choice" 2 "peak-norm" -- "$tools" model "$data/Ni.stru" --peak-norm middle
run "missing file" 1 "" -- "$tools" model "$tmp/none.cif"
run "unknown format" 1 ".cif, .stru or .xyz" -- "$tools" model "$tmp/none.pdb"
run "two files" 2 "one structure" -- "$tools" model "$data/Ni.stru" "$data/Ni.cif"
printf 'data_x\n_cell_length_a 4\nloop_ _atom_site_label _atom_site_fract_x _atom_site_fract_y _atom_site_fract_z\nNi 0 0 0\n' >"$tmp/nocell.cif"
run "no cell" 1 "no cell" -- "$tools" model "$tmp/nocell.cif"
# Faults that gave numbers silently: a symbol the table lacks, a parameter named twice or fixed by --uiso,
# an output over an input, a U or Qmax beyond any measurement; control bytes from a file escaped.
printf '1\nc\nCf 0 0 0\n' >"$tmp/cf.xyz"
run "two-letter symbol" 1 'no element of the table is called "Cf"' -- "$tools" model "$tmp/cf.xyz" --uiso 0.01
printf '2\nc\n\033[31mNa 0 0 0\nCl 1 0 0\n' >"$tmp/esc.xyz"
run "escape sequence" 1 '"\\x1b\[31mNa"' -- "$tools" model "$tmp/esc.xyz" --uiso 0.01
grep -q "$(printf '\033')" "$tmp/err" && say "escape sequence: a raw control byte reached the terminal"
run "named twice" 2 "named twice" -- "$tools" refine "$data/Ni_2-8.chi.gr" "$data/Ni.cif" --refine scale,scale --uiso 0.005
run "fixed and fitted" 2 "cannot be fitted with it" -- "$tools" refine "$data/Ni_2-8.chi.gr" "$data/Ni.cif" \
  --refine scale,uiso --uiso 0.005
cp "$data/Ni_2-8.chi.gr" "$tmp/data.gr"
run "output over input" 2 "would replace the input" -- "$tools" refine "$tmp/data.gr" "$data/Ni.cif" --refine scale \
  --uiso 0.005 --fit "$tmp/./data.gr"
cmp -s "$tmp/data.gr" "$data/Ni_2-8.chi.gr" || say "output over input: the data file was changed"
run "huge U" 2 "--uiso must be" -- "$tools" model "$data/Ni.cif" --uiso 1e6
run "huge qmax" 2 "--qmax must be" -- "$tools" model "$data/Ni.cif" --uiso 0.005 --qmax 1000
# PDFgui's nickel refinement through the command line: its values within their sigma.
run "refine" 0 "" -- "$tools" refine "$data/Ni_2-8.chi.gr" "$data/Ni.stru" --refine a,uiso,sratio=1,scale --r 1.5:10 \
  --qmax 40 --qdamp 0.001 --rcut 3 --xray-weights z --peak-norm r --line terminated --fit "$tmp/fit" --cif "$tmp/ni.cif" --plot "$tmp/fit.svg"
grep -q '<polyline' "$tmp/fit.svg" && grep -q 'Rw = 0.0961' "$tmp/fit.svg" || say "refine: the plot lacks its curves or its Rw"
grep -q '^_cell_length_b 3.53175(17)$' "$tmp/ni.cif" || say "refine: the CIF lacks b = a with its uncertainty: $(grep cell_length "$tmp/ni.cif")"
awk '$1 == "a" { a = $2 } $1 == "uiso" { u = $2 } $1 == "scale" { s = $2 } $2 == "Rw" { rw = $4 }
  END { d = a - 3.5317537; if (d < 0) d = -d; e = u - 0.0051955; if (e < 0) e = -e; f = rw - 0.0961085; if (f < 0) f = -f
        exit !(d < 0.0000354 && e < 0.0000082 && f < 1e-4 && s > 0.669 && s < 0.671) }' "$tmp/out" ||
  say "refine: a, U, scale or Rw off PDFgui's: $(grep -v '^# [a-z0-9-]* = [^0-9]' "$tmp/out" | tail -9)"
grep -q '^# weights: 1/dG^2' "$tmp/out" || say "refine: the weights are not named"
[ "$(grep -cv '^#' "$tmp/fit")" = 851 ] || say "refine: the fit file should hold 851 rows"
run "refine json" 0 "" -- "$tools" refine "$data/Ni_2-8.chi.gr" "$data/Ni.stru" --refine scale --r 1.5:10 --json
python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); assert set(d["params"]["scale"]) == {"value", "sigma", "sigma_scaled"}; assert d["converged"] in (True, False)' "$tmp/out" ||
  say "refine json: not the documented JSON"
# An occupancy the data push past 1 (G made at scale 1.2, scale not fitted) ends at its bound: no sigma
# is printed for it, as text, as JSON or in the CIF, and a warning names it; a's sigma is untouched.
run "scaled model" 0 "" -- "$tools" model "$data/Ni.stru" --r 1.5:8:0.02 --scale 1.2
cp "$tmp/out" "$tmp/ni12.gr"
run "at its bound" 0 "warning: occ:Ni ended at its upper bound 1: it has no sigma from the curvature there" -- \
  "$tools" refine "$tmp/ni12.gr" "$data/Ni.stru" --refine occ:Ni=0.9,a=3.53 --r 1.5:8 --cif "$tmp/bound.cif"
grep -q '^occ:Ni 1 at-bound at-bound$' "$tmp/out" || say "at its bound: the row of occ:Ni: $(grep '^occ:Ni' "$tmp/out")"
grep -Eq '^a 3\.5[0-9]+ [0-9.e-]+ [0-9.e-]+$' "$tmp/out" || say "at its bound: the row of a: $(grep '^a ' "$tmp/out")"
grep -q "^'Ni1' Ni 0 0 0 1 " "$tmp/bound.cif" || say "at its bound: the CIF's occupancy: $(grep "^'Ni1'" "$tmp/bound.cif")"
run "at its bound json" 0 "occ:Ni ended at its upper bound 1" -- "$tools" refine "$tmp/ni12.gr" "$data/Ni.stru" \
  --refine occ:Ni=0.9,a=3.53 --r 1.5:8 --json
python3 -c 'import json, sys; p = json.load(open(sys.argv[1]))["params"]
assert p["occ:Ni"] == {"value": 1, "sigma": None, "sigma_scaled": None, "at_bound": True}, p
assert set(p["a"]) == {"value", "sigma", "sigma_scaled"} and p["a"]["sigma"] > 0, p' "$tmp/out" ||
  say "at its bound json: $(cat "$tmp/out")"
run "refine nothing" 2 "--refine" -- "$tools" refine "$data/Ni_2-8.chi.gr" "$data/Ni.stru"
run "refine unknown" 1 "not a parameter" -- "$tools" refine "$data/Ni_2-8.chi.gr" "$data/Ni.stru" --refine volume
printf '1 2\n' >"$tmp/one.gr"
run "one point" 1 "at least 2 points" -- "$tools" refine "$tmp/one.gr" "$data/Ni.stru" --refine scale
exit $fail
